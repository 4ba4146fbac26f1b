// The Halcyon scenario's full-screen ads end to end on the virtual clock: the
// interstitial dialog closed by its button, the video interstitial closed
// once its button shows, the rewarded video with its prompt, validation,
// confirmation and report. Checked through what the run wrote: the timeline
// (every callback and alert, in order), the recorded traffic (the "vr" and
// "cr" requests, which went over https through the recorder, decoded; the
// completion postbacks) and the decoded PNG snapshots.
#include "host/ScenarioRunner.h"
#include "host/tests/HostTestSupport.h"
#include "platform/testing/SnapshotComparison.h"

namespace {

using platform::testing::SnapshotComparison;

class HostHalcyonDisplayTest : public HostTest {
protected:
    Value jsonFile(const std::string& name) {
        auto parsed = NSJSONSerialization::JSONObjectWithData(
            NSData::dataWithString(readFile(options.outDir + "/traffic/" + name)));
        return parsed ? *parsed : Value();
    }
    // Pixels of a snapshot (2 px per point) in a rectangle of points that are
    // nearly white, and that are not black.
    struct HostSnapshotCounts {
        int white = 0;
        int lit = 0;
    };
    HostSnapshotCounts count(const std::string& png, int x, int y, int width, int height) {
        HostSnapshotCounts counts;
        const int stride = SnapshotComparison::pngWidth(png);
        const std::vector<uint32_t> pixels = SnapshotComparison::pixels(png);
        for (int py = 2 * y; py < 2 * (y + height); ++py)
            for (int px = 2 * x; px < 2 * (x + width); ++px) {
                const uint32_t p = pixels.at(size_t(py * stride + px));
                const int r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
                counts.white += r > 0xc0 && g > 0xc0 && b > 0xc0;
                counts.lit += r + g + b > 0x30;
            }
        return counts;
    }
};

TEST_F(HostHalcyonDisplayTest, TheApplicationShowsAnInterstitialAVideoAndARewardedVideo) {
    options.scenario = "halcyon";
    ScenarioRunner runner(options);
    ASSERT_EQ(runner.run(), 0) << runner.error();
    readOutput(options.outDir);

    expectTimelineInOrder({
        "HLInterstitialAd showOver:placement: level-start",
        "interstitial ad:wasDisplayedIn: Halcyon Ad #",
        "snapshots/halcyon-interstitial-dialog.png",
        "taps the close button of the interstitial",
        "interstitial ad:wasHiddenIn: Halcyon Ad #",
        "HLInterstitialAd showOver:placement: level-end",
        "interstitial videoPlaybackBeganInAd: Halcyon Ad #",
        "snapshots/halcyon-video.png",
        "taps the close button of the video interstitial",
        "atPlaybackPercent: 40 fullyWatched: NO",
        "interstitial ad:wasHiddenIn: Halcyon Ad #",
        "rewarded adService:didLoadAd: Halcyon Ad #",
        "\"Earn a Reward\": \"Would you like to watch a video for a reward?\" [No Thanks | Watch Now]",
        "taps \"Watch Now\"",
        "rewarded videoPlaybackBeganInAd: Halcyon Ad #",
        "halcyon reward validation: POST /api/vr",
        "didSucceedWithResponse: {\"ghost_points\":50}",
        "atPlaybackPercent: 100 fullyWatched: YES",
        "snapshots/halcyon-poststitial.png",
        "taps the close button of the rewarded video",
        "rewarded ad:wasHiddenIn: Halcyon Ad #",
        "\"Video Reward\": \"You have earned a reward!\" [Okay]",
        "taps \"Okay\"",
        "UIApplicationWillTerminateNotification",
    });
    // The first interstitial shown is not the one the application loaded: the next line says why.
    const long shown = lineWith("interstitial adService:didLoadAd: Halcyon Ad #");
    ASSERT_GT(shown, lineWith("interstitial loaded: Halcyon Ad #"));
    EXPECT_EQ(lineWith("expected: another ad than the application's interstitial load got", shown), shown + 1);
    // The completion postback leaves for the network as the video ends, before
    // its screen reports hidden on the main thread: the recorder sees it on its
    // own thread, on either side of that line, but before the rewarded part.
    const long ended = lineWith("atPlaybackPercent: 40 fullyWatched: NO");
    const long postback = lineWith("halcyon postback: GET /postback/video_end?clcode=cl-1&p=level-end&pv=40&in_prog=false");
    EXPECT_GT(postback, ended);
    EXPECT_LT(postback, lineWith("rewarded adService:didLoadAd: Halcyon Ad #"));
    // Nothing fails but the refused first device submission and the refused
    // end postback of the rewarded video, which the client's log says.
    for (const std::string& line : timeline) {
        if (line.find("ailed") == std::string::npos) continue;
        EXPECT_TRUE(line.find("/api/device") != std::string::npos || line.find("p=bonus-scan") != std::string::npos)
            << line;
    }
    bool dispatchFailed = false;
    for (const std::string& line : clientLog) {
        if (line.find("failed") == std::string::npos) continue;
        EXPECT_NE(line.find("p=bonus-scan"), std::string::npos) << line;
        dispatchFailed = true;
    }
    EXPECT_TRUE(dispatchFailed);
    EXPECT_GE(lineWith("halcyon service also over https through https://127.0.0.1:"), 0);

    // "vr" and "cr" went over https to the recorder, which recorded them.
    auto vr = of("halcyon", "/api/vr");
    ASSERT_EQ(vr.size(), 1u);
    EXPECT_EQ(vr[0].status(), 200);
    EXPECT_EQ(vr[0].entry["purpose"].stringValue(), "reward validation");
    EXPECT_EQ(vr[0].field("device_token"), "hl-token-1");
    EXPECT_EQ(jsonFile(vr[0].entry["requestBody"].stringValue()),
              Value::dictionary({{"clcode", "cl-1"}, {"user_id", "ghost-hunter-42"}}));
    auto cr = of("halcyon", "/api/cr");
    ASSERT_EQ(cr.size(), 1u);
    EXPECT_EQ(cr[0].entry["purpose"].stringValue(), "reward report");
    EXPECT_EQ(jsonFile(cr[0].entry["requestBody"].stringValue()),
              Value::dictionary({{"clcode", "cl-1"},
                                 {"user_id", "ghost-hunter-42"},
                                 {"result", "accepted"},
                                 {"params", Value::dictionary({{"ghost_points", 50}})}}));
    // The rewarded video's end is refused at each of its five tries (the
    // next run on a kept home sends it again).
    auto ends = of("halcyon", "/postback/video_end");
    ASSERT_EQ(ends.size(), 6u);
    EXPECT_EQ(ends[0].field("pv"), "40");
    EXPECT_EQ(ends[0].status(), 200);
    for (size_t i = 1; i < ends.size(); ++i) {
        EXPECT_EQ(ends[i].field("pv"), "100");
        EXPECT_EQ(ends[i].field("p"), "bonus-scan");
        EXPECT_EQ(ends[i].status(), 503);
    }

    // The screens: the dialog's close button over its ad page; the video's
    // clock (9 s left) and close button; the poststitial's close button over
    // the ad page again, without the clock.
    const std::string folder = options.outDir + "/snapshots/";
    const std::string dialog = folder + "halcyon-interstitial-dialog.png";
    const std::string video = folder + "halcyon-video.png";
    const std::string poststitial = folder + "halcyon-poststitial.png";
    for (const std::string& png : {dialog, video, poststitial}) {
        EXPECT_EQ(SnapshotComparison::pngWidth(png), 640) << png;
        EXPECT_EQ(SnapshotComparison::pngHeight(png), 1136) << png;
    }
    EXPECT_GT(count(dialog, 265, 5, 50, 50).white, 50);
    EXPECT_GT(count(video, 265, 5, 50, 50).white, 50);
    EXPECT_GT(count(video, 5, 533, 30, 30).lit, 50);
    EXPECT_EQ(count(video, 40, 100, 240, 300).lit, 0);
    EXPECT_GT(count(poststitial, 265, 5, 50, 50).white, 50);
    // The page: its card on the background of its linked style sheet, which
    // is all there is where the clock was.
    for (const std::string& png : {dialog, poststitial}) {
        EXPECT_EQ(SnapshotComparison::pixelAt(png, 320, 200), 0xFFF2EFE6u) << png;
        EXPECT_EQ(SnapshotComparison::pixelAt(png, 320, 1000), 0xFF204060u) << png;
    }
    EXPECT_EQ(count(poststitial, 5, 533, 30, 30).white, 0);
    EXPECT_EQ(SnapshotComparison::pixelAt(poststitial, 40, 1096), 0xFF204060u);
}

}  // namespace
