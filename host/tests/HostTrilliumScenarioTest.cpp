// The host's Trillium scenario end to end against the embedded simulator, on
// the virtual clock, read back from what the run wrote: the return ad loaded
// at launch and shown at the return with its impression, the click report,
// the walk through the redirects to the landing page, the time-out that hands
// the page to the in-app browser, the timeline's callbacks in order and the
// snapshots, each taken while its screen was up and showing what the
// platform draws of it (a page above the layers put beneath its web view's
// scroll view); then the video ad, played to its end; no page script fails.
#include <algorithm>

#include "host/ScenarioRunner.h"
#include "host/tests/HostTestSupport.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/testing/SnapshotComparison.h"

namespace {

using platform::testing::SnapshotComparison;

// Whether the snapshot shows anything: some pixel not fully transparent, and
// more than one colour.
::testing::AssertionResult showsAScreen(const std::string& png) {
    std::vector<uint32_t> pixels = SnapshotComparison::pixels(png);
    if (pixels.empty()) return ::testing::AssertionFailure() << png << " is missing or unreadable";
    if (std::none_of(pixels.begin(), pixels.end(), [](uint32_t p) { return (p >> 24) != 0; }))
        return ::testing::AssertionFailure() << png << " is fully transparent";
    if (std::all_of(pixels.begin(), pixels.end(), [&](uint32_t p) { return p == pixels.front(); }))
        return ::testing::AssertionFailure() << png << " is all one colour, " << std::hex << pixels.front();
    return ::testing::AssertionSuccess();
}

// The number of light pixels (every channel over 0xC0) in the rows [top, bottom).
size_t lightPixelsInRows(const std::string& png, int top, int bottom) {
    std::vector<uint32_t> pixels = SnapshotComparison::pixels(png);
    const size_t width = static_cast<size_t>(std::max(SnapshotComparison::pngWidth(png), 0));
    size_t light = 0;
    for (size_t i = width * static_cast<size_t>(top); i < std::min(pixels.size(), width * static_cast<size_t>(bottom)); ++i)
        light += (pixels[i] & 0xFF) > 0xC0 && ((pixels[i] >> 8) & 0xFF) > 0xC0 && ((pixels[i] >> 16) & 0xFF) > 0xC0;
    return light;
}

class HostTrilliumScenarioTest : public HostTest {
protected:
    // The exchanges to a path that report on one ad (its "d" parameter).
    std::vector<HostTestExchange> ofAd(const std::string& path, const std::string& d) const {
        std::vector<HostTestExchange> list;
        for (const auto& e : of("trillium", path))
            if (e.field("d") == d) list.push_back(e);
        return list;
    }
};

TEST_F(HostTrilliumScenarioTest, TheReturnAdIsShownClickedFollowedAndOpenedInTheBrowser) {
    // The video's checkpoint queue runs a second late, as on a busy machine,
    // while the host's clock follows the real time: each checkpoint counts.
    platform::testing::setDispatchQueueDelay("TRA.V.O1", 1);
    options.scenario = "trillium";
    ScenarioRunner runner(options);
    ASSERT_EQ(runner.run(), 0) << runner.error();
    readOutput(options.outDir);

    std::vector<HostTestExchange> returnAds;
    for (const auto& e : of("trillium", "/1.3/gethtmlad"))
        if (e.field("placement") == "INAPP_RETURN") returnAds.push_back(e);
    ASSERT_GE(returnAds.size(), 2u);  // loaded at launch, again after the click
    EXPECT_LT(returnAds[0].entry["sentAt"].doubleValue(), 30.0);

    auto impressions = ofAd("/1.3/trackimpression", "ret1");
    ASSERT_EQ(impressions.size(), 1u);
    EXPECT_EQ(impressions[0].field("d"), "ret1");
    EXPECT_GE(impressions[0].entry["sentAt"].doubleValue(), 390.0);

    auto clicks = ofAd("/1.3/trackclick", "ret1");
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].field("d"), "ret1");
    EXPECT_EQ(clicks[0].field("displayDuration"), "5.000");
    EXPECT_TRUE(ofAd("/1.3/trackclose", "ret1").empty());  // the ad left by the click

    for (const char* hop : {"/chain/redirects", "/chain/redirects/2", "/chain/redirects/3"})
        EXPECT_EQ(of("trillium", hop).size(), 1u) << hop;
    size_t walkLandings = 0;  // the walk's last hop, then the browser (the banner's and native ads' have a query)
    for (const auto& e : of("trillium", "/landing/offer")) walkLandings += e.url().find('?') == std::string::npos;
    EXPECT_EQ(walkLandings, 2u);
    std::vector<HostTestExchange> walkEvents;  // (category 7 tells of the other ad clients linked)
    for (const auto& e : of("trillium", "/tracking/infoEvent"))
        if (e.field("category") == "3") walkEvents.push_back(e);
    ASSERT_EQ(walkEvents.size(), 1u);
    EXPECT_EQ(walkEvents[0].field("value"), "Timeout");
    EXPECT_EQ(walkEvents[0].field("d"), "ret1");

    long loaded = lineWith("return ad didLoadAd:");
    long shown = lineWith("return ad didShowAd:", loaded);
    long tapped = lineWith("the user taps the ad", shown);
    long clicked = lineWith("return ad didClickAd:", tapped);
    long closed = lineWith("the user closes the in-app browser", clicked);
    EXPECT_GE(loaded, 0);
    EXPECT_GT(shown, loaded);
    EXPECT_GT(tapped, shown);
    EXPECT_GT(clicked, tapped);
    EXPECT_GT(closed, clicked);
    EXPECT_EQ(lineWith("failed"), -1);

    // The video ad: its file fetched once, its impression and every checkpoint
    // of its one playthrough through the recorder, in order, its close on the
    // timeline.
    ASSERT_EQ(of("trillium", "/videos/demo-clip.mp4").size(), 1u);
    EXPECT_EQ(ofAd("/1.3/trackimpression", "imp1").at(0).field("offset"), "0");
    std::vector<std::string> checkpoints;
    for (const auto& e : ofAd("/1.3/trackvideo", "progress")) checkpoints.push_back(e.field("cp").value_or(""));
    std::sort(checkpoints.begin(), checkpoints.end());
    EXPECT_EQ(checkpoints, (std::vector<std::string>{"0", "100", "25", "50", "75"}));
    expectTimelineInOrder({"the user closes the in-app browser", "Trillium video ad: didShowAd:",
                           "snapshot of the playing video ad", "Trillium video ad: didCloseAd:",
                           "the service received the video events: progress cp=0,cp=25,cp=50,cp=75,cp=100"});
}

TEST_F(HostTrilliumScenarioTest, EachSnapshotShowsItsScreenWhileUpAndNoPageScriptFails) {
    options.scenario = "trillium";
    ScenarioRunner runner(options);
    ASSERT_EQ(runner.run(), 0) << runner.error();
    readOutput(options.outDir);

    long scriptError = lineWith("JS exception");
    EXPECT_EQ(scriptError, -1) << timeline.at(static_cast<size_t>(std::max(scriptError, 0L)));
    expectTimelineInOrder({"return ad didShowAd:", "snapshots/return-ad.png", "the user taps the ad",
                           "Trillium video ad: didShowAd:", "snapshots/trillium-video-ad.png",
                           "Trillium video ad: didCloseAd:", "Trillium banner: didDisplayBannerAd:",
                           "snapshots/trillium-banner.png", "the native records are laid out",
                           "snapshots/trillium-native.png"});
    const std::string snapshots = options.outDir + "/snapshots/";
    for (const char* png : {"return-ad.png", "in-app-browser.png", "trillium-video-ad.png", "trillium-banner.png",
                            "trillium-native.png"})
        EXPECT_TRUE(showsAScreen(snapshots + png));
    // The video plays beneath its page (the platform draws the player black),
    // whose light controls lie above it along the top.
    const std::string video = snapshots + "trillium-video-ad.png";
    EXPECT_EQ(SnapshotComparison::pixelAt(video, 320, 568), 0xFF000000u);
    EXPECT_GT(lightPixelsInRows(video, 0, 120), 500u);
    EXPECT_EQ(lightPixelsInRows(video, 120, 1136), 0u);
    // The return ad's page paints its own card over a backdrop that dims the
    // home screen (a clear web view shows whatever the page leaves unpainted).
    const std::string returnAd = snapshots + "return-ad.png";
    EXPECT_EQ(SnapshotComparison::pixelAt(returnAd, 60, 700), 0xFFF5F2EAu);
    EXPECT_NE(SnapshotComparison::pixelAt(returnAd, 2, 1130), 0xFF141A24u);
}

TEST_F(HostTrilliumScenarioTest, TheSplashAskedAtLaunchShowsItsAdThenItsDisplayTimeClosesIt) {
    options.scenario = "trillium";
    options.splashTheme = 4;
    ScenarioRunner runner(options);
    ASSERT_EQ(runner.run(), 0) << runner.error();
    readOutput(options.outDir);

    // The splash request, with the application's template options as integers.
    std::vector<HostTestExchange> splashAds;
    for (const auto& e : of("trillium", "/1.3/gethtmlad"))
        if (e.field("placement") == "INAPP_SPLASH") splashAds.push_back(e);
    ASSERT_EQ(splashAds.size(), 1u);
    EXPECT_EQ(splashAds[0].field("adType"), "5");
    EXPECT_EQ(splashAds[0].field("splashMode"), "2");
    EXPECT_EQ(splashAds[0].field("splashTemplateTheme"), "4");
    EXPECT_EQ(splashAds[0].field("splashMinTime"), "5");
    EXPECT_EQ(splashAds[0].field("splashAdDisplayTime"), "10");
    EXPECT_LT(splashAds[0].entry["sentAt"].doubleValue(), 1.0);
    // Shown at the minimum time, with its impression.
    auto impressions = ofAd("/1.3/trackimpression", "spl1");
    ASSERT_EQ(impressions.size(), 1u);
    EXPECT_NEAR(impressions[0].entry["sentAt"].doubleValue(), 5.0, 1.0);

    expectTimelineInOrder({"showSplashAdWithDelegate:withPreferences: (template, theme 4", "splash ad didLoadAd:",
                           "snapshots/splash.png", "splash ad didShowAd:", "snapshots/trillium-splash-ad.png",
                           "splash ad didCloseAd:", "the user leaves the application"});
    EXPECT_EQ(lineWith("failed"), -1);

    // The themed splash screen: Gloomy's plain colour in a corner.
    std::string png = options.outDir + "/snapshots/splash.png";
    uint32_t corner = platform::testing::SnapshotComparison::pixelAt(png, 2, 2);
    EXPECT_EQ(corner & 0xFFFFFF, 0x2F353Fu) << std::hex << corner;
    // Then the splash ad's page, over the whole screen: its backdrop and its card.
    png = options.outDir + "/snapshots/trillium-splash-ad.png";
    EXPECT_TRUE(showsAScreen(png));
    EXPECT_EQ(SnapshotComparison::pixelAt(png, 2, 2), 0xFF131C2Bu);
    EXPECT_EQ(SnapshotComparison::pixelAt(png, 60, 700), 0xFFF5F2EAu);
}

}  // namespace
