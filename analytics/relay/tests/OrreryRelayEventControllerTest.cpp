// The event controller end to end on loopback: trigger matching, macro
// filling (hostile values included), the request a partner receives, the
// retry state machine on the virtual clock, resend passes racing timers,
// expiry, what a kill left (on a clock set back too), the refresh rule (a
// clock set back included), bounds on a huge configuration, and the
// outcomes the report manager records.
#include <cerrno>
#include <cstdlib>
#include <set>
#include <thread>

#include "analytics/OrreryApplicationState.h"
#include "analytics/OrreryNetworkUtil.h"
#include "analytics/relay/tests/RelayControllerTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/Platform.h"
#include "platform/net/NetworkConditions.h"
#include "platform/runtime/VirtualClock.h"

namespace {

using simulator::Answer;

class OrreryRelayEventControllerTest : public RelayControllerTest {
protected:
    // A configuration the Relay service serves: callback `id` on "Level", to the partner's "/cb".
    simulator::RelayConfig configWithOneCallback(int64_t id = 1) {
        simulator::RelayConfigCallback servedCallback;
        servedCallback.events = {std::string("Level")};
        servedCallback.uriTemplate = partner.url("/cb");
        servedCallback.callbackId = id;
        simulator::RelayConfig served;
        served.callbacks.push_back(servedCallback);
        return served;
    }
    // As a kill leaves the files: one attempt prepared and already in the URL
    // map (the prep map was not saved without it yet), one prepared only, one
    // whose firing is on record but that neither map holds.
    void leaveMovedPreparedAndLost() {
        store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}));
        partner.scriptStatuses("/cb", {200});
        std::vector<Ref<OrreryRelayCallbackAttemptInfo>> left;
        for (std::string invokeId : {"moved", "prepared", "lost"})
            left.push_back(leaveFiringRecord(invokeId, NSDate::date().timeIntervalSince1970()));
        auto persistence = OrreryGlobalPersistentManager::sharedInstance();
        persistence->processWriteOperationSync(OrreryPersistentMap::RelayPrepUrls, [&](ValueDictionary& prep) {
            prep.set("1450000000000", Value::dictionary({{"Level", Value::array({Value(left[0]), Value(left[1])})}}));
        });
        persistence->processWriteOperationSync(OrreryPersistentMap::RelayUrls, [&](ValueDictionary& urls) {
            auto moved = left[0]->copy();
            moved->setAttemptNumber(1);
            moved->setBeingFired(false);  // as restored
            moved->setExpiration(NSDate::dateWithTimeIntervalSince1970(NSDate::date().timeIntervalSince1970() + 3600));
            urls.set(OrreryRelayEventController::invocationHash(*left[0]), Value(moved));
        });
    }
    // Each of the three sent once, delivered, and nothing left waiting.
    void expectEachSentOnce() {
        auto manager = OrreryRelayCallbackReportManager::sharedInstance();
        manager->waitForArchiving();
        std::multiset<std::string> targets;
        for (const auto& call : partner.callbacks("/cb")) targets.insert(call.target);
        EXPECT_EQ(targets, (std::multiset<std::string>{"/cb?e=lost", "/cb?e=moved", "/cb?e=prepared"}));
        EXPECT_EQ(urlMapCount(), 0u);
        EXPECT_TRUE(manager->attemptsWithoutOutcome().empty());
        for (const auto& attempt : reportedAttempts()) EXPECT_EQ(attempt->requestState(), OrreryRelayRequestStateSucceeded);
    }
};

TEST_F(OrreryRelayEventControllerTest, TriggerKeysMatchByNameParameterAndLastMatchWins) {
    store(makeSettings({callback(1, partner.url("/any")), callback(2, partner.url("/score")),
                        callback(3, partner.url("/plain")), callback(4, partner.url("/later"))},
                       {{triggerKey("Level", std::nullopt, std::nullopt), {1}},
                        {triggerKey("Level", "score", std::vector<std::string>{"5", "7"}), {2}},
                        {Value("Plain"), {3}},
                        {triggerKey("Plain", "x", std::nullopt), {4}}}));
    for (const char* path : {"/any", "/score", "/plain", "/later"}) partner.scriptStatuses(path, {200});

    controller->processEventWithParams("Level", eventParams(1, Value::dictionary({{"score", 7}})));
    controller->processEventWithParams("Level", eventParams(2, Value::dictionary({{"score", "7"}})));
    controller->processEventWithParams("Level", eventParams(3, Value::dictionary({{"score", 6}})));
    controller->processEventWithParams("Level", eventParams(4));
    // The trigger key with a name and no values matches any present value; it comes later.
    controller->processEventWithParams("Plain", eventParams(5, Value::dictionary({{"x", "anything"}})));
    controller->processEventWithParams("Plain", eventParams(6));
    controller->processEventWithParams("Other", eventParams(7));
    settle();

    EXPECT_EQ(partner.callbacks("/score").size(), 2u);  // score 7 as a number and as a string
    EXPECT_EQ(partner.callbacks("/any").size(), 2u);    // score 6 and no score: only the plain Level key
    EXPECT_EQ(partner.callbacks("/later").size(), 1u);
    EXPECT_EQ(partner.callbacks("/plain").size(), 1u);
    EXPECT_EQ(partner.callbackCount(), 6u);
    EXPECT_EQ(urlMapCount(), 0u);
}

TEST_F(OrreryRelayEventControllerTest, NoSettingsOrAnalyticsDisabledIgnoresTrigger) {
    controller->processEventWithParams("Level", eventParams(1));
    auto settings = makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}});
    settings->setAnalytics(Value::dictionary({{OrreryRelaySettings::kAnalyticsEnabledKey, false}}));
    store(settings);
    controller->processEventWithParams("Level", eventParams(2));
    settle();
    EXPECT_EQ(partner.callbackCount(), 0u);
    EXPECT_TRUE(OrreryRelayCallbackReportManager::sharedInstance()->triggers().empty());
}

TEST_F(OrreryRelayEventControllerTest, MacrosFillUrlAndBodyAndHostileValuesAreNotExpandedAgain) {
    OrreryGlobalVariableStorage::sharedInstance()->setUserID(std::string("%{event_name}%{publisher_user_id}"));
    store(makeSettings(
        {callback(1, partner.url("/get") + "?e=%{event_name}&t=%{event_time_millis}&u=%{publisher_user_id}&g=%{geo_latitude}"
                                           "&x={event_name}&n=%{no_such}&c=%{Event_Name}&d=%{session_duration_millis}"),
         callback(2, partner.url("/post"), 2, std::string("{\"name\":\"%{event_name}\",\"ts\":%{timestamp_epoch_millis}}"),
                  Value::dictionary({{"X-Partner", "yes"}})),
         callback(3, partner.url("/empty"), 2, std::string("{}"))},
        {{Value("Level_up%{event_name}"), {1, 2, 3}}}));
    Value params = eventParams(9);
    params.set("sessionEndTimeForRelay", NSDate::dateWithTimeIntervalSince1970(kSessionStart + 2.5));
    int64_t nowMillis = static_cast<int64_t>(NSDate::date().timeIntervalSince1970() * 1000.0);
    controller->processEventWithParams("Level_up%{event_name}", params);
    settle();

    auto get = partner.callbacks("/get");
    ASSERT_EQ(get.size(), 1u);
    EXPECT_EQ(get[0].method, "GET");
    EXPECT_EQ(get[0].query.value_or(""),
              "e=Level_up%25%7Bevent_name%7D&t=" + std::to_string(nowMillis) +
                  "&u=%25%7Bevent_name%7D%25%7Bpublisher_user_id%7D&g=&x=&n=&c=&d=2500");
    EXPECT_EQ(get[0].header("Content-Type"), "application/octet-stream");
    EXPECT_TRUE(get[0].body.empty());

    auto post = partner.callbacks("/post");
    ASSERT_EQ(post.size(), 1u);
    EXPECT_EQ(post[0].method, "POST");
    EXPECT_EQ(post[0].body, "{\"name\":\"Level_up%{event_name}\",\"ts\":1450000000000}");
    EXPECT_EQ(post[0].header("X-Partner"), "yes");
    EXPECT_FALSE(post[0].header("Content-Type").has_value());

    auto empty = partner.callbacks("/empty");
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_TRUE(empty[0].body.empty());
}

TEST_F(OrreryRelayEventControllerTest, FailingPartnerIsRetriedWithTriplingDelaysUntilTheLimit) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 3));
    partner.script("/cb", {Answer::withStatus(500, "oops"), Answer::drop(), Answer::withStatus(404, "gone")});
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    ASSERT_EQ(partner.callbacks("/cb").size(), 1u);
    EXPECT_EQ(controller->armedTimerCount(), 1u);

    driver().advance(89);
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 1u);
    driver().advance(1);  // 90 s after the first failure
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 2u);
    driver().advance(269);
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 2u);
    driver().advance(1);  // 270 s after the second
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 3u);
    driver().advance(100000);
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 3u);
    EXPECT_EQ(urlMapCount(), 0u);
    EXPECT_EQ(controller->armedTimerCount(), 0u);

    auto attempts = reportedAttempts();
    ASSERT_EQ(attempts.size(), 3u);
    EXPECT_EQ(attempts[0]->attemptNumber(), 1);
    EXPECT_EQ(attempts[0]->httpStatus(), 500);
    EXPECT_EQ(attempts[0]->requestState(), OrreryRelayRequestStateFailed);
    ASSERT_TRUE(attempts[0]->responseBody());
    EXPECT_EQ(attempts[0]->responseBody()->toString(), "oops");
    EXPECT_FALSE(attempts[0]->finalAttempt());
    EXPECT_EQ(attempts[1]->attemptNumber(), 2);
    EXPECT_EQ(attempts[1]->httpStatus(), 0);
    EXPECT_EQ(attempts[1]->requestState(), OrreryRelayRequestStateFailed);
    EXPECT_EQ(attempts[2]->attemptNumber(), 3);
    EXPECT_EQ(attempts[2]->httpStatus(), 404);
    EXPECT_TRUE(attempts[2]->finalAttempt());
}

TEST_F(OrreryRelayEventControllerTest, SuccessIsFinalAndLeavesNothingWaiting) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}));
    partner.scriptStatuses("/cb", {204});
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    auto attempts = reportedAttempts();
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_TRUE(attempts[0]->finalAttempt());
    EXPECT_EQ(attempts[0]->requestState(), OrreryRelayRequestStateSucceeded);
    EXPECT_EQ(attempts[0]->httpStatus(), 204);
    EXPECT_EQ(urlMapCount(), 0u);
    EXPECT_EQ(controller->armedTimerCount(), 0u);
}

TEST_F(OrreryRelayEventControllerTest, ZeroRetriesOrRemovedSettingsMakeTheFirstFailureFinal) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 0));
    partner.scriptStatuses("/cb", {503});
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    driver().advance(1000);
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 1u);
    auto attempts = reportedAttempts();
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_TRUE(attempts[0]->finalAttempt());
    EXPECT_EQ(urlMapCount(), 0u);
}

TEST_F(OrreryRelayEventControllerTest, DelaysSaturateInsteadOfOverflowing) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 1000));
    partner.scriptStatuses("/cb", {500});
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    // Each retry waits three times longer; after 19 failures the delay is at its ceiling.
    double delay = 30;
    for (int i = 0; i < 19; ++i) {
        delay = std::min(delay * 3, 2147483647.0);
        if (delay > OrreryRelayEventController::kExpirationSeconds) break;
        driver().advance(delay);
        settle();
    }
    size_t sent = partner.callbacks("/cb").size();
    EXPECT_GE(sent, 8u);
    // The next delay lies past the 3-day expiry: the attempt is dropped, never sent again.
    driver().advance(OrreryRelayEventController::kExpirationSeconds * 3.0);
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), sent);
    EXPECT_EQ(urlMapCount(), 0u);
}

TEST_F(OrreryRelayEventControllerTest, UnreachableFailureWaitsAndOverlappingPassesSendOnce) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 5));
    partner.script("/cb", {Answer::stall(Answer::withStatus(500)), Answer::ok()});
    controller->processEventWithParams("Level", eventParams(1));
    ASSERT_TRUE(driver().runUntil([&] { return partner.server().stalledCount() == 1; }, 5));
    platform::testing::NetworkConditions::set(NetworkState::None);
    partner.server().releaseStalled();
    settle();
    // The answer arrives while unreachable: no timer, the attempt waits.
    EXPECT_EQ(partner.callbacks("/cb").size(), 1u);
    EXPECT_EQ(controller->armedTimerCount(), 0u);
    EXPECT_EQ(urlMapCount(), 1u);
    controller->networkStatusChanged(NSNotification());
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 1u);

    platform::testing::NetworkConditions::set(NetworkState::WiFi);
    // Become-active and reachability passes from several threads at once.
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([this, i] {
            if (i % 2) controller->appWillResume(NSNotification());
            else controller->firePendingUrlsOnNetworkAvailability();
        });
    for (auto& t : threads) t.join();
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 2u);
    EXPECT_EQ(urlMapCount(), 0u);
    driver().advance(10000);
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 2u);
}

TEST_F(OrreryRelayEventControllerTest, ResendPassCancelsTheArmedTimer) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 5));
    partner.script("/cb", {Answer::withStatus(500), Answer::ok()});
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    EXPECT_EQ(controller->armedTimerCount(), 1u);
    controller->firePendingUrlsOnNetworkAvailability();
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 2u);
    EXPECT_EQ(controller->armedTimerCount(), 0u);
    driver().advance(1000);
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 2u);
}

TEST_F(OrreryRelayEventControllerTest, ResigningActiveDropsTimersAndExpiredAttemptsAreNotResent) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 5));
    partner.scriptStatuses("/cb", {500});
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    controller->appWillBackground(NSNotification());
    EXPECT_EQ(controller->armedTimerCount(), 0u);
    EXPECT_EQ(OrreryGlobalVariableStorage::sharedInstance()->pendingUrlTimers()->count(), 0u);
    driver().advance(OrreryRelayEventController::kExpirationSeconds + 1);
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 1u);
    controller->appWillResume(NSNotification());
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 1u);
    EXPECT_EQ(urlMapCount(), 0u);
}

TEST_F(OrreryRelayEventControllerTest, SessionEndTwiceReusesOneFiringRecord) {
    store(makeSettings({callback(1, partner.url("/end"))}, {{Value("orrery.session_end"), {1}}}));
    Value params = Value::dictionary({{"sessionStartTimeForRelay", NSDate::dateWithTimeIntervalSince1970(kSessionStart)},
                                      {"sessionEndTimeForRelay", NSDate::dateWithTimeIntervalSince1970(kSessionStart + 5)},
                                      {"totalSessionBgTime", 0}});
    partner.scriptStatuses("/end", {200});
    controller->processEventWithParams("orrery.session_end", params);
    settle();
    controller->processEventWithParams("orrery.session_end", params);
    settle();
    EXPECT_EQ(partner.callbacks("/end").size(), 2u);
    auto triggers = OrreryRelayCallbackReportManager::sharedInstance()->triggers();
    ASSERT_EQ(triggers.size(), 1u);
    EXPECT_EQ(triggers[0]->triggerType(), OrreryRelayTriggerTypeSessionEnd);
    EXPECT_EQ(triggers[0]->sessionId(), 1450000000000);
}

TEST_F(OrreryRelayEventControllerTest, BackgroundKeepsAttemptsPreparedUntilActive) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}));
    NSNotificationCenter::defaultCenter()->postNotificationName(OrreryLifecycle::kDidEnterBackground, nullptr);
    settle();
    ASSERT_TRUE(OrreryApplicationState::sharedInstance()->isInBackground());
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    EXPECT_EQ(partner.callbackCount(), 0u);
    NSNotificationCenter::defaultCenter()->postNotificationName(OrreryLifecycle::kWillEnterForeground, nullptr);
    settle();
    controller->fireAllConfigUrls();
    settle();
    EXPECT_EQ(partner.callbackCount(), 1u);
}

TEST_F(OrreryRelayEventControllerTest, OnlyWebUrlsAreFiredOthersFailFinallyWithoutARequest) {
    const std::string secret = home() + "/secret.txt";
    ASSERT_TRUE(NSData::dataWithString("the application's secret").writeToFile(secret, true));
    store(makeSettings({callback(1, "file://" + secret), callback(2, "ftp://127.0.0.1/x"), callback(3, partner.url("/cb"))},
                       {{Value("Level"), {1, 2, 3}}}, 3, 3));
    partner.scriptStatuses("/cb", {200});
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    OrreryRelayCallbackReportManager::sharedInstance()->waitForArchiving();
    settle();

    EXPECT_EQ(partner.callbackCount(), 1u);
    EXPECT_EQ(controller->armedTimerCount(), 0u);
    EXPECT_EQ(urlMapCount(), 0u);
    auto reports = relay.reports();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_TRUE(reports[0].report);
    EXPECT_EQ(reports[0].request.body.find("the application's secret"), std::string::npos);
    const auto& callbacks = reports[0].report->triggers.at(0).callbacks;
    ASSERT_EQ(callbacks.size(), 3u);
    for (const auto& cb : callbacks) {
        ASSERT_EQ(cb.attempts.size(), 1u);
        EXPECT_TRUE(cb.attempts[0].finalAttempt);
        EXPECT_EQ(cb.attempts[0].requestState, cb.callbackId == 3 ? 1 : 4);
        EXPECT_EQ(cb.attempts[0].httpStatus, cb.callbackId == 3 ? 200 : 0);
        if (cb.callbackId != 3) {
            EXPECT_EQ(cb.attempts[0].responseBody.value_or("?"), "");
        }
    }
}

TEST_F(OrreryRelayEventControllerTest, AtStartWhatAKilledProcessLeftPreparedOrLostIsSentOnce) {
    leaveMovedPreparedAndLost();
    controller->analyticsDidStartWithSessionQueue(sessionQueue);
    controller->appWillResume(NSNotification());
    settle();
    expectEachSentOnce();
}

// The start's pass over the prep map runs on that map's queue, the resend
// pass on the URL map's: the resend pass may deliver the moved attempt and
// drop it from the URL map before the prep map's copy is looked at. Played
// here in that order.
TEST_F(OrreryRelayEventControllerTest, AMovedAttemptDeliveredByAResendPassBeforeTheStartIsNotSentAgain) {
    leaveMovedPreparedAndLost();
    controller->appWillResume(NSNotification());
    ASSERT_TRUE(driver().runUntil([&] { return partner.callbackCount() == 1 && urlMapCount() == 0; }, 30));
    EXPECT_EQ(partner.callbacks("/cb")[0].target, "/cb?e=moved");

    controller->analyticsDidStartWithSessionQueue(sessionQueue);
    settle();
    expectEachSentOnce();
}

// As above, the URL map unreadable at the start: the first resend pass finds
// nothing to send nor to drop; the one after it can be read drops the moved
// copy before it delivers the attempt.
TEST_F(OrreryRelayEventControllerTest, AMovedAttemptIsSentOnceWhenTheURLMapCouldNotBeReadAtFirst) {
    leaveMovedPreparedAndLost();
    const std::string urlMap =
        OrreryUtil::filePathDirectory() + "/" + OrreryGlobalPersistentManager::fileNameForMap(OrreryPersistentMap::RelayUrls);
    platform::testing::FileSystemConditions::setReadsFail(urlMap, EIO);
    OrreryGlobalPersistentManager::sharedInstance()->reloadFromFiles();
    controller->appWillResume(NSNotification());
    settle();
    EXPECT_EQ(partner.callbackCount(), 0u);

    platform::testing::FileSystemConditions::setReadsFail(urlMap, std::nullopt);
    controller->appWillResume(NSNotification());
    ASSERT_TRUE(driver().runUntil([&] { return partner.callbackCount() == 1 && urlMapCount() == 0; }, 30));
    controller->analyticsDidStartWithSessionQueue(sessionQueue);
    settle();
    expectEachSentOnce();
}

TEST_F(OrreryRelayEventControllerTest, ACallbackAKillLostIsFiredAgainAfterTheClockWasSetBack) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}));
    partner.script("/cb", {Answer::stall(Answer::ok()), Answer::ok()});
    // Fired a day ahead of the clock that the relaunch finds.
    leaveFiringRecord("lost", NSDate::date().timeIntervalSince1970() + 86400);
    controller->analyticsDidStartWithSessionQueue(sessionQueue);
    ASSERT_TRUE(driver().runUntil([&] { return partner.server().stalledCount() == 1; }, 30));
    EXPECT_EQ(partner.callbacks("/cb")[0].target, "/cb?e=lost");

    // Another outcome meanwhile: the waiting record, ahead of the clock, is
    // not taken for one that heard nothing for three days.
    auto delivered = [] {
        size_t count = 0;
        for (const auto& attempt : reportedAttempts())
            count += attempt->requestState() == OrreryRelayRequestStateSucceeded ? 1 : 0;
        return count;
    };
    controller->processEventWithParams("Level", eventParams(1));
    ASSERT_TRUE(driver().runUntil([&] { return delivered() == 1; }, 30));
    partner.server().releaseStalled();
    settle();
    EXPECT_EQ(delivered(), 2u);
    EXPECT_EQ(reportedAttempts().size(), 2u);
    EXPECT_EQ(partner.callbacks("/cb").size(), 2u);
    EXPECT_EQ(urlMapCount(), 0u);
}

TEST_F(OrreryRelayEventControllerTest, ReachabilityAsksForAConfigurationOnlyWhenOneIsDue) {
    OrreryNetworkUtil::setRelayServerUrl(relay.configUrl());
    simulator::RelayConfig served = configWithOneCallback();
    served.issuedAt = 42;
    relay.setConfig(served);
    const int64_t nowMillis = static_cast<int64_t>(NSDate::date().timeIntervalSince1970() * 1000.0);
    auto requests = [&] {
        settle();
        return relay.configRequests().size();
    };
    auto settings = [&] { return makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}); };

    // Fresh settings with callbacks: nothing to ask.
    store(settings());
    controller->networkStatusChanged(NSNotification());
    EXPECT_EQ(requests(), 0u);
    // Due for refresh: asked for, and replaced once the answer is stored.
    auto due = settings();
    due->setNextRefreshTTL(nowMillis);
    store(due);
    controller->networkStatusChanged(NSNotification());
    EXPECT_EQ(requests(), 1u);
    ASSERT_TRUE(OrreryRelayEventController::storedSettings());
    EXPECT_EQ(OrreryRelayEventController::storedSettings()->lastResponseTime(), 42);
    // Expired: dropped at once, whatever the answer.
    relay.setConfigAnswer(Answer::withStatus(500));
    auto expired = settings();
    expired->setExpirationTTL(nowMillis);
    store(expired);
    controller->networkStatusChanged(NSNotification());
    EXPECT_EQ(requests(), 2u);
    EXPECT_FALSE(OrreryRelayEventController::storedSettings());
    // Settings without callbacks are worth asking again.
    store(makeSettings({}, {}));
    controller->networkStatusChanged(NSNotification());
    EXPECT_EQ(requests(), 3u);
    // Unreachable: nothing, due or not.
    platform::testing::NetworkConditions::set(NetworkState::None);
    store(due);
    controller->networkStatusChanged(NSNotification());
    EXPECT_EQ(requests(), 3u);
    EXPECT_TRUE(OrreryRelayEventController::storedSettings());
}

TEST_F(OrreryRelayEventControllerTest, AClockSetBackAfterAFetchMakesTheRefreshDueAndBoundsTheExpiry) {
    OrreryNetworkUtil::setRelayServerUrl(relay.configUrl());
    relay.setConfig(configWithOneCallback());
    auto clock = std::dynamic_pointer_cast<VirtualClock>(Clock::current());
    ASSERT_TRUE(clock);
    // Fetched while the device's clock ran a year ahead.
    clock->setWallOffset(365 * 86400.0);
    controller->networkStatusChanged(NSNotification());
    settle();
    ASSERT_EQ(relay.configRequests().size(), 1u);
    ASSERT_TRUE(OrreryRelayEventController::storedSettings());

    // Corrected: the refresh is due now, and while none comes the
    // configuration lives its lifetime from now, no longer.
    clock->setWallOffset(0);
    relay.setConfigAnswer(Answer::withStatus(500));
    controller->applyRefreshRuleForNewSession();
    settle();
    EXPECT_EQ(relay.configRequests().size(), 2u);
    auto kept = OrreryRelayEventController::storedSettings();
    ASSERT_TRUE(kept);
    const int64_t nowMillis = static_cast<int64_t>(NSDate::date().timeIntervalSince1970() * 1000.0);
    EXPECT_EQ(kept->expirationTTL() - kept->fetchTime(), 604800000);
    EXPECT_LE(kept->expirationTTL(), nowMillis + 604800000);
    driver().advance(604800);
    controller->applyRefreshRuleForNewSession();
    settle();
    EXPECT_FALSE(OrreryRelayEventController::storedSettings());
    EXPECT_EQ(relay.configRequests().size(), 3u);
}

TEST_F(OrreryRelayEventControllerTest, AHugeConfigurationIsBoundedPerConfigurationAndPerTrigger) {
    OrreryNetworkUtil::setRelayServerUrl(relay.configUrl());
    partner.scriptStatuses("/cb", {200});
    simulator::RelayConfig served;
    for (int64_t id = 1; id <= 14000; ++id) served.callbacks.push_back(configWithOneCallback(id).callbacks[0]);
    auto body = simulator::encodeRelayConfig(served);
    ASSERT_TRUE(body);
    ASSERT_LT(body->size(), static_cast<size_t>(OrreryHttpAsyncTask::kMaximumResponseLength));
    relay.setConfig(served);
    expectLogLine("the configuration has 14000 callbacks; the first 500 are kept, the other 13500");
    expectLogLine("Level fires 500 callbacks; the first 100 are fired, the other 400 (callback 101 and after) are dropped");
    controller->networkStatusChanged(NSNotification());
    settle();
    auto settings = OrreryRelayEventController::storedSettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->callbacks()->size(), OrreryRelaySettings::kMaxCallbacks);

    controller->processEventWithParams("Level", eventParams(1));
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), OrreryRelaySettings::kMaxCallbacksPerTrigger);
    EXPECT_EQ(urlMapCount(), 0u);
}

TEST_F(OrreryRelayEventControllerTest, AChangedAdTrackingSwitchDropsTheSettingsAndAsksAgain) {
    OrreryNetworkUtil::setRelayServerUrl(relay.configUrl());
    relay.setConfigAnswer(Answer::withStatus(500));
    partner.scriptStatuses("/cb", {200});
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}));
    profile().advertisingTrackingEnabled = false;
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    EXPECT_FALSE(OrreryRelayEventController::storedSettings());
    EXPECT_FALSE(storage->lastAdTrackingEnabledSetting());
    EXPECT_EQ(partner.callbackCount(), 0u);
    auto requests = relay.configRequests();
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_TRUE(requests[0].decoded);
    EXPECT_TRUE(requests[0].decoded->limitAdTracking);

    // The same switch again changes nothing: the next event is fired.
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}));
    controller->processEventWithParams("Level", eventParams(2));
    settle();
    EXPECT_EQ(partner.callbackCount(), 1u);
    EXPECT_EQ(relay.configRequests().size(), 1u);
}

TEST_F(OrreryRelayEventControllerTest, EventNamesAndIndexes) {
    EXPECT_EQ(OrreryRelayEventController::relayEventEnumToString(3), "orrery.app_install");
    EXPECT_EQ(OrreryRelayEventController::relayEventEnumToString(9), "unknown");
    EXPECT_EQ(OrreryRelayEventController::relayEventStringToEnum(std::string("orrery.session_end")), 2);
    EXPECT_EQ(OrreryRelayEventController::relayEventStringToEnum(std::nullopt), 0);
    Value filled = controller->substituteParamsInDictionary(
        Value::dictionary({{"a", "x%{k}"}, {"n", 3}, {"list", Value::array({Value::dictionary({{"b", "%{k}"}})})}}),
        Value::dictionary({{"%{k}", "V"}}), OrreryRelayEventController::kMacroPattern);
    EXPECT_EQ(filled["a"].stringValue(), "xV");
    EXPECT_EQ(filled["n"].integerValue(), 3);
    EXPECT_EQ(filled["list"].at(0)["b"].stringValue(), "V");
}

}  // namespace

// A host that exits with Relay still hooked in (no clean-up call) must not
// crash in static teardown: the controller unregisters from the notification
// center from its destructor.
TEST(OrreryRelayExitTest, ExitWithHooksInstalledIsClean) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            platform::PlatformOptions options;
            options.homeDirectory = ::testing::TempDir() + "relay-exit-home";
            options.clock = platform::PlatformOptions::ClockKind::Virtual;
            Platform::initialize(options);
            OrreryRelayEventController::installHooks();
            auto controller = OrreryRelayEventController::sharedInstance();
            controller = nullptr;
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
