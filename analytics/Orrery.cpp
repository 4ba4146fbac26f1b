#include "analytics/Orrery.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <vector>

#include "analytics/OrreryApplicationState.h"
#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryLog.h"
#include "analytics/OrreryNetworkUtil.h"
#include "analytics/OrreryRelayHooks.h"
#include "analytics/OrrerySession.h"
#include "analytics/OrreryUtil.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/SaturatingCast.h"

namespace {

// Everything below named ...OnQueue runs on the session queue.

Ref<OrreryGlobalVariableStorage> storage() { return OrreryGlobalVariableStorage::sharedInstance(); }

std::atomic<bool>& started() {
    static std::atomic<bool> flag{false};
    return flag;
}

void sendRelayTrigger(const char* name, const Value& params) {
    if (!storage()->relayMonitoringEnabled()) return;
    if (Ref<OrreryRelayHooks> hooks = OrreryRelayHooks::hooks()) hooks->processEventWithParams(name, params);
}

// The start and the end (or the start while there is none) of a session.
Value sessionDates(const OrrerySession& session) {
    NSDate start = session.startTime();
    Value params = Value(ValueDictionary());
    params.set(OrreryRelayHooks::kSessionStartTimeKey, Value(start));
    params.set(OrreryRelayHooks::kSessionEndTimeKey, Value(session.endTime().value_or(start)));
    return params;
}

void sendSessionEnd(const OrrerySession& session) {
    Value params = sessionDates(session);
    params.set(OrreryRelayHooks::kTotalSessionBgTimeKey, Value(session.totalBackgroundTimeMillis()));
    sendRelayTrigger(OrreryRelayHooks::kSessionEndEvent, params);
}

// True while the globals could not be read to find the device identifier.
bool& orreryIdUnreadOnQueue() {
    static bool unread = false;
    return unread;
}

// The device identifier: the stored one, else one made and stored. While the
// globals cannot be read there is none: a stored one may well be there, and
// nothing made meanwhile may stand for it, on the wire or in the map. It is
// looked for again at each event.
void ensureOrreryIdOnQueue() {
    auto persistence = OrreryGlobalPersistentManager::sharedInstance();
    bool& unread = orreryIdUnreadOnQueue();
    unread = !persistence->processReadOperationSync(OrreryPersistentMap::Globals, nullptr);
    if (unread) return;
    std::optional<std::string> identifier;
    persistence->processWriteOperationSync(OrreryPersistentMap::Globals, [&identifier](ValueDictionary& globals) {
        if (const Value* stored = globals.find(Orrery::kOrreryIdKey);
            stored && stored->string() && !stored->string()->empty()) {
            identifier = *stored->string();
            return;
        }
        identifier = OrreryUtil::generateCFUUID();
        globals.set(Orrery::kOrreryIdKey, Value(*identifier));
    });
    storage()->setOrreryId(identifier);
}

// The running number of logged events, kept apart from the globals map so
// that an event does not re-archive the whole map: ids are reserved there a
// block at a time (one synchronous write per block), and the exact last id is
// written back when the application leaves the foreground or ends. After a
// crash numbering goes on above the reserved block, so an id never repeats.
// While the globals cannot be read, the stored number is unknown and nothing
// is reserved (a reservation would win over the stored one): numbers are
// given meanwhile from above the clock's milliseconds since 1970 times
// kUnreadNumbersPerMillisecond, which counting from any number given before
// (an earlier such start's too) reaches only by giving that many numbers a
// millisecond since. Once they read, numbering goes on above both what they
// hold and what was given meanwhile.
struct EventLogIds {
    bool loaded = false;   // the stored number has been read
    int64_t last = 0;      // the last id given
    int64_t reserved = 0;  // the number stored: no id up to it is given again
};
constexpr int64_t kEventLogIdBlock = 100;
constexpr int64_t kUnreadNumbersPerMillisecond = 1000;

// Where numbering starts while the stored number cannot be read.
int64_t unreadEventLogIdBase() {
    const double millis = std::floor(NSDate::date().timeIntervalSince1970() * 1000);
    return platform::saturatingCast<int64_t>(std::max(millis, 1.0) * static_cast<double>(kUnreadNumbersPerMillisecond));
}

EventLogIds& eventLogIdsOnQueue() {
    // Never destroyed: other threads may use it during exit.
    static EventLogIds& ids = *new EventLogIds();
    return ids;
}

int64_t nextEventLogIdOnQueue() {
    EventLogIds& ids = eventLogIdsOnQueue();
    auto persistence = OrreryGlobalPersistentManager::sharedInstance();
    if (!ids.loaded) {
        int64_t stored = 0;
        ids.loaded = persistence->processReadOperationForPersistentGlobalsMapSyncWithBlock(
            [&stored](const ValueDictionary& globals) {
                if (const Value* number = globals.find(Orrery::kEventLogIdKey)) stored = number->integerValue();
            });
        if (ids.loaded) {
            ids.last = std::max(ids.last, stored);
            ids.reserved = stored;
        } else if (ids.last == 0) {
            ids.last = unreadEventLogIdBase();
        }
    }
    int64_t next = ids.last < std::numeric_limits<int64_t>::max() && ids.last >= 0 ? ids.last + 1 : 1;
    if (ids.loaded && (next > ids.reserved || next < ids.last)) {
        const int64_t reserve =
            next <= std::numeric_limits<int64_t>::max() - kEventLogIdBlock ? next + kEventLogIdBlock - 1 : next;
        persistence->processWriteOperationSync(OrreryPersistentMap::Globals, [reserve](ValueDictionary& globals) {
            globals.set(Orrery::kEventLogIdKey, Value(reserve));
        });
        ids.reserved = reserve;
    }
    ids.last = next;
    return next;
}

// Writes the exact last id back, so that a normal relaunch numbers on without a gap.
void storeEventLogIdOnQueue() {
    EventLogIds& ids = eventLogIdsOnQueue();
    if (!ids.loaded || ids.last == ids.reserved) return;
    const int64_t last = ids.last;
    OrreryGlobalPersistentManager::sharedInstance()->processWriteOperation(
        OrreryPersistentMap::Globals, [last](ValueDictionary& globals) { globals.set(Orrery::kEventLogIdKey, Value(last)); });
    ids.reserved = last;
}

void createSessionOnQueue(const NSDate& now) {
    if (storage()->relayMonitoringEnabled()) {
        if (Ref<OrreryRelayHooks> hooks = OrreryRelayHooks::hooks()) hooks->applyRefreshRuleForNewSession();
    }
    if (Ref<OrrerySession> previous = OrrerySession::currentSession()) {
        // A session that ended in a pause ends when the pause began.
        previous->setEndTime(previous->pauseTime().value_or(now));
        sendSessionEnd(*previous);
    }
    Ref<OrrerySession> session = NSObject::alloc<OrrerySession>()->initWithStartTime(now);
    OrrerySession::setCurrentSession(session);
    OrreryLog::log(OrreryLog::kInfo, "session started");
    sendRelayTrigger(OrreryRelayHooks::kSessionStartEvent, sessionDates(*session));
}

void pauseSessionOnQueue(const NSDate& now) {
    Ref<OrrerySession> session = OrrerySession::currentSession();
    if (!session || session->isPaused()) return;
    session->setPauseTime(now);
    session->setEndTime(now);
    OrreryLog::log(OrreryLog::kInfo, "session paused");
    sendSessionEnd(*session);
}

void resumeSessionOnQueue(const NSDate& now) {
    Ref<OrrerySession> session = OrrerySession::currentSession();
    if (!session || !session->isPaused()) return;
    double paused = now.timeIntervalSinceDate(*session->pauseTime());
    if (paused > Orrery::kSessionContinueSeconds) {
        createSessionOnQueue(now);
        return;
    }
    session->addBackgroundTime(paused);
    session->setPauseTime(std::nullopt);
    session->setEndTime(std::nullopt);
    OrreryLog::log(OrreryLog::kInfo, "session resumed");
}

void endSessionOnQueue(const NSDate& now) {
    Ref<OrrerySession> session = OrrerySession::currentSession();
    if (!session) return;
    session->setEndTime(session->pauseTime().value_or(now));
    OrrerySession::setCurrentSession(nullptr);
    OrreryLog::log(OrreryLog::kInfo, "session ended");
    sendSessionEnd(*session);
}

void logEventOnQueue(const std::string& name, const Value& parameters) {
    Ref<OrrerySession> session = OrrerySession::currentSession();
    if (!session) {
        OrreryLog::error("event \"" + name + "\" dropped: there is no session");
        return;
    }
    if (orreryIdUnreadOnQueue()) ensureOrreryIdOnQueue();
    int64_t eventLogId = nextEventLogIdOnQueue();
    if (!storage()->relayMonitoringEnabled()) return;
    Value params = parameters.isDictionary() ? parameters : Value(ValueDictionary());
    params.set(OrreryRelayHooks::kEventLogIdKey, Value(eventLogId));
    Value dates = sessionDates(*session);
    for (const auto& [key, value] : *dates.dictionary()) params.set(key, value);
    sendRelayTrigger(name.c_str(), params);
}

void startOnQueue(const NSDate& now) {
    ensureOrreryIdOnQueue();
    if (Ref<OrreryRelayHooks> hooks = OrreryRelayHooks::hooks())
        hooks->analyticsDidStartWithSessionQueue(Orrery::sessionQueue());
    createSessionOnQueue(now);
}

void observeLifecycle() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto center = NSNotificationCenter::defaultCenter();
        static auto* tokens = new std::vector<Ref<NSObject>>();
        tokens->push_back(center->addObserverForName(
            OrreryLifecycle::kDidEnterBackground, nullptr, nullptr, [](const NSNotification&) {
                NSDate now = NSDate::date();
                bool pause = !storage()->backgroundSessionEnabled();
                dispatch_async(Orrery::sessionQueue(), [now, pause] {
                    if (pause) pauseSessionOnQueue(now);
                    storeEventLogIdOnQueue();
                    // The process may be suspended from here on: have the maps on disk.
                    OrreryGlobalPersistentManager::sharedInstance()->waitForPendingWrites();
                });
            }));
        tokens->push_back(center->addObserverForName(
            OrreryLifecycle::kWillEnterForeground, nullptr, nullptr, [](const NSNotification&) {
                NSDate now = NSDate::date();
                dispatch_async(Orrery::sessionQueue(), [now] { resumeSessionOnQueue(now); });
            }));
        tokens->push_back(
            center->addObserverForName(OrreryLifecycle::kWillTerminate, nullptr, nullptr, [](const NSNotification&) {
                NSDate now = NSDate::date();
                // Synchronously: the process ends after this notification.
                dispatch_sync(Orrery::sessionQueue(), [now] {
                    endSessionOnQueue(now);
                    storeEventLogIdOnQueue();
                    OrreryGlobalPersistentManager::sharedInstance()->waitForPendingWrites();
                });
            }));
    });
}

std::string bundleVersion() {
    auto bundle = NSBundle::mainBundle();
    for (const char* key : {"CFBundleShortVersionString", "CFBundleVersion"}) {
        Value version = bundle->objectForInfoDictionaryKey(key);
        if (const std::string* text = version.string(); text && !text->empty()) return *text;
    }
    return {};
}

}  // namespace

dispatch_queue_t Orrery::sessionQueue() {
    static const dispatch_queue_t* queue =
        new dispatch_queue_t(dispatch_queue_create("orrery.session", DISPATCH_QUEUE_SERIAL));
    return *queue;
}

void Orrery::setCrashReportingEnabled(bool enabled) { storage()->setCrashReportingEnabled(enabled); }

void Orrery::setBackgroundSessionEnabled(bool enabled) { storage()->setBackgroundSessionEnabled(enabled); }

void Orrery::setLogLevel(int level) { storage()->setLogLevel(level); }

void Orrery::setRelayEnabled(bool enabled) { storage()->setRelayMonitoringEnabled(enabled); }

void Orrery::setRelayServerURL(const std::string& url) { OrreryNetworkUtil::setRelayServerUrl(url); }

void Orrery::startSession(const std::string& apiKey) {
    auto settings = storage();
    std::string key =
        NSString::stringByTrimmingCharactersInSet(apiKey, NSCharacterSet::whitespaceAndNewlineCharacterSet());
    if (key.empty()) {
        OrreryLog::error("startSession: the API key is empty; no session started");
        return;
    }
    if (started().exchange(true)) {
        OrreryLog::error("startSession: the client has already started; the call is ignored");
        return;
    }
    settings->setApiKey(key);
    if (settings->appVersion().empty()) settings->setAppVersion(bundleVersion());
    // Loads the persisted maps before the first session operation needs them.
    OrreryGlobalPersistentManager::sharedInstance();
    OrreryApplicationState::sharedInstance();
    OrreryNetworkUtil::startReachabilityNotifier();
    observeLifecycle();
    NSDate now = NSDate::date();
    dispatch_async(sessionQueue(), [now] { startOnQueue(now); });
}

void Orrery::createAndSendSession() {
    if (!started().load()) {
        OrreryLog::error("createAndSendSession: the client has not started");
        return;
    }
    NSDate now = NSDate::date();
    dispatch_async(sessionQueue(), [now] { createSessionOnQueue(now); });
}

void Orrery::logEvent(const std::string& eventName) { logEvent(eventName, Value()); }

void Orrery::logEvent(const std::string& eventName, const Value& parameters) {
    if (eventName.empty()) {
        OrreryLog::error("logEvent: an event needs a name; the event is dropped");
        return;
    }
    Value params = parameters;
    if (!params.isNull() && !params.isDictionary()) {
        OrreryLog::error("logEvent: the parameters of \"" + eventName + "\" are no dictionary; they are dropped");
        params = Value();
    }
    dispatch_async(sessionQueue(), [eventName, params] { logEventOnQueue(eventName, params); });
}
