// The host program as separate processes, each run in a forked child as
// `./run demo` would start it: a second run on the home of the first plays
// the same story (its stored configurations name the first run's services)
// and finds its recorder on the same ports (a stored postback delivered),
// which a kept home has saved as soon as the services started; SIGTERM and
// SIGINT end the run early with its output written, the requests under way
// told as unanswered, and the signal's exit code; a second signal ends it at
// once, leaving no sandbox, no lock file and nothing written but the output
// folders' markers, and says so (the first said it would); the start-up benchmark's
// run leaves nothing under the temporary folder. A run of several scenarios
// plays each into a folder of its own, with a summary, and a signal ends it
// after the scenario playing. A kept home's ports and clock that cannot be
// read are kept; a damaged clock is replaced.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "host/RunSignals.h"
#include "host/OutputFolder.h"
#include "host/RunLock.h"
#include "host/ScenarioRunner.h"
#include "host/ScenarioSuite.h"
#include "host/tests/HostTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/runtime/HangGuard.h"
#include "simulator/PartnerService.h"

namespace {

class HostProcessTest : public HostTest {
protected:
    // Forks a child that runs the scenario and exits with run()'s result; its
    // standard output goes to `outputPipe` when one is given.
    pid_t startChild(const HostOptions& childOptions, int outputPipe = -1, const std::string& temporaryFolder = "") {
        std::fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            if (outputPipe >= 0) dup2(outputPipe, STDOUT_FILENO);
            if (!temporaryFolder.empty()) setenv("TMPDIR", temporaryFolder.c_str(), 1);
            RunSignals::install();
            int code = ScenarioRunner(childOptions).run();
            std::fflush(stdout);
            _exit(code);
        }
        return child;
    }
    // The same for a run of several scenarios, whose standard output and
    // error go to a pipe: `output` gets its reading end.
    pid_t startSuite(HostOptions suiteOptions, std::vector<std::string> scenarios, int& output,
                     const std::string& temporaryFolder = "") {
        suiteOptions.echoTimeline = true;
        int lines[2];
        if (pipe(lines) != 0) return -1;
        std::fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            dup2(lines[1], STDOUT_FILENO);
            dup2(lines[1], STDERR_FILENO);
            if (!temporaryFolder.empty()) setenv("TMPDIR", temporaryFolder.c_str(), 1);
            RunSignals::install();
            int code = ScenarioSuite(suiteOptions, std::move(scenarios)).run();
            std::fflush(stdout);
            _exit(code);
        }
        close(lines[1]);
        output = lines[0];
        return child;
    }
    static int exitCodeOf(pid_t child) {
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // Reads the pipe until `text` has come (true), or the writers are gone or
    // the hang guard has passed (false); `seen` gets what came.
    static bool readUntil(int pipe, const std::string& text, std::string& seen) {
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::duration<double>(platform::testing::hangGuard(30));
        while (seen.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= end) return false;
            pollfd readable{pipe, POLLIN, 0};
            if (poll(&readable, 1, 100) <= 0) continue;
            char chunk[4096];
            ssize_t n = read(pipe, chunk, sizeof chunk);
            if (n <= 0) return false;
            seen.append(chunk, static_cast<size_t>(n));
        }
        return true;
    }
    // The files below `folder` named `name`.
    static std::vector<std::string> filesNamed(const std::string& folder, const std::string& name) {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
            if (entry.path().filename() == name) found.push_back(entry.path().string());
        return found;
    }
};

}  // namespace

TEST_F(HostProcessTest, ASecondRunOnTheSameHomePlaysTheSameStory) {
    options.homeDir = root + "/home";
    HostOptions first = options;
    first.outDir = root + "/first";
    ASSERT_EQ(exitCodeOf(startChild(first)), 0);
    ASSERT_EQ(exitCodeOf(startChild(options)), 0);
    readOutput(options.outDir);

    // The second run fetches the configurations anew and reaches its own services.
    ASSERT_FALSE(of("relay", "/sdk/v1/config").empty());
    EXPECT_EQ(of("relay", "/sdk/v1/config")[0].status(), 200);
    auto partner = of("partner", "/cb");
    ASSERT_EQ(partner.size(), 2u);
    EXPECT_EQ(partner[1].status(), 200);
    EXPECT_EQ(of("relay", "/pcr.do").size(), 1u);
    EXPECT_GE(lineWith("callback report posted to"), 0);
    EXPECT_EQ(lineWith("no configuration was fetched"), -1);
    // The second run's clock goes on from the first's: its Trillium
    // configuration is still fresh, and the return starts a new session.
    EXPECT_GE(lineWith("the application clock starts where this home's last run ended"), 0);
    auto config = of("trillium", "/1.3/getadsmetadata");
    ASSERT_EQ(config.size(), 1u);
    EXPECT_EQ(config[0].field("sessionReason"), "APP_IDLE");
    // The first-launch report went in the first run only.
    EXPECT_TRUE(of("trillium", "/1.3/trackdownload").empty());
    EXPECT_GE(lineWith("no first-launch report: an earlier run on this home delivered it"), 0);
}

TEST_F(HostProcessTest, SigtermOnTheWallClockEndsTheRunEarlyWithItsOutputWritten) {
    // On the wall clock the Relay part waits its 90 s retry in real time:
    // the signal comes during that wait.
    options.clock = HostOptions::Clock::Wall;
    options.echoTimeline = true;
    int lines[2];
    ASSERT_EQ(pipe(lines), 0);
    pid_t child = startChild(options, lines[1]);
    close(lines[1]);
    std::string seen;
    const bool armed = readUntil(lines[0], "retry armed in", seen);
    kill(child, SIGTERM);
    int code = exitCodeOf(child);
    close(lines[0]);
    ASSERT_TRUE(armed) << seen;
    ASSERT_EQ(code, 128 + SIGTERM);

    readOutput(options.outDir);
    long signalled = lineWith("SIGTERM: the scenario ends early");
    EXPECT_GE(signalled, 0);
    EXPECT_GT(lineWith("UIApplicationWillTerminateNotification"), signalled);
    EXPECT_EQ(of("partner", "/cb").size(), 1u);
    EXPECT_FALSE(of("trillium").empty());
    EXPECT_TRUE(std::filesystem::exists(options.outDir + "/sandbox/Library/Preferences"));
}

TEST_F(HostProcessTest, SigintWhileARequestIsUnderWayRecordsItAsUnansweredBecauseTheRunEnded) {
    simulator::PartnerService partner;
    ASSERT_TRUE(partner.start());
    partner.server().route("GET", "/cb", simulator::Answer::stall());
    options.partnerUrl = partner.url("/");
    // The answer can only be ended by the signal, however long the child
    // takes to handle it.
    options.serviceSeconds = platform::testing::hangGuard(100);
    pid_t child = startChild(options);
    ASSERT_TRUE(partner.server().waitForStalled(1, 60));
    kill(child, SIGINT);
    ASSERT_EQ(exitCodeOf(child), 128 + SIGINT);
    partner.stop();

    readOutput(options.outDir);
    auto callbacks = of("partner", "/cb");
    ASSERT_EQ(callbacks.size(), 1u);
    EXPECT_TRUE(callbacks[0].entry["status"].isNull());
    EXPECT_EQ(callbacks[0].entry["error"].stringValue(), "the run ended before the service answered");
    EXPECT_GE(lineWith("#" + std::to_string(callbacks[0].entry["index"].integerValue()) +
                       " unanswered: the run ended before the service answered"),
              lineWith("SIGINT: the scenario ends early"));
}

TEST_F(HostProcessTest, TheStartUpBenchmarkRunEndsAtTheFirstIdleLoopLeavingNothingBehind) {
    options.exitWhenIdle = true;
    const std::string temporary = root + "/tmp";
    std::filesystem::create_directories(temporary);
    ASSERT_EQ(exitCodeOf(startChild(options, -1, temporary)), 0);
    EXPECT_FALSE(std::filesystem::exists(options.outDir));
    EXPECT_TRUE(std::filesystem::is_empty(temporary));
}

TEST_F(HostProcessTest, AKeptHomeFindsItsRecorderOnTheSamePortsAndItsStoredPostbackIsDelivered) {
    options.scenario = "halcyon";
    options.homeDir = root + "/home";
    HostOptions first = options;
    first.outDir = root + "/first";
    ASSERT_EQ(exitCodeOf(startChild(first)), 0);
    readOutput(first.outDir);
    auto refused = of("halcyon", "/postback/video_end");
    ASSERT_EQ(refused.size(), 6u);
    EXPECT_EQ(refused.back().status(), 503);
    const std::string storedUrl = refused.back().url();

    ASSERT_EQ(exitCodeOf(startChild(options)), 0);
    readOutput(options.outDir);
    EXPECT_GE(lineWith("a postback an earlier run on this home left stored"), 0);
    auto delivered = of("halcyon", "/postback/video_end");
    ASSERT_FALSE(delivered.empty());
    // The same URL, the same port: the recorder listened there again.
    EXPECT_EQ(delivered[0].url().substr(0, delivered[0].url().find("&postback_ts=")),
              storedUrl.substr(0, storedUrl.find("&postback_ts=")));
    EXPECT_EQ(delivered[0].status(), 200);
    EXPECT_LT(delivered[0].entry["sentAt"].doubleValue(), 1.0) << "sent again at start-up";
    EXPECT_EQ(lineWith("cannot take its earlier port"), -1);
}

TEST_F(HostProcessTest, AKeptHomeHasItsPortsSavedOnceTheServicesStart) {
    // The start-up benchmark's run ends the process at its first idle loop,
    // as a kill would, before the run's end.
    options.homeDir = root + "/home";
    options.exitWhenIdle = true;
    ASSERT_EQ(exitCodeOf(startChild(options)), 0);
    std::string ports = readFile(options.homeDir + "/.host-ports");
    EXPECT_NE(ports.find("\"trillium\""), std::string::npos) << ports;
    EXPECT_NE(ports.find("\"relay\""), std::string::npos) << ports;
    EXPECT_NE(ports.find("\"partner\""), std::string::npos) << ports;
}

// The kept home's ports and clock files cannot be read at the next run (the
// file-system seam, which the forked child inherits): that run keeps both
// as they are instead of writing its own over them.
TEST_F(HostProcessTest, AKeptHomesPortsAndClockThatCannotBeReadAreKept) {
    options.homeDir = root + "/home";
    ASSERT_EQ(exitCodeOf(startChild(options)), 0);
    const std::string ports = readFile(options.homeDir + "/.host-ports");
    const std::string clock = readFile(options.homeDir + "/.host-clock");
    ASSERT_FALSE(ports.empty());
    ASSERT_FALSE(clock.empty());

    platform::testing::FileSystemConditions::setReadsFail(options.homeDir + "/.host-ports", EIO);
    platform::testing::FileSystemConditions::setReadsFail(options.homeDir + "/.host-clock", EMFILE);
    options.outDir = root + "/second";
    ASSERT_EQ(exitCodeOf(startChild(options)), 0);
    platform::testing::FileSystemConditions::setReadsFail(options.homeDir + "/.host-ports", std::nullopt);
    platform::testing::FileSystemConditions::setReadsFail(options.homeDir + "/.host-clock", std::nullopt);
    EXPECT_EQ(readFile(options.homeDir + "/.host-ports"), ports);
    EXPECT_EQ(readFile(options.homeDir + "/.host-clock"), clock);
}

// A kept home's clock file that gives no run's end (no number, or "inf",
// "nan", 1e308, beyond any date the clock can take) is damaged: the run
// starts on the wall clock, as on a new home, and replaces the file with
// its own end.
TEST_F(HostProcessTest, ADamagedClockFileIsNotFollowedAndIsReplaced) {
    options.homeDir = root + "/home";
    std::filesystem::create_directories(options.homeDir);
    const std::string clock = options.homeDir + "/.host-clock";
    for (const char* damaged : {"damaged\n", "inf\n", "nan\n", "1e308\n", "-inf\n", "1700000000x\n"}) {
        std::ofstream(clock, std::ios::trunc) << damaged;
        const double started = static_cast<double>(std::time(nullptr));
        ASSERT_EQ(exitCodeOf(startChild(options)), 0) << damaged;
        readOutput(options.outDir);
        EXPECT_EQ(lineWith("last run ended"), -1) << damaged;
        const double end = std::strtod(readFile(clock).c_str(), nullptr);
        EXPECT_TRUE(std::isfinite(end) && end >= started - 1 && end < started + 86400) << damaged << readFile(clock);
    }
}

TEST_F(HostProcessTest, ASecondSigintEndsTheRunAtOnceSayingWhatItLeftUnwritten) {
    // A partner that never answers keeps the quit waiting after the first.
    simulator::PartnerService partner;
    ASSERT_TRUE(partner.start());
    partner.server().route("GET", "/cb", simulator::Answer::stall());
    options.partnerUrl = partner.url("/");
    options.homeDir = "";
    const std::string temporary = root + "/tmp";
    std::filesystem::create_directories(temporary);
    int output = -1;
    pid_t child = startSuite(options, {"startup", "tamarind"}, output, temporary);
    ASSERT_GT(child, 0);
    std::string seen;
    ASSERT_TRUE(partner.server().waitForStalled(1, 60));
    ASSERT_FALSE(std::filesystem::is_empty(temporary));  // the scenario's sandbox
    kill(child, SIGINT);
    ASSERT_TRUE(readUntil(output, "SIGINT: the scenario ends early", seen)) << seen;
    kill(child, SIGINT);
    readUntil(output, "\n\n\n", seen);  // to the end: the writers are gone
    int status = 0;
    waitpid(child, &status, 0);
    close(output);
    partner.stop();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status << seen;

    // The first said a second would write nothing more; the second says what was not written.
    EXPECT_NE(seen.find("(a second SIGINT ends the program at once, writing nothing more)"), std::string::npos) << seen;
    const std::string scenarioFolder = options.outDir + "/startup";
    EXPECT_NE(seen.find("host: second SIGINT: the program ended at once; the scenario's timeline, client log, traffic "
                        "and sandbox were not written into " + scenarioFolder + "\n"),
              std::string::npos)
        << seen;
    EXPECT_NE(seen.find("host: second SIGINT: the program ended at once; the summary was not written into " +
                        options.outDir + "\n"),
              std::string::npos)
        << seen;
    EXPECT_EQ(seen.find("output written"), std::string::npos) << seen;
    // What it left: the folders' markers alone; no sandbox and no lock file.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(options.outDir))
        left.push_back(entry.path().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{options.outDir + "/" + OutputFolder::kMarker, scenarioFolder,
                                              scenarioFolder + "/" + OutputFolder::kMarker}));
    EXPECT_TRUE(std::filesystem::is_empty(temporary));
    EXPECT_TRUE(filesNamed(root, RunLock::kFileName).empty());
}

TEST_F(HostProcessTest, EveryScenarioPlaysIntoAFolderOfItsOwnAndTheSummarySaysWhatEachWrote) {
    options.homeDir = root + "/home";
    // An earlier run of one scenario: what the run of several does not write again is named as it goes.
    std::filesystem::create_directories(options.outDir + "/traffic");
    for (const std::string& file : {std::string(OutputFolder::kMarker), std::string(OutputFolder::kTimeline)})
        std::ofstream(options.outDir + "/" + file) << "earlier";
    int output = -1;
    pid_t child = startSuite(options, {"startup", "tamarind"}, output);
    ASSERT_GT(child, 0);
    std::string seen;
    readUntil(output, "\n\n\n", seen);  // to the end: the writers are gone
    close(output);
    ASSERT_EQ(exitCodeOf(child), 0) << seen;

    // Each as a run of its own: its output, and its sandbox in the home.
    readOutput(options.outDir + "/startup");
    EXPECT_GE(lineWith("scenario: startup"), 0);
    EXPECT_EQ(lineWith("scenario: tamarind"), -1);
    const size_t startupRequests = exchanges.size();
    EXPECT_GT(startupRequests, 0u);
    readOutput(options.outDir + "/tamarind");
    EXPECT_GE(lineWith("scenario: tamarind"), 0);
    const size_t tamarindRequests = exchanges.size();
    EXPECT_TRUE(std::filesystem::is_regular_file(options.outDir + "/tamarind/" + OutputFolder::kMarker));
    EXPECT_TRUE(std::filesystem::is_regular_file(options.homeDir + "/startup/.host-ports"));
    EXPECT_TRUE(std::filesystem::is_regular_file(options.homeDir + "/tamarind/.host-ports"));
    EXPECT_TRUE(filesNamed(root, RunLock::kFileName).empty());

    const std::string summary = readFile(options.outDir + "/summary.txt");
    EXPECT_EQ(summary, "  startup   played to its end; " + std::to_string(startupRequests) + " requests in " +
                           options.outDir + "/startup/traffic/; no snapshots\n"
                           "  tamarind  played to its end; " + std::to_string(tamarindRequests) + " requests in " +
                           options.outDir + "/tamarind/traffic/; 2 snapshots in " + options.outDir +
                           "/tamarind/snapshots/:\n"
                           "            tamarind-modal-interstitial.png, tamarind-modeless-interstitial.png\n");
    EXPECT_NE(seen.find("host: scenario 1 of 2: startup, into " + options.outDir + "/startup\n"), std::string::npos);
    EXPECT_NE(seen.find("host: summary (also in " + options.outDir + "/summary.txt)\n" + summary), std::string::npos)
        << seen;
    EXPECT_NE(seen.find("host: removed from the earlier output in " + options.outDir +
                        ", which a run of every scenario does not write: timeline.txt, traffic/\n"),
              std::string::npos)
        << seen;

    // One scenario into the same folder: the others' folders and the summary go, and it says so.
    HostOptions one = options;
    one.homeDir.clear();
    int lines[2];
    ASSERT_EQ(pipe(lines), 0);
    pid_t single = startChild(one, lines[1]);
    close(lines[1]);
    std::string said;
    readUntil(lines[0], "\n\n\n", said);  // to the end
    close(lines[0]);
    ASSERT_EQ(exitCodeOf(single), 0) << said;
    EXPECT_EQ(said.rfind("host: removed from the earlier output in " + options.outDir +
                             ", which a run of one scenario does not write: summary.txt, startup/, tamarind/\n",
                         0),
              0u)
        << said;
    EXPECT_FALSE(std::filesystem::exists(options.outDir + "/" + OutputFolder::kSummary));
}

TEST_F(HostProcessTest, ASignalEndsTheScenarioPlayingAndNoOtherStarts) {
    // On the wall clock the Relay part waits its 90 s retry in real time:
    // the signal comes during that wait, to this process alone.
    options.clock = HostOptions::Clock::Wall;
    int output = -1;
    pid_t child = startSuite(options, {"startup", "tamarind"}, output);
    ASSERT_GT(child, 0);
    std::string seen;
    ASSERT_TRUE(readUntil(output, "retry armed in", seen)) << seen;
    kill(child, SIGTERM);
    readUntil(output, "\n\n\n", seen);
    close(output);
    ASSERT_EQ(exitCodeOf(child), 128 + SIGTERM) << seen;

    readOutput(options.outDir + "/startup");
    EXPECT_GE(lineWith("SIGTERM: the scenario ends early"), 0);
    EXPECT_GE(lineWith("UIApplicationWillTerminateNotification"), 0);
    EXPECT_FALSE(std::filesystem::exists(options.outDir + "/tamarind"));
    const std::string summary = readFile(options.outDir + "/summary.txt");
    EXPECT_NE(summary.find("  startup   ended early by SIGTERM; "), std::string::npos) << summary;
    EXPECT_NE(summary.find("  tamarind  not played: the run was ended before it\n"), std::string::npos) << summary;
}
