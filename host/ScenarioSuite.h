// Plays every scenario (in ScenarioRegistry's order), each as a run of its
// own (ScenarioRunner) in a child process of its own, so that each starts
// with fresh clients: into <out>/<name>, with a kept home's sandbox in
// <home>/<name>; then prints a summary and writes it to <out>/summary.txt:
// for each scenario how it ended, its requests and its snapshots, and where
// they are. The output folder (and a kept home) are checked, locked and made
// ready before the first scenario; each run locks its own folders below them.
// The children play one after the other, so each takes its services' ports
// in turn. A child is in a process group of its own: a signal reaches it
// only through this process (RunSignals::forwardTo), once. A first SIGINT
// or SIGTERM ends the scenario playing early, with its output written, and
// no other starts; the summary says which were not played. A second ends
// the program at once, saying that the summary was not written. Main thread of a
// process without other threads (it forks).
#pragma once

#include <string>
#include <vector>

#include "host/HostOptions.h"

class ScenarioSuite {
public:
    // How one scenario's run went, as the summary tells it.
    struct Outcome {
        std::string name;
        bool played = false;
        int exitCode = 0;  // the run's (ScenarioRunner::run), or 128 + the signal that ended it
        size_t requests = 0;
        size_t unanswered = 0;
        std::vector<std::string> snapshots;  // file names, sorted
    };

    // `scenarios`: names from ScenarioRegistry; empty: every one.
    explicit ScenarioSuite(HostOptions options, std::vector<std::string> scenarios = {});

    // 0 when every scenario ran to its end and the summary was written; 128 +
    // the signal (130, 143) when SIGINT or SIGTERM ended the run early; 1
    // when the output folder was refused or a scenario's run failed (the
    // reason on standard error and in error()).
    int run();
    const std::string& error() const { return error_; }
    const std::vector<Outcome>& outcomes() const { return outcomes_; }

    // The summary's text for these outcomes, the output being in `outDir`.
    static std::string summary(const std::string& outDir, const std::vector<Outcome>& outcomes);

private:
    // Plays one scenario in a child process and waits for it.
    Outcome play(const std::string& name, size_t number);
    // What the run wrote into <out>/<name>.
    void readOutput(Outcome& outcome) const;
    int fail(const std::string& message);

    HostOptions options_;
    std::vector<std::string> scenarios_;
    std::vector<Outcome> outcomes_;
    std::string error_;
};
