// The host program: plays the application's side of scenarios against the
// clients' services and records what passes. See ScenarioRunner for a run of
// one scenario, ScenarioSuite for a run of them all and HostOptions for the
// options.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "host/HostOptions.h"
#include "host/RunSignals.h"
#include "host/ScenarioRunner.h"
#include "host/ScenarioSuite.h"

int main(int argc, char** argv) {
    // As the user started it (./run demo passes that as the name).
    const char* invokedAs = argc > 0 && argv[0] && *argv[0] ? argv[0] : "host";
    HostOptions options;
    HostOptionsParse parse =
        parseHostOptions(std::vector<std::string>(argv + std::min(argc, 1), argv + argc), options);
    if (parse.outcome == HostOptionsParse::Outcome::Help) {
        std::fputs(hostUsage(invokedAs).c_str(), stdout);
        return 0;
    }
    if (parse.outcome == HostOptionsParse::Outcome::Error) {
        std::fputs(hostUsageError(parse.message, invokedAs).c_str(), stderr);
        return 2;
    }
    // An interrupted run still quits the application properly and writes its output.
    RunSignals::install();
    if (options.scenario.empty()) return ScenarioSuite(options).run();
    return ScenarioRunner(options).run();
}
