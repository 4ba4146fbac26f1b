// The host's Tamarind scenario end to end on the virtual clock, read back
// from its recorded traffic, its timeline and its snapshots: a modal
// interstitial loaded, presented with its creative calling MRAID, and closed
// with the native button; a modeless one presented and hidden.
#include "host/ScenarioRunner.h"
#include "host/tests/HostTestSupport.h"
#include "platform/testing/SnapshotComparison.h"
#include "simulator/TamarindService.h"

namespace {

class HostTamarindScenarioTest : public HostTest {};

using platform::testing::SnapshotComparison;

// Whether a snapshot (2 pixels a point) shows nothing but the page's
// background in the top right corner, from 254 points on and 8 to 58 points
// down, where the native close button's 50-point area lies; `butTheButton`
// leaves out the button's own square.
bool cornerIsBackground(const std::string& png, bool butTheButton) {
    const std::vector<uint32_t> pixels = SnapshotComparison::pixels(png);
    const int width = SnapshotComparison::pngWidth(png);
    if (width != 640 || pixels.size() < 640u * 1136u) return false;
    const uint32_t background = pixels[1100 * width + 630];
    for (int y = 16; y < 116; ++y)
        for (int x = 508; x < 640; ++x)
            if (!(butTheButton && x >= 524 && x < 624) && pixels[y * width + x] != background) return false;
    return true;
}

}  // namespace

TEST_F(HostTamarindScenarioTest, TwoInterstitialsLoadShowAndReportAgainstTheService) {
    options.scenario = "tamarind";
    options.tamarindKey = "tm-e2e-key";
    ScenarioRunner runner(options);
    ASSERT_EQ(runner.run(), 0) << runner.error();
    readOutput(options.outDir);

    auto config = of("tamarind", "/msdk/getConfig");
    ASSERT_EQ(config.size(), 1u);
    EXPECT_EQ(config[0].field("appId"), "tm-e2e-key");
    EXPECT_EQ(config[0].entry["purpose"].stringValue(), "configuration");
    auto ads = of("tamarind", "/msdk/getAd");
    ASSERT_EQ(ads.size(), 2u);
    for (const auto& ad : ads) {
        EXPECT_EQ(ad.status(), 200);
        std::string body = readFile(options.outDir + "/traffic/" + ad.entry["requestBody"].stringValue());
        EXPECT_EQ(body.rfind(R"({"appId":"tm-e2e-key","sdkVersion":"tamarindAdSDK-ios-2.2.15",)"
                             R"("size":"interstitial","slotId":"paranormal-sightings",)",
                             0),
                  0u)
            << body;
    }
    EXPECT_EQ(of("tamarind", "/api3/generate_did").size(), 1u);
    EXPECT_EQ(of("tamarind", "/api3/register_event").size(), 1u);
    EXPECT_EQ(of("tamarind", "/scripts/viewability.js").size(), 1u);
    EXPECT_EQ(of("tamarind", "/pixel/impression/modal-1").size(), 1u);
    EXPECT_EQ(of("tamarind", "/pixel/impression/modeless-1").size(), 1u);
    EXPECT_EQ(of("tamarind", "/metric/MobileAdsiOSSDK_:ATSEnabled_LoadAd_tamarindAdSDK-ios-2.2.15").size(), 2u);
    bool modalShown = false, modelessShown = false;
    for (const auto& pixel : of("tamarind")) {
        EXPECT_EQ(pixel.status(), 200) << pixel.url();
        EXPECT_FALSE(pixel.entry["purpose"].stringValue().empty()) << pixel.url();
        modalShown |= pixel.path() == "/pixel/instrumentation/modal-1" && pixel.field("i_sd") == "3000";
        modelessShown |= pixel.path() == "/pixel/instrumentation/modeless-1" && pixel.field("mi_sd") == "3000";
    }
    EXPECT_TRUE(modalShown);
    EXPECT_TRUE(modelessShown);
    EXPECT_TRUE(of("trillium").empty());
    EXPECT_TRUE(of("halcyon").empty());

    expectTimelineInOrder({"TamarindAdRegistration setApplicationId: tm-e2e-key",
                           "modal loadWithOptions:size:forAd:",
                           "creative: scripts run: state loading, placement interstitial",
                           "modal controllerDidLoadAd",
                           "creative: mraid stateChange [\"default\"]",
                           "creative: mraid ready []",
                           "TamarindAd [Error]: MRAID log: error: Unable to expand an intersitial ad placement",
                           "expected: the scenario's creative asks MRAID to expand",
                           "creative: mraid error [\"Unable to expand an intersitial ad placement\",\"expand\"]",
                           "modal isReady: YES",
                           "modal controllerWillPresentAd",
                           "modal controllerDidPresentAd",
                           "tamarind impression pixel: GET /pixel/impression/modal-1",
                           "creative: mraid viewableChange [true]",
                           "snapshots/tamarind-modal-interstitial.png",
                           "the user taps the close button",
                           "modal controllerWillDismissAd",
                           "modal controllerDidDismissAd",
                           "modeless controllerDidLoadAd",
                           "modeless onPresented: YES",
                           "tamarind impression pixel: GET /pixel/impression/modeless-1",
                           "snapshots/tamarind-modeless-interstitial.png",
                           "modeless onHidden",
                           "UIApplicationWillTerminateNotification"});
    // The client's info lines are in the client log alone.
    EXPECT_TRUE(loggedByAClient("info     TamarindAd [Info]: Configuration loaded."));
    EXPECT_EQ(lineWith("[Info]"), -1);
    // The creatives' pages, their headings clear of the native close button's corner.
    const std::string modal = options.outDir + "/snapshots/tamarind-modal-interstitial.png";
    const std::string modeless = options.outDir + "/snapshots/tamarind-modeless-interstitial.png";
    EXPECT_TRUE(SnapshotComparison::matchesReference(modal, "host/tests/data/tamarind-modal-interstitial.png"));
    EXPECT_TRUE(SnapshotComparison::matchesReference(modeless, "host/tests/data/tamarind-modeless-interstitial.png"));
    EXPECT_TRUE(cornerIsBackground(modal, true));
    EXPECT_TRUE(cornerIsBackground(modeless, false));
}

TEST_F(HostTamarindScenarioTest, ATamarindServiceGivenByUrlIsRecordedLikeTheOthers) {
    simulator::TamarindService external;
    ASSERT_TRUE(external.start());
    options.scenario = "tamarind";
    options.tamarindUrl = external.url("/");
    ScenarioRunner runner(options);
    ASSERT_EQ(runner.run(), 0) << runner.error();
    readOutput(options.outDir);
    ASSERT_EQ(of("tamarind", "/msdk/getConfig").size(), 1u);
    EXPECT_EQ(external.server().requestCount(), of("tamarind").size());
    for (const auto& e : of("tamarind")) EXPECT_EQ(e.serviceUrl().rfind(external.url("/"), 0), 0u) << e.serviceUrl();
    EXPECT_GE(lineWith("tamarind service: " + external.url("/") + " (given)"), 0);
    external.stop();
}

TEST_F(HostTamarindScenarioTest, TheHostsAGivenServicesConfigurationNamesAreRecordedToo) {
    // The configuration service names another for everything else: the ad
    // server, the identity service, the pixels and the viewability script.
    simulator::TamarindService external, named;
    ASSERT_TRUE(external.start());
    ASSERT_TRUE(named.start());
    external.setConfig(named.defaultConfig());
    options.scenario = "tamarind";
    options.tamarindUrl = external.url("/");
    ScenarioRunner runner(options);
    ASSERT_EQ(runner.run(), 0) << runner.error();
    readOutput(options.outDir);

    ASSERT_EQ(external.server().requestCount(), 1u);
    ASSERT_GE(named.server().requestCount(), 8u);
    EXPECT_EQ(of("tamarind").size(), external.server().requestCount() + named.server().requestCount());
    EXPECT_EQ(of("tamarind", "/msdk/getAd").size(), 2u);
    for (const auto& e : of("tamarind")) {
        if (e.path() == "/msdk/getConfig") continue;
        EXPECT_EQ(e.serviceUrl().rfind(named.url("/"), 0), 0u) << e.serviceUrl();
        EXPECT_EQ(e.status(), 200) << e.url();
    }
    EXPECT_GE(lineWith("the tamarind service names " + named.url("") + ": reached through "), 0);
    EXPECT_GE(lineWith("modal controllerDidPresentAd"), 0);
    external.stop();
    named.stop();
}
