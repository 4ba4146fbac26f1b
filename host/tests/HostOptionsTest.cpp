// The host program's command line: values in both spellings, defaults, the
// usage text, and clear errors for what cannot be used.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "host/HostOptions.h"
#include "host/OutputFolder.h"
#include "host/scenarios/Scenarios.h"

namespace {

HostOptionsParse parse(std::vector<std::string> arguments, HostOptions& options) {
    return parseHostOptions(arguments, options);
}

}  // namespace

TEST(HostOptionsTest, DefaultsRunEveryScenarioOnTheVirtualClockIntoOutDemo) {
    HostOptions options;
    EXPECT_EQ(parse({}, options).outcome, HostOptionsParse::Outcome::Run);
    EXPECT_EQ(options.scenario, "");  // every one
    EXPECT_EQ(options.outDir, "out/demo");
    EXPECT_EQ(options.clock, HostOptions::Clock::Virtual);
    EXPECT_TRUE(options.trilliumUrl.empty());
    EXPECT_TRUE(options.homeDir.empty());
    EXPECT_FALSE(options.splashTheme);  // the configuration's theme
}

TEST(HostOptionsTest, EveryOptionInBothSpellings) {
    HostOptions options;
    auto result = parse({"--scenario=startup", "--partner-url", "http://10.0.0.3/partner/", "--exit-when-idle",
                         "--out", "/tmp/x", "--clock=wall", "--trillium-url", "http://10.0.0.2:8080/ads/1.3",
                         "--trillium-app-id=A1", "--trillium-dev-id", "D1", "--analytics-key", "K1",
                         "--tamarind-key=T1", "--reachability-host", "probe.example", "--home", "/tmp/h",
                         "--halcyon-url", "http://10.0.0.4:81", "--halcyon-key=HK-1", "--splash-theme=5"},
                        options);
    ASSERT_EQ(result.outcome, HostOptionsParse::Outcome::Run) << result.message;
    EXPECT_EQ(options.outDir, "/tmp/x");
    EXPECT_EQ(options.clock, HostOptions::Clock::Wall);
    EXPECT_EQ(options.trilliumUrl, "http://10.0.0.2:8080/ads/1.3/");  // request paths are appended directly
    EXPECT_EQ(options.trilliumAppId, "A1");
    EXPECT_EQ(options.trilliumDevId, "D1");
    EXPECT_EQ(options.analyticsKey, "K1");
    EXPECT_EQ(options.tamarindKey, "T1");
    EXPECT_EQ(options.reachabilityHost, "probe.example");
    EXPECT_EQ(options.homeDir, "/tmp/h");
    EXPECT_EQ(options.scenario, "startup");
    EXPECT_EQ(options.partnerUrl, "http://10.0.0.3/partner");  // the callback path is appended
    EXPECT_TRUE(options.exitWhenIdle);
    EXPECT_EQ(options.halcyonUrl, "http://10.0.0.4:81/");  // api/, ads/ and pix? go below it
    EXPECT_EQ(options.halcyonKey, "HK-1");
    EXPECT_EQ(options.splashTheme, 5);
}

TEST(HostOptionsTest, TheStartUpBenchmarkPlaysTheFirstScenarioUnlessOneIsNamed) {
    HostOptions options;
    ASSERT_EQ(parse({"--exit-when-idle"}, options).outcome, HostOptionsParse::Outcome::Run);
    EXPECT_EQ(options.scenario, ScenarioRegistry::all().front().name);
    HostOptions named;
    ASSERT_EQ(parse({"--exit-when-idle", "--scenario", "halcyon"}, named).outcome, HostOptionsParse::Outcome::Run);
    EXPECT_EQ(named.scenario, "halcyon");
}

TEST(HostOptionsTest, HelpIsTheUsageFileNamingTheProgramAsStartedWithEveryScenarioAndWhatAnEarlierOutputLoses) {
    HostOptions options;
    auto result = parse({"--out", "x", "--help"}, options);
    EXPECT_EQ(result.outcome, HostOptionsParse::Outcome::Help);
    const char* source = std::getenv("PROJECT_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::ifstream file(std::string(source) + "/host/usage.txt", std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(file), {});
    const std::string usage = hostUsage("./run demo");
    // The file with its first line's name as the program was started (./run prints the same).
    ASSERT_EQ(text.rfind("usage: host [options]\n", 0), 0u);
    EXPECT_EQ(usage, "usage: ./run demo" + text.substr(std::string("usage: host").size()));
    EXPECT_EQ(hostUsage("bin/host").rfind("usage: bin/host [options]\n", 0), 0u);
    for (const ScenarioInfo& info : ScenarioRegistry::all())
        EXPECT_NE(usage.find("  " + std::string(info.name) + ": "), std::string::npos) << info.name;
    // The --out paragraph names each entry a run removes whole.
    const size_t out = usage.find("  --out DIR");
    const std::string paragraph = usage.substr(out, usage.find("  --trillium-url") - out);
    for (const std::string& entry : OutputFolder::ownedEntries()) {
        bool file = entry.find('.') != std::string::npos;
        std::string named = file ? entry : entry + "/";
        // Words may be broken across lines by the layout, names never.
        EXPECT_NE(paragraph.find(" " + named), std::string::npos) << named << " in\n" << paragraph;
    }
}

TEST(HostOptionsTest, UnusableInputIsAnErrorThatSaysWhy) {
    struct Case {
        std::vector<std::string> arguments;
        const char* says;
    };
    for (const Case& c : std::vector<Case>{
             {{"--bogus"}, "unknown option: --bogus"},
             {{"--out"}, "--out needs a value"},
             {{"--out="}, "--out needs a non-empty value"},
             {{"--clock", "fast"}, "--clock must be virtual or wall"},
             {{"--trillium-url", "ftp://x/"}, "not an http(s) URL"},
             {{"--trillium-url", "not a url"}, "not an http(s) URL"},
             {{"positional"}, "unknown option: positional"},
             {{"--scenario", "halloween"}, "unknown scenario: halloween (known: startup"},
             {{"--relay-url", "relay"}, "--relay-url is not an http(s) URL"},
             {{"--halcyon-url", "halcyon"}, "--halcyon-url is not an http(s) URL"},
             {{"--halcyon-key", "abc"}, "--halcyon-key needs at least four characters"},
             {{"--splash-theme", "6"}, "--splash-theme must be a theme from 0 to 5, not 6"},
             {{"--splash-theme=-1"}, "--splash-theme must be a theme from 0 to 5"},
             {{"--splash-theme", "03"}, "--splash-theme must be a theme from 0 to 5"},
             {{"--relay-url", "http://r/sdk/v1/config", "--partner-url", "http://p/"},
              "--partner-url needs the embedded Relay configuration server"},
         }) {
        HostOptions options;
        auto result = parse(c.arguments, options);
        EXPECT_EQ(result.outcome, HostOptionsParse::Outcome::Error) << c.says;
        EXPECT_NE(result.message.find(c.says), std::string::npos) << result.message;
    }
    // What the program prints for any of them: the error and where the options are, not the whole usage.
    EXPECT_EQ(hostUsageError("unknown option: --bogus", "./run demo"),
              "host: unknown option: --bogus\n./run demo --help lists the options\n");
}
