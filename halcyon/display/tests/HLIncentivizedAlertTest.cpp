// The rewarded flow's alerts on the platform's alert views: the prompt before
// a preloaded rewarded ad (texts from the settings table or their defaults,
// acceptance showing the ad, "No Thanks" told only to a delegate that
// listens), the confirmation's text per result, and the warning before an
// unfinished rewarded video is skipped (slot 47), which the background takes
// away without an answer.
#include "halcyon/display/HLIncentivizedAlertManagers.h"
#include "halcyon/display/tests/HLVideoTestSupport.h"
#include "platform/ui/UIApplication.h"

namespace {

class HLIncentivizedAlertTest : public HLRewardedTest {
protected:
    void preload() {
        simulator::HalcyonAd ad = simulator::HalcyonAd::videoAd();
        ad.adId = 50;
        ASSERT_NO_FATAL_FAILURE(preloadRewarded(ad));
        events->lines.clear();
    }
    static std::vector<std::string> buttons(const Ref<UIAlertView>& alert) {
        std::vector<std::string> titles;
        for (int64_t i = 0; i < alert->numberOfButtons(); ++i) titles.push_back(alert->buttonTitleAtIndex(i).value_or(""));
        return titles;
    }
    // The reward's verdict comes over the network in real time: it is held
    // until the test has read what the show alone brought.
    void holdRewardVerdict() {
        service.script(simulator::HalcyonService::kRewardValidationPath,
                       {simulator::Answer::stall(simulator::HalcyonService::rewardAnswer("\"accepted\"", "{}"))});
    }
    void releaseRewardVerdict() {
        ASSERT_TRUE(service.server().waitForStalled(1, 5));
        service.server().releaseStalled();
        ASSERT_TRUE(settle());
    }
    void tapAlertButton(int64_t index) {
        ASSERT_TRUE(UIAlertView::visibleAlert());
        UIAlertView::visibleAlert()->simulateTapButtonAtIndex(index);
        driver().drain();
    }
};

TEST_F(HLIncentivizedAlertTest, ThePromptTakesTheServersTextsAndAcceptingShowsTheAd) {
    preload();
    setSlotString(38, "Watch a clip for 20 gems?");
    rewarded->showOver(window(), events);
    driver().drain();
    Ref<UIAlertView> prompt = UIAlertView::visibleAlert();
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->title(), "Earn a Reward");
    EXPECT_EQ(prompt->message(), "Watch a clip for 20 gems?");
    EXPECT_EQ(buttons(prompt), (std::vector<std::string>{"No Thanks", "Watch Now"}));
    EXPECT_EQ(prompt->cancelButtonIndex(), 0);
    EXPECT_TRUE(events->lines.empty());  // nothing shows while the user decides
    holdRewardVerdict();
    tapAlertButton(1);
    driver().advance(0.5);
    EXPECT_EQ(events->lines, (std::vector<std::string>{"displayed 50", "began 50"}));
    ASSERT_NO_FATAL_FAILURE(releaseRewardVerdict());
    EXPECT_EQ(service.rewardValidations().size(), 1u);
}

TEST_F(HLIncentivizedAlertTest, NoThanksIsToldOnlyToADelegateThatListensAndTheAdStaysReady) {
    preload();
    for (bool listens : {true, false}) {
        events->declines = listens;
        events->lines.clear();
        rewarded->showOver(window(), std::string("shop"), events);
        driver().drain();
        tapAlertButton(0);
        driver().advance(1);
        EXPECT_EQ(events->lines, listens ? std::vector<std::string>{"declined 50"} : std::vector<std::string>{});
        EXPECT_TRUE(rewarded->isReadyForDisplay());
        EXPECT_EQ(UIAlertView::visibleAlert(), nullptr);
    }
    EXPECT_TRUE(service.rewardValidations().empty());
}

TEST_F(HLIncentivizedAlertTest, WithSlot52OffTheAdShowsWithoutAPrompt) {
    preload();
    setSlot(52, Value(false));
    holdRewardVerdict();
    rewarded->showOver(window(), events);
    driver().advance(0.5);
    EXPECT_EQ(UIAlertView::visibleAlert(), nullptr);
    EXPECT_EQ(events->lines, (std::vector<std::string>{"displayed 50", "began 50"}));
    ASSERT_NO_FATAL_FAILURE(releaseRewardVerdict());
    EXPECT_EQ(events->lines.back(), "succeeded 50 {}");
}

TEST_F(HLIncentivizedAlertTest, TheConfirmationTextFollowsTheResult) {
    setSlotString(44, "No reward this time.");
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"accepted", "You have earned a reward!"},
        {"quota_exceeded", "You have already earned the maximum reward for today."},
        {"rejected", "No reward this time."},
        {"network_timeout", "We were unable to contact the rewards server. Please try again later."},
        {"something_else", "We were unable to contact the rewards server. Please try again later."},
    };
    for (const auto& [result, text] : texts) {
        auto confirmation = NSObject::alloc<HLIncentivizedConfirmationManager>()->initWithSdk(sdk, result);
        confirmation->presentConfirmationToUser();
        driver().drain();
        Ref<UIAlertView> alert = UIAlertView::visibleAlert();
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->title(), "Video Reward");
        EXPECT_EQ(alert->message(), text);
        EXPECT_EQ(buttons(alert), std::vector<std::string>{"Okay"});
        EXPECT_FALSE(alert->delegate());
        tapAlertButton(0);
    }
}

TEST_F(HLIncentivizedAlertTest, TheWarningAsksBeforeAnUnfinishedRewardedVideoIsSkipped) {
    setSlot(47, Value(true));
    setSlot(71, Value(true));  // a skip button instead of an early close button
    auto controller = present(videoAd(51, {}, "VIDEOA"));
    ASSERT_TRUE(controller);
    untilPlaying(controller);
    driver().advance(2);
    ASSERT_EQ(controller->skipButton()->alpha(), 1.0f);

    window()->simulateTap(controller->skipButton());
    driver().drain();
    Ref<UIAlertView> warning = UIAlertView::visibleAlert();
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->title(), "Attention!");
    EXPECT_EQ(warning->message(), "You won\u2019t get your reward if the video hasn\u2019t finished.");
    EXPECT_EQ(buttons(warning), (std::vector<std::string>{"Keep Watching", "Close"}));
    EXPECT_EQ(controller->avPlayer()->rate(), 0.0f);
    tapAlertButton(0);  // keep watching
    EXPECT_EQ(controller->avPlayer()->rate(), 1.0f);
    EXPECT_FALSE(controller->wasPoststitialShown());

    // The background takes the warning away and answers nothing.
    window()->simulateTap(controller->skipButton());
    driver().drain();
    ASSERT_TRUE(controller->incentivizedWarningManager()->promptIsVisible());
    UIApplication::sharedApplication()->simulateEnterBackground();
    driver().drain();
    EXPECT_FALSE(controller->incentivizedWarningManager()->promptIsVisible());
    EXPECT_EQ(UIAlertView::visibleAlert(), nullptr);
    EXPECT_FALSE(controller->wasPoststitialShown());
    EXPECT_EQ(controller->avPlayer()->rate(), 0.0f);
    UIApplication::sharedApplication()->simulateBecomeActive();
    driver().drain();
    EXPECT_EQ(controller->avPlayer()->rate(), 1.0f);  // no prompt up: playback resumes

    window()->simulateTap(controller->skipButton());
    driver().drain();
    tapAlertButton(1);  // leave: the reward is forfeited
    driver().advance(1);
    EXPECT_TRUE(controller->wasPoststitialShown());
    EXPECT_FALSE(controller->isDismissed());
}

TEST_F(HLIncentivizedAlertTest, NoWarningWithSlot47OffOrForARegularAd) {
    setSlot(71, Value(true));
    for (auto [warn, type] : {std::pair{false, "VIDEOA"}, std::pair{true, "REGULAR"}}) {
        setSlot(47, Value(warn));
        auto controller = present(videoAd(52, {}, type));
        untilPlaying(controller);
        driver().advance(2);
        window()->simulateTap(controller->skipButton());
        driver().advance(1);
        EXPECT_EQ(UIAlertView::visibleAlert(), nullptr);
        EXPECT_TRUE(controller->wasPoststitialShown());
        controller->dismiss();
        driver().advance(1);
    }
}

}  // namespace
