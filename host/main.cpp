// The host program: plays the application's side of scenarios against the
// clients' services and records what passes. See ScenarioRunner for a run of
// one scenario, ScenarioSuite for a run of them all and HostOptions for the
// options.
#include <cstdio>
#include <string>
#include <vector>

#include "host/HostOptions.h"
#include "host/RunSignals.h"
#include "host/ScenarioRunner.h"
#include "host/ScenarioSuite.h"

int main(int argc, char** argv) {
    HostOptions options;
    HostOptionsParse parse = parseHostOptions(std::vector<std::string>(argv + 1, argv + argc), options);
    if (parse.outcome == HostOptionsParse::Outcome::Help) {
        std::fputs(parse.message.c_str(), stdout);
        return 0;
    }
    if (parse.outcome == HostOptionsParse::Outcome::Error) {
        std::fprintf(stderr, "host: %s\n\n%s", parse.message.c_str(), hostUsage().c_str());
        return 2;
    }
    // An interrupted run still quits the application properly and writes its output.
    RunSignals::install();
    if (options.scenario.empty()) return ScenarioSuite(options).run();
    return ScenarioRunner(options).run();
}
