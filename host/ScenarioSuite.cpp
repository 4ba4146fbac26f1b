#include "host/ScenarioSuite.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "host/OutputFolder.h"
#include "host/RunLock.h"
#include "host/RunSignals.h"
#include "host/ScenarioRunner.h"
#include "host/scenarios/Scenarios.h"
#include "platform/foundation/NSData.h"
#include "platform/foundation/NSJSONSerialization.h"

namespace fs = std::filesystem;

namespace {

std::string signalName(int signal) {
    if (signal == SIGINT) return "SIGINT";
    if (signal == SIGTERM) return "SIGTERM";
    return "signal " + std::to_string(signal);
}

std::string counted(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// SIGINT and SIGTERM held back while a child starts, so that each one is
// passed on to the child exactly once.
class BlockedQuitSignals {
public:
    BlockedQuitSignals() {
        sigset_t quit;
        sigemptyset(&quit);
        sigaddset(&quit, SIGINT);
        sigaddset(&quit, SIGTERM);
        sigprocmask(SIG_BLOCK, &quit, &previous_);
    }
    ~BlockedQuitSignals() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

private:
    sigset_t previous_;
};

}  // namespace

ScenarioSuite::ScenarioSuite(HostOptions options, std::vector<std::string> scenarios)
    : options_(std::move(options)), scenarios_(std::move(scenarios)) {
    if (scenarios_.empty())
        for (const ScenarioInfo& info : ScenarioRegistry::all()) scenarios_.emplace_back(info.name);
}

int ScenarioSuite::fail(const std::string& message) {
    error_ = message;
    std::fprintf(stderr, "host: %s\n", message.c_str());
    return 1;
}

int ScenarioSuite::run() {
    for (const std::string& name : scenarios_)
        if (!ScenarioRegistry::find(name)) return fail("unknown scenario: " + name);
    RunLock homeLock, outputLock;
    std::vector<std::string> removed;
    if (std::string refusal =
            OutputFolder::claim(options_.outDir, options_.homeDir, true, homeLock, outputLock, &removed);
        !refusal.empty())
        return fail(refusal);
    if (std::string note = OutputFolder::removalNote(options_.outDir, removed, OutputFolder::Layout::EveryScenario);
        !note.empty())
        std::printf("host: %s\n", note.c_str());
    RunSignals::setAbortNote("the program ended at once; the summary was not written into " + options_.outDir);

    outcomes_.clear();
    for (size_t i = 0; i < scenarios_.size(); ++i) {
        if (RunSignals::quitRequested()) {
            Outcome skipped;
            skipped.name = scenarios_[i];
            outcomes_.push_back(std::move(skipped));
            continue;
        }
        outcomes_.push_back(play(scenarios_[i], i + 1));
    }

    const std::string text = summary(options_.outDir, outcomes_);
    const std::string path = (fs::path(options_.outDir) / OutputFolder::kSummary).string();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text << std::flush;
    std::printf("\nhost: summary (also in %s)\n%s", path.c_str(), text.c_str());
    std::fflush(stdout);
    RunSignals::setAbortNote("");
    if (!file) return fail("cannot write the summary " + path);

    bool failed = false;
    for (const Outcome& outcome : outcomes_) {
        if (!outcome.played) continue;
        failed |= outcome.exitCode != 0 && outcome.exitCode != 128 + SIGINT && outcome.exitCode != 128 + SIGTERM;
    }
    if (failed) return fail("a scenario's run failed (see its lines above)");
    return RunSignals::exitStatus();
}

ScenarioSuite::Outcome ScenarioSuite::play(const std::string& name, size_t number) {
    Outcome outcome;
    outcome.name = name;
    outcome.played = true;
    HostOptions options = options_;
    options.scenario = name;
    options.outDir = (fs::path(options_.outDir) / name).string();
    if (!options_.homeDir.empty()) options.homeDir = (fs::path(options_.homeDir) / name).string();
    std::printf("host: scenario %zu of %zu: %s, into %s\n", number, scenarios_.size(), name.c_str(),
                options.outDir.c_str());
    std::fflush(stdout);
    std::fflush(stderr);

    pid_t child;
    {
        BlockedQuitSignals blocked;
        const pid_t parent = ::getpid();
        child = ::fork();
        if (child == 0) {
            RunSignals::resetInChild();
            ::setpgid(0, 0);
            // Out of the terminal's foreground group, it still writes there
            // (a terminal set to stop background writers would stop it).
            std::signal(SIGTTOU, SIG_IGN);
            // A parent that dies ends its scenario too, as a signal would.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) RunSignals::requestQuit(SIGTERM);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            int code = ScenarioRunner(options).run();
            std::fflush(stdout);
            std::fflush(stderr);
            ::_exit(code);
        }
        if (child < 0) {
            fail(std::string("cannot start a process for the scenario ") + name);
            outcome.exitCode = 1;
            return outcome;
        }
        ::setpgid(child, child);
        RunSignals::forwardTo(child);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    RunSignals::forwardTo(0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    readOutput(outcome);
    return outcome;
}

void ScenarioSuite::readOutput(Outcome& outcome) const {
    const fs::path folder = fs::path(options_.outDir) / outcome.name;
    auto bytes = NSData::dataWithContentsOfFile((folder / "traffic" / "index.json").string());
    auto index = bytes ? NSJSONSerialization::JSONObjectWithData(*bytes) : std::nullopt;
    if (index && index->isArray()) {
        outcome.requests = index->array()->size();
        for (const Value& exchange : *index->array())
            if (exchange["status"].isNull()) ++outcome.unanswered;
    }
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder / "snapshots", ec))
        if (entry.is_regular_file()) outcome.snapshots.push_back(entry.path().filename().string());
    std::sort(outcome.snapshots.begin(), outcome.snapshots.end());
}

std::string ScenarioSuite::summary(const std::string& outDir, const std::vector<Outcome>& outcomes) {
    size_t width = 0;
    for (const Outcome& outcome : outcomes) width = std::max(width, outcome.name.size());
    std::string text;
    for (const Outcome& outcome : outcomes) {
        const std::string folder = (fs::path(outDir) / outcome.name).string();
        std::string line = "  " + outcome.name + std::string(width - outcome.name.size() + 2, ' ');
        if (!outcome.played) {
            text += line + "not played: the run was ended before it\n";
            continue;
        }
        if (outcome.exitCode == 0) line += "played to its end";
        else if (outcome.exitCode > 128) line += "ended early by " + signalName(outcome.exitCode - 128);
        else line += "failed (exit status " + std::to_string(outcome.exitCode) + ")";
        line += "; " + counted(outcome.requests, "request", "requests");
        if (outcome.unanswered > 0) line += " (" + std::to_string(outcome.unanswered) + " unanswered)";
        line += " in " + folder + "/traffic/; ";
        if (outcome.snapshots.empty()) {
            text += line + "no snapshots\n";
            continue;
        }
        text += line + counted(outcome.snapshots.size(), "snapshot", "snapshots") + " in " + folder + "/snapshots/:\n";
        std::string names;
        for (const std::string& name : outcome.snapshots) names += (names.empty() ? "" : ", ") + name;
        text += "    " + std::string(width, ' ') + names + "\n";
    }
    return text;
}
