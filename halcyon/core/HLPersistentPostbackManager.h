// The persisted postback queue: every postback submitted is stamped, kept in
// "queued_postbacks_1.plist" in the cache folder (a keyed archive whose root
// is the array of HLPostbackRequest) and dispatched through the postback
// service. A postback leaves the queue on success or when a dispatch would
// exceed slot 114 attempts; a failed one waits in the in-memory stalled list
// until another postback succeeds, and in the file until the next start,
// which dispatches every stored postback again.
//
// The file is rewritten whole, atomically, before each dispatch (with the
// raised attempt count) and after each change, so a kill at any moment leaves
// the queue as it stood before the last dispatch or change. Only postbacks
// submitted while the queue holds slot 101 entries live in memory alone.
//
// Any thread. One recursive lock guards both lists and the file; flushes
// hold it across their dispatches, which only queue tasks. Lock order: this
// lock, then the file manager's. Outcomes arrive on the postback queue.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include <mutex>
#include <vector>

#include "halcyon/core/HLPostbackRequest.h"
#include "halcyon/core/HLPostbackService.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLLogManager;
class HLPersistentPostbackManager;
class HLSdk;

// Ties one dispatch to its postback: the outcome dequeues it (and flushes the
// stalled list) or stalls it. Holds the postback strongly, the manager weakly.
class HLPersistentPostbackManagerDelegateProxy : public NSObject, public HLPostbackDelegate {
public:
    static Ref<HLPersistentPostbackManagerDelegateProxy> delegateProxyWithPostbackRequest(
        const Ref<HLPostbackRequest>& postback, const Ref<HLPersistentPostbackManager>& postbackManager);

    const Ref<HLPostbackRequest>& postback() const { return postback_; }

    void postbackServiceDidExecutePostback(const Ref<HLPostbackService>& service, const Ref<NSURL>& url) override;
    void postbackServiceDidFailToExecutePostback(const Ref<HLPostbackService>& service, const Ref<NSURL>& url,
                                                 int32_t errorCode) override;

private:
    Ref<HLPostbackRequest> postback_;
    Weak<HLPersistentPostbackManager> postbackManager_;
};

class HLPersistentPostbackManager : public NSObject {
public:
    static constexpr const char* kQueueFileName = "queued_postbacks_1.plist";

    // Starts with empty lists; loadStoredQueue reads the file.
    Ref<HLPersistentPostbackManager> initWithSdk(const Ref<HLSdk>& sdk);
    // Replaces the queue with the stored one. HLSdk calls it once its
    // settings are loaded (so slot 114 as stored applies) and before the
    // cache is compacted (so a dropped file loses nothing).
    void loadStoredQueue();

    // Stamps and submits; a null URL is refused with a log line.
    void submitPostback(const Ref<NSURL>& url, const Value& body);
    // Enqueues (persisted while the queue is below slot 101) and dispatches.
    // A request without a URL is refused with a log line.
    void submitPostback(const Ref<HLPostbackRequest>& postback);
    // Dispatches, in queue order, the stored postbacks that loadStoredQueue
    // read and that are still queued (not those submitted in this run, whose
    // own dispatch is under way).
    void flushPostbackQueue();
    // Dispatches the stalled postbacks, emptying the list.
    void flushStalledPostbacks();
    // After a compaction removed the file: writes the queue again at once, so
    // that a kill before its next change loses nothing.
    void restoreQueueFileIfRemoved();

    // Copies of the lists.
    std::vector<Ref<HLPostbackRequest>> postbackQueue() const;
    std::vector<Ref<HLPostbackRequest>> stalledPostbacks() const;

    // The steps.
    void enqueuePostback(const Ref<HLPostbackRequest>& postback);
    void dispatchPostback(const Ref<HLPostbackRequest>& postback);
    // Removes every equal entry and writes the queue.
    void dequeuePostback(const Ref<HLPostbackRequest>& postback);
    void handleStalledPostback(const Ref<HLPostbackRequest>& postback);
    // The stored queue without entries over slot 114 attempts or without a
    // URL. A missing file gives an empty queue; an unreadable one, or a root
    // that is no array, an empty queue and an error line; elements that are
    // not requests are skipped one by one.
    std::vector<Ref<HLPostbackRequest>> loadQueue();
    // A failed write is logged and leaves the previous file.
    void writeQueue();

    // The owner's log manager; null once the owner is gone.
    Ref<HLLogManager> logger() const;

private:
    bool isLoadedLocked(const Ref<HLPostbackRequest>& postback) const;

    Weak<HLSdk> sdk_;
    mutable std::recursive_mutex queueLock_;  // guards the lists below and the file
    std::vector<Ref<HLPostbackRequest>> postbackQueue_;
    std::vector<Ref<HLPostbackRequest>> stalledPostbacks_;
    std::vector<Weak<HLPostbackRequest>> loadedPostbacks_;  // what loadStoredQueue read, for the start-up flush
};
