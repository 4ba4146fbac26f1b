// The host program: plays the application's side of start-up and of its
// lifecycle against the clients' services and records what passes. See
// ScenarioRunner for the scenario and HostOptions for the options.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "host/HostOptions.h"
#include "host/ScenarioRunner.h"

namespace {
void onSignal(int) { ScenarioRunner::requestQuit(); }
}  // namespace

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
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    return ScenarioRunner(options).run();
}
