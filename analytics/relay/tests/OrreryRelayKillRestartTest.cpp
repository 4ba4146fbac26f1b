// Relay delivery across a kill: a forked child fires a partner callback and
// is killed with SIGKILL once the attempt is on disk, either after its
// failure was recorded or while its request was still in flight. The next
// process (the parent, started afresh on the same home folder) resends the
// waiting callback when the application becomes active and reports every
// outcome once. The loopback services run in the parent before the fork, so
// that they outlive the child.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "analytics/OrreryApplicationState.h"
#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/relay/OrreryRelayCBReportSender.h"
#include "analytics/relay/OrreryRelayCallbackReportManager.h"
#include "analytics/relay/OrreryRelayEventController.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/HangGuard.h"
#include "platform/runtime/RunLoopDriver.h"
#include "analytics/relay/tests/RelayKillTestSupport.h"
#include "simulator/PartnerService.h"
#include "simulator/RelayService.h"

namespace {

using simulator::Answer;

constexpr const char* kApiKey = "KILLKEY";
constexpr double kSessionStart = 1450000000.0;

void launch(const std::string& home) {
    launchRelayProcess(home, PlatformOptions::ClockKind::Virtual, kApiKey);
    startRelay();
}

// The attempt waiting in the Relay URL map, or null.
Ref<OrreryRelayCallbackAttemptInfo> waitingAttempt() {
    Ref<OrreryRelayCallbackAttemptInfo> found;
    OrreryGlobalPersistentManager::sharedInstance()->processReadOperationSync(
        OrreryPersistentMap::RelayUrls, [&](const ValueDictionary& urls) {
            for (const auto& [hash, value] : urls) found = value.object<OrreryRelayCallbackAttemptInfo>();
        });
    return found;
}

enum class KillPoint { AfterFailureRecorded, WhileInFlight };

// The child: fires the callback, waits until the chosen point is on disk,
// tells the parent and runs on until it is killed.
[[noreturn]] void fireUntilKilled(const std::string& home, KillPoint point, const std::string& partnerUrl,
                                  const std::string& reportUrl, int ackFd) {
    launch(home);
    storeRelayKillTestSettings(partnerUrl, reportUrl, {"Level"}, 2);
    auto controller = OrreryRelayEventController::sharedInstance();
    Value params = Value::dictionary({{"sessionStartTimeForRelay", NSDate::dateWithTimeIntervalSince1970(kSessionStart)},
                                      {"sessionEndTimeForRelay", NSDate::dateWithTimeIntervalSince1970(kSessionStart)},
                                      {"eventLogId", 1}});
    controller->processEventWithParams("Level", params);
    // The point is the URL map alone: once it is saved saying the attempt is
    // being fired or has ended, the report record must hold as much.
    auto reached = [point] {
        auto attempt = waitingAttempt();
        if (!attempt) return false;
        if (point == KillPoint::WhileInFlight) return attempt->beingFired();
        return !attempt->beingFired() && attempt->httpStatus() == 500;
    };
    platform::testing::RunLoopDriver driver{platform::testing::hangGuardScale()};
    bool ok = driver.runUntil(reached, 5);
    OrreryGlobalPersistentManager::sharedInstance()->waitForPendingWrites();
    char ack = ok ? 1 : 0;
    if (write(ackFd, &ack, 1) != 1) _exit(1);
    // Requests start from the main run loop: keep it running (the clock
    // stands, so no retry timer fires) until the kill.
    for (;;) driver.runUntil([] { return false; }, 60);
}

class OrreryRelayKillRestartTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orrery-relay-kill-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home = pattern;
        ASSERT_TRUE(partner.start());
        ASSERT_TRUE(relay.start());
    }
    void TearDown() override {
        if (Platform::isInitialized()) {
            platform::testing::RunLoopDriver(platform::testing::hangGuardScale()).settle();
            OrreryRelayEventController::cleanup();
            OrreryRelayCallbackReportManager::cleanup();
            OrreryRelayCBReportSender::cleanup();
            OrreryGlobalPersistentManager::sharedInstance()->waitForPendingWrites();
            Platform::shutdown();
        }
        partner.stop();
        relay.stop();
        std::filesystem::remove_all(home);
    }

    // Runs the child up to the point and kills it there.
    void runChildAndKill(KillPoint point) {
        int acks[2];
        ASSERT_EQ(pipe(acks), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(acks[0]);
            fireUntilKilled(home, point, partner.url("/cb"), relay.reportUrl(), acks[1]);
        }
        close(acks[1]);
        char ack = 0;
        ssize_t got = read(acks[0], &ack, 1);
        close(acks[0]);
        // In flight: the request has reached the partner, which holds it.
        bool held = point != KillPoint::WhileInFlight || partner.server().waitForStalled(1, 5);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_EQ(got, 1) << "the child ended before reaching its point";
        ASSERT_EQ(ack, 1) << "the child did not reach its point";
        ASSERT_TRUE(WIFSIGNALED(status));
        ASSERT_TRUE(held) << "the request never reached the partner";
    }

    // The next launch: the application becomes active, the waiting callback is resent.
    void relaunchAndResume() {
        launch(home);
        NSNotificationCenter::defaultCenter()->postNotificationName(OrreryLifecycle::kDidBecomeActive, nullptr);
        ASSERT_TRUE(driver.runUntil([this] { return !relay.reports().empty(); }, 5));
        ASSERT_TRUE(driver.settle());
    }

    // The partner was called twice in all (once by each process) and one
    // report came, for the one "Level" firing: its attempts.
    void theOneReport(std::vector<simulator::RelayReportAttempt>* attempts) {
        ASSERT_EQ(partner.callbacks("/cb").size(), 2u);
        auto reports = relay.reports();
        ASSERT_EQ(reports.size(), 1u);
        ASSERT_TRUE(reports[0].report) << reports[0].error;
        ASSERT_EQ(reports[0].report->triggers.size(), 1u);
        const auto& trigger = reports[0].report->triggers[0];
        EXPECT_EQ(trigger.eventName, "Level");
        ASSERT_EQ(trigger.callbacks.size(), 1u);
        *attempts = trigger.callbacks[0].attempts;
    }

    // After everything was delivered: nothing waits, and time passing sends nothing again.
    void expectNothingLeft(size_t partnerCalls) {
        EXPECT_EQ(waitingAttempt(), nullptr);
        auto manager = OrreryRelayCallbackReportManager::sharedInstance();
        manager->waitForArchiving();
        EXPECT_TRUE(manager->triggers().empty());
        EXPECT_TRUE(manager->savedTriggers().empty());
        driver.advance(OrreryRelayEventController::kExpirationSeconds);
        ASSERT_TRUE(driver.settle());
        EXPECT_EQ(partner.callbacks("/cb").size(), partnerCalls);
        EXPECT_EQ(relay.reports().size(), 1u);
    }

    std::string home;
    simulator::PartnerService partner;
    simulator::RelayService relay;
    platform::testing::RunLoopDriver driver{platform::testing::hangGuardScale()};
};

TEST_F(OrreryRelayKillRestartTest, RecordedFailureIsResentAndBothAttemptsReportedOnce) {
    partner.scriptStatuses("/cb", {500});
    ASSERT_NO_FATAL_FAILURE(runChildAndKill(KillPoint::AfterFailureRecorded));
    ASSERT_EQ(partner.callbacks("/cb").size(), 1u);
    EXPECT_TRUE(relay.reports().empty());

    partner.scriptStatuses("/cb", {200});
    ASSERT_NO_FATAL_FAILURE(relaunchAndResume());
    std::vector<simulator::RelayReportAttempt> attempts;
    ASSERT_NO_FATAL_FAILURE(theOneReport(&attempts));
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(attempts[0].attemptNumber, 1);
    EXPECT_EQ(attempts[0].httpStatus, 500);
    EXPECT_FALSE(attempts[0].finalAttempt);
    EXPECT_EQ(attempts[1].attemptNumber, 2);
    EXPECT_EQ(attempts[1].httpStatus, 200);
    EXPECT_TRUE(attempts[1].finalAttempt);
    expectNothingLeft(2);
}

TEST_F(OrreryRelayKillRestartTest, CallbackInFlightAtTheKillIsResentAndReported) {
    // The first request is held: the child dies before any answer.
    partner.script("/cb", {Answer::stall(Answer::withStatus(500)), Answer::ok()});
    ASSERT_NO_FATAL_FAILURE(runChildAndKill(KillPoint::WhileInFlight));

    ASSERT_NO_FATAL_FAILURE(relaunchAndResume());
    std::vector<simulator::RelayReportAttempt> attempts;
    ASSERT_NO_FATAL_FAILURE(theOneReport(&attempts));
    // The attempt cut off by the kill has no outcome; the resend is the second.
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_EQ(attempts[0].attemptNumber, 2);
    EXPECT_EQ(attempts[0].httpStatus, 200);
    EXPECT_TRUE(attempts[0].finalAttempt);
    expectNothingLeft(2);
}

}  // namespace
