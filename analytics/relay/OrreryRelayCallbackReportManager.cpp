#include "analytics/relay/OrreryRelayCallbackReportManager.h"

#include <algorithm>

#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryUtil.h"
#include "analytics/relay/OrreryRelayCBReportSender.h"
#include "analytics/relay/OrreryRelayCallbackReport.h"
#include "analytics/relay/OrreryRelayEventController.h"
#include "analytics/relay/OrreryRelayLog.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/runtime/NSDate.h"

namespace {
std::mutex managerMutex;
Ref<OrreryRelayCallbackReportManager>& managerSlot() {
    // Never destroyed: other threads may use it during exit.
    static Ref<OrreryRelayCallbackReportManager>& instance = *new Ref<OrreryRelayCallbackReportManager>();
    return instance;
}
}  // namespace

Ref<OrreryRelayCallbackReportManager> OrreryRelayCallbackReportManager::sharedInstance() {
    std::scoped_lock lock(managerMutex);
    auto& slot = managerSlot();
    if (!slot) slot = NSObject::alloc<OrreryRelayCallbackReportManager>()->init();
    return slot;
}

void OrreryRelayCallbackReportManager::cleanup() {
    Ref<OrreryRelayCallbackReportManager> dropped;
    {
        std::scoped_lock lock(managerMutex);
        dropped = std::move(managerSlot());
    }
    if (dropped) dropped->waitForArchiving();
}

namespace {

// Records as the archive gives them back at a start.
OrreryRelayCallbackReportManager::Triggers restoredTriggers(OrreryRelayCallbackReportManager::Triggers saved) {
    // A prepared attempt restored from the file still awaits its outcome
    // (its request is sent again): it is not reported before that, as it
    // would be with the state of an attempt that never ended.
    for (const auto& trigger : saved)
        for (const auto& callback : trigger->callbacks())
            for (const auto& attempt : callback->attempts())
                if (attempt->requestState() == OrreryRelayRequestStateNotEnded) attempt->setBeingFired(true);
    return saved;
}

}  // namespace

Ref<OrreryRelayCallbackReportManager> OrreryRelayCallbackReportManager::init() {
    queue_ = dispatch_queue_create("orrery.relay.reports", nullptr);
    std::optional<Triggers> saved = readSavedTriggers();
    if (!saved)
        OrreryRelayLog::log("OrreryRelayCallbackReportManager: the records cannot be read; they are kept, and new ones "
                            "stay in memory until they can");
    {
        std::scoped_lock lock(mutex_);
        unread_ = !saved;
        triggers_ = restoredTriggers(saved.value_or(Triggers()));
        updateTotalAttemptsCount(triggers_);
    }
    // The maps that hold attempts write the records before themselves: a
    // restart never finds an attempt (being fired or ended) whose record or
    // outcome was not written yet.
    Weak<OrreryRelayCallbackReportManager> weak = self<OrreryRelayCallbackReportManager>();
    auto saveFirst = [weak] {
        if (auto me = weak.lock()) me->saveIfUnsaved();
    };
    auto persistence = OrreryGlobalPersistentManager::sharedInstance();
    persistence->setWillSaveHandler(OrreryPersistentMap::RelayPrepUrls, saveFirst);
    persistence->setWillSaveHandler(OrreryPersistentMap::RelayUrls, saveFirst);
    return self<OrreryRelayCallbackReportManager>();
}

std::string OrreryRelayCallbackReportManager::reportsFilePath() const {
    OrreryUtil::assertThreadIsNotMain("reportsFilePath");
    // A stable hash of the API key: its CRC-32.
    int32_t keyHash = OrreryUtil::dataChecksum(NSData::dataWithString(OrreryGlobalVariableStorage::sharedInstance()->apiKey()));
    return OrreryUtil::filePathDirectory() + "/.orreryRelayReports" + std::to_string(keyHash) + ".archive";
}

OrreryRelayCallbackReportManager::Triggers OrreryRelayCallbackReportManager::savedTriggers() const {
    return readSavedTriggers().value_or(Triggers());
}

std::optional<OrreryRelayCallbackReportManager::Triggers> OrreryRelayCallbackReportManager::readSavedTriggers() const {
    OrreryUtil::assertThreadIsNotMain("savedTriggers");
    std::optional<Value> saved = OrreryUtil::readArchiveFile(reportsFilePath());
    if (!saved) return std::nullopt;
    Triggers triggers;
    if (const auto* items = saved->array())
        for (const auto& item : *items)
            if (auto trigger = item.object<OrreryRelayTriggerInvokeInfo>()) triggers.push_back(trigger);
    return triggers;
}

bool OrreryRelayCallbackReportManager::readIfUnreadLocked() {
    if (!unread_) return true;
    std::optional<Triggers> saved = readSavedTriggers();
    if (!saved) return false;
    // The saved records are older than those added since; records the
    // opt-out emptied meanwhile stay gone.
    Triggers merged = droppedUnread_ ? Triggers() : restoredTriggers(std::move(*saved));
    merged.insert(merged.end(), triggers_.begin(), triggers_.end());
    triggers_ = std::move(merged);
    unread_ = false;
    droppedUnread_ = false;
    // Outcomes that came meanwhile for attempts of the saved records.
    std::vector<Ref<OrreryRelayCallbackAttemptInfo>> outcomes;
    outcomes.swap(outcomesUnread_);
    for (const auto& attempt : outcomes) recordOutcomeLocked(attempt);
    updateTotalAttemptsCount(triggers_);
    saveLocked();
    return true;
}

void OrreryRelayCallbackReportManager::setSavedTriggers(const Triggers& triggers) const {
    OrreryUtil::assertThreadIsNotMain("setSavedTriggers");
    {
        std::scoped_lock lock(mutex_);
        // Never over an archive that could not be read: what it holds would be lost.
        if (unread_) {
            OrreryRelayLog::log("OrreryRelayCallbackReportManager: the records cannot be read; they are not written over");
            return;
        }
    }
    Value items = Value::array({});
    for (const auto& trigger : triggers) items.append(Value(trigger));
    const std::string path = reportsFilePath();
    if (!OrreryUtil::archiveObject(items, path)) {
        OrreryRelayLog::log("OrreryRelayCallbackReportManager: could not write %@", path);
        return;
    }
    OrreryUtil::addSkipBackupAttributeToItemAtURL(NSURL::fileURLWithPath(path));
}

void OrreryRelayCallbackReportManager::saveLocked() {
    // Saved soon, on the manager's queue (or sooner, by a map's save): a
    // burst of changes is written once.
    unsaved_ = true;
    if (saveScheduled_) return;
    saveScheduled_ = true;
    auto me = self<OrreryRelayCallbackReportManager>();
    dispatch_async(queue_, [me] {
        {
            std::scoped_lock lock(me->mutex_);
            me->saveScheduled_ = false;
        }
        me->saveIfUnsaved();
    });
}

void OrreryRelayCallbackReportManager::saveIfUnsaved() {
    // Held through the write: a later state is never overwritten by an earlier one.
    std::scoped_lock saving(saveMutex_);
    NSData archive;
    {
        std::scoped_lock lock(mutex_);
        // Never over an archive that could not be read: what it holds would be lost.
        if (!unsaved_ || !readIfUnreadLocked()) return;
        unsaved_ = false;
        Value items = Value::array({});
        for (const auto& trigger : triggers_) items.append(Value(trigger));
        archive = NSKeyedArchiver::archivedDataWithRootObject(items);
    }
    // Written outside the records' lock.
    const std::string path = reportsFilePath();
    if (archive.length() == 0 || !archive.writeToFile(path, true)) {
        OrreryRelayLog::log("OrreryRelayCallbackReportManager: could not write %@", path);
        return;
    }
    OrreryUtil::addSkipBackupAttributeToItemAtURL(NSURL::fileURLWithPath(path));
}

bool OrreryRelayCallbackReportManager::addToSavedTriggers(const Ref<OrreryRelayTriggerInvokeInfo>& trigger) {
    OrreryUtil::assertThreadIsNotMain("addToSavedTriggers");
    if (!trigger) return false;
    std::scoped_lock lock(mutex_);
    readIfUnreadLocked();
    triggers_.push_back(trigger);
    saveLocked();
    return true;
}

void OrreryRelayCallbackReportManager::prepareFiringRecord(
    bool reuse, const std::string& eventName, int64_t sessionId, const std::function<Ref<OrreryRelayTriggerInvokeInfo>()>& make,
    const std::function<bool(OrreryRelayTriggerInvokeInfo&, bool reused)>& fill) {
    std::scoped_lock lock(mutex_);
    readIfUnreadLocked();
    if (reuse)
        for (const auto& trigger : triggers_)
            if (trigger->eventName() == eventName && trigger->sessionId() == sessionId) {
                fill(*trigger, true);
                saveLocked();
                return;
            }
    Ref<OrreryRelayTriggerInvokeInfo> trigger = make();
    if (!trigger || !fill(*trigger, false)) return;
    triggers_.push_back(trigger);
    saveLocked();
}

std::vector<std::pair<std::string, Ref<OrreryRelayCallbackAttemptInfo>>> OrreryRelayCallbackReportManager::attemptsWithoutOutcome()
    const {
    std::vector<std::pair<std::string, Ref<OrreryRelayCallbackAttemptInfo>>> waiting;
    std::scoped_lock lock(mutex_);
    for (const auto& trigger : triggers_)
        for (const auto& callback : trigger->callbacks())
            for (const auto& attempt : callback->attempts())
                if (attempt->requestState() == OrreryRelayRequestStateNotEnded)
                    waiting.emplace_back(trigger->eventName().value_or(""), attempt->copy());
    return waiting;
}

OrreryRelayCallbackReportManager::Triggers OrreryRelayCallbackReportManager::triggers() const {
    std::scoped_lock lock(mutex_);
    return triggers_;
}

void OrreryRelayCallbackReportManager::waitForArchiving() {
    dispatch_sync(queue_, [] {});
    // A save the checks scheduled may wait behind this point: write it now.
    auto me = self<OrreryRelayCallbackReportManager>();
    dispatch_sync(queue_, [me] { me->saveIfUnsaved(); });
}

void OrreryRelayCallbackReportManager::archiveAttempt(const Ref<OrreryRelayCallbackAttemptInfo>& original) {
    if (!original) return;
    auto attempt = original->copy();
    {
        std::scoped_lock lock(mutex_);
        const bool read = readIfUnreadLocked();
        // One for a record the archive may hold waits until it is read.
        if (!recordOutcomeLocked(attempt) && !read) outcomesUnread_.push_back(attempt);
        totalAttemptCount_.fetch_add(1);
        dropStaleRecordsLocked();
        saveLocked();
    }
    auto me = self<OrreryRelayCallbackReportManager>();
    dispatch_async(queue_, [me] { me->checkAndSendReportsToServer(); });
}

bool OrreryRelayCallbackReportManager::recordOutcomeLocked(const Ref<OrreryRelayCallbackAttemptInfo>& attempt) {
    for (const auto& trigger : triggers_) {
        if (trigger->invokeId() != attempt->invokeId()) continue;
        for (const auto& callback : trigger->callbacks()) {
            if (callback->callbackId() != attempt->callbackId()) continue;
            // The outcome replaces the record that has not ended (the
            // placeholder), else the one with its number, else it is added.
            auto attempts = callback->attempts();
            auto slot = attempts.end();
            for (auto it = attempts.begin(); it != attempts.end(); ++it)
                if ((*it)->requestState() == OrreryRelayRequestStateNotEnded) {
                    slot = it;
                    break;
                }
            if (slot == attempts.end())
                for (auto it = attempts.begin(); it != attempts.end(); ++it)
                    if ((*it)->attemptNumber() == attempt->attemptNumber()) {
                        slot = it;
                        break;
                    }
            if (slot != attempts.end()) *slot = attempt;
            else attempts.push_back(attempt);
            callback->setAttempts(attempts);
            callback->setLastOutcomeTime(NSDate::date());
            return true;
        }
    }
    return false;
}

bool OrreryRelayCallbackReportManager::dropStaleRecordsLocked() {
    const double now = NSDate::date().timeIntervalSince1970();
    // A record is stale when it has nothing to report (no attempts, or only
    // attempts still in flight) and has heard nothing for longer than the
    // attempts' expiry: since its last outcome, its newest attempt or, when
    // neither is known, the firing itself.
    auto stale = [now](const Ref<OrreryRelayCallbackReportInfo>& callback, double firedAt) {
        if (!callback) return false;
        double last = firedAt;
        if (auto outcome = callback->lastOutcomeTime()) last = std::max(last, outcome->timeIntervalSince1970());
        for (const auto& attempt : callback->attempts()) {
            if (!attempt->beingFired()) return false;
            if (attempt->creationTime()) last = std::max(last, attempt->creationTime()->timeIntervalSince1970());
        }
        return now - last > OrreryRelayEventController::kExpirationSeconds;
    };
    bool dropped = false;
    Triggers kept;
    for (const auto& trigger : triggers_) {
        auto callbacks = trigger->callbacks();
        const size_t before = callbacks.size();
        const double firedAt = trigger->firingTime().value_or(0);
        std::erase_if(callbacks, [&](const auto& callback) { return stale(callback, firedAt); });
        if (callbacks.size() != before) {
            OrreryRelayLog::log("OrreryRelayEndPointInvokeInfo: dropping %@ callback record(s) without an outcome for 3 days",
                                std::to_string(before - callbacks.size()));
            trigger->setCallbacks(callbacks);
        }
        // A record without callbacks has nothing it could ever report.
        if (callbacks.empty()) dropped = true;
        else kept.push_back(trigger);
        dropped |= callbacks.size() != before;
    }
    triggers_ = kept;
    return dropped;
}

void OrreryRelayCallbackReportManager::updateTotalAttemptsCount(const Triggers& triggers) {
    uint32_t count = 0;
    for (const auto& trigger : triggers)
        for (const auto& callback : trigger->callbacks()) count += static_cast<uint32_t>(callback->attemptCount());
    totalAttemptCount_.store(count);
}

void OrreryRelayCallbackReportManager::checkAndSendReportsToServer() {
    Ref<OrreryRelaySettings> settings = OrreryRelayEventController::storedSettings();
    if (!settings) return;
    if (settings->maxCallbackAttemptsPerReport() >= 0 &&
        totalAttemptCount_.load() >= static_cast<uint32_t>(settings->maxCallbackAttemptsPerReport())) {
        sendCallBackInfoToServer();
        return;
    }
    double elapsed = 0;
    if (auto last = OrreryGlobalVariableStorage::sharedInstance()->lastRelayReportTime())
        elapsed = NSDate::date().timeIntervalSince1970() - last->timeIntervalSince1970();
    if (elapsed > settings->maxReportDelaySecs()) sendCallBackInfoToServer();
}

void OrreryRelayCallbackReportManager::sendCallBackInfoToServer() {
    OrreryUtil::assertThreadIsNotMain("sendCallBackInfoToServer");
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    storage->setLastRelayReportTime(NSDate::date());
    // The blocks are encoded under the lock, but handed over without it: the
    // sender waits for the session queue, whose triggers take this lock.
    std::vector<NSData> blocks;
    {
        std::scoped_lock lock(mutex_);
        if (OrreryUtil::hasUserOptedOut() && !storage->optOutSessionPending()) {
            OrreryRelayLog::log("OrreryRelayEndPointInvokeInfo: User is opted out, not sending callback report");
            // Memory is emptied too, so nothing is written back later; so is
            // an archive not read yet, once it is.
            triggers_.clear();
            outcomesUnread_.clear();
            droppedUnread_ = unread_;
            totalAttemptCount_.store(0);
            saveLocked();
            return;
        }
        readIfUnreadLocked();
        if (dropStaleRecordsLocked()) saveLocked();
        OrreryRelayLog::log("OrreryRelayEndPointInvokeInfo: Sending callback reports to server");
        for (const auto& trigger : triggers_)
            if (auto data = trigger->data()) blocks.push_back(std::move(*data));
    }
    if (blocks.empty()) return;
    auto sender = OrreryRelayCBReportSender::instance();
    // Attempts are forgotten only once their report is stored (or sent); until
    // then they stay written-into-a-report and the next report takes them
    // again. Forgotten before the report is posted, a kill repeats it once at most.
    auto me = self<OrreryRelayCallbackReportManager>();
    if (!sender || !sender->sendRelayReportsData(blocks, [me] { me->forgetReportedAttempts(); })) {
        OrreryRelayLog::log("OrreryRelayEndPointInvokeInfo: report not stored; its attempts wait for the next one");
        return;
    }
    OrreryRelayLog::log("OrreryRelayEndPointInvokeInfo: Scheduled send %@ reports(s).", std::to_string(blocks.size()));
}

void OrreryRelayCallbackReportManager::forgetReportedAttempts() {
    {
        std::scoped_lock lock(mutex_);
        forgetReportedAttemptsLocked();
    }
    saveIfUnsaved();
}

void OrreryRelayCallbackReportManager::forgetReportedAttemptsLocked() {
    uint32_t remaining = 0;
    Triggers kept;
    for (const auto& trigger : triggers_) {
        trigger->setCBAttemptsSent();
        // A callback stays (possibly empty) until its final attempt was
        // reported, so later retries still find it.
        const auto before = trigger->callbacks();
        std::vector<bool> open;
        for (const auto& callback : before) {
            bool finalSent = false;
            for (const auto& attempt : callback->attempts())
                finalSent |= attempt->finalAttempt() && attempt->logSendState() == OrreryRelayLogSendStateSent;
            open.push_back(!finalSent);
        }
        trigger->removeSentCBAttempts();
        const auto after = trigger->callbacks();
        OrreryRelayTriggerInvokeInfo::Callbacks callbacks;
        for (size_t i = 0; i < before.size(); ++i)
            if (open[i] || std::find(after.begin(), after.end(), before[i]) != after.end()) callbacks.push_back(before[i]);
        trigger->setCallbacks(callbacks);
        if (!callbacks.empty()) kept.push_back(trigger);
        // The count starts again from what is left to report. Attempts still
        // in flight are not counted: their outcomes count when they come, and
        // counting both would start a report for every outcome under load.
        for (const auto& callback : callbacks)
            for (const auto& attempt : callback->attempts()) remaining += attempt->beingFired() ? 0 : 1;
    }
    triggers_ = kept;
    saveLocked();
    totalAttemptCount_.store(remaining);
}

std::optional<NSData> OrreryRelayCallbackReportManager::dataForSending(const Value& items) {
    std::vector<std::optional<NSData>> blocks;
    if (const auto* array = items.array())
        for (const auto& item : *array)
            if (const NSData* data = item.data()) blocks.emplace_back(*data);
    if (!items.isArray()) {
        OrreryRelayLog::log("%@: Unable to create reports data from reports array", std::string("dataForSending"));
        return std::nullopt;
    }
    return OrreryRelayCallbackReport::callbackStatusDataForReports(blocks);
}
