// Relay across kills at random moments. Each run starts this program again as
// a child that fires ten events 3 ms apart and is killed with SIGKILL after a
// random 0-80 ms; then children on the same home folder resume (application
// active, network back, reports due) until nothing is pending. Checked
// against what the loopback partner and report endpoint (in the parent)
// received: every event whose firing reached the disk reaches the partner, at
// most twice; every delivered event is reported as delivered; no attempt is
// reported more than twice. The children run on the wall clock; the
// assertions depend only on what was received and stored.
// RELAY_KILL_RUNS sets the number of runs, RELAY_KILL_SEED replays a seed.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "analytics/OrreryApplicationState.h"
#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryNetworkUtil.h"
#include "analytics/relay/OrreryRelayCBReportSender.h"
#include "analytics/relay/OrreryRelayCallbackReportManager.h"
#include "analytics/relay/OrreryRelayEventController.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/HangGuard.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/testing/ChildTestProcess.h"
#include "analytics/relay/tests/RelayKillTestSupport.h"
#include "simulator/PartnerService.h"
#include "simulator/RelayService.h"

namespace {

constexpr int kEvents = 10;
constexpr int kDefaultRuns = 8;
constexpr int kResumeLimit = 3;  // children that may resume one run
constexpr double kSessionStart = 1450000000.0;
constexpr int kResumedAll = 0;
constexpr int kStillPending = 3;
// What the parent tells a child.
constexpr const char* kRoleVariable = "RELAY_KILL_CHILD_ROLE";  // "fire" or "resume"
constexpr const char* kHomeVariable = "RELAY_KILL_CHILD_HOME";
constexpr const char* kPartnerVariable = "RELAY_KILL_CHILD_PARTNER";
constexpr const char* kReportVariable = "RELAY_KILL_CHILD_REPORT";
constexpr const char* kReadyVariable = "RELAY_KILL_CHILD_READY";
constexpr const char* kOnDiskVariable = "RELAY_KILL_CHILD_ON_DISK";

std::string eventName(int i) { return "E" + std::to_string(i); }

// The event a partner URL names ("…?e=E3").
std::string eventOfUrl(const std::string& url) {
    size_t at = url.rfind("e=");
    return at == std::string::npos ? std::string() : url.substr(at + 2);
}

unsigned long environmentNumber(const char* name, unsigned long fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoul(text, nullptr, 10) : fallback;
}

void launch(const std::string& home) { launchRelayProcess(home, PlatformOptions::ClockKind::System, "RANDOMKILL"); }

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path + ".part", std::ios::binary);
    out << text;
    out.close();
    std::filesystem::rename(path + ".part", path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The first child: settings stored, the ready file written, then the ten
// events from a thread of their own while the main run loop turns, until the kill.
[[noreturn]] void fireUntilKilled(const std::string& home, const std::string& partnerUrl, const std::string& reportUrl,
                                  const std::string& readyFile) {
    launch(home);
    std::vector<std::string> events;
    for (int i = 0; i < kEvents; ++i) events.push_back(eventName(i));
    // A report after every outcome.
    storeRelayKillTestSettings(partnerUrl, reportUrl, events, 1);
    startRelay();
    auto controller = OrreryRelayEventController::sharedInstance();
    writeFile(readyFile, "ready");
    std::thread firing([controller] {
        for (int i = 0; i < kEvents; ++i) {
            Value params =
                Value::dictionary({{"sessionStartTimeForRelay", NSDate::dateWithTimeIntervalSince1970(kSessionStart)},
                                   {"sessionEndTimeForRelay", NSDate::dateWithTimeIntervalSince1970(kSessionStart)},
                                   {"eventLogId", i + 1}});
            controller->processEventWithParams(eventName(i), params);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    firing.detach();
    platform::testing::RunLoopDriver driver{platform::testing::hangGuardScale()};
    for (;;) driver.runUntil([] { return false; }, 60);
}

// The events the stored files name: prepared, being fired or waiting, and
// those with a firing record.
std::set<std::string> eventsOnDisk() {
    std::set<std::string> events;
    auto persistence = OrreryGlobalPersistentManager::sharedInstance();
    persistence->processReadOperationSync(OrreryPersistentMap::RelayPrepUrls, [&](const ValueDictionary& prep) {
        for (const auto& [session, names] : prep)
            if (const auto* byName = names.dictionary())
                for (const auto& [name, list] : *byName)
                    if (list.count() > 0) events.insert(name);
    });
    persistence->processReadOperationSync(OrreryPersistentMap::RelayUrls, [&](const ValueDictionary& urls) {
        for (const auto& [hash, value] : urls)
            if (auto attempt = value.object<OrreryRelayCallbackAttemptInfo>())
                events.insert(eventOfUrl(attempt->substitutedUrl().value_or("")));
    });
    dispatch_sync(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), [&] {
        for (const auto& trigger : OrreryRelayCallbackReportManager::sharedInstance()->savedTriggers())
            events.insert(trigger->eventName().value_or(""));
    });
    return events;
}

// What is still pending, in words; empty when nothing is.
std::string pendingWork() {
    std::ostringstream pending;
    auto persistence = OrreryGlobalPersistentManager::sharedInstance();
    persistence->processReadOperationSync(OrreryPersistentMap::RelayPrepUrls, [&](const ValueDictionary& prep) {
        if (prep.count() > 0) pending << "prepared attempts; ";
    });
    persistence->processReadOperationSync(OrreryPersistentMap::RelayUrls, [&](const ValueDictionary& urls) {
        if (urls.count() > 0) pending << urls.count() << " attempt(s) in the URL map; ";
    });
    auto triggers = OrreryRelayCallbackReportManager::sharedInstance()->triggers();
    if (!triggers.empty()) pending << triggers.size() << " firing record(s); ";
    auto sender = OrreryRelayCBReportSender::instance();
    size_t blocks = sender->relayCBReportDataIndex()
                        ->notSentBlocksForDataKey(OrreryRelayCBReportSender::relayCBReportDataKey())
                        .size();
    if (blocks > 0) pending << blocks << " stored report block(s); ";
    if (!sender->runningTasks().empty()) pending << "reports in flight; ";
    return pending.str();
}

// A later child: writes down what the stored files name, resumes (Relay
// starts, the application becomes active, the network comes back, the
// report check runs) and exits once nothing is pending.
[[noreturn]] void resume(const std::string& home, const std::string& onDiskFile) {
    launch(home);
    std::string onDisk;
    for (const auto& event : eventsOnDisk()) onDisk += event + "\n";
    writeFile(onDiskFile, onDisk);

    startRelay();
    auto manager = OrreryRelayCallbackReportManager::sharedInstance();
    auto center = NSNotificationCenter::defaultCenter();
    center->postNotificationName(OrreryLifecycle::kDidBecomeActive, nullptr);
    center->postNotificationName(OrreryNetworkStatusChangedNotification, nullptr);
    dispatch_async(manager->queue(), [manager] { manager->checkAndSendReportsToServer(); });

    platform::testing::RunLoopDriver driver{platform::testing::hangGuardScale()};
    bool done = driver.runUntil([] { return pendingWork().empty(); }, 10);
    if (!done) std::fprintf(stderr, "still pending: %s\n", pendingWork().c_str());
    driver.settle();
    OrreryRelayEventController::cleanup();
    OrreryRelayCallbackReportManager::cleanup();
    OrreryRelayCBReportSender::cleanup();
    OrreryGlobalPersistentManager::sharedInstance()->waitForPendingWrites();
    _exit(done ? kResumedAll : kStillPending);
}

class OrreryRelayRandomKillTest : public ::testing::Test {
protected:
    struct Run {
        std::string folder;
        simulator::PartnerService partner;
        simulator::RelayService relay;
        std::set<std::string> onDiskAfterKill;

        std::string home() const { return folder + "/home"; }
        // This program again, running only OrreryRelayRandomKillChild; its standard output dropped.
        pid_t start(const char* role) {
            return platform::testing::startChildTestProcess("OrreryRelayRandomKillChild.*",
                                                            {{kRoleVariable, role},
                                                             {kHomeVariable, home()},
                                                             {kPartnerVariable, partner.url("/cb")},
                                                             {kReportVariable, relay.reportUrl()},
                                                             {kReadyVariable, folder + "/ready"},
                                                             {kOnDiskVariable, folder + "/on-disk"}},
                                                            true);
        }
    };

    // Starts the firing child and kills it `killAfterMs` after it starts firing.
    static void fireAndKill(Run& run, int killAfterMs) {
        pid_t child = run.start("fire");
        ASSERT_GT(child, 0);
        const std::string ready = run.folder + "/ready";
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(platform::testing::hangGuard(30));
        bool started = false, ended = false;
        int status = 0;
        while (!(started = std::filesystem::exists(ready)) && std::chrono::steady_clock::now() < deadline &&
               !(ended = waitpid(child, &status, WNOHANG) == child))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (started) std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs));
        if (!ended) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        ASSERT_TRUE(started) << "the firing child ended or hung before it fired";
        ASSERT_TRUE(WIFSIGNALED(status));
    }

    // Resumes in fresh children until one finds nothing left pending.
    static void resumeUntilNothingPending(Run& run) {
        for (int attempt = 0; attempt < kResumeLimit; ++attempt) {
            pid_t child = run.start("resume");
            ASSERT_GT(child, 0);
            int status = 0;
            waitpid(child, &status, 0);
            if (attempt == 0) {
                std::istringstream lines(readFile(run.folder + "/on-disk"));
                for (std::string line; std::getline(lines, line);) run.onDiskAfterKill.insert(line);
            }
            ASSERT_TRUE(WIFEXITED(status)) << "a resuming child crashed";
            if (WEXITSTATUS(status) == kResumedAll) return;
            ASSERT_EQ(WEXITSTATUS(status), kStillPending);
        }
        ADD_FAILURE() << "work was still pending after " << kResumeLimit << " resumed processes";
    }

    // What the partner and the report endpoint received, checked.
    static void check(const Run& run) {
        std::map<std::string, int> partnerCalls;
        for (const auto& call : run.partner.callbacks("/cb")) partnerCalls[eventOfUrl(call.target)]++;
        std::map<std::tuple<std::string, int64_t, int>, int> reportedAttempts;
        std::set<std::string> reportedDelivered, reportedAtAll;
        for (const auto& received : run.relay.reports()) {
            ASSERT_TRUE(received.report) << received.error;
            EXPECT_TRUE(received.report->checksumMatches);
            for (const auto& trigger : received.report->triggers)
                for (const auto& callback : trigger.callbacks)
                    for (const auto& attempt : callback.attempts) {
                        reportedAttempts[{trigger.eventName, callback.callbackId, attempt.attemptNumber}]++;
                        reportedAtAll.insert(trigger.eventName);
                        if (attempt.requestState == 1) reportedDelivered.insert(trigger.eventName);
                    }
        }
        std::set<std::string> recorded = run.onDiskAfterKill;
        for (const auto& [event, calls] : partnerCalls) recorded.insert(event);
        recorded.insert(reportedAtAll.begin(), reportedAtAll.end());
        for (const auto& event : recorded) {
            auto calls = partnerCalls.find(event);
            EXPECT_TRUE(calls != partnerCalls.end()) << event << " was recorded but never reached the partner";
            if (calls == partnerCalls.end()) continue;
            EXPECT_LE(calls->second, 2) << event << " reached the partner " << calls->second << " times";
            EXPECT_TRUE(reportedDelivered.count(event)) << event << " was delivered but never reported as delivered";
        }
        for (const auto& [attempt, times] : reportedAttempts)
            EXPECT_LE(times, 2) << std::get<0>(attempt) << " attempt " << std::get<2>(attempt) << " was reported " << times
                                << " times";
    }
};

TEST_F(OrreryRelayRandomKillTest, NothingLostNorReportedThreeTimesAcrossAKillAtAnyMoment) {
    const unsigned long runs = environmentNumber("RELAY_KILL_RUNS", kDefaultRuns);
    const unsigned long seed = environmentNumber("RELAY_KILL_SEED", std::random_device{}());
    std::printf("random kill test: %lu runs, seed %lu (RELAY_KILL_SEED=%lu replays it)\n", runs, seed, seed);
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    std::uniform_int_distribution<int> killAfterMs(0, 80);
    for (unsigned long i = 0; i < runs; ++i) {
        const int killAt = killAfterMs(random);
        SCOPED_TRACE("run " + std::to_string(i) + " of seed " + std::to_string(seed) + ", killed after " +
                     std::to_string(killAt) + " ms");
        auto run = std::make_unique<Run>();
        char pattern[] = "/tmp/orrery-relay-random-kill-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        run->folder = pattern;
        ASSERT_TRUE(run->partner.start());
        run->partner.scriptStatuses("/cb", {200});
        ASSERT_TRUE(run->relay.start());
        ASSERT_NO_FATAL_FAILURE(fireAndKill(*run, killAt));
        ASSERT_NO_FATAL_FAILURE(resumeUntilNothingPending(*run));
        check(*run);
        run->partner.stop();
        run->relay.stop();
        std::filesystem::remove_all(run->folder);
        if (HasFailure()) break;
    }
}

// The children's side: runs only when the parent above starts this program again.
TEST(OrreryRelayRandomKillChild, Run) {
    const char* role = std::getenv(kRoleVariable);
    if (!role) GTEST_SKIP() << "runs only as a child of OrreryRelayRandomKillTest";
    const std::string home = std::getenv(kHomeVariable);
    if (std::string(role) == "fire")
        fireUntilKilled(home, std::getenv(kPartnerVariable), std::getenv(kReportVariable), std::getenv(kReadyVariable));
    resume(home, std::getenv(kOnDiskVariable));
}

}  // namespace
