// The shared interstitial against the Halcyon service on loopback: readiness
// with only an incentivized ad preloaded, show with a preloaded ad, with a
// request and with a failing request (and the order of the application's
// callbacks), presentation mode 1 in a video controller (played here by a
// test presenter registered under the controllers' class names) against the
// dialog for every other mode, and a frame that serves one show.
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/HLPreloadedAdManager.h"
#include "halcyon/display/HLInterstitialAd.h"
#include "halcyon/display/HLInterstitialDialogView.h"
#include "halcyon/display/tests/HalcyonDisplayTestSupport.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/runtime/Clock.h"
#include "platform/ui/UIScreen.h"

namespace {

// Stands in for the video controllers: records how it was made and shown.
class HLTestVideoPresenter : public UIViewController, public HLInterstitialControlProxy {
public:
    explicit HLTestVideoPresenter(std::string madeAs) : madeAs(std::move(madeAs)) {}
    Ref<NSObject> initWithSdk(const Ref<HLSdk>&, const Ref<HLAd>& ad, const std::optional<std::string>& placement,
                              const Ref<HLInterstitialAd>& wrapper) override {
        UIViewController::init();
        ad_ = ad;
        this->placement = placement;
        this->wrapper = wrapper;
        return self<NSObject>();
    }
    void viewDidAppear(bool animated) override {
        UIViewController::viewDidAppear(animated);
        appearedAt = platform::Clock::current()->uptime();
    }
    Ref<HLAd> currentAd() const override { return ad_; }
    Ref<UIView> containingView() override { return view(); }
    Ref<HLAdDisplayDelegate> adDisplayDelegate() const override { return nullptr; }
    void setAdDisplayDelegate(const Ref<HLAdDisplayDelegate>&) override {}
    Ref<HLAdVideoPlaybackDelegate> adVideoPlaybackDelegate() const override { return nullptr; }
    void setAdVideoPlaybackDelegate(const Ref<HLAdVideoPlaybackDelegate>&) override {}
    void dismissWithCompletionHandler(Block completion) override {
        ++dismissals;
        dismissViewControllerAnimated(false, completion);
    }

    std::string madeAs;
    std::optional<std::string> placement;
    Weak<HLInterstitialAd> wrapper;
    double appearedAt = -1;
    int dismissals = 0;

private:
    Ref<HLAd> ad_;
};

class HLInterstitialTest : public HalcyonDisplayTest {
protected:
    void SetUp() override {
        HalcyonDisplayTest::SetUp();
        for (const char* name :
             {HLInterstitialAd::kAutoLayoutVideoControllerClass, HLInterstitialAd::kFrameVideoControllerClass})
            NSClassRegistry::add(name, [name] { return std::make_shared<HLTestVideoPresenter>(name); });
        interstitial = HLInterstitialAd::shared();
        interstitial->setAdLoadDelegate(load);
        interstitial->setAdDisplayDelegate(display);
    }
    void preload(const Ref<HLAdType>& type) {
        sdk->preloadedAdManager()->preloadNextAdOfSpec(HLAdSpec::specWithSize(HLAdSize::sizeInterstitial(), type));
        driver().advance(0.5);
        ASSERT_TRUE(settle());
    }
    size_t adRequests() { return service.requestsTo(simulator::HalcyonService::kAdPath).size(); }
    Ref<HLInterstitialDialogView> dialog() {
        return std::dynamic_pointer_cast<HLInterstitialDialogView>(interstitial->currentInterstitialController());
    }
    // The mode-1 presenter an ad of these traits gets.
    Ref<HLTestVideoPresenter> presentModeOne(uint32_t transitionStyle, bool video) {
        auto ad = video ? renderedAd(simulator::HalcyonAd::videoAd())
                        : renderedAd("INTER", 30, std::string("\"presentation_mode\": \"view_controller\""));
        EXPECT_TRUE(ad);
        if (!ad) return nullptr;
        ad->setTransitionStyle(transitionStyle);
        interstitial->showOver(window(), std::string("p"), ad);
        return std::dynamic_pointer_cast<HLTestVideoPresenter>(interstitial->currentInterstitialController());
    }

    Ref<HLInterstitialAd> interstitial;
    Ref<HLRecordingDisplayDelegate> display = std::make_shared<HLRecordingDisplayDelegate>("display", journal);
    Ref<HLRecordingLoadDelegate> load = std::make_shared<HLRecordingLoadDelegate>("load", journal);
};

}  // namespace

TEST_F(HLInterstitialTest, OnlyARegularPreloadedInterstitialMakesItReady) {
    simulator::HalcyonAd ad;
    ad.adType = "VIDEOA";
    service.setAd(ad);
    preload(HLAdType::typeIncentivized());
    ASSERT_TRUE(sdk->preloadedAdManager()->hasPreloadedAdOfSpec(
        HLAdSpec::specWithSize(HLAdSize::sizeInterstitial(), HLAdType::typeIncentivized())));
    EXPECT_FALSE(HLInterstitialAd::isReadyForDisplayShared());

    ad.adType = "REGULAR";
    service.setAd(ad);
    preload(HLAdType::typeRegular());
    EXPECT_TRUE(HLInterstitialAd::isReadyForDisplayShared());
}

TEST_F(HLInterstitialTest, ShowUsesAPreloadedAdAndTellsTheLoadBeforeTheDisplay) {
    simulator::HalcyonAd ad;
    ad.adId = 41;
    service.setAd(ad);
    preload(HLAdType::typeRegular());
    const size_t requests = adRequests();

    HLInterstitialAd::showShared();  // over the key window
    ASSERT_TRUE(settle());
    driver().advance(1);
    EXPECT_EQ(adRequests(), requests);
    EXPECT_EQ(*journal, (std::vector<std::string>{"load ad 41", "display displayed 41"}));
    ASSERT_TRUE(dialog());
    EXPECT_EQ(dialog()->superview(), window());
    EXPECT_EQ(display->lastView(), dialog());
}

TEST_F(HLInterstitialTest, ShowWithoutAPreloadedAdRequestsOneAndAFailureShowsNothing) {
    simulator::HalcyonAd ad;
    ad.adId = 42;
    service.setAd(ad);
    const size_t requests = adRequests();
    // The load may join the start-up preload's request, sent 0.5 s on.
    HLInterstitialAd::showOverShared(window(), std::string("level-end"));
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    driver().advance(1);
    EXPECT_GT(adRequests(), requests);  // preload refills may follow it
    EXPECT_EQ(*journal, (std::vector<std::string>{"load ad 42", "display displayed 42"}));
    EXPECT_EQ(dialog()->adView()->currentPlacement(), "level-end");
    interstitial->dismiss();
    driver().drain();
    EXPECT_EQ(display->count("hidden"), 1u);

    journal->clear();
    service.setAd(std::nullopt);
    HLInterstitialAd::showOverShared(window());
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    driver().advance(5);
    EXPECT_EQ(*journal, (std::vector<std::string>{"load fail 204"}));
    for (const auto& subview : window()->subviews()) EXPECT_FALSE(subview->isKindOfClass<HLInterstitialDialogView>());
}

TEST_F(HLInterstitialTest, ModeOneGoesToAVideoControllerOnTheTopControllerWithItsStyles) {
    // Cover-vertical transition: animated, over the full screen on 9.0.
    auto presenter = presentModeOne(1, false);
    ASSERT_TRUE(presenter);
    EXPECT_EQ(presenter->madeAs, "HLAutoLayoutVideoViewController");
    EXPECT_EQ(presenter->presentingViewController(), rootViewController());
    EXPECT_EQ(presenter->placement, "p");
    EXPECT_EQ(presenter->wrapper.lock(), interstitial);
    EXPECT_EQ(presenter->modalTransitionStyle(), UIModalTransitionStyleCoverVertical);
    EXPECT_EQ(presenter->modalPresentationStyle(), UIModalPresentationOverFullScreen);
    const double shown = platform::Clock::current()->uptime();
    driver().advance(0.1);
    EXPECT_LT(presenter->appearedAt, 0);  // still in its 0.3 s transition
    driver().advance(0.3);
    EXPECT_NEAR(presenter->appearedAt - shown, 0.3, 1e-6);
    interstitial->dismiss();
    driver().advance(1);
    EXPECT_EQ(presenter->dismissals, 1);

    // Cross-dissolve, unanimated; a video ad is full screen and animated.
    auto dissolve = presentModeOne(2, false);
    EXPECT_EQ(dissolve->modalTransitionStyle(), UIModalTransitionStyleCrossDissolve);
    driver().drain();
    EXPECT_GE(dissolve->appearedAt, 0);
    interstitial->dismiss();
    driver().advance(1);
    auto video = presentModeOne(7, true);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->modalPresentationStyle(), UIModalPresentationFullScreen);
    EXPECT_EQ(video->modalTransitionStyle(), UIModalTransitionStyleCoverVertical);  // untouched
    interstitial->dismiss();
    driver().advance(1);

    // Slot 134 off, or a system before 9.0: the frame controller.
    setSlot(134, Value(false));
    EXPECT_EQ(presentModeOne(0, false)->madeAs, "HLFrameVideoViewController");
    interstitial->dismiss();
    driver().advance(1);
    setSlot(134, Value(true));
    profile().systemVersion = "8.4";
    EXPECT_EQ(presentModeOne(0, false)->madeAs, "HLFrameVideoViewController");

    // Every other mode: a dialog over the window.
    auto dialogAd = renderedAd("INTER", 31, std::string("\"presentation_mode\": \"dialog\""));
    interstitial->showOver(window(), dialogAd);
    EXPECT_TRUE(dialog());
}

TEST_F(HLInterstitialTest, ACustomFrameSizesOneDialogAndHiddenAndFramePassOn) {
    auto ad = renderedAd("INTER", 50);
    setSlot(126, Value(false));  // frame layout, so that the frame shows
    interstitial->setFrame(CGRectMake(10, 40, 300, 400));
    interstitial->showOver(window(), ad);
    auto first = dialog();
    EXPECT_TRUE(CGRectEqualToRect(first->frame(), CGRectMake(10, 40, 300, 400)));
    EXPECT_TRUE(CGRectEqualToRect(interstitial->frame(), CGRectZero));

    interstitial->setHidden(true);
    EXPECT_TRUE(first->isAdHidden());
    interstitial->setFrame(CGRectMake(0, 0, 200, 200));
    EXPECT_TRUE(CGRectEqualToRect(first->currentFrame(), CGRectMake(0, 0, 200, 200)));
    interstitial->setFrame(CGRectZero);

    interstitial->showOver(window(), ad);
    EXPECT_NE(dialog(), first);
    EXPECT_TRUE(CGRectEqualToRect(dialog()->frame(), UIScreen::mainScreen()->applicationFrame()));
    EXPECT_TRUE(dialog()->isAdHidden());  // the hidden flag carries over

    // Dismissing with no presenter does nothing.
    auto fresh = NSObject::alloc<HLInterstitialAd>()->initWithSdk(sdk);
    fresh->dismiss();
    driver().drain();
}
