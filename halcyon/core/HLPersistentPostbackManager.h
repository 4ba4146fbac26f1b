// The persisted postback queue: every postback submitted is stamped, kept in
// the cache folder in a file of this SDK key's own (a keyed archive whose
// root is the array of HLPostbackRequest; queueFileNameForKey) and
// dispatched through the postback service. A postback leaves the queue on
// success, when a dispatch would exceed slot 114 attempts, or when it can
// never be sent (a URL that is not http or https); a failed one waits in the
// in-memory stalled list until another postback succeeds, and in the file
// until the next start, which dispatches every stored postback again.
//
// Each key has its own file, so that two keys in one process never replace
// each other's pending postbacks. The one file that earlier versions shared,
// "queued_postbacks_1.plist", is adopted by the first instance that starts:
// claimed by a rename, its entries join that key's queue and are sent by it
// alone. The claimed file goes once this key's file holds them; until then
// (a full disk, a removal that fails) they wait for a later start, so that
// none is sent twice, and a kill at any step leaves them in one file or both.
//
// The file is rewritten whole, atomically, before each dispatch (with the
// raised attempt count) and after each change, so a kill at any moment leaves
// the queue as it stood before the last dispatch or change. A write that
// fails (a full disk) leaves the last file written, whose postbacks the next
// start sends again even if they went since; a queue that empties meanwhile
// removes the file instead, which needs no room. Only postbacks submitted
// while the queue holds slot 101 entries live in memory alone. The cache
// compaction leaves the postback files alone.
//
// Any thread. One recursive lock guards both lists and the file; flushes
// hold it across their dispatches, which only queue tasks. Lock order: this
// lock, then the file manager's. Outcomes arrive on the postback queue.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
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
    // The file every key shared before each had its own.
    static constexpr const char* kLegacyQueueFileName = "queued_postbacks_1.plist";
    // "queued_postbacks_1." + the SHA-1 of the key in lower-case hex + ".plist".
    static std::string queueFileNameForKey(std::string_view sdkKey);
    // Whether a file of the cache folder holds postbacks (the legacy file, a
    // key's file, or one being adopted): never compacted away.
    static bool isQueueFileName(std::string_view name);

    // Starts with empty lists; loadStoredQueue reads the file.
    Ref<HLPersistentPostbackManager> initWithSdk(const Ref<HLSdk>& sdk);
    // Replaces the queue with the stored one and adopts the legacy file when
    // it is still there. HLSdk calls it once its settings are loaded (so
    // slot 114 as stored applies) and before the start-up task runs.
    void loadStoredQueue();

    // Stamps and submits; a null URL is refused with a log line.
    void submitPostback(const Ref<NSURL>& url, const Value& body);
    // Enqueues (persisted while the queue is below slot 101) and dispatches.
    // A request without a URL is refused with a log line.
    void submitPostback(const Ref<HLPostbackRequest>& postback);
    // Dispatches, in queue order, the stored postbacks that loadStoredQueue
    // read and that are still queued (not those submitted in this run, whose
    // own dispatch is under way, nor those a claimed file still holds).
    void flushPostbackQueue();
    // Dispatches the stalled postbacks, emptying the list.
    void flushStalledPostbacks();

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
    // URL. A missing file gives an empty queue; a damaged one, or a root
    // that is no array, an empty queue and an error line; elements that are
    // not requests are skipped one by one. A file that is there but cannot
    // be read now gives an empty queue too.
    std::vector<Ref<HLPostbackRequest>> loadQueue();
    // A failed write is logged, leaves the previous file and answers false;
    // when the queue is empty it removes the file instead (answering whether
    // it did), so that nothing delivered is sent again at the next start.
    // While the stored file could not be read (at loadStoredQueue), each
    // write reads it again first and writes nothing until it reads; its
    // entries then go before those submitted since.
    bool writeQueue();
    const std::string& queueFileName() const { return queueFileName_; }

    // The owner's log manager; null once the owner is gone.
    Ref<HLLogManager> logger() const;

private:
    bool isLoadedLocked(const Ref<HLPostbackRequest>& postback) const;
    // `*unreadable` (when given) is set for a file there that cannot be read now.
    std::vector<Ref<HLPostbackRequest>> loadQueueFromFileNamed(const std::string& name, bool* unreadable = nullptr);
    // True once the stored queue has been read; see writeQueue.
    bool readIfUnreadLocked();
    // Adopts the legacy file when it is there; answers the queue's entries
    // that must not be sent in this run (the claimed file still holds them).
    std::vector<Ref<HLPostbackRequest>> adoptLegacyQueueLocked();

    Weak<HLSdk> sdk_;
    std::string queueFileName_;
    mutable std::recursive_mutex queueLock_;  // guards the lists below and the file
    std::vector<Ref<HLPostbackRequest>> postbackQueue_;
    std::vector<Ref<HLPostbackRequest>> stalledPostbacks_;
    std::vector<Weak<HLPostbackRequest>> loadedPostbacks_;  // what the start-up flush sends
    bool queueUnread_ = false;  // the stored file is there but could not be read
};
