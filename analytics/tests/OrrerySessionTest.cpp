// The session calls end to end on the virtual clock: start with the API key,
// pause and resume (or a new session) driven by posted lifecycle
// notifications, termination, events with their persisted running number,
// and what reaches Relay's hooks, in order, only while Relay is on.
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "analytics/Orrery.h"
#include "analytics/OrreryApplicationState.h"
#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryNetworkUtil.h"
#include "analytics/OrreryRelayHooks.h"
#include "analytics/OrrerySession.h"
#include "analytics/OrreryUtil.h"
#include "analytics/tests/OrreryTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"

namespace {

struct HookCall {
    std::string kind;  // "start", "refresh" or the trigger name
    Value params;
};

class RecordingHooks : public NSObject, public OrreryRelayHooks {
public:
    void analyticsDidStartWithSessionQueue(const dispatch_queue_t& queue) override {
        log_.add({"start", Value(dispatch_queue_get_label(queue))});
    }
    void applyRefreshRuleForNewSession() override { log_.add({"refresh", Value()}); }
    void processEventWithParams(const std::string& name, const Value& params) override { log_.add({name, params}); }

    std::vector<HookCall> calls() const { return log_.items(); }
    std::vector<std::string> kinds() const {
        std::vector<std::string> kinds;
        for (const auto& call : calls()) kinds.push_back(call.kind);
        return kinds;
    }

private:
    CallLog<HookCall> log_;
};

class OrrerySessionTest : public OrreryTest {
protected:
    void SetUp() override {
        OrreryTest::SetUp();
        hooks = NSObject::alloc<RecordingHooks>();
        OrreryRelayHooks::setHooks(hooks);
    }
    void TearDown() override {
        OrreryRelayHooks::setHooks(nullptr);
        OrreryTest::TearDown();
    }

    static void post(const char* name) { NSNotificationCenter::defaultCenter()->postNotificationName(name, nullptr); }
    static double now() { return NSDate::date().timeIntervalSince1970(); }
    static double secondsOf(const Value& date) { return date.date() ? date.date()->timeIntervalSince1970() : -1; }

    Ref<RecordingHooks> hooks;
};

TEST_F(OrrerySessionTest, StartingMakesTheFirstSession) {
    NSBundle::mainBundle()->setInfoDictionaryValue("CFBundleShortVersionString", "2.4");
    double started = now();
    Orrery::startSession("  API-KEY-1 \n");
    waitForSessionQueue();

    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    EXPECT_EQ(storage->apiKey(), "API-KEY-1");
    EXPECT_EQ(storage->appVersion(), "2.4");
    auto session = OrrerySession::currentSession();
    ASSERT_NE(session, nullptr);
    EXPECT_DOUBLE_EQ(session->startTime().timeIntervalSince1970(), started);
    EXPECT_FALSE(session->endTime().has_value());
    EXPECT_EQ(OrrerySession::getAgentVersion(), 187);

    // The device identifier is made once and kept.
    auto identifier = OrreryUtil::getOrreryId();
    ASSERT_TRUE(identifier.has_value());
    std::string persisted;
    OrreryGlobalPersistentManager::sharedInstance()->processReadOperationForPersistentGlobalsMapSyncWithBlock(
        [&persisted](const ValueDictionary& globals) {
            persisted = globals.find(Orrery::kOrreryIdKey)->stringValue();
        });
    EXPECT_EQ(persisted, *identifier);

    // Relay is off: only the start-up hook ran, with the session queue.
    ASSERT_EQ(hooks->kinds(), std::vector<std::string>{"start"});
    EXPECT_EQ(hooks->calls()[0].params.stringValue(), "orrery.session");
}

TEST_F(OrrerySessionTest, EmptyKeysAndSecondStartsChangeNothing) {
    expectLogLine("Orrery: startSession: the API key is empty");
    expectLogLine("Orrery: event \"too early\" dropped: there is no session");
    expectLogLine("Orrery: startSession: the client has already started");
    Orrery::startSession(" \t ");
    Orrery::logEvent("too early");
    waitForSessionQueue();
    EXPECT_EQ(OrrerySession::currentSession(), nullptr);
    EXPECT_TRUE(hooks->calls().empty());

    Orrery::startSession("first");
    Orrery::startSession("second");
    waitForSessionQueue();
    EXPECT_EQ(OrreryGlobalVariableStorage::sharedInstance()->apiKey(), "first");
    EXPECT_EQ(hooks->kinds(), std::vector<std::string>{"start"});
}

TEST_F(OrrerySessionTest, AShortStayInTheBackgroundResumesTheSession) {
    Orrery::setRelayEnabled(true);
    double started = now();
    Orrery::startSession("key");
    waitForSessionQueue();
    auto session = OrrerySession::currentSession();

    driver().advance(30);
    post(OrreryLifecycle::kDidEnterBackground);
    waitForSessionQueue();
    EXPECT_TRUE(session->isPaused());
    EXPECT_DOUBLE_EQ(session->endTime()->timeIntervalSince1970(), started + 30);
    EXPECT_TRUE(OrreryApplicationState::sharedInstance()->isInBackground());

    driver().advance(4);
    post(OrreryLifecycle::kWillEnterForeground);
    waitForSessionQueue();
    EXPECT_EQ(OrrerySession::currentSession(), session);
    EXPECT_FALSE(session->isPaused());
    EXPECT_FALSE(session->endTime().has_value());
    EXPECT_EQ(session->totalBackgroundTimeMillis(), 4000);
    EXPECT_FALSE(OrreryApplicationState::sharedInstance()->isInBackground());

    ASSERT_EQ(hooks->kinds(),
              (std::vector<std::string>{"start", "refresh", "orrery.session_start", "orrery.session_end"}));
    auto calls = hooks->calls();
    const Value& startParams = calls[2].params;
    EXPECT_DOUBLE_EQ(secondsOf(startParams["sessionStartTimeForRelay"]), started);
    EXPECT_DOUBLE_EQ(secondsOf(startParams["sessionEndTimeForRelay"]), started);
    const Value& pauseParams = calls[3].params;
    EXPECT_DOUBLE_EQ(secondsOf(pauseParams["sessionEndTimeForRelay"]), started + 30);
    EXPECT_EQ(pauseParams["totalSessionBgTime"].integerValue(), 0);
}

TEST_F(OrrerySessionTest, ALongStayInTheBackgroundStartsANewSession) {
    Orrery::setRelayEnabled(true);
    double started = now();
    Orrery::startSession("key");
    driver().advance(5);
    post(OrreryLifecycle::kDidEnterBackground);
    driver().advance(2);
    post(OrreryLifecycle::kWillEnterForeground);  // 2 s: the same session goes on
    driver().advance(10);
    post(OrreryLifecycle::kDidEnterBackground);
    driver().advance(Orrery::kSessionContinueSeconds + 1);
    post(OrreryLifecycle::kWillEnterForeground);
    waitForSessionQueue();

    auto session = OrrerySession::currentSession();
    ASSERT_NE(session, nullptr);
    EXPECT_DOUBLE_EQ(session->startTime().timeIntervalSince1970(), started + 28);
    EXPECT_FALSE(session->isPaused());

    ASSERT_EQ(hooks->kinds(), (std::vector<std::string>{"start", "refresh", "orrery.session_start",
                                                        "orrery.session_end", "orrery.session_end", "refresh",
                                                        "orrery.session_end", "orrery.session_start"}));
    auto calls = hooks->calls();
    // The ended session ends where its last pause began, with the 2 s it came back from.
    const Value& ended = calls[6].params;
    EXPECT_DOUBLE_EQ(secondsOf(ended["sessionStartTimeForRelay"]), started);
    EXPECT_DOUBLE_EQ(secondsOf(ended["sessionEndTimeForRelay"]), started + 17);
    EXPECT_EQ(ended["totalSessionBgTime"].integerValue(), 2000);
    EXPECT_DOUBLE_EQ(secondsOf(calls[7].params["sessionStartTimeForRelay"]), started + 28);
}

TEST_F(OrrerySessionTest, BackgroundSessionsKeepRunning) {
    Orrery::setBackgroundSessionEnabled(true);
    Orrery::startSession("key");
    waitForSessionQueue();
    auto session = OrrerySession::currentSession();
    post(OrreryLifecycle::kDidEnterBackground);
    driver().advance(60);
    post(OrreryLifecycle::kWillEnterForeground);
    waitForSessionQueue();
    EXPECT_EQ(OrrerySession::currentSession(), session);
    EXPECT_FALSE(session->endTime().has_value());
    EXPECT_EQ(session->totalBackgroundTimeMillis(), 0);
}

TEST_F(OrrerySessionTest, TerminationEndsTheSession) {
    Orrery::setRelayEnabled(true);
    double started = now();
    Orrery::startSession("key");
    waitForSessionQueue();
    auto session = OrrerySession::currentSession();
    driver().advance(12);
    post(OrreryLifecycle::kWillTerminate);  // synchronous: done when the post returns
    EXPECT_EQ(OrrerySession::currentSession(), nullptr);
    EXPECT_DOUBLE_EQ(session->endTime()->timeIntervalSince1970(), started + 12);
    EXPECT_EQ(hooks->kinds().back(), "orrery.session_end");
}

TEST_F(OrrerySessionTest, EventsCarryAPersistedRunningNumber) {
    Orrery::setRelayEnabled(true);
    double started = now();
    Orrery::startSession("key");
    Orrery::logEvent("Word_spoke", Value::dictionary({{"word", "veil"}}));
    driver().advance(3);
    Orrery::logEvent("Settings_open");
    expectLogLine("Orrery: logEvent: an event needs a name");
    expectLogLine("Orrery: logEvent: the parameters of \"Odd\" are no dictionary");
    Orrery::logEvent("", Value(ValueDictionary()));
    Orrery::logEvent("Odd", Value("not a dictionary"));
    waitForSessionQueue();

    auto calls = hooks->calls();
    ASSERT_EQ(calls.size(), 6u);  // start, refresh, session start, three events
    const Value& word = calls[3].params;
    EXPECT_EQ(calls[3].kind, "Word_spoke");
    EXPECT_EQ(word["word"].stringValue(), "veil");
    EXPECT_EQ(word["eventLogId"].integerValue(), 1);
    EXPECT_DOUBLE_EQ(secondsOf(word["sessionStartTimeForRelay"]), started);
    EXPECT_DOUBLE_EQ(secondsOf(word["sessionEndTimeForRelay"]), started);
    EXPECT_EQ(calls[4].params["eventLogId"].integerValue(), 2);
    EXPECT_EQ(calls[5].kind, "Odd");
    EXPECT_EQ(calls[5].params["eventLogId"].integerValue(), 3);
    EXPECT_TRUE(calls[5].params["word"].isNull());

    // The running number lives in the persisted globals map, exactly once
    // the application has left the foreground.
    post(OrreryLifecycle::kDidEnterBackground);
    waitForSessionQueue();
    OrreryGlobalPersistentManager::sharedInstance()->waitForPendingWrites();
    int64_t stored = 0;
    NSObject::alloc<OrreryGlobalPersistentManager>()->init()->processReadOperationForPersistentGlobalsMapSyncWithBlock(
        [&stored](const ValueDictionary& globals) { stored = globals.find(Orrery::kEventLogIdKey)->integerValue(); });
    EXPECT_EQ(stored, 3);
}

// The globals cannot be read at a start: the device identifier and the
// running number an earlier start stored are not made anew over them.
// Meanwhile there is no identifier, and events are numbered in memory from a
// range above any stored number; once the globals read, the stored
// identifier is taken up and numbering goes on above both.
TEST_F(OrrerySessionTest, WhatTheGlobalsHoldWinsOverWhatWasMadeWhileTheyCannotBeRead) {
    const std::string path =
        OrreryUtil::filePathDirectory() + "/" + OrreryGlobalPersistentManager::fileNameForMap(OrreryPersistentMap::Globals);
    auto persistence = OrreryGlobalPersistentManager::sharedInstance();
    persistence->processWriteOperationSync(OrreryPersistentMap::Globals, [](ValueDictionary& globals) {
        globals.set(Orrery::kOrreryIdKey, Value("STORED-ID"));
        globals.set(Orrery::kEventLogIdKey, Value(500));
    });
    platform::testing::FileSystemConditions::setReadsFail(path, EIO);
    persistence->reloadFromFiles();

    Orrery::setRelayEnabled(true);
    Orrery::startSession("key");
    Orrery::logEvent("Meanwhile");
    waitForSessionQueue();
    EXPECT_FALSE(OrreryUtil::getOrreryId().has_value());
    ASSERT_EQ(hooks->calls().back().kind, "Meanwhile");
    const int64_t meanwhile = hooks->calls().back().params["eventLogId"].integerValue();
    EXPECT_GT(meanwhile, 500);
    platform::testing::FileSystemConditions::setReadsFail(path, std::nullopt);
    Orrery::logEvent("Later");
    waitForSessionQueue();
    EXPECT_EQ(OrreryUtil::getOrreryId(), "STORED-ID");
    ASSERT_EQ(hooks->calls().back().kind, "Later");
    EXPECT_EQ(hooks->calls().back().params["eventLogId"].integerValue(), meanwhile + 1);

    post(OrreryLifecycle::kDidEnterBackground);
    waitForSessionQueue();
    persistence->waitForPendingWrites();
    Value stored;
    NSObject::alloc<OrreryGlobalPersistentManager>()->init()->processReadOperationForPersistentGlobalsMapSyncWithBlock(
        [&stored](const ValueDictionary& globals) { stored = Value(globals); });
    EXPECT_EQ(stored[Orrery::kOrreryIdKey].stringValue(), "STORED-ID");
    EXPECT_EQ(stored[Orrery::kEventLogIdKey].integerValue(), meanwhile + 1);
}

TEST_F(OrrerySessionTest, LoggingEventsDoesNotRewriteTheGlobalsMapEachTime) {
    Orrery::startSession("key");
    Orrery::logEvent("First");
    waitForSessionQueue();
    OrreryGlobalPersistentManager::sharedInstance()->waitForPendingWrites();
    const std::string path =
        OrreryUtil::filePathDirectory() + "/" + OrreryGlobalPersistentManager::fileNameForMap(OrreryPersistentMap::Globals);
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    // Every save replaces the file (a new inode): fifty events make none.
    for (int i = 0; i < 50; ++i) Orrery::logEvent("Word_spoke");
    waitForSessionQueue();
    OrreryGlobalPersistentManager::sharedInstance()->waitForPendingWrites();
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(OrrerySessionTest, RelayOffSeesNoTriggers) {
    Orrery::startSession("key");
    Orrery::logEvent("Word_spoke");
    post(OrreryLifecycle::kDidEnterBackground);
    Orrery::createAndSendSession();
    waitForSessionQueue();
    EXPECT_EQ(hooks->kinds(), std::vector<std::string>{"start"});
}

TEST_F(OrrerySessionTest, CreateAndSendSessionRefreshesThenEndsAndStarts) {
    Orrery::startSession("key");
    waitForSessionQueue();
    auto first = OrrerySession::currentSession();
    Orrery::setRelayEnabled(true);
    driver().advance(7);
    Orrery::createAndSendSession();
    waitForSessionQueue();
    EXPECT_NE(OrrerySession::currentSession(), first);
    EXPECT_DOUBLE_EQ(first->endTime()->timeIntervalSince1970(),
                     OrrerySession::currentSession()->startTime().timeIntervalSince1970());
    EXPECT_EQ(hooks->kinds(),
              (std::vector<std::string>{"start", "refresh", "orrery.session_end", "orrery.session_start"}));
}

TEST_F(OrrerySessionTest, SwitchesAreStored) {
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    EXPECT_FALSE(storage->crashReportingEnabled());
    Orrery::setCrashReportingEnabled(true);
    Orrery::setBackgroundSessionEnabled(false);
    Orrery::setLogLevel(2);
    Orrery::setRelayEnabled(true);
    EXPECT_TRUE(storage->crashReportingEnabled());
    EXPECT_FALSE(storage->backgroundSessionEnabled());
    EXPECT_EQ(OrreryUtil::logLevel(), 2);
    EXPECT_TRUE(storage->relayMonitoringEnabled());

    EXPECT_EQ(OrreryNetworkUtil::relayServerUrl(), OrreryNetworkUtil::kDefaultRelayServerUrl);
    Orrery::setRelayServerURL("http://127.0.0.1:8080/sdk/v1/config");
    expectLogLine("Orrery: setRelayServerURL: \"not a url\" is no absolute URL");
    Orrery::setRelayServerURL("not a url");
    EXPECT_EQ(OrreryNetworkUtil::relayServerUrl(), "http://127.0.0.1:8080/sdk/v1/config");
}

}  // namespace
