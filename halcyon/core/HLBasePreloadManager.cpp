#include "halcyon/core/HLBasePreloadManager.h"

#include <algorithm>

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLPreloadedAdQueue.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTask.h"
#include "halcyon/core/HLTaskManager.h"

namespace {
constexpr const char* kHLPreloadTag = "HLPreloadedAdManager";
constexpr int64_t kHLPreloadSlotEnabled = 26;  // "ad_preload_enabled"
constexpr double kHLPreloadDelay = 0.5;

bool hlPreloadSameSpec(const Ref<HLAdSpec>& a, const Ref<HLAdSpec>& b) { return a && b && a->isEqualToSpec(*b); }
template <class Table>
auto hlPreloadFind(Table& table, const Ref<HLAdSpec>& spec) {
    return std::find_if(table.begin(), table.end(), [&](const auto& entry) { return hlPreloadSameSpec(entry.first, spec); });
}
bool hlPreloadContains(const std::vector<Ref<HLAdSpec>>& specs, const Ref<HLAdSpec>& spec) {
    return std::any_of(specs.begin(), specs.end(), [&](const Ref<HLAdSpec>& entry) { return hlPreloadSameSpec(entry, spec); });
}
}  // namespace

Ref<HLBasePreloadManager> HLBasePreloadManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLBasePreloadManager>();
}

Ref<HLLogManager> HLBasePreloadManager::logger() const {
    Ref<HLSdk> sdk = sdk_.lock();
    return sdk ? sdk->logManager() : nullptr;
}

Ref<HLPreloadedAdQueue> HLBasePreloadManager::queueWithCapacityOfSlot(int64_t slot) const {
    Ref<HLSdk> sdk = sdk_.lock();
    // An unsigned comparison: a negative setting gives the cap.
    const auto capacity = static_cast<uint64_t>(sdk ? sdk->integerForKey(slot) : 0);
    return NSObject::alloc<HLPreloadedAdQueue>()->initWithCapacity(capacity);
}

Ref<HLPreloadedAdQueue> HLBasePreloadManager::queueForSpecLocked(const Ref<HLAdSpec>& spec) {
    // Built at the first use, after the client has loaded its stored and
    // publisher settings (the manager itself is made before that).
    if (!queuesBuilt_) {
        preloadedAds_ = createPreloadedAdsDictionary();
        queuesBuilt_ = true;
    }
    auto it = hlPreloadFind(preloadedAds_, spec);
    return it == preloadedAds_.end() ? nullptr : it->second;
}

bool HLBasePreloadManager::hasPreloadedAdOfSpec(const Ref<HLAdSpec>& spec) {
    std::scoped_lock lock(preloadedAdsLock_);
    Ref<HLPreloadedAdQueue> queue = queueForSpecLocked(spec);
    return queue && !queue->isEmpty();
}

bool HLBasePreloadManager::hasFullPreloadQueueForSpec(const Ref<HLAdSpec>& spec) {
    std::scoped_lock lock(preloadedAdsLock_);
    Ref<HLPreloadedAdQueue> queue = queueForSpecLocked(spec);
    return !queue || queue->isFull();
}

void HLBasePreloadManager::preloadNextAdOfSpec(const Ref<HLAdSpec>& spec) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !sdk->boolForKey(kHLPreloadSlotEnabled)) return;
    Ref<HLTask> task = createPreloadTaskForSpec(spec);
    if (!task) return;
    {
        std::scoped_lock lock(preloadedAdsLock_);
        Ref<HLPreloadedAdQueue> queue = queueForSpecLocked(spec);
        // A spec without a queue (a label the table does not know) has
        // nothing to fill.
        if (!queue) {
            sdk->logManager()->d(kHLPreloadTag, "No pre-load queue for %@; nothing to pre-load", spec);
            return;
        }
        if (queue->isFull()) return;
        auto it = hlPreloadFind(requestsInFlight_, spec);
        if (it == requestsInFlight_.end()) requestsInFlight_.emplace_back(spec, 1);
        else ++it->second;
    }
    sdk->logManager()->d(kHLPreloadTag, "Pre-loading ad of spec %@...", spec);
    sdk->taskManager()->execute(task, 0, kHLPreloadDelay);
}

void HLBasePreloadManager::fillPreloadQueueForSpec(const Ref<HLAdSpec>& spec) {
    uint64_t free = 0;
    {
        std::scoped_lock lock(preloadedAdsLock_);
        if (Ref<HLPreloadedAdQueue> queue = queueForSpecLocked(spec)) {
            const uint64_t size = queue->currentSize();
            free = size < queue->maxCapacity() ? queue->maxCapacity() - size : 0;
        }
    }
    for (uint64_t i = 0; i < free; ++i) preloadNextAdOfSpec(spec);
}

Ref<NSObject> HLBasePreloadManager::preloadedLoadableOfSpec(const Ref<HLAdSpec>& spec) {
    Ref<NSObject> ad;
    {
        std::scoped_lock lock(preloadedAdsLock_);
        if (Ref<HLPreloadedAdQueue> queue = queueForSpecLocked(spec)) ad = queue->dequeueAd();
    }
    if (Ref<HLLogManager> log = logger()) log->d(kHLPreloadTag, "Retrieved ad of spec %@...", spec);
    return ad;
}

bool HLBasePreloadManager::isInitialPreloadCompletedForSpec(const Ref<HLAdSpec>& spec) {
    std::scoped_lock lock(preloadedAdsLock_);
    return hlPreloadContains(completedInitialPreloads_, spec);
}

bool HLBasePreloadManager::registerForInitialPreloadCallback(const Ref<NSObjectProtocol>& delegate,
                                                             const Ref<HLAdSpec>& spec) {
    std::scoped_lock lock(preloadedAdsLock_);
    if (isInitialPreloadCompletedForSpec(spec)) return false;
    // Only a request that will end can answer the attached load.
    auto inFlight = hlPreloadFind(requestsInFlight_, spec);
    if (inFlight == requestsInFlight_.end() || inFlight->second == 0) return false;
    registerForPreloadCallback(delegate, spec);
    return true;
}

void HLBasePreloadManager::registerForPreloadCallback(const Ref<NSObjectProtocol>& delegate,
                                                      const Ref<HLAdSpec>& spec) {
    std::scoped_lock lock(preloadedAdsLock_);
    auto it = hlPreloadFind(additionalDelegates_, spec);
    if (it != additionalDelegates_.end()) {
        if (Ref<HLLogManager> log = logger()) log->w(kHLPreloadTag, "Potentially missing prior registered preload callback");
        it->second = delegate;
    } else {
        additionalDelegates_.emplace_back(spec, delegate);
    }
}

Ref<NSObjectProtocol> HLBasePreloadManager::takeAdditionalDelegateLocked(const Ref<HLAdSpec>& spec) {
    auto it = hlPreloadFind(additionalDelegates_, spec);
    if (it == additionalDelegates_.end()) return nullptr;
    Ref<NSObjectProtocol> delegate = std::move(it->second);
    additionalDelegates_.erase(it);
    return delegate;
}

void HLBasePreloadManager::requestEndedLocked(const Ref<HLAdSpec>& spec) {
    auto inFlight = hlPreloadFind(requestsInFlight_, spec);
    if (inFlight != requestsInFlight_.end() && inFlight->second > 0) --inFlight->second;
    if (!hlPreloadContains(completedInitialPreloads_, spec)) completedInitialPreloads_.push_back(spec);
}

void HLBasePreloadManager::didReceiveLoadable(const Ref<NSObject>& loadable, const Ref<HLAdSpec>& requestedSpec) {
    Ref<HLLogManager> log = logger();
    Ref<NSObjectProtocol> delegate;
    {
        std::scoped_lock lock(preloadedAdsLock_);
        delegate = takeAdditionalDelegateLocked(requestedSpec);
        requestEndedLocked(requestedSpec);
        if (!delegate) {
            // Filed under the spec the answer names, which may differ from
            // the one asked for.
            Ref<HLAdSpec> spec = specForLoadable(loadable);
            if (Ref<HLPreloadedAdQueue> queue = queueForSpecLocked(spec)) {
                queue->enqueueAd(loadable);
                if (log) log->d(kHLPreloadTag, "Ad enqueued: %@", spec);
            } else if (log) {
                log->w(kHLPreloadTag, "No pre-load queue for %@; the pre-loaded ad is dropped", spec);
            }
        } else if (log) {
            log->d(kHLPreloadTag, "Additional delegate found; skipping ad enqueue...");
        }
    }
    if (!delegate) return;
    notifyDelegateOfSuccessWithLoadable(delegate, loadable);
    if (log) log->d(kHLPreloadTag, "Called addtional delegate about %@", loadable);
}

void HLBasePreloadManager::didFailToReceiveLoadableWithSpec(const Ref<HLAdSpec>& requestedSpec, int32_t code) {
    if (Ref<HLLogManager> log = logger()) log->d(kHLPreloadTag, "Failed to pre-load an ad with code %i", code);
    Ref<NSObjectProtocol> delegate;
    {
        std::scoped_lock lock(preloadedAdsLock_);
        delegate = takeAdditionalDelegateLocked(requestedSpec);
        requestEndedLocked(requestedSpec);
    }
    if (delegate) notifyDelegateOfFailureForSpec(delegate, requestedSpec, code);
}
