// The host program's options: which scenario it plays, where its output goes,
// which services the clients talk to (the embedded simulator unless a URL is
// given), which clock drives it, and the identifiers and keys the application
// hands the clients.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct HostOptions {
    enum class Clock { Virtual, Wall };

    // A name from ScenarioRegistry (see host/scenarios/Scenarios.cpp); empty:
    // every scenario, each into a folder of its own (ScenarioSuite).
    std::string scenario;
    std::string outDir = "out/demo";
    // Service URLs; empty: the embedded simulator on loopback. Each holds for
    // the whole run.
    // The Trillium ad platform's base URL (ending in "/").
    std::string trilliumUrl;
    // The Relay configuration endpoint (…/sdk/v1/config); its configuration
    // names the partner and the report endpoint.
    std::string relayUrl;
    // The partner that the embedded Relay configuration names (a base URL:
    // the callback path is appended).
    std::string partnerUrl;
    // The Halcyon servers' base URL (ending in "/"): the client is given
    // "api/" (the API endpoint), "ads/" (the ad server) and "pix?" (event
    // pixels) below it, as the embedded service lays them out.
    std::string halcyonUrl;
    // The Tamarind servers' base URL (ending in "/"): the client's
    // configuration is "msdk/getConfig" below it, and names the rest.
    std::string tamarindUrl;
    Clock clock = Clock::Virtual;

    std::string trilliumAppId = "208761043";
    std::string trilliumDevId = "101447529";
    std::string analyticsKey = "PDX7Q2M4K9WJ3RNB8T5V";
    std::string tamarindKey = "tm-paranormal-detector";
    // The SDK key an application showing Halcyon ads starts its client with.
    std::string halcyonKey = "hl-paranormal-detector";
    // The theme (0 to 5) of the splash that the trillium scenario's
    // application asks for at launch; unset: the configuration's default.
    std::optional<int64_t> splashTheme;
    // The host on which the application judges network reachability.
    std::string reachabilityHost = "www.example.com";

    // The application's sandbox; empty: a fresh one for this run, removed at
    // the end (its files are copied to the output folder either way). Never
    // inside the output folder. Every scenario keeps its own in <homeDir>/<name>.
    std::string homeDir;
    // The application bundle; empty: <program folder>/resources.
    std::string bundlePath;
    // Timeline lines go to standard output as they happen.
    bool echoTimeline = true;
    // Ends the run at the scenario's first idle main loop after launch (the
    // start-up benchmark, which times it up to ScenarioRunner::kIdleLine),
    // writing nothing. Without a scenario named it plays the first.
    bool exitWhenIdle = false;
    // Real seconds to wait at each step for requests under way (longer than
    // the clients' own time-outs, so that theirs show first).
    double settleSeconds = 12;
    // Real seconds a service has for its whole answer through the recorder.
    double serviceSeconds = 15;
    // The scenarios' real-time waits for what the application awaits (an ad
    // to load) last this many times their length: tests, whose waits only
    // guard against a hang, pass their factor for a slow machine.
    double waitScale = 1;
};

struct HostOptionsParse {
    enum class Outcome { Run, Help, Error };
    Outcome outcome = Outcome::Run;
    std::string message;  // the error
};

// Reads the command line (without the program name) into `options`.
HostOptionsParse parseHostOptions(const std::vector<std::string>& arguments, HostOptions& options);

// The usage text (host/usage.txt, which ./run prints without a build), naming
// the program as it was started: its path, or "./run demo" (the script
// passes that as the program's name).
std::string hostUsage(std::string_view invokedAs);
// What a command line that cannot be used prints: the error, and where the
// options are listed, without the whole usage.
std::string hostUsageError(std::string_view error, std::string_view invokedAs);
