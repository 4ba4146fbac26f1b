#include "halcyon/core/HLAdService.h"

#include <algorithm>

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdLoadState.h"
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLPreloadedAdManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLStringUtils.h"
#include "halcyon/core/HLTaskFetchNextAd.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/HLUpdateAdTask.h"
#include "platform/foundation/NSCharacterSet.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/NSOperationQueue.h"

namespace {
constexpr const char* kHLAdServiceTag = "AdService";
// Settings slots of loading and refresh.
constexpr int64_t kHLServiceSlotBannerRefreshEnabled = 20;
constexpr int64_t kHLServiceSlotBannerRefreshSeconds = 21;
constexpr int64_t kHLServiceSlotMRecRefreshSeconds = 22;
constexpr int64_t kHLServiceSlotMRecRefreshEnabled = 23;
constexpr int64_t kHLServiceSlotLeaderRefreshSeconds = 24;
constexpr int64_t kHLServiceSlotLeaderRefreshEnabled = 25;
constexpr int64_t kHLServiceSlotPreloadEnabled = 26;
constexpr int64_t kHLServiceSlotMergeIncent = 76;
constexpr int64_t kHLServiceSlotMergeInter = 77;
// How long a kept ad lives when its size refreshes every 0 seconds.
constexpr double kHLKeptAdForAYear = 31536000;

bool hlIsIncentivized(const Ref<HLAdType>& type) { return type && type->isEqual(*HLAdType::typeIncentivized()); }

// Expired, or kept without an expiry.
bool hlLoadedAdExpiredLocked(const HLAdLoadState& state, const NSDate& now) {
    return !state.loadedAdExpiration || now.timeIntervalSinceDate(*state.loadedAdExpiration) > 0;
}

// Whether `observer` is one of `delegates` (the same object, seen through
// another of its protocols).
bool hlIsAmong(const Ref<HLAdUpdateObserver>& observer, const std::vector<Ref<HLAdLoadDelegate>>& delegates) {
    const void* object = dynamic_cast<const void*>(observer.get());
    return std::any_of(delegates.begin(), delegates.end(), [&](const Ref<HLAdLoadDelegate>& delegate) {
        return dynamic_cast<const void*>(delegate.get()) == object;
    });
}

std::string hlObserverClass(const Ref<HLAdUpdateObserver>& observer) {
    auto object = std::dynamic_pointer_cast<NSObject>(observer);
    return object ? object->className() : std::string("(null)");
}
}  // namespace

// ---- Load states and their proxy

std::vector<Ref<HLAdUpdateObserver>> HLAdLoadState::liveObserversLocked() {
    std::vector<Ref<HLAdUpdateObserver>> live;
    std::erase_if(adUpdateObservers, [&](const Weak<HLAdUpdateObserver>& weak) {
        Ref<HLAdUpdateObserver> observer = weak.lock();
        if (!observer) return true;
        live.push_back(std::move(observer));
        return false;
    });
    return live;
}

void HLAdServiceLoadProxy::adServiceDidLoadAd(const Ref<HLAdService>&, const Ref<HLAd>& ad) {
    const Ref<HLAdService>& service = sdk_->adService();
    std::vector<Ref<HLAdLoadDelegate>> delegates;
    std::vector<Ref<HLAdUpdateObserver>> observers;
    {
        std::scoped_lock lock(loadState_->adLoadLock);
        const NSDate now = NSDate::date();
        if (service->autoRefreshEnabledForSize(loadState_->size())) {
            const int64_t seconds = service->autoRefreshSecondsForSize(loadState_->size());
            if (seconds >= 1) loadState_->loadedAdExpiration = now.dateByAddingTimeInterval(static_cast<double>(seconds));
            else if (seconds == 0) loadState_->loadedAdExpiration = now.dateByAddingTimeInterval(kHLKeptAdForAYear);
            loadState_->loadedAd = ad;
        } else {
            loadState_->loadedAdExpiration.reset();
            loadState_->loadedAd = nullptr;
        }
        delegates.swap(loadState_->pendingAdLoadDelegates);
        loadState_->isWaitingForAd = false;
        observers = loadState_->liveObserversLocked();
    }
    service->scheduleAdUpdateFor(loadState_->size());
    Ref<HLLogManager> log = sdk_->logManager();
    NSOperationQueue::mainQueue()->addOperationWithBlock([service, ad, delegates, observers, log] {
        for (const Ref<HLAdLoadDelegate>& delegate : delegates)
            if (auto caught = platform::runtime::callCatching([&] { delegate->adServiceDidLoadAd(service, ad); }))
                log->eBecauseOf(kHLAdServiceTag, "Unable to notify listener about a newly loaded ad", *caught);
        for (const Ref<HLAdUpdateObserver>& observer : observers)
            if (auto caught = platform::runtime::callCatching([&] {
                    // A view that asked for this load (and observes its size)
                    // has the ad already: a second delivery would render it
                    // and count its impression twice.
                    if (!hlIsAmong(observer, delegates) && observer->canAcceptUpdate())
                        observer->adServiceDidUpdateAd(service, ad);
                }))
                log->eBecauseOf(kHLAdServiceTag, "Unable to notify listener about a newly loaded ad", *caught);
    });
}

void HLAdServiceLoadProxy::adServiceDidFailToLoadAdWithError(const Ref<HLAdService>&, int32_t code) {
    const Ref<HLAdService>& service = sdk_->adService();
    std::vector<Ref<HLAdLoadDelegate>> delegates;
    {
        std::scoped_lock lock(loadState_->adLoadLock);
        delegates.swap(loadState_->pendingAdLoadDelegates);
        loadState_->isWaitingForAd = false;
    }
    Ref<HLLogManager> log = sdk_->logManager();
    NSOperationQueue::mainQueue()->addOperationWithBlock([service, code, delegates, log] {
        for (const Ref<HLAdLoadDelegate>& delegate : delegates)
            if (auto caught = platform::runtime::callCatching(
                    [&] { delegate->adServiceDidFailToLoadAdWithError(service, code); }))
                log->userError(kHLAdServiceTag, "Unable to notify listener about a failure to load an ad: %@", *caught);
    });
}

// ---- The service

Ref<HLAdService> HLAdService::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    auto state = [](const Ref<HLAdSize>& size) { return NSObject::alloc<HLAdLoadState>()->initWithSize(size); };
    adLoadStates_ = {
        {HLAdType::typeRegular(),
         {state(HLAdSize::sizeBanner()), state(HLAdSize::sizeMRec()), state(HLAdSize::sizeLeader()),
          state(HLAdSize::sizeInterstitial())}},
        {HLAdType::typeIncentivized(), {state(HLAdSize::sizeInterstitial())}},
        {HLAdType::typeNative(), {}},
    };
    return self<HLAdService>();
}

Ref<HLLogManager> HLAdService::logger() const {
    Ref<HLSdk> sdk = sdk_.lock();
    return sdk ? sdk->logManager() : nullptr;
}

Ref<HLPreloadedAdManager> HLAdService::preloadManager() const {
    Ref<HLSdk> sdk = sdk_.lock();
    return sdk ? sdk->preloadedAdManager() : nullptr;
}

Ref<HLAdLoadState> HLAdService::loadStateFor(const Ref<HLAdType>& type, const Ref<HLAdSize>& size) const {
    if (!type || !size) return nullptr;
    for (const auto& [stateType, states] : adLoadStates_) {
        if (!stateType->isEqual(*type)) continue;
        for (const Ref<HLAdLoadState>& state : states)
            if (state->size()->isEqual(*size)) return state;
    }
    return nullptr;
}

void HLAdService::loadNextAd(const Ref<HLAdSize>& size, const Ref<HLAdLoadDelegate>& delegate) {
    loadNextAd(size, HLAdType::typeRegular(), delegate);
}

void HLAdService::loadNextAd(const Ref<HLAdSize>& size, const Ref<HLAdType>& type,
                             const Ref<HLAdLoadDelegate>& delegate) {
    if (!size) NSException::raise(NSInvalidArgumentException, "No ad size specified");
    if (!delegate) NSException::raise(NSInvalidArgumentException, "No delegate specified");
    if (!type) NSException::raise(NSInvalidArgumentException, "No ad type specified");
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk) return;
    Ref<HLLogManager> log = sdk->logManager();
    Ref<HLAdService> self = this->self<HLAdService>();
    log->d(kHLAdServiceTag, "Loading next ad of size {%@} and type {%@}", size->label(), type->label());
    Ref<HLAdLoadState> state = loadStateFor(type, size);
    if (!state) {
        // Nothing would answer a request filed nowhere: the load fails now.
        log->e(kHLAdServiceTag, "No ad of size %@ and type %@ can be loaded", size->label(), type->label());
        delegate->adServiceDidFailToLoadAdWithError(self, -1);
        return;
    }
    Ref<HLAd> keptAd;
    {
        std::scoped_lock lock(state->adLoadLock);
        if (state->loadedAd && !hlLoadedAdExpiredLocked(*state, NSDate::date())) {
            keptAd = state->loadedAd;
        } else {
            log->d(kHLAdServiceTag, "Loading next ad...");
            state->pendingAdLoadDelegates.push_back(delegate);
            if (state->isWaitingForAd) {
                log->d(kHLAdServiceTag, "Ad load is already in progress; skipping...");
                return;
            }
            state->isWaitingForAd = true;
            auto proxy = NSObject::alloc<HLAdServiceLoadProxy>()->initWithSdk(sdk, state);
            if (shouldMergeInitialPreloadsForSize(size, type)) {
                if (preloadManager()->registerForInitialPreloadCallback(proxy, HLAdSpec::specWithSize(size, type))) {
                    log->d(kHLAdServiceTag, "Attaching load delegate to initial preload task...");
                } else {
                    log->d(kHLAdServiceTag, "Skipped attach of initial preload callback.");
                    doLoadAdForSize(size, type, proxy);
                }
            } else {
                log->d(kHLAdServiceTag, "Task merge not necessary.");
                doLoadAdForSize(size, type, proxy);
            }
        }
    }
    if (keptAd) delegate->adServiceDidLoadAd(self, keptAd);
}

void HLAdService::doLoadAdForSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type,
                                  const Ref<HLAdServiceLoadProxy>& delegateProxy) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk) return;
    Ref<HLAdSpec> spec = HLAdSpec::specWithSize(size, type);
    const Ref<HLPreloadedAdManager>& manager = sdk->preloadedAdManager();
    if (Ref<HLAd> ad = manager->preloadedAdOfSpec(spec)) {
        sdk->logManager()->d(kHLAdServiceTag, "Using pre-loaded %@ ad", size->label());
        delegateProxy->adServiceDidLoadAd(self<HLAdService>(), ad);
    } else {
        auto task = NSObject::alloc<HLTaskFetchNextAd>()->initWithSdk(sdk);
        task->setRequiredAdSize(size);
        task->setRequiredAdType(type);
        task->setDelegate(delegateProxy);
        sdk->taskManager()->execute(task, 0);
    }
    manager->preloadNextAdOfSpec(spec);
}

bool HLAdService::shouldMergeInitialPreloadsForSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !sdk->boolForKey(kHLServiceSlotPreloadEnabled) || !hasUserEnabledPreloadTypeForAdSize(size, type))
        return false;
    if (hlIsIncentivized(type)) return sdk->boolForKey(kHLServiceSlotMergeIncent);
    return size->isEqual(*HLAdSize::sizeInterstitial()) && sdk->boolForKey(kHLServiceSlotMergeInter);
}

bool HLAdService::hasUserEnabledPreloadTypeForAdSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk) return false;
    if (hlIsIncentivized(type)) return sdk->boolForKey(kHLSlotAdAutoPreloadIncent);
    return HLUtils::hl_containsSubstringIgnoringCase(sdk->stringForKey(kHLSlotAdAutoPreloadSizes).value_or(""),
                                                     size->label());
}

bool HLAdService::autoRefreshEnabledForSize(const Ref<HLAdSize>& size) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !size) return false;
    if (size->isEqual(*HLAdSize::sizeBanner())) return sdk->boolForKey(kHLServiceSlotBannerRefreshEnabled);
    if (size->isEqual(*HLAdSize::sizeMRec())) return sdk->boolForKey(kHLServiceSlotMRecRefreshEnabled);
    if (size->isEqual(*HLAdSize::sizeLeader())) return sdk->boolForKey(kHLServiceSlotLeaderRefreshEnabled);
    return false;
}

int64_t HLAdService::autoRefreshSecondsForSize(const Ref<HLAdSize>& size) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !size) return -1;
    if (size->isEqual(*HLAdSize::sizeBanner())) return sdk->integerForKey(kHLServiceSlotBannerRefreshSeconds);
    if (size->isEqual(*HLAdSize::sizeMRec())) return sdk->integerForKey(kHLServiceSlotMRecRefreshSeconds);
    if (size->isEqual(*HLAdSize::sizeLeader())) return sdk->integerForKey(kHLServiceSlotLeaderRefreshSeconds);
    return -1;
}

// ---- Preloading

void HLAdService::preloadAdOfSize(const Ref<HLAdSize>& size) {
    if (Ref<HLPreloadedAdManager> manager = preloadManager())
        manager->preloadNextAdOfSpec(HLAdSpec::specWithSize(size, HLAdType::typeRegular()));
}

bool HLAdService::hasPreloadedAdOfSize(const Ref<HLAdSize>& size) {
    Ref<HLPreloadedAdManager> manager = preloadManager();
    return manager && manager->hasPreloadedAdOfSpec(HLAdSpec::specWithSize(size, HLAdType::typeRegular()));
}

void HLAdService::scheduleAdPreload() {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk) return;
    const Ref<HLPreloadedAdManager>& manager = sdk->preloadedAdManager();
    const std::string sizes = sdk->stringForKey(kHLSlotAdAutoPreloadSizes).value_or("");
    const Ref<NSCharacterSet> padding = NSCharacterSet::characterSetWithCharactersInString(" ,");
    for (const std::string& part : NSString::componentsSeparatedByString(sizes, ",")) {
        const std::string label = NSString::stringByTrimmingCharactersInSet(part, padding);
        manager->fillPreloadQueueForSpec(
            HLAdSpec::specWithSize(NSObject::alloc<HLAdSize>()->initWithLabel(label), HLAdType::typeRegular()));
    }
    if (sdk->boolForKey(kHLSlotAdAutoPreloadIncent))
        manager->fillPreloadQueueForSpec(HLAdSpec::specWithSize(HLAdSize::sizeInterstitial(), HLAdType::typeIncentivized()));
}

// ---- Observers and refresh

void HLAdService::addAdUpdateObserver(const Ref<HLAdUpdateObserver>& observer, const Ref<HLAdSize>& size) {
    if (!observer) NSException::raise(NSInvalidArgumentException, "No ad listener specified");
    if (!size) NSException::raise(NSInvalidArgumentException, "No ad size specified");
    Ref<HLAdLoadState> state = loadStateFor(HLAdType::typeRegular(), size);
    if (!state) return;
    std::scoped_lock lock(state->adLoadLock);
    for (const Ref<HLAdUpdateObserver>& live : state->liveObserversLocked())
        if (live == observer) return;
    if (Ref<HLLogManager> log = logger())
        log->d(kHLAdServiceTag, "Adding ad update observer %@...", hlObserverClass(observer));
    state->adUpdateObservers.push_back(observer);
}

void HLAdService::removeAdUpdateObserver(const Ref<HLAdUpdateObserver>& observer, const Ref<HLAdSize>& size) {
    if (!size) NSException::raise(NSInvalidArgumentException, "No ad size specified");
    Ref<HLAdLoadState> state = loadStateFor(HLAdType::typeRegular(), size);
    if (!state || !observer) return;
    std::scoped_lock lock(state->adLoadLock);
    const size_t before = state->adUpdateObservers.size();
    std::erase_if(state->adUpdateObservers, [&](const Weak<HLAdUpdateObserver>& weak) {
        Ref<HLAdUpdateObserver> live = weak.lock();
        return !live || live == observer;
    });
    if (state->adUpdateObservers.size() != before)
        if (Ref<HLLogManager> log = logger())
            log->d(kHLAdServiceTag, "Removing ad update observer %@...", hlObserverClass(observer));
}

void HLAdService::expireLoadStateForAd(const Ref<HLAd>& ad) {
    if (!ad) NSException::raise(NSInvalidArgumentException, "No ad specified");
    Ref<HLAdLoadState> state = loadStateFor(ad->type(), ad->size());
    if (!state) return;
    std::scoped_lock lock(state->adLoadLock);
    state->loadedAdExpiration.reset();
    state->loadedAd = nullptr;
}

void HLAdService::scheduleAdUpdateFor(const Ref<HLAdSize>& size) {
    Ref<HLSdk> sdk = sdk_.lock();
    const int64_t seconds = autoRefreshSecondsForSize(size);
    if (!sdk || seconds < 1) return;
    Ref<HLAdLoadState> state = loadStateFor(HLAdType::typeRegular(), size);
    if (!state) return;
    {
        // One pending tick per size: later requests merge into it.
        std::scoped_lock lock(state->adLoadLock);
        if (state->isUpdateTickPending) return;
        state->isUpdateTickPending = true;
    }
    auto task = NSObject::alloc<HLUpdateAdTask>()->initWithSdk(sdk);
    task->setSize(size);
    task->setAdService(self<HLAdService>());
    sdk->taskManager()->execute(task, 0, static_cast<double>(seconds) + 2);
}

void HLAdService::updateTickEnded(const Ref<HLAdSize>& size) {
    if (Ref<HLAdLoadState> state = loadStateFor(HLAdType::typeRegular(), size)) {
        std::scoped_lock lock(state->adLoadLock);
        state->isUpdateTickPending = false;
    }
}

void HLAdService::updateAdIfNecessary(const Ref<HLAdSize>& size) {
    Ref<HLSdk> sdk = sdk_.lock();
    Ref<HLAdLoadState> state = loadStateFor(HLAdType::typeRegular(), size);
    if (!sdk || !state) return;
    const bool enabled = autoRefreshEnabledForSize(size);
    std::vector<Ref<HLAdUpdateObserver>> observers;
    {
        std::scoped_lock lock(state->adLoadLock);
        observers = state->liveObserversLocked();
    }
    Ref<HLAdService> self = this->self<HLAdService>();
    Ref<HLLogManager> log = sdk->logManager();
    // Observers are views: they are asked on the main thread, with no lock held.
    NSOperationQueue::mainQueue()->addOperationWithBlock([self, sdk, state, size, enabled, observers, log] {
        size_t accepting = 0;
        for (const Ref<HLAdUpdateObserver>& observer : observers) {
            bool accepts = false;
            if (auto caught = platform::runtime::callCatching([&] { accepts = observer->canAcceptUpdate(); }))
                log->eBecauseOf(kHLAdServiceTag, "Unable to ask an ad update observer", *caught);
            accepting += accepts;
        }
        {
            std::scoped_lock lock(state->adLoadLock);
            if (enabled && accepting > 0 && hlLoadedAdExpiredLocked(*state, NSDate::date()) && !state->isWaitingForAd) {
                state->isWaitingForAd = true;
                self->doLoadAdForSize(size, HLAdType::typeRegular(),
                                      NSObject::alloc<HLAdServiceLoadProxy>()->initWithSdk(sdk, state));
            }
        }
        if (enabled && !observers.empty()) self->scheduleAdUpdateFor(size);
    });
}

// ---- The refresh tick

void HLUpdateAdTask::run() {
    if (!adService_) return;
    adService_->updateTickEnded(size_);
    adService_->updateAdIfNecessary(size_);
}

void HLUpdateAdTask::taskDropped() {
    if (adService_) adService_->updateTickEnded(size_);
}

// ---- Failures to a load delegate

void HLNotifyLoadFailure(const Ref<HLAdLoadDelegate>& delegate, const Ref<HLAdService>& service,
                         const Ref<HLAdSpec>& spec, int32_t code) {
    if (!delegate) return;
    if (auto extended = std::dynamic_pointer_cast<HLExtendedAdLoadDelegate>(delegate))
        extended->adServiceDidFailToLoadAdOfSpec(service, spec, code);
    else
        delegate->adServiceDidFailToLoadAdWithError(service, code);
}
