#include "halcyon/core/HLPersistentPostbackManager.h"

#include <algorithm>

#include "halcyon/core/HLConnectionManager.h"
#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SaturatingCast.h"

namespace {
constexpr const char* kHLPostbackManagerTag = "HLPersistentPostbackManager";
}  // namespace

// ---- The delegate proxy

Ref<HLPersistentPostbackManagerDelegateProxy> HLPersistentPostbackManagerDelegateProxy::delegateProxyWithPostbackRequest(
    const Ref<HLPostbackRequest>& postback, const Ref<HLPersistentPostbackManager>& postbackManager) {
    auto proxy = NSObject::alloc<HLPersistentPostbackManagerDelegateProxy>();
    proxy->postback_ = postback;
    proxy->postbackManager_ = postbackManager;
    return proxy;
}

void HLPersistentPostbackManagerDelegateProxy::postbackServiceDidExecutePostback(const Ref<HLPostbackService>&,
                                                                                const Ref<NSURL>&) {
    Ref<HLPersistentPostbackManager> manager = postbackManager_.lock();
    if (!manager) return;
    manager->dequeuePostback(postback_);
    if (auto log = manager->logger()) log->d(kHLPostbackManagerTag, "Submitted postback %@ successfully.", postback_);
    manager->flushStalledPostbacks();
}

void HLPersistentPostbackManagerDelegateProxy::postbackServiceDidFailToExecutePostback(const Ref<HLPostbackService>&,
                                                                                      const Ref<NSURL>&,
                                                                                      int32_t errorCode) {
    Ref<HLPersistentPostbackManager> manager = postbackManager_.lock();
    if (!manager) return;
    if (HLConnectionManager::isRefusedBeforeSending(errorCode)) {
        // Nothing was sent, and nothing ever would be: kept, it would only
        // cost an attempt at every later dispatch.
        if (auto log = manager->logger())
            log->w(kHLPostbackManagerTag, "Dropped a postback that cannot be sent: %@", postback_);
        manager->dequeuePostback(postback_);
        return;
    }
    if (auto log = manager->logger())
        log->i(kHLPostbackManagerTag, "Failed to submit postback: %ld; will retry later...  %@",
               static_cast<long>(errorCode), postback_);
    manager->handleStalledPostback(postback_);
}

// ---- The manager

std::string HLPersistentPostbackManager::queueFileNameForKey(std::string_view sdkKey) {
    // Hashed: a key may hold any character and be of any length, and a file
    // name must be flat, short and different for every key.
    return "queued_postbacks_1." + platform::hexLower(platform::sha1(sdkKey)) + ".plist";
}

bool HLPersistentPostbackManager::isQueueFileName(std::string_view name) {
    return name.starts_with("queued_postbacks_1") && name.ends_with(".plist");
}

Ref<HLPersistentPostbackManager> HLPersistentPostbackManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    if (sdk) queueFileName_ = queueFileNameForKey(sdk->sdkKey());
    return self<HLPersistentPostbackManager>();
}

Ref<HLLogManager> HLPersistentPostbackManager::logger() const {
    Ref<HLSdk> sdk = sdk_.lock();
    return sdk ? sdk->logManager() : nullptr;
}

void HLPersistentPostbackManager::loadStoredQueue() {
    std::scoped_lock lock(queueLock_);
    postbackQueue_ = loadQueueFromFileNamed(queueFileName_, &queueUnread_);
    const std::vector<Ref<HLPostbackRequest>> waiting = adoptLegacyQueueLocked();
    loadedPostbacks_.clear();
    for (const Ref<HLPostbackRequest>& postback : postbackQueue_)
        if (std::find(waiting.begin(), waiting.end(), postback) == waiting.end()) loadedPostbacks_.push_back(postback);
}

std::vector<Ref<HLPostbackRequest>> HLPersistentPostbackManager::adoptLegacyQueueLocked() {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || queueFileName_.empty()) return {};
    const Ref<HLFileManager>& files = sdk->fileManager();
    const std::string adopted = queueFileName_.substr(0, queueFileName_.size() - 6) + ".adopted.plist";
    std::optional<std::string> legacyPath = files->filePathForResourceNamed(std::string(kLegacyQueueFileName));
    std::optional<std::string> adoptedPath = files->filePathForResourceNamed(adopted);
    if (!legacyPath || !adoptedPath) return {};
    auto fileSystem = NSFileManager::defaultManager();
    // Claimed by a rename, which one instance alone can make. It never
    // overwrites: an adoption that a kill left unfinished is finished first,
    // and a newer shared file waits for the next start.
    fileSystem->moveItemAtPath(*legacyPath, *adoptedPath);
    if (!fileSystem->fileExistsAtPath(*adoptedPath)) return {};
    bool unreadable = false;
    std::vector<Ref<HLPostbackRequest>> adoptedQueue = loadQueueFromFileNamed(adopted, &unreadable);
    // Taken as empty, it would be removed below with every entry it holds.
    if (unreadable) {
        sdk->logManager()->w(kHLPostbackManagerTag, "Unable to read the adopted postback file; it waits for the next start.");
        return {};
    }
    std::vector<Ref<HLPostbackRequest>> claimed;  // the queue's entries that the claimed file holds too
    unsigned long added = 0;
    for (Ref<HLPostbackRequest>& postback : adoptedQueue) {
        // A kill between the write and the removal below leaves entries in
        // both files: each joins the queue once.
        auto held = std::find_if(postbackQueue_.begin(), postbackQueue_.end(), [&](const auto& entry) {
            return entry->targetURL()->isEqual(*postback->targetURL()) &&
                   entry->requestBody() == postback->requestBody();
        });
        if (held != postbackQueue_.end()) {
            claimed.push_back(*held);
            continue;
        }
        claimed.push_back(postback);
        postbackQueue_.push_back(std::move(postback));
        ++added;
    }
    // Removed once this key's file holds its entries, not before.
    const bool inOwnFile = added == 0 || writeQueue();
    if (inOwnFile && files->removeExistingFileNamed(adopted)) {
        sdk->logManager()->i(kHLPostbackManagerTag, "Adopted %lu postbacks of the shared postback file.", added);
        return {};
    }
    // The next start adopts the claimed file again. Sent now, a postback
    // would be sent again then, and nothing written can say it went: they
    // wait for a start that finishes the adoption.
    sdk->logManager()->w(kHLPostbackManagerTag,
                         inOwnFile ? "Unable to remove the adopted postback file; its %lu postbacks wait for the next start."
                                   : "Unable to take the shared postback file's %lu postbacks into this key's file; they "
                                     "wait for the next start.",
                         static_cast<unsigned long>(claimed.size()));
    return claimed;
}

std::vector<Ref<HLPostbackRequest>> HLPersistentPostbackManager::postbackQueue() const {
    std::scoped_lock lock(queueLock_);
    return postbackQueue_;
}

std::vector<Ref<HLPostbackRequest>> HLPersistentPostbackManager::stalledPostbacks() const {
    std::scoped_lock lock(queueLock_);
    return stalledPostbacks_;
}

void HLPersistentPostbackManager::submitPostback(const Ref<NSURL>& url, const Value& body) {
    if (!url) {
        if (auto log = logger()) log->e(kHLPostbackManagerTag, "Refused a postback without a URL.");
        return;
    }
    submitPostback(HLPostbackRequest::postbackRequestWithURL(url, body));
}

void HLPersistentPostbackManager::submitPostback(const Ref<HLPostbackRequest>& postback) {
    // A request without a URL would be kept and skipped for ever, filling
    // the queue: it is refused here and dropped at load.
    if (!postback || !postback->targetURL()) {
        if (auto log = logger()) log->e(kHLPostbackManagerTag, "Refused a postback without a URL.");
        return;
    }
    std::scoped_lock lock(queueLock_);
    enqueuePostback(postback);
    dispatchPostback(postback);
}

bool HLPersistentPostbackManager::isLoadedLocked(const Ref<HLPostbackRequest>& postback) const {
    return std::any_of(loadedPostbacks_.begin(), loadedPostbacks_.end(),
                       [&](const Weak<HLPostbackRequest>& loaded) { return loaded.lock() == postback; });
}

void HLPersistentPostbackManager::flushPostbackQueue() {
    std::scoped_lock lock(queueLock_);
    // A snapshot: a dispatch may remove entries.
    const std::vector<Ref<HLPostbackRequest>> snapshot = postbackQueue_;
    for (const Ref<HLPostbackRequest>& postback : snapshot)
        if (isLoadedLocked(postback)) dispatchPostback(postback);
}

void HLPersistentPostbackManager::flushStalledPostbacks() {
    std::scoped_lock lock(queueLock_);
    std::vector<Ref<HLPostbackRequest>> stalled;
    stalled.swap(stalledPostbacks_);
    for (const Ref<HLPostbackRequest>& postback : stalled) dispatchPostback(postback);
}

void HLPersistentPostbackManager::enqueuePostback(const Ref<HLPostbackRequest>& postback) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !postback) return;
    std::scoped_lock lock(queueLock_);
    const int64_t limit = sdk->integerForKey(kHLSlotPostbackServiceMaxQueueSize);
    if (static_cast<int64_t>(postbackQueue_.size()) >= limit) {
        sdk->logManager()->w(kHLPostbackManagerTag,
                             "Persistent queue has reached maximum size; postback retried in memory only. %@", postback);
        return;
    }
    postbackQueue_.push_back(postback);
    writeQueue();
    sdk->logManager()->d(kHLPostbackManagerTag, "Enqueued postback: %@", postback);
}

void HLPersistentPostbackManager::dispatchPostback(const Ref<HLPostbackRequest>& postback) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !postback) return;
    const Ref<HLLogManager>& log = sdk->logManager();
    log->d(kHLPostbackManagerTag, "Preparing to submit postback: %@", postback);
    if (!postback->targetURL()) {
        log->i(kHLPostbackManagerTag, "Skipping empty postback dispatch...");
        return;
    }
    std::scoped_lock lock(queueLock_);
    // In flight now, no longer stalled: a flush of the stored queue must not
    // leave it in the stalled list to be sent a second time.
    std::erase(stalledPostbacks_, postback);
    // Counted and written before the request leaves: a kill during it
    // leaves the raised count on disk.
    postback->setAttemptNumber(platform::saturatingCast<int32_t>(static_cast<double>(postback->attemptNumber()) + 1));
    writeQueue();
    const int64_t limit = sdk->integerForKey(kHLSlotMaxPostbackAttempts);
    if (postback->attemptNumber() > limit) {
        log->w(kHLPostbackManagerTag, "Exceeded maximum persisted attempt count of %ld. Dequeuing postback: %@",
               static_cast<long>(limit), postback);
        dequeuePostback(postback);
        return;
    }
    log->d(kHLPostbackManagerTag, "Submitting postback: %@", postback);
    sdk->postbackService()->dispatchPostbackAsync(
        postback->targetURL(), postback->requestBody(),
        HLPersistentPostbackManagerDelegateProxy::delegateProxyWithPostbackRequest(
            postback, self<HLPersistentPostbackManager>()));
}

void HLPersistentPostbackManager::dequeuePostback(const Ref<HLPostbackRequest>& postback) {
    if (!postback) return;
    std::scoped_lock lock(queueLock_);
    std::erase_if(postbackQueue_, [&](const Ref<HLPostbackRequest>& entry) { return entry->isEqual(*postback); });
    writeQueue();
    if (auto log = logger()) log->d(kHLPostbackManagerTag, "Dequeued successfully transmitted postback: %@", postback);
}

void HLPersistentPostbackManager::handleStalledPostback(const Ref<HLPostbackRequest>& postback) {
    if (!postback) return;
    std::scoped_lock lock(queueLock_);
    stalledPostbacks_.push_back(postback);
}

std::vector<Ref<HLPostbackRequest>> HLPersistentPostbackManager::loadQueue() {
    return loadQueueFromFileNamed(queueFileName_);
}

std::vector<Ref<HLPostbackRequest>> HLPersistentPostbackManager::loadQueueFromFileNamed(const std::string& name,
                                                                                       bool* unreadable) {
    std::vector<Ref<HLPostbackRequest>> queue;
    if (unreadable) *unreadable = false;
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk) return queue;
    const Ref<HLLogManager>& log = sdk->logManager();
    std::scoped_lock lock(queueLock_);
    std::optional<std::string> path = sdk->fileManager()->filePathForResourceNamed(name);
    if (!path) return queue;
    // Only a file known to be absent is no queue; one that cannot be read now
    // (logged by the platform as that begins and ends) is not an empty one.
    platform::FileRead read = NSData::readFile(*path);
    if (!read.data) {
        if (unreadable) *unreadable = read.unreadable();
        return queue;
    }
    const Value stored = NSKeyedUnarchiver::unarchiveObjectWithData(*read.data);
    const Value::Array* entries = stored.array();
    if (!entries) {
        log->e(kHLPostbackManagerTag, "Unable to read the stored postback queue; starting with an empty one.");
        return queue;
    }
    const int64_t limit = sdk->integerForKey(kHLSlotMaxPostbackAttempts);
    for (const Value& entry : *entries) {
        Ref<HLPostbackRequest> postback = entry.object<HLPostbackRequest>();
        if (!postback) {
            log->e(kHLPostbackManagerTag, "Skipping a stored entry that is not a postback: %@", hlValueForLog(entry));
        } else if (!postback->targetURL()) {
            log->e(kHLPostbackManagerTag, "Skipping a stored postback without a URL: %@", postback);
        } else if (postback->attemptNumber() > limit) {
            log->e(kHLPostbackManagerTag,
                   "Skipping inflation of postback which has exceeded its maximum retry count... %@", postback);
        } else {
            // A negative count (a damaged file) would buy extra attempts.
            if (postback->attemptNumber() < 0) postback->setAttemptNumber(0);
            queue.push_back(std::move(postback));
        }
    }
    return queue;
}

bool HLPersistentPostbackManager::readIfUnreadLocked() {
    if (!queueUnread_) return true;
    bool unreadable = false;
    std::vector<Ref<HLPostbackRequest>> stored = loadQueueFromFileNamed(queueFileName_, &unreadable);
    if (unreadable) return false;
    // The stored entries are older than those submitted since; one also
    // held in memory (the same URL and body) is kept once. They go at the
    // next start-up flush, as loaded ones.
    std::vector<Ref<HLPostbackRequest>> merged;
    for (Ref<HLPostbackRequest>& postback : stored) {
        const bool held = std::any_of(postbackQueue_.begin(), postbackQueue_.end(), [&](const auto& entry) {
            return entry->targetURL()->isEqual(*postback->targetURL()) && entry->requestBody() == postback->requestBody();
        });
        if (held) continue;
        loadedPostbacks_.push_back(postback);
        merged.push_back(std::move(postback));
    }
    merged.insert(merged.end(), postbackQueue_.begin(), postbackQueue_.end());
    postbackQueue_ = std::move(merged);
    queueUnread_ = false;
    return true;
}

bool HLPersistentPostbackManager::writeQueue() {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk) return false;
    std::scoped_lock lock(queueLock_);
    // Never over (nor, when the queue is empty, instead of) a file that
    // could not be read: the postbacks it holds would be lost.
    if (!readIfUnreadLocked()) {
        sdk->logManager()->d(kHLPostbackManagerTag, "The stored postback queue cannot be read; it is not written over.");
        return false;
    }
    Value::Array entries;
    entries.reserve(postbackQueue_.size());
    for (const Ref<HLPostbackRequest>& postback : postbackQueue_) entries.emplace_back(postback);
    const NSData data = NSKeyedArchiver::archivedDataWithRootObject(Value(std::move(entries)));
    const Ref<HLFileManager>& files = sdk->fileManager();
    if (data.length() > 0 && files->cacheResourceWithData(data, queueFileName_)) {
        sdk->logManager()->d(kHLPostbackManagerTag, "Exported postback queue to disk.");
        return true;
    }
    sdk->logManager()->e(kHLPostbackManagerTag, "Unable to export postback queue to disk.");
    // Left in place, a file listing postbacks since delivered would send
    // them again at the next start. An empty queue needs no file, and a
    // removal needs no room; a queue that is not empty keeps the previous
    // file, as anything else could lose what still waits.
    if (!postbackQueue_.empty() || !files->removeExistingFileNamed(queueFileName_)) return false;
    sdk->logManager()->w(kHLPostbackManagerTag, "Removed the postback queue file instead: the queue is empty.");
    return true;
}
