// The banner and native part of the host's Trillium scenario end to end
// against the embedded simulator, on the virtual clock, read back from the
// recorded traffic and the timeline: the banner requests with their fields
// (the last one after the turn to landscape), one impression per page, the
// tap's click report and landing page, the native request's fields, the
// images with the missing one, the tagged impression and the click, and the
// callbacks in order.
#include <algorithm>

#include "host/ScenarioRunner.h"
#include "host/tests/HostTestSupport.h"

namespace {

class HostTrilliumBannerTest : public HostTest {};

TEST_F(HostTrilliumBannerTest, TheBannerRefreshesIsTappedAndTurnedAndNativeAdsAreReadShownAndTapped) {
    options.scenario = "trillium";
    ScenarioRunner runner(options);
    ASSERT_EQ(runner.run(), 0) << runner.error();
    readOutput(options.outDir);

    std::vector<HostTestExchange> banners;
    for (const auto& e : of("trillium", "/1.3/gethtmlad"))
        if (e.field("placement") == "INAPP_BANNER") banners.push_back(e);
    // The first load, two refreshes, none while the browser is up, one in landscape.
    ASSERT_EQ(banners.size(), 4u);
    EXPECT_EQ(banners[0].entry["purpose"].stringValue(), "banner ad");
    EXPECT_EQ(banners[0].field("devBannerSize"), "TRA_PortraitAdSize_320x50");
    EXPECT_EQ(banners[0].field("devBannerOrigin"), "TRAAdOrigin_Bottom");
    EXPECT_EQ(banners[0].field("width"), "320");
    EXPECT_EQ(banners[0].field("height"), "50");
    // 30 s apart on the client's clock (the recorder's, which takes the
    // request when it arrives, moves on while a stopped process sends it).
    EXPECT_EQ(std::stoi(banners[1].field("timeSinceSessionStart").value_or("0")) -
                  std::stoi(banners[0].field("timeSinceSessionStart").value_or("0")),
              30);
    EXPECT_EQ(banners[3].field("width"), "50");  // the fixed size turns with the screen
    EXPECT_EQ(banners[3].field("height"), "320");

    // The banner's and the native ads' own (the full-screen ads' come before).
    auto ours = [](const std::string& d) { return d.rfind("bimp", 0) == 0 || d.rfind("bclick", 0) == 0 || d.rfind("native", 0) == 0; };
    std::vector<std::string> impressions;
    for (const auto& e : of("trillium", "/1.3/trackimpression"))
        if (ours(e.field("d").value_or(""))) impressions.push_back(*e.field("d") + "/" + e.field("adTag").value_or(""));
    EXPECT_EQ(impressions, (std::vector<std::string>{"bimp1/", "bimp2/", "bimp3/", "bimp1/", "native1/scan_results"}));
    std::vector<std::string> clicks;
    for (const auto& e : of("trillium", "/1.3/trackclick"))
        if (ours(e.field("d").value_or(""))) clicks.push_back(*e.field("d"));
    EXPECT_EQ(clicks, (std::vector<std::string>{"bclick3", "native1"}));

    auto native = of("trillium", "/1.3/getads");
    ASSERT_EQ(native.size(), 1u);
    EXPECT_EQ(native[0].field("placement"), "INAPP_NATIVE");
    EXPECT_EQ(native[0].field("adsNumber"), "3");
    EXPECT_EQ(native[0].field("bitmapSize"), "1");
    EXPECT_EQ(native[0].field("width"), "100");
    std::vector<int> imageStatuses;
    for (const auto& e : of("trillium"))
        if (e.path().rfind("/native/images/", 0) == 0) imageStatuses.push_back(e.status());
    std::sort(imageStatuses.begin(), imageStatuses.end());
    EXPECT_EQ(imageStatuses, (std::vector<int>{200, 200, 200, 200, 404}));

    long display = lineWith("Trillium banner: didDisplayBannerAd:");
    long tap = lineWith("the user taps the banner", display);
    long clicked = lineWith("Trillium banner: didClickBannerAd:", tap);
    long landing = lineWith("the in-app browser shows", clicked);
    long turned = lineWith("the user turns the device", landing);
    long loaded = lineWith("Trillium native ad: didLoadAd:", turned);
    long record = lineWith("native record native1: \"Ghost Radar Plus\", rating 3.5, Install; images 72x72 and 340x180", loaded);
    long nativeTap = lineWith("the user taps the native record", record);
    EXPECT_GE(display, 0);
    EXPECT_GT(tap, display);
    EXPECT_GT(clicked, tap);
    EXPECT_GT(landing, clicked);
    EXPECT_GT(turned, landing);
    EXPECT_GT(loaded, turned);
    EXPECT_GT(record, loaded);
    EXPECT_GT(nativeTap, record);
    EXPECT_EQ(lineWith("failed"), -1);
}

}  // namespace
