// The host program's options: where its output goes, which services the
// clients talk to (the embedded simulator unless a URL is given), which clock
// drives it, and the identifiers and keys the application hands the clients.
#pragma once

#include <string>
#include <vector>

struct HostOptions {
    enum class Clock { Virtual, Wall };

    std::string outDir = "out/demo";
    // The Trillium ad platform's base URL (ending in "/"); empty: the embedded
    // simulator on loopback.
    std::string trilliumUrl;
    Clock clock = Clock::Virtual;

    std::string trilliumAppId = "208761043";
    std::string trilliumDevId = "101447529";
    std::string analyticsKey = "PDX7Q2M4K9WJ3RNB8T5V";
    std::string tamarindKey = "tm-paranormal-detector";
    // The host on which the application judges network reachability.
    std::string reachabilityHost = "www.example.com";

    // The application's sandbox; empty: a fresh one for this run, removed at
    // the end (its files are copied to the output folder either way).
    std::string homeDir;
    // The application bundle; empty: <program folder>/resources.
    std::string bundlePath;
    // Timeline lines go to standard output as they happen.
    bool echoTimeline = true;
};

struct HostOptionsParse {
    enum class Outcome { Run, Help, Error };
    Outcome outcome = Outcome::Run;
    std::string message;  // the error, or the usage text for Help
};

// Reads the command line (without the program name) into `options`.
HostOptionsParse parseHostOptions(const std::vector<std::string>& arguments, HostOptions& options);

std::string hostUsage();
