// How long the report manager keeps a firing record, end to end on loopback:
// every record ends with its final report or its expiry (duplicate callback
// ids, firings with nothing to fire, firings in one clock instant, a session
// end whose record a report took away, a pause and an end back to back, an
// attempt that never ended), and the threads
// that meet over the records: a report hand-over racing session ends, retry
// timers armed while the application goes inactive.
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "analytics/relay/tests/RelayControllerTestSupport.h"
#include "analytics/OrreryApplicationState.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/runtime/HangGuard.h"

namespace {

using simulator::Answer;

class OrreryRelayRecordLifetimeTest : public RelayControllerTest {
protected:
    Ref<OrreryRelayCallbackReportManager> manager() { return OrreryRelayCallbackReportManager::sharedInstance(); }
    // A report now, as the manager's queue would send it.
    void sendReport() {
        auto reports = manager();
        dispatch_sync(reports->queue(), [reports] { reports->sendCallBackInfoToServer(); });
        settle();
    }
    static Value sessionEndParams() {
        return Value::dictionary({{"sessionStartTimeForRelay", NSDate::dateWithTimeIntervalSince1970(kSessionStart)},
                                  {"sessionEndTimeForRelay", NSDate::dateWithTimeIntervalSince1970(kSessionStart + 5)},
                                  {"totalSessionBgTime", 0}});
    }
};

TEST_F(OrreryRelayRecordLifetimeTest, ACallbackListingItsEventTwiceIsFiredAndReportedOnce) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1, 1}}}, 3, 1));
    partner.scriptStatuses("/cb", {200});
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    manager()->waitForArchiving();
    settle();
    EXPECT_EQ(partner.callbackCount(), 1u);
    auto reports = relay.reports();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_TRUE(reports[0].report);
    EXPECT_EQ(reports[0].report->triggers.at(0).callbacks.size(), 1u);
    EXPECT_TRUE(manager()->triggers().empty());
}

TEST_F(OrreryRelayRecordLifetimeTest, AFiringWithNothingToFireLeavesNoRecord) {
    // Callback 99 is not in the configuration; 2 has no URL template.
    auto noUrl = callback(2, "");
    store(makeSettings({callback(1, partner.url("/cb")), noUrl},
                       {{Value("Level"), {99}}, {Value("orrery.session_start"), {99, 2}}}));
    controller->processEventWithParams("Level", eventParams(1));
    controller->processEventWithParams("orrery.session_start", sessionEndParams());
    settle();
    EXPECT_EQ(partner.callbackCount(), 0u);
    EXPECT_TRUE(manager()->triggers().empty());
}

TEST_F(OrreryRelayRecordLifetimeTest, FiringsInOneClockInstantAreReportedApart) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 3, 2));
    partner.scriptStatuses("/cb", {200});
    // The clock does not move between the two.
    controller->processEventWithParams("Level", eventParams(1));
    controller->processEventWithParams("Level", eventParams(2));
    settle();
    manager()->waitForArchiving();
    settle();
    EXPECT_EQ(partner.callbackCount(), 2u);
    auto reports = relay.reports();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_TRUE(reports[0].report);
    const auto& triggers = reports[0].report->triggers;
    ASSERT_EQ(triggers.size(), 2u);
    for (const auto& trigger : triggers) {
        ASSERT_EQ(trigger.callbacks.size(), 1u);
        ASSERT_EQ(trigger.callbacks[0].attempts.size(), 1u);
        EXPECT_TRUE(trigger.callbacks[0].attempts[0].finalAttempt);
    }
    EXPECT_NE(triggers[0].eventOccurrenceId, triggers[1].eventOccurrenceId);
    EXPECT_TRUE(manager()->triggers().empty());
}

TEST_F(OrreryRelayRecordLifetimeTest, ASessionEndWhoseRecordAReportTookIsFiredAndReported) {
    store(makeSettings({callback(1, partner.url("/end"))}, {{Value("orrery.session_end"), {1}}}));
    partner.scriptStatuses("/end", {200});
    controller->processEventWithParams("orrery.session_end", sessionEndParams());
    settle();
    manager()->waitForArchiving();

    // The second end's preparation waits behind a held write while a report
    // takes the session's record (its only attempt was final).
    std::promise<void> release;
    OrreryGlobalPersistentManager::sharedInstance()->processWriteOperationForPersistentRelayPrepUrlMapWithBlock(
        [gate = release.get_future().share()](ValueDictionary&) { gate.wait(); });
    controller->processEventWithParams("orrery.session_end", sessionEndParams());
    auto reports = manager();
    dispatch_sync(reports->queue(), [reports] { reports->sendCallBackInfoToServer(); });
    EXPECT_TRUE(reports->triggers().empty());
    release.set_value();
    settle();
    manager()->waitForArchiving();

    sendReport();
    EXPECT_EQ(partner.callbacks("/end").size(), 2u);
    auto received = relay.reports();
    ASSERT_EQ(received.size(), 2u);
    ASSERT_TRUE(received[1].report);
    ASSERT_EQ(received[1].report->triggers.size(), 1u);
    EXPECT_EQ(received[1].report->triggers[0].triggerType, 3);
    ASSERT_EQ(received[1].report->triggers[0].callbacks.size(), 1u);
    EXPECT_TRUE(received[1].report->triggers[0].callbacks[0].attempts.at(0).finalAttempt);
    EXPECT_TRUE(reports->triggers().empty());
}

TEST_F(OrreryRelayRecordLifetimeTest, APauseAndAnEndBackToBackShareOneRecordWhoseAttemptIsSent) {
    store(makeSettings({callback(1, partner.url("/end"))}, {{Value("orrery.session_end"), {1}}}));
    partner.scriptStatuses("/end", {200});
    // Both ends are handled before either is prepared.
    std::promise<void> release;
    OrreryGlobalPersistentManager::sharedInstance()->processWriteOperationForPersistentRelayPrepUrlMapWithBlock(
        [gate = release.get_future().share()](ValueDictionary&) { gate.wait(); });
    controller->processEventWithParams("orrery.session_end", sessionEndParams());
    Value ended = sessionEndParams();
    ended.set("sessionEndTimeForRelay", NSDate::dateWithTimeIntervalSince1970(kSessionStart + 9));
    controller->processEventWithParams("orrery.session_end", ended);
    release.set_value();
    settle();
    manager()->waitForArchiving();

    // The end's attempt replaced the pause's, in the one record, and was sent.
    EXPECT_EQ(partner.callbacks("/end").size(), 1u);
    auto triggers = manager()->triggers();
    ASSERT_EQ(triggers.size(), 1u);
    ASSERT_EQ(triggers[0]->callbacks().size(), 1u);
    auto attempts = triggers[0]->callbacks()[0]->attempts();
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_EQ(attempts[0]->requestState(), OrreryRelayRequestStateSucceeded);
    EXPECT_TRUE(manager()->attemptsWithoutOutcome().empty());
}

TEST_F(OrreryRelayRecordLifetimeTest, ARecordWhoseAttemptNeverEndedGoesAfterTheExpiry) {
    store(makeSettings({callback(2, partner.url("/b"))}, {{Value("Other"), {2}}}));
    partner.scriptStatuses("/b", {200});
    // A firing whose attempt is still in flight and will never end (its
    // process went away): nothing to report, no outcome to wait for.
    auto attempt = NSObject::alloc<OrreryRelayCallbackAttemptInfo>()->init();
    attempt->setInvokeId(std::string("lost"));
    attempt->setCallbackId(1);
    attempt->setBeingFired(true);
    attempt->setCreationTime(NSDate::date());
    auto callbackRecord = NSObject::alloc<OrreryRelayCallbackReportInfo>()->init();
    callbackRecord->setInvokeId(std::string("lost"));
    callbackRecord->setCallbackId(1);
    callbackRecord->setAttempts({attempt});
    auto lost = NSObject::alloc<OrreryRelayTriggerInvokeInfo>()->init();
    lost->setInvokeId(std::string("lost"));
    lost->addCallback(callbackRecord);
    auto reports = manager();
    dispatch_sync(reports->queue(), [&] { reports->addToSavedTriggers(lost); });

    driver().advance(OrreryRelayEventController::kExpirationSeconds - 10);
    controller->processEventWithParams("Other", eventParams(1));
    settle();
    reports->waitForArchiving();
    EXPECT_EQ(reports->triggers().size(), 2u);

    driver().advance(20);
    controller->processEventWithParams("Other", eventParams(2));
    settle();
    reports->waitForArchiving();
    for (const auto& trigger : reports->triggers()) EXPECT_NE(trigger->invokeId(), std::string("lost"));
}

// --- threads ----------------------------------------------------------------------------

TEST_F(OrreryRelayRecordLifetimeTest, AReportHandOverRacingSessionEndsNeverDeadlocks) {
    // The sender works on the session queue; session ends, there, look for
    // their firing record under the manager's lock.
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("orrery.session_end"), {99}}}));
    auto reports = manager();
    for (int round = 0; round < 20; ++round) {
        auto attempt = NSObject::alloc<OrreryRelayCallbackAttemptInfo>()->init();
        attempt->setInvokeId("race" + std::to_string(round));
        attempt->setCallbackId(1);
        attempt->setRequestState(OrreryRelayRequestStateFailed);
        attempt->setFinalAttempt(true);
        auto callbackRecord = NSObject::alloc<OrreryRelayCallbackReportInfo>()->init();
        callbackRecord->setCallbackId(1);
        callbackRecord->setAttempts({attempt});
        auto trigger = NSObject::alloc<OrreryRelayTriggerInvokeInfo>()->init();
        trigger->setInvokeId("race" + std::to_string(round));
        trigger->setEventName(std::string("Level"));
        trigger->addCallback(callbackRecord);
        dispatch_sync(reports->queue(), [&] { reports->addToSavedTriggers(trigger); });

        // Three session ends on the session queue and a report on the manager's, at once.
        auto done = std::make_shared<std::promise<void>>();
        auto left = std::make_shared<std::atomic<int>>(4);
        auto finish = [done, left] {
            if (left->fetch_sub(1) == 1) done->set_value();
        };
        auto me = controller;
        for (int i = 0; i < 3; ++i)
            dispatch_async(sessionQueue, [me, finish] {
                me->processEventWithParams("orrery.session_end", sessionEndParams());
                finish();
            });
        dispatch_async(reports->queue(), [reports, finish] {
            reports->sendCallBackInfoToServer();
            finish();
        });
        if (done->get_future().wait_for(std::chrono::duration<double>(platform::testing::hangGuard(10))) != std::future_status::ready) {
            ADD_FAILURE() << "deadlock in round " << round;
            std::_Exit(1);  // the stuck threads would hold the process for ever
        }
    }
    settle();
    // Every firing reached the endpoint once (the sender batches when its window is full).
    size_t reported = 0;
    for (const auto& received : relay.reports()) reported += received.report ? received.report->triggers.size() : 0;
    EXPECT_EQ(reported, 20u);
}

TEST_F(OrreryRelayRecordLifetimeTest, RetryTimersNeverEscapeGoingInactive) {
    // A timer armed on one thread while another makes the application go
    // inactive: either going inactive drops it, or it is armed after and both
    // lists hold it. The two start each round together (spinning, not sleeping).
    constexpr int kRounds = 400;
    auto pending = OrreryGlobalVariableStorage::sharedInstance()->pendingUrlTimers();
    std::atomic<int> start{-1};
    std::atomic<int> armed{-1};
    std::thread arming([&] {
        for (int round = 0; round < kRounds; ++round) {
            while (start.load() < round) {
            }
            controller->setTimerToFireUrl("hash" + std::to_string(round), 90);
            armed.store(round);
        }
    });
    int escapedIn = -1;
    for (int round = 0; round < kRounds; ++round) {
        start.store(round);
        NSNotificationCenter::defaultCenter()->postNotificationName(OrreryLifecycle::kWillResignActive, nullptr);
        while (armed.load() < round) {
        }
        if (escapedIn < 0 && pending->count() != controller->armedTimerCount()) escapedIn = round;
        NSNotificationCenter::defaultCenter()->postNotificationName(OrreryLifecycle::kWillResignActive, nullptr);
    }
    arming.join();
    EXPECT_EQ(escapedIn, -1) << "a timer escaped going inactive";
}

}  // namespace
