// The video screen's tracking on a real player of a 40 s test file on the
// virtual clock: checkpoints measured on "TRA.V.O1" and handled on the main
// thread (each once per playthrough, again after a replay), the one-percent
// window, the reward once across its observer and the close, impressions in
// their shown and not-shown forms, and the failure report. The events reach
// the Trillium service on loopback and are checked as they arrived. Run under
// ThreadSanitizer too.
#include "Trillium/TRAAnalytics.h"
#include "Trillium/display/TRAVideoTracking.h"
#include "Trillium/display/tests/TrilliumVideoTestSupport.h"
#include "platform/media/AVAsset.h"
#include "platform/media/TestMp4.h"

using simulator::TrilliumService;
using simulator::TrilliumVideoAd;

namespace {

class TRAVideoTrackingTestDelegate : public NSObject, public TRAViewControllerDelegate {
public:
    void didShowAd() override {}
    void failedDisplayAd(const Ref<NSError>&) override {}
    void willCloseAd() override {}
    void didCloseAdWithClick(bool) override {}
    void allowAutoRotate() override {}
    void didCompleteVideo() override { ++completions; }
    int completions = 0;
};

}  // namespace

class TRAVideoTrackingTest : public TrilliumVideoTest {
protected:
    void SetUp() override {
        TrilliumVideoTest::SetUp();
        ad = NSObject::alloc<TRAHtmlAd>()->init();
        ad->setVideoPref(TRAAdVideoPreferences::preferencesWithJsonString(videos.videoJson(TrilliumVideoAd{})));
        ad->setTrackingUrl(std::vector<std::string>{service.trackingUrl(TrilliumService::kImpressionPath, "imp1"),
                                                    service.trackingUrl(TrilliumService::kImpressionPath, "imp2")});
        ad->setClickTrackingUrl(std::vector<std::string>{service.trackingUrl(TrilliumService::kClickPath, "click1")});
        ad->setOffset(0);
        delegate = NSObject::alloc<TRAVideoTrackingTestDelegate>();
        tracking = NSObject::alloc<TRAVideoTracking>()->initWithAd(ad, delegate, std::string("menu"));
    }

    // A player of a 40 s file, ready to play.
    void makePlayer() {
        std::string path = home() + "/clip.mp4";
        ASSERT_TRUE(platform::testing::writeTestMp4(path, 40, 600, CGSize{320, 180}, true));
        auto item = AVPlayerItem::playerItemWithAsset(AVAsset::assetWithURL(NSURL::fileURLWithPath(path)));
        player = AVPlayer::playerWithPlayerItem(item);
        ASSERT_TRUE(waitFor([&] { return item->status() == AVPlayerItemStatusReadyToPlay; }));
        tracking->setPlayer(player);
    }
    // Plays on the virtual clock in small steps, letting the observer queues
    // and the event requests finish after each.
    void playFor(double seconds) {
        player->play();
        for (double t = 0; t < seconds; t += 0.5) {
            driver().advance(0.5);
            ASSERT_TRUE(driver().settle(5));
        }
    }
    // The event's targets without their signature, sorted: events sent side
    // by side may arrive in any order.
    std::vector<std::string> targets(const std::string& event) {
        std::vector<std::string> list;
        for (const auto& r : videos.events(event)) {
            const std::string& target = r.request.target;
            list.push_back(target.substr(0, target.find("&ts=")));
        }
        std::sort(list.begin(), list.end());
        return list;
    }
    static std::string videoEvent(const std::string& d, const std::string& rest) {
        return std::string(TrilliumService::kVideoEventPath) + "?d=" + d + rest;
    }

    Ref<TRAHtmlAd> ad;
    Ref<TRAVideoTrackingTestDelegate> delegate;
    Ref<TRAVideoTracking> tracking;
    Ref<AVPlayer> player;
};

TEST_F(TRAVideoTrackingTest, FiveCheckpointsOncePerPlaythroughAndAgainAfterAReplay) {
    makePlayer();
    tracking->activePlayerBoundryObserver();
    playFor(41);
    tracking->removeBoundryObserver();
    ad->setOffset(1);
    tracking->clearMilestones();
    tracking->activePlayerBoundryObserver();
    player->seekToTime(kCMTimeZero);
    playFor(41);
    tracking->removeBoundryObserver();
    ASSERT_TRUE(driver().settle(5));

    std::vector<std::string> expected;
    for (int offset : {0, 1})
        for (int cp : {0, 25, 50, 75, 100})
            expected.push_back(videoEvent("progress", "&cp=" + std::to_string(cp) + "&offset=" + std::to_string(offset)));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(targets("progress"), expected);
    for (const auto& r : videos.events("progress")) EXPECT_TRUE(TrilliumService::signatureMatches(r, kTestDevId, kTestAppId));
    EXPECT_TRUE(tracking->progressTempArray().empty());
}

TEST_F(TRAVideoTrackingTest, ACheckpointIsSentWithinOnePercentOnly) {
    tracking->activePlayerBoundryObserver();  // no player: the list only
    tracking->checkpointCrossed(10.8, 40);    // 27 %
    EXPECT_EQ(tracking->progressTempArray(), (std::vector<int32_t>{0, 25, 50, 75, 100}));
    tracking->checkpointCrossed(10.4, 40);    // 26 %: checkpoint 25
    tracking->checkpointCrossed(10.0, 40);    // 25 again: no longer listed
    EXPECT_EQ(tracking->progressTempArray(), (std::vector<int32_t>{0, 50, 75, 100}));
    tracking->checkpointCrossed(5, 0);        // no duration: 0 %
    EXPECT_EQ(tracking->progressTempArray(), (std::vector<int32_t>{50, 75, 100}));
    ASSERT_TRUE(driver().settle(5));
    EXPECT_EQ(targets("progress"), (std::vector<std::string>{videoEvent("progress", "&cp=0&offset=0"),
                                                             videoEvent("progress", "&cp=25&offset=0")}));
}

TEST_F(TRAVideoTrackingTest, TheRewardIsGrantedOnceAcrossItsObserverAndTheClose) {
    ad->setIsRewardedVideo(true);
    makePlayer();
    tracking->activePlayerRewardedObserver();
    playFor(41);
    tracking->removeRewardedObserver();
    tracking->grantRewardOnClose();
    ASSERT_TRUE(driver().settle(5));
    EXPECT_EQ(delegate->completions, 1);
    EXPECT_EQ(targets("rewarded"), std::vector<std::string>{videoEvent("rewarded", "&cp=100&offset=0")});
}

TEST_F(TRAVideoTrackingTest, TheCloseGrantsAnUncrossedRewardWithoutAnEvent) {
    tracking->grantRewardOnClose();  // not rewarded: nothing
    EXPECT_EQ(delegate->completions, 0);
    ad->setIsRewardedVideo(true);
    makePlayer();
    tracking->activePlayerRewardedObserver();
    playFor(10);
    tracking->stop();
    tracking->grantRewardOnClose();
    tracking->grantRewardOnClose();
    ASSERT_TRUE(driver().settle(5));
    EXPECT_EQ(delegate->completions, 1);
    EXPECT_TRUE(targets("rewarded").empty());
}

TEST_F(TRAVideoTrackingTest, AStoppedTrackingHandlesNoCrossingMeasuredBefore) {
    makePlayer();
    tracking->activePlayerBoundryObserver();
    player->play();
    driver().advance(10.5);  // crosses 0.01 s and 10 s; the measurements may still be on their way
    tracking->stop();
    ASSERT_TRUE(driver().settle(5));
    driver().advance(31);
    ASSERT_TRUE(driver().settle(5));
    EXPECT_LE(targets("progress").size(), 2u);
    EXPECT_FALSE(tracking->hasBoundryObserver());
}

TEST_F(TRAVideoTrackingTest, ImpressionsGoOutOnceInEachForm) {
    tracking->sendImpressionWithNonImpression(false);
    tracking->sendImpressionWithNonImpression(false);
    tracking->sendImpressionWithNonImpression(true);
    tracking->sendImpressionWithNonImpression(true);
    ASSERT_TRUE(driver().settle(5));
    auto impressions = service.requestsTo(TrilliumService::kImpressionPath);
    ASSERT_EQ(impressions.size(), 4u);
    std::string path = TrilliumService::kImpressionPath;
    std::vector<std::string> expected = {
        path + "?d=imp1&adTag=menu&offset=0&clientSessionId=",
        path + "?d=imp2&adTag=menu&offset=0&clientSessionId=",
        path + "?d=imp1&adTag=menu&offset=0&isShown=false&reason=VIDEO_ERROR_MISSING_ASSETS&clientSessionId=",
        path + "?d=imp2&adTag=menu&offset=0&isShown=false&reason=VIDEO_ERROR_MISSING_ASSETS&clientSessionId=",
    };
    // Sent side by side: they may arrive in any order.
    std::vector<std::string> arrived;
    for (size_t i = 0; i < 4; ++i) {
        const std::string& target = impressions[i].request.target;
        arrived.push_back(target.substr(0, target.find("&clientSessionId=") + 17));
    }
    std::sort(arrived.begin(), arrived.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(arrived, expected);
}

TEST_F(TRAVideoTrackingTest, AFailureIsReportedAsCategoryTenWithTheChosenDParameters) {
    tracking->sendFailureReport("Video asset is nil", "Load Video");
    NSUserDefaults::standardUserDefaults()->setObject(Value(int64_t{1}), "TRADisableTwoClicks");
    tracking->sendFailureReport("second", "v2");
    ad->setTrackingUrl(std::vector<std::string>{});
    tracking->sendFailureReport("third", "v3");
    ASSERT_TRUE(waitForRequests(TrilliumService::kAnalyticsPath, 3));
    auto reports = service.requestsTo(TrilliumService::kAnalyticsPath);
    ASSERT_EQ(reports.size(), 3u);
    std::sort(reports.begin(), reports.end(), [](const auto& a, const auto& b) {
        return a.field("value") < b.field("value");  // "Load Video", "v2", "v3"
    });
    EXPECT_EQ(reports[0].field("category"), "10");
    EXPECT_EQ(reports[0].field("details"), "Video asset is nil");
    EXPECT_EQ(reports[0].field("value"), "Load Video");
    EXPECT_EQ(reports[0].field("d"), "click1");
    EXPECT_EQ(reports[1].field("d"), "imp1");
    EXPECT_EQ(reports[2].field("d"), std::nullopt);
}
