// The full-screen video controllers, both classes (slot 134 picks one), shown
// through the shared interstitial against the Halcyon service on loopback
// with its generated 15 s clip, on the virtual clock: the order of what the
// application hears, the fully-watched threshold and the completion
// postback's percent, one report whatever dismisses the ad, stalls, broken
// videos and the failsafe, zero-length and audio-only clips, unusable mute
// images, the background, a sheet over the controller, the countdown per
// class, an ad without video, and the ad's long delays after a dismissal.
#include "halcyon/display/HLCircularCountdownView.h"
#include "halcyon/display/HLCloseButton.h"
#include "halcyon/display/HLHtmlAdView.h"
#include "halcyon/display/tests/HLVideoTestSupport.h"
#include "platform/foundation/NSError.h"
#include "platform/media/TestMp4.h"
#include "platform/store/SKStoreProductViewController.h"
#include "platform/ui/UIApplication.h"

namespace {

class HLVideoControllerTest : public HLVideoTest, public ::testing::WithParamInterface<bool> {
protected:
    bool autoLayout() const { return GetParam(); }
    Ref<HLVideoViewController> presentPlaying(const Ref<HLAd>& ad) {
        auto controller = present(ad, autoLayout());
        EXPECT_TRUE(controller);
        if (controller) untilPlaying(controller);
        return controller;
    }
    void tap(const Ref<UIView>& view) {
        ASSERT_TRUE(view);
        window()->simulateTap(view);
        driver().advance(0.5);
    }
};

TEST_P(HLVideoControllerTest, ACloseBeforeTheEndReportsInOrderWithThePostbackBeforeTheHide) {
    service.script(simulator::HalcyonService::postbackPath("video_end"), {simulator::Answer::stall()});
    events->onHidden = [this] { return "queued " + std::to_string(queuedPostbacks()); };
    auto controller = presentPlaying(videoAd(7));
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->className(), autoLayout() ? "HLAutoLayoutVideoViewController" : "HLFrameVideoViewController");
    driver().advance(2);
    seek(controller, 3);
    tap(controller->closeButton());
    // Only the persisted queue holds the postback when the view goes.
    const std::string hidden = autoLayout() ? "hidden 7 queued 1" : "hidden 7 queued 0";
    EXPECT_EQ(events->lines, (std::vector<std::string>{"displayed 7", "began 7", "ended 7 20 partial", hidden}));
    ASSERT_TRUE(service.server().waitForStalled(1, 5));
    service.server().releaseStalled();
    EXPECT_EQ(completionPercents(), std::vector<std::string>{"20"});
    EXPECT_TRUE(events->onlyMainThread);
}

TEST_P(HLVideoControllerTest, AVideoPlayedToTheEndReportsItOnceAndTheCloseOnlyHides) {
    auto controller = presentPlaying(videoAd(8));
    driver().advance(16);
    EXPECT_TRUE(controller->wasPlayedToEnd());
    EXPECT_TRUE(controller->wasPoststitialShown());
    EXPECT_EQ(completionPercents(), std::vector<std::string>{"100"});
    tap(controller->closeButton());
    EXPECT_EQ(events->lines, (std::vector<std::string>{"displayed 8", "began 8", "ended 8 100 full", "hidden 8"}));
    EXPECT_EQ(completionPercents(), std::vector<std::string>{"100"});
}

TEST_P(HLVideoControllerTest, FullyWatchedNeedsTheIntegerPercentAbove94) {
    for (double seconds : {14.235, 14.295}) {  // 94.9 % and 95.3 % of 15 s
        auto controller = presentPlaying(videoAd(9));
        seek(controller, seconds);
        controller->dismiss();
        driver().advance(1);
    }
    EXPECT_EQ(events->lines[2], "ended 9 94.9 partial");
    EXPECT_EQ(events->lines[6], "ended 9 95.3 full");
    EXPECT_EQ(completionPercents(), (std::vector<std::string>{"94", "95"}));
}

TEST_P(HLVideoControllerTest, EveryDismissalRouteReportsTheEndOnce) {
    setSlot(81, Value(20));
    setSlot(33, Value(true));
    auto once = [&](const std::string& route, const std::function<void(const Ref<HLVideoViewController>&)>& go) {
        SCOPED_TRACE(route);
        events->lines.clear();
        auto controller = presentPlaying(videoAd(10));
        driver().advance(2);
        go(controller);
        driver().advance(6);  // past the failsafe
        EXPECT_EQ(events->count("ended"), 1u);
        EXPECT_EQ(events->count("hidden"), 1u);
        EXPECT_TRUE(controller->isDismissed());
    };
    once("close button", [&](const auto& c) { tap(c->closeButton()); });
    // The Auto Layout class's close area acts as the touch begins, and the
    // button's own tap follows. (The frame class's area lies outside its
    // button: see the layout tests.)
    if (autoLayout())
        once("close area", [&](const auto& c) {
            const CGRect close = c->closeButton()->frame();
            window()->simulateTap(CGPointMake(close.origin.x + 4, close.origin.y + 10));
        });
    once("poststitial click", [&](const auto& c) {
        // The forwarder dismisses, and so does the click path after it.
        c->clickForwarder()->adWasClickedIn(nullptr, nullptr);
        c->dismissWithCompletionHandler(nullptr);
        EXPECT_EQ(events->count("clicked"), 1u);
    });
    once("failsafe after close", [&](const auto& c) {
        c->dismiss();
        c->videoPlayer()->playerItem()->simulateFailure(
            NSError::errorWithDomain(AVFoundationErrorDomain, -11800, Value()));
    });
    once("dismiss after it went", [&](const auto& c) {
        c->dismiss();
        driver().advance(1);
        interstitial->dismiss();
        c->dismissWithCompletionHandler(nullptr);
    });
    EXPECT_EQ(completionPercents().size(), autoLayout() ? 5u : 4u);
}

TEST_P(HLVideoControllerTest, AStallKeepsTheVideoOnScreenUnlessSlot68IsOff) {
    auto controller = presentPlaying(videoAd(11));
    driver().advance(7);
    controller->avPlayer()->simulateStall();
    driver().drain();
    EXPECT_FALSE(controller->wasPoststitialShown());
    EXPECT_FALSE(controller->videoView()->isHidden());
    controller->avPlayer()->play();
    driver().advance(1);

    setSlot(68, Value(false));
    controller->avPlayer()->simulateStall();
    driver().drain();
    EXPECT_TRUE(controller->wasPoststitialShown());
    EXPECT_TRUE(controller->videoView()->isHidden());
    controller->avPlayer()->play();
    driver().drain();
    EXPECT_FALSE(controller->videoView()->isHidden());
    EXPECT_TRUE(controller->wasPoststitialShown());  // it only goes one way
    EXPECT_EQ(events->count("ended"), 0u);
}

TEST_P(HLVideoControllerTest, ABrokenVideoShowsTheCloseButtonOrDismissesWithSlot33) {
    service.setResource("video.mp4", "not a video", "video/mp4");
    for (bool dismissOnError : {false, true}) {
        setSlot(33, Value(dismissOnError));
        events->lines.clear();
        auto controller = presentPlaying(videoAd(12));
        driver().advance(5.5);  // the failsafe finds the failed status too
        EXPECT_TRUE(listener->contains("Video Failsafe detected error state, failing..."));
        if (!dismissOnError) {
            EXPECT_TRUE(controller->wasPoststitialShown());
            EXPECT_EQ(controller->closeButton()->alpha(), 1.0f);
            EXPECT_FALSE(controller->isDismissed());
            controller->dismiss();
            driver().advance(1);
        } else {
            EXPECT_TRUE(controller->isDismissed());
        }
        // The unknown duration gives 0 %, never a division's NaN.
        EXPECT_EQ(events->count("ended"), 1u);
        EXPECT_EQ(events->lines[2], "ended 12 0 partial");
    }
    EXPECT_EQ(completionPercents(), (std::vector<std::string>{"0", "0"}));
}

TEST_P(HLVideoControllerTest, TheBackgroundFadesTheCloseButtonInOnceAndTheReturnResumes) {
    auto controller = presentPlaying(videoAd(13, "\"close_delay\": 30"));
    driver().advance(2);
    EXPECT_EQ(controller->closeButton()->alpha(), 0.0f);
    auto application = UIApplication::sharedApplication();
    application->simulateEnterBackground();
    driver().advance(1);
    EXPECT_EQ(controller->closeButton()->alpha(), 1.0f);
    controller->closeButton()->setAlpha(0);
    application->simulateEnterBackground();  // a second stay without a return
    driver().advance(1);
    EXPECT_EQ(controller->closeButton()->alpha(), 0.0f);

    controller->avPlayer()->pause();
    application->simulateEnterForeground();
    application->simulateBecomeActive();
    driver().drain();
    EXPECT_FALSE(controller->didEnterBackground());
    EXPECT_EQ(controller->avPlayer()->rate(), 1.0f);

    // Back while the poststitial is up: the video stays stopped.
    controller->skipVideo();
    application->simulateEnterBackground();
    application->simulateBecomeActive();
    driver().drain();
    EXPECT_EQ(controller->avPlayer()->rate(), 0.0f);
    EXPECT_TRUE(controller->didEnterBackground());
}

TEST_P(HLVideoControllerTest, AVideoTapClicksThroughOnceTheClickIsTrackedUnlessTheAdWentMeanwhile) {
    auto controller = presentPlaying(videoAd(18, "\"video_clickable\": true"));
    driver().advance(2);
    window()->simulateTap(Ref<UIView>(controller->videoView()));
    EXPECT_EQ(controller->avPlayer()->rate(), 0.0f);
    ASSERT_TRUE(settle());
    driver().advance(1);
    const auto opened = UIApplication::sharedApplication()->openedURLs();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0]->absoluteString(), service.server().url("/landing"));
    auto clicks = service.postbacksTo("click");
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].field("p"), "level-1");
    EXPECT_EQ(events->lines, (std::vector<std::string>{"displayed 18", "began 18", "clicked 18"}));

    // A click whose tracking answer comes after the ad went opens nothing.
    service.script(simulator::HalcyonService::postbackPath("click"), {simulator::Answer::stall()});
    window()->simulateTap(Ref<UIView>(controller->videoView()));
    ASSERT_TRUE(service.server().waitForStalled(1, 5));
    controller->dismiss();
    driver().advance(1);
    service.server().releaseStalled();
    ASSERT_TRUE(settle());
    driver().advance(1);
    EXPECT_EQ(UIApplication::sharedApplication()->openedURLs().size(), 1u);
    EXPECT_EQ(events->count("hidden"), 1u);
}

TEST_P(HLVideoControllerTest, TheStorePageOverTheControllerEndsNothing) {
    platform::testing::StoreSheet::setNextResult(platform::testing::StoreSheet::Loads);
    auto controller = presentPlaying(videoAd(14, "\"video_clickable\": true, \"storekit_info\": {\"id\": \"9\"}"));
    driver().advance(2);
    window()->simulateTap(Ref<UIView>(controller->videoView()));
    driver().advance(1);
    auto page = std::dynamic_pointer_cast<SKStoreProductViewController>(controller->presentedViewController());
    ASSERT_TRUE(page);
    EXPECT_TRUE(controller->didEnterBackground());  // paused for the page
    platform::testing::StoreSheet::simulateUserClose(page);
    driver().advance(1);
    EXPECT_FALSE(controller->presentedViewController());
    EXPECT_EQ(events->lines, (std::vector<std::string>{"displayed 14", "began 14", "clicked 14"}));
    EXPECT_FALSE(controller->isDismissed());
    EXPECT_EQ(controller->avPlayer()->rate(), 1.0f);  // resumed
    tap(controller->closeButton());
    EXPECT_EQ(events->count("hidden"), 1u);
    EXPECT_EQ(events->count("ended"), 1u);
}

TEST_P(HLVideoControllerTest, TheCountdownFollowsItsClassAndSlot92) {
    auto countdownOf = [&](const std::string& members, bool computed) {
        setSlot(92, Value(computed));
        auto controller = presentPlaying(videoAd(15, members));
        const double seconds = controller->countdownTime().doubleValue();
        const bool observed = controller->countdownTextTimeObserver() != nullptr;
        controller->dismiss();
        driver().advance(1);
        return std::make_pair(seconds, observed);
    };
    EXPECT_EQ(countdownOf("\"countdown_length\": 0", false), std::make_pair(0.0, false));
    EXPECT_EQ(countdownOf("\"countdown_length\": 10", false), std::make_pair(10.0, true));
    // With slot 92 the Auto Layout class computes a length of 0, the frame
    // class one of at least 1.
    EXPECT_EQ(countdownOf("\"countdown_length\": 0", true), autoLayout() ? std::make_pair(15.0, true)
                                                                          : std::make_pair(0.0, false));
    EXPECT_EQ(countdownOf("\"countdown_length\": 10", true), autoLayout() ? std::make_pair(10.0, true)
                                                                           : std::make_pair(15.0, true));

    // The clock counts down once a second; only the Auto Layout class puts
    // it on screen by default.
    setSlot(92, Value(false));
    auto controller = presentPlaying(videoAd(16, "\"countdown_length\": 12"));
    Ref<HLCircularCountdownView> clock = controller->countdownClock();
    ASSERT_TRUE(clock);
    EXPECT_EQ(clock->totalSeconds(), 12u);
    driver().advance(3);
    EXPECT_EQ(clock->remainingSeconds(), 9u);
    EXPECT_EQ(clock->superview() != nullptr, autoLayout());
    driver().advance(14);  // past the countdown: never below 0
    EXPECT_EQ(clock->remainingSeconds(), 0u);
}

TEST_P(HLVideoControllerTest, AnAdWithoutVideoShowsThePoststitialAlone) {
    auto ad = renderedAd("INTER", 17, std::string("\"presentation_mode\": \"view_controller\""));
    auto controller = present(ad, autoLayout());
    ASSERT_TRUE(controller);
    EXPECT_FALSE(controller->isVideoAd());
    EXPECT_TRUE(controller->wasPoststitialShown());
    EXPECT_FALSE(controller->videoPlayer());
    EXPECT_EQ(controller->videoPoststitial()->superview(), controller->view());
    driver().advance(1);
    tap(controller->closeButton());
    EXPECT_EQ(events->lines, (std::vector<std::string>{"displayed 17", "hidden 17"}));
    EXPECT_TRUE(completionPercents().empty());
}

// The ad's own delays are as long as it likes; none of them keeps a
// dismissed controller, its player or its web views.
TEST_P(HLVideoControllerTest, TheAdsLongDelaysLetTheDismissedControllerGo) {
    const std::string forever = "1e9";
    auto ad = videoAd(18, "\"close_delay\": " + forever + ", \"close_delay_graphic\": " + forever +
                              ", \"video_button_properties\": {\"video_button_html\": \"<b>more</b>\","
                              " \"fade_in_delay_seconds\": 1, \"fade_in_duration_milliseconds\": 1e12,"
                              " \"fade_out_delay_seconds\": " + forever + "}");
    Weak<HLVideoViewController> controller;
    std::vector<Weak<NSObject>> parts;
    {
        auto shown = presentPlaying(ad);
        ASSERT_TRUE(shown);
        controller = shown;
        parts = {shown->videoPlayer(), shown->avPlayer(), shown->videoPoststitial(),
                 shown->videoPoststitial()->adWebView(), shown->videoButton()};
        driver().advance(16);  // the button fading in for ever; the video ends on the poststitial
        EXPECT_TRUE(shown->wasPoststitialShown());
        EXPECT_LT(shown->closeButton()->alpha(), 1);
        shown->dismiss();
    }
    driver().advance(1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(events->lines.back(), "hidden 18");
    // The interstitial keeps its last presenter until the next show.
    EXPECT_EQ(interstitial->currentInterstitialController(), controller.lock());
    present(renderedAd("INTER", 19, std::string("\"presentation_mode\": \"view_controller\"")), autoLayout());
    EXPECT_EQ(events->lines.back(), "displayed 19");
    EXPECT_TRUE(controller.expired());
    for (const auto& part : parts) EXPECT_TRUE(part.expired());
    driver().advance(1e9);  // the steps still due find nothing
    EXPECT_EQ(events->lines.back(), "displayed 19");
}

// A clip of no time plays to its end at once, an audio-only one to its end
// without a picture: each ends once, on the poststitial.
TEST_P(HLVideoControllerTest, ZeroLengthAndAudioOnlyClipsEndOnce) {
    auto clip = [](double seconds, double width, double height) {
        const std::vector<uint8_t> bytes = platform::testing::testMp4Bytes(seconds, 600, width, height, true);
        return std::string(bytes.begin(), bytes.end());
    };
    int64_t id = 19;
    for (const auto& [name, bytes] : {std::pair{"zero-length", clip(0, 320, 180)}, std::pair{"audio only", clip(15, 0, 0)}}) {
        SCOPED_TRACE(name);
        service.setResource("video.mp4", bytes, "video/mp4");
        events->lines.clear();
        auto controller = presentPlaying(videoAd(id++));
        ASSERT_TRUE(controller);
        driver().advance(16);
        EXPECT_TRUE(controller->wasPoststitialShown());
        tap(controller->closeButton());
        EXPECT_EQ(events->count("ended"), 1u);
        EXPECT_EQ(events->count("hidden"), 1u);
    }
    EXPECT_EQ(completionPercents(), (std::vector<std::string>{"100", "100"}));
}

// Mute images that are no image or were never cached.
TEST_P(HLVideoControllerTest, UnusableMuteImagesLeaveABlankToggleThatStillMutes) {
    setSlot(102, Value(true));  // the mute toggle on screen
    setSlot(108, Value(true));
    service.setResource("mute.png", "not an image", "image/png");
    service.scriptStatuses("/res/unmute.png", {404, 404, 404});
    auto controller = presentPlaying(videoAd(21));
    ASSERT_TRUE(controller);
    Ref<UIImageView> toggle = controller->muteImageView();
    ASSERT_TRUE(toggle);
    EXPECT_FALSE(toggle->isHidden());
    EXPECT_FALSE(toggle->image());
    EXPECT_FALSE(controller->isVideoMuted());
    tap(toggle);
    EXPECT_TRUE(controller->isVideoMuted());
    EXPECT_FALSE(toggle->image());
    tap(toggle);
    EXPECT_FALSE(controller->isVideoMuted());
}

INSTANTIATE_TEST_SUITE_P(BothClasses, HLVideoControllerTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "AutoLayout" : "Frame"; });

}  // namespace
