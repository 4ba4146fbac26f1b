// The host program: plays a scenario of the application's side against the
// clients' services and records what passes. See ScenarioRunner for the run
// and HostOptions for the options.
#include <cstdio>
#include <string>
#include <vector>

#include "host/HostOptions.h"
#include "host/ScenarioRunner.h"

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
    ScenarioRunner::installSignalHandlers();
    return ScenarioRunner(options).run();
}
