// Keeps every partner-callback firing and its attempts until they have been
// reported, persists them in an archive file across launches, decides when
// a callback report is due (attempt count or delay) and hands the encoded
// trigger blocks to the report sender. Builds report bytes for the sender.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/OrreryDataSenderBase.h"
#include "analytics/relay/OrreryRelayTriggerInvokeInfo.h"
#include "platform/runtime/DispatchQueue.h"

class OrreryRelayCallbackReportManager : public NSObject, public OrreryDataSenderDelegate {
public:
    using Triggers = std::vector<Ref<OrreryRelayTriggerInvokeInfo>>;

    static Ref<OrreryRelayCallbackReportManager> sharedInstance();
    // Drops the singleton (the next use loads the archive again).
    static void cleanup();
    Ref<OrreryRelayCallbackReportManager> init();

    // The four below do file work: off the main thread (logged when not).
    // An archive that is there but cannot be read now (an I/O error, too
    // many open files) is never written over: records added meanwhile stay
    // in memory, and it is read again at each later change, save or report;
    // once it reads, its records go before those added since, and outcomes
    // that came meanwhile for its attempts are recorded in them.
    std::string reportsFilePath() const;
    // Empty too while the archive cannot be read.
    Triggers savedTriggers() const;
    void setSavedTriggers(const Triggers& triggers) const;
    bool addToSavedTriggers(const Ref<OrreryRelayTriggerInvokeInfo>& trigger);
    // In one step under the manager's lock: when `reuse`, the pending record
    // of `eventName` in the session, else (or when there is none) a new one
    // from `make`; `fill` changes it (told whether it was reused) and answers
    // whether a new record is to be kept, which it then adds. Saved.
    void prepareFiringRecord(bool reuse, const std::string& eventName, int64_t sessionId,
                             const std::function<Ref<OrreryRelayTriggerInvokeInfo>()>& make,
                             const std::function<bool(OrreryRelayTriggerInvokeInfo&, bool reused)>& fill);
    // Copies of the attempts that await their outcome (prepared, not ended),
    // each with its firing record's event name.
    std::vector<std::pair<std::string, Ref<OrreryRelayCallbackAttemptInfo>>> attemptsWithoutOutcome() const;

    // Records the outcome of an attempt in its callback's record at once (a
    // copy is kept); whether a report is due is checked on the queue. The
    // records are written no later than the Relay maps that name the attempt
    // (each map's save writes them first), so a process that dies once a map
    // says an attempt ended never restarts without its outcome.
    void archiveAttempt(const Ref<OrreryRelayCallbackAttemptInfo>& attempt);
    void updateTotalAttemptsCount(const Triggers& triggers);
    void checkAndSendReportsToServer();
    // Encodes the pending records under the lock and hands the blocks to
    // the sender without it (the sender waits for its own queue); what was
    // handed over is forgotten, and the records saved, once the blocks are
    // stored and before the report is posted. Off the main thread.
    void sendCallBackInfoToServer();

    std::optional<NSData> dataForSending(const Value& items) override;

    // Snapshot of the pending records.
    Triggers triggers() const;
    uint32_t totalAttemptCount() const { return totalAttemptCount_.load(); }
    const dispatch_queue_t& queue() const { return queue_; }
    // Returns once every queued report check has run and the records are saved.
    void waitForArchiving();
    // Writes the records when they changed since the last write; one write
    // at a time, in the order their contents were taken.
    void saveIfUnsaved();

private:
    // The saved records; nothing while the archive cannot be read.
    std::optional<Triggers> readSavedTriggers() const;
    // True once the archive has been read (now, or before); see above.
    bool readIfUnreadLocked();
    // Puts the outcome in its callback's record; false when none is here.
    bool recordOutcomeLocked(const Ref<OrreryRelayCallbackAttemptInfo>& attempt);
    // Marks the records changed; a save follows on the queue.
    void saveLocked();
    // After a hand-over: attempts written into it become sent and go; records
    // whose final attempt went, and triggers left empty, go too. Saved
    // before it returns.
    void forgetReportedAttempts();
    void forgetReportedAttemptsLocked();
    // Drops callback records with nothing to report that have heard nothing
    // for longer than the attempts' expiry (no attempt of theirs can still
    // end), and triggers left without callbacks. True when something went.
    bool dropStaleRecordsLocked();

    dispatch_queue_t queue_;
    std::mutex saveMutex_;  // taken before mutex_, held through a write
    mutable std::recursive_mutex mutex_;
    Triggers triggers_;
    std::atomic<uint32_t> totalAttemptCount_{0};
    bool unsaved_ = false;        // under mutex_: changes not yet written
    bool saveScheduled_ = false;  // under mutex_: a save waits on the queue
    bool unread_ = false;         // under mutex_: the archive is there but could not be read
    bool droppedUnread_ = false;  // under mutex_: the opt-out emptied the records meanwhile
    // Under mutex_: outcomes that found no record while unread_.
    std::vector<Ref<OrreryRelayCallbackAttemptInfo>> outcomesUnread_;
};
