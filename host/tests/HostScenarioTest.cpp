// The host program's scenario end to end, as `./run demo` plays it: launch,
// foreground, a long background stay, return and quit on the virtual clock,
// against the embedded simulator or a service given by URL; the assertions
// read what the run wrote: the recorded traffic, the timeline and the
// sandbox's copy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/ScenarioRunner.h"
#include "platform/foundation/NSData.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/PropertyList.h"
#include "simulator/TrilliumService.h"

namespace fs = std::filesystem;

namespace {

struct Exchange {
    Value entry;
    simulator::QueryFields fields;

    std::string url() const { return entry["url"].stringValue(); }
    std::string path() const {
        std::string u = url();
        size_t start = u.find('/', u.find("://") + 3);
        return u.substr(start, u.find('?') == std::string::npos ? std::string::npos : u.find('?') - start);
    }
    std::optional<std::string> field(const std::string& name) const {
        for (const auto& [key, value] : fields)
            if (key == name) return value;
        return std::nullopt;
    }
};

class HostScenarioTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "host-scenario-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        options.outDir = root + "/out";
        options.echoTimeline = false;
        const char* source = std::getenv("PROJECT_SOURCE_DIR");
        ASSERT_NE(source, nullptr);
        options.bundlePath = std::string(source) + "/resources";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    void runScenario() {
        ScenarioRunner runner(options);
        ASSERT_EQ(runner.run(), 0) << runner.error();
        std::ifstream file(options.outDir + "/traffic/index.json", std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        auto index = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(text.str()));
        ASSERT_TRUE(index && index->isArray());
        for (const Value& entry : *index->array()) {
            std::string url = entry["url"].stringValue();
            size_t q = url.find('?');
            exchanges.push_back(
                {entry, simulator::TrilliumService::parseQuery(q == std::string::npos ? "" : url.substr(q + 1))});
        }
        std::ifstream timelineFile(options.outDir + "/timeline.txt");
        for (std::string line; std::getline(timelineFile, line);) timeline.push_back(line);
    }

    std::vector<Exchange> to(const std::string& path) const {
        std::vector<Exchange> list;
        for (const auto& e : exchanges)
            if (e.path() == path) list.push_back(e);
        return list;
    }
    // The index of the first timeline line containing `text` at or after `from`; -1 when none.
    long lineWith(const std::string& text, long from = 0) const {
        for (size_t i = static_cast<size_t>(std::max(from, 0L)); i < timeline.size(); ++i)
            if (timeline[i].find(text) != std::string::npos) return static_cast<long>(i);
        return -1;
    }
    std::string file(const std::string& relative) const {
        std::ifstream in(options.outDir + "/" + relative, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string root;
    HostOptions options;
    std::vector<Exchange> exchanges;
    std::vector<std::string> timeline;
};

}  // namespace

TEST_F(HostScenarioTest, DemoScenarioAgainstTheEmbeddedSimulator) {
    options.trilliumAppId = "app-e2e";
    options.trilliumDevId = "dev-e2e";
    options.tamarindKey = "tm-e2e";
    runScenario();

    // Launch: the configuration (a new session), the preloaded ad, the
    // first-launch report; after 600 s away: a new session. Nothing else:
    // the return ad is off and no other ad client is linked.
    ASSERT_EQ(exchanges.size(), 4u);
    auto config = to("/1.3/getadsmetadata");
    ASSERT_EQ(config.size(), 2u);
    EXPECT_EQ(config[0].field("sessionReason"), "LAUNCH");
    EXPECT_EQ(config[1].field("sessionReason"), "APP_IDLE");
    EXPECT_EQ(config[1].entry["index"].integerValue(), 4);
    EXPECT_GE(config[1].entry["sentAt"].doubleValue(), 630.0);
    EXPECT_NE(config[0].field("clientSessionId"), config[1].field("clientSessionId"));

    auto report = to("/1.3/trackdownload");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].field("placement"), "INAPP_DOWNLOAD");
    EXPECT_EQ(report[0].field("productId"), "app-e2e");
    EXPECT_EQ(report[0].field("publisherId"), "dev-e2e");
    EXPECT_EQ(report[0].entry["status"].integerValue(), 200);

    auto ads = to("/1.3/gethtmlad");
    ASSERT_EQ(ads.size(), 1u);
    EXPECT_EQ(ads[0].field("placement"), "INAPP_OVERLAY");
    EXPECT_TRUE(to("/tracking/infoEvent").empty());

    // Each exchange: method, headers, and the bodies as raw files.
    for (const auto& e : exchanges) {
        EXPECT_EQ(e.entry["method"].stringValue(), "GET");
        EXPECT_EQ(e.entry["service"].stringValue(), "trillium");
        EXPECT_TRUE(e.entry["requestHeaders"].isArray());
        EXPECT_TRUE(fs::exists(options.outDir + "/traffic/" + e.entry["requestBody"].stringValue()));
    }
    std::string page = file("traffic/" + ads[0].entry["responseBody"].stringValue());
    EXPECT_NE(page.find("@adInfoJson@"), std::string::npos);
    bool userAgent = false;
    for (const Value& header : *ads[0].entry["requestHeaders"].array())
        userAgent = userAgent || (*header.array())[0].stringValue() == "User-Agent";
    EXPECT_TRUE(userAgent);

    // The timeline: the application's start-up in its order, then the lifecycle.
    long at = 0;
    for (const char* step :
         {"TRATrilliumSDK sharedInstance", "TRATrilliumSDK setAppID: app-e2e", "TRATrilliumSDK setDevID: dev-e2e",
          "TRATrilliumSDK disableReturnAd", "reachability host", "Orrery setCrashReportingEnabled: YES",
          "Orrery setBackgroundSessionEnabled: NO", "Orrery startSession:",
          "TamarindAdRegistration setApplicationId: tm-e2e",
          "UIApplication setIdleTimerDisabled: YES", "UIApplicationDidFinishLaunchingNotification",
          "UIApplicationDidBecomeActiveNotification", "UIApplicationDidEnterBackgroundNotification",
          "UIApplicationWillEnterForegroundNotification", "sessionReason=APP_IDLE",
          "UIApplicationWillTerminateNotification"}) {
        long found = lineWith(step, at);
        EXPECT_GE(found, at) << "missing or out of order: " << step;
        if (found >= 0) at = found;
    }

    // The sandbox's copy: what the clients kept.
    const std::string preferences = "/Library/Preferences/com.paranormal.detector.plist";
    auto defaults = platform::PropertyList::valueWithContentsOfFile(options.outDir + "/sandbox" + preferences);
    ASSERT_TRUE(defaults && defaults->isDictionary());
    EXPECT_TRUE((*defaults)["TRAFirstOpenDate"].isString());
    EXPECT_TRUE((*defaults)["TRALastBackgroundTime"].isDate());
    EXPECT_EQ((*defaults)["TamarindAd:ApplicationIdKey"].stringValue(), "tm-e2e");
}

TEST_F(HostScenarioTest, ServiceGivenByUrlIsRecordedThroughout) {
    // A service elsewhere whose configuration names itself as the ad platform:
    // the later requests still pass the recorder.
    simulator::TrilliumService external;
    ASSERT_TRUE(external.start());
    external.setConfig("{\"ttl\": 3600, \"adPlatformHost\": \"" + external.baseUrl() + "\"}");
    external.setAnswer(simulator::TrilliumService::kFirstLaunchPath, simulator::Answer::withStatus(503));
    options.trilliumUrl = external.baseUrl();
    runScenario();

    EXPECT_EQ(external.requests().size(), exchanges.size());
    ASSERT_EQ(to("/1.3/getadsmetadata").size(), 2u);
    auto report = to("/1.3/trackdownload");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].entry["status"].integerValue(), 503);
    for (const auto& e : exchanges) EXPECT_EQ(e.url().rfind(external.baseUrl().substr(0, 22), 0), 0u) << e.url();
    external.stop();
}

TEST_F(HostScenarioTest, UnreachableServiceIsRecordedAsUnanswered) {
    // A port nothing listens on: every request fails at the transport level,
    // so the first-launch report is not taken as delivered.
    simulator::LoopbackServer closed;
    ASSERT_TRUE(closed.start());
    options.trilliumUrl = closed.url("/1.3/");
    closed.stop();
    options.homeDir = root + "/home";
    runScenario();
    ASSERT_FALSE(exchanges.empty());
    for (const auto& e : exchanges) {
        EXPECT_EQ(e.entry["status"].integerValue(), 0);
        EXPECT_FALSE(e.entry["error"].stringValue().empty());
    }
    const std::string preferences = "/Library/Preferences/com.paranormal.detector.plist";
    auto defaults = platform::PropertyList::valueWithContentsOfFile(root + "/home" + preferences);
    ASSERT_TRUE(defaults && defaults->isDictionary());
    EXPECT_TRUE((*defaults)["TRAFirstOpenDate"].isNull());
    EXPECT_TRUE(fs::exists(options.outDir + "/sandbox" + preferences));
}
