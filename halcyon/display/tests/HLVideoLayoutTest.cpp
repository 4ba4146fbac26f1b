// The two video controllers' layouts on a 320 × 568 phone: the Auto Layout
// class's default frames through the solver and its fallbacks for formats
// that do not parse; the frame class's geometry (status-bar offset, margins,
// corners, the video button's gravity bits and the landscape swap) and its
// re-layout on rotation with slot 133 on and off; the extended close areas.
#include "halcyon/display/HLCircularCountdownView.h"
#include "halcyon/display/HLCloseButton.h"
#include "halcyon/display/HLHtmlAdView.h"
#include "halcyon/display/tests/HLVideoTestSupport.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"

namespace {

class HLVideoLayoutTest : public HLVideoTest {
protected:
    static std::string rect(const Ref<UIView>& view) {
        if (!view) return "none";
        const CGRect r = view->frame();
        return NSString::stringWithFormat("%g %g %g %g", r.origin.x, r.origin.y, r.size.width, r.size.height);
    }
    static std::string rect(CGRect r) {
        return NSString::stringWithFormat("%g %g %g %g", r.origin.x, r.origin.y, r.size.width, r.size.height);
    }
    // With the classic close button, which takes its frame as given.
    Ref<HLFrameVideoViewController> presentFrame(const std::string& members = {}) {
        const std::string all = "\"close_style\": 0" + (members.empty() ? std::string() : ", " + members);
        return std::dynamic_pointer_cast<HLFrameVideoViewController>(present(videoAd(20, all), false));
    }
};

TEST_F(HLVideoLayoutTest, AutoLayoutDefaultsPlaceEveryControlThroughTheSolver) {
    auto controller = present(videoAd(21, "\"video_button_properties\": {\"video_button_html\": \"<b>Go</b>\"}"));
    ASSERT_TRUE(controller);
    controller->view()->layoutIfNeeded();
    EXPECT_EQ(rect(controller->videoView()), "0 0 320 568");
    EXPECT_EQ(rect(controller->videoPoststitial()), "0 0 320 568");
    EXPECT_EQ(rect(controller->closeButton()), "265 5 50 50");
    EXPECT_EQ(rect(controller->skipButton()), "5 5 50 50");
    EXPECT_EQ(rect(controller->countdownClock()), "5 533 30 30");
    EXPECT_EQ(rect(controller->muteImageView()), "285 533 30 30");
    EXPECT_EQ(rect(controller->videoButton()), "95 527 220 36");
    EXPECT_FALSE(controller->videoButton()->isHidden());
}

TEST_F(HLVideoLayoutTest, FormatsThatDoNotParseFallBackToTheirDefaults) {
    setSlotString(137, "H:[closeButton(");
    setSlotString(140, "V:|-(5)-[nobody(50)]");
    auto controller = present(videoAd(
        22, "\"video_button_properties\": {\"h_constraint\": \"H:[videoButton(\", \"v_constraint\": 12}"));
    ASSERT_TRUE(controller);
    controller->view()->layoutIfNeeded();
    EXPECT_EQ(rect(controller->closeButton()), "265 5 50 50");
    EXPECT_EQ(rect(controller->skipButton()), "5 5 50 50");
    EXPECT_EQ(rect(controller->videoButton()), "95 527 220 36");
    EXPECT_TRUE(listener->contains("Video button format \"H:[videoButton(\" cannot be used"));
}

TEST_F(HLVideoLayoutTest, FrameClassButtonsSitBelowAVisibleStatusBarAndAtTheRightEdge) {
    setSlot(67, Value(false));  // the status bar stays visible
    auto controller = presentFrame();
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->calculateStatusBarOffset(), 20u);
    EXPECT_EQ(rect(controller->closeButton()), "270 20 50 50");
    EXPECT_EQ(rect(controller->skipButton()), "0 20 50 50");
    EXPECT_EQ(rect(controller->frameForCountdownClock()), "10 528 30 30");
    EXPECT_EQ(rect(controller->frameForMuteButton()), "280 528 30 30");
    setSlot(88, Value(10));
    EXPECT_EQ(rect(controller->frameForCloseButton()), "270 30 50 50");  // no margin at the right edge
    setSlot(70, Value(false));
    EXPECT_EQ(rect(controller->frameForSkipButton()), "10 10 50 50");
    // With slot 67 on the status bar is hidden while the ad shows: no offset.
    controller->dismiss();
    driver().advance(1);
    setSlot(67, Value(true));
    setSlot(70, Value(true));
    EXPECT_EQ(presentFrame()->calculateStatusBarOffset(), 0u);
}

TEST_F(HLVideoLayoutTest, FrameClassVideoButtonFollowsItsGravityBitsAndSwapsInLandscape) {
    auto centredAtBottom = presentFrame(
        "\"video_button_properties\": {\"video_button_html\": \"<b>Go</b>\", \"width\": 50, \"height\": 10, "
        "\"margin\": 5, \"gravity\": 66}");
    ASSERT_TRUE(centredAtBottom);
    EXPECT_EQ(rect(centredAtBottom->videoButton()), "80 506.2 160 56.8");
    UIApplication::sharedApplication()->simulateStatusBarOrientation(3);
    driver().drain();
    // Landscape: the width from the root view's height and the other way round.
    EXPECT_EQ(rect(centredAtBottom->frameForVideoButton()), "204 258.2 160 56.8");
    centredAtBottom->dismiss();
    driver().advance(1);
    UIApplication::sharedApplication()->simulateStatusBarOrientation(1);
    driver().drain();

    auto unplaced = presentFrame(
        "\"video_button_properties\": {\"video_button_html\": \"<b>Go</b>\", \"width\": 10, \"height\": 10, "
        "\"gravity\": 1}");
    EXPECT_EQ(rect(unplaced->videoButton()), "0 0 32 56.8");
    EXPECT_TRUE(listener->contains("Unable to render video button x for gravity = 1"));
    EXPECT_TRUE(listener->contains("Unable to render video button y for gravity = 1"));
}

TEST_F(HLVideoLayoutTest, FrameClassRelaysOnRotationAndOnDeviceTurnsOnlyWithSlot133) {
    for (bool follow : {true, false}) {
        SCOPED_TRACE(follow);
        setSlot(133, Value(follow));
        auto controller = presentFrame();
        ASSERT_TRUE(controller);
        controller->closeButton()->setFrame(CGRectMake(0, 0, 1, 1));
        UIDevice::currentDevice()->simulateOrientation(5);  // face up: no interface rotation
        driver().drain();
        EXPECT_EQ(rect(controller->closeButton()), follow ? "270 0 50 50" : "0 0 1 1");
        UIApplication::sharedApplication()->simulateStatusBarOrientation(3);  // the interface turns either way
        driver().drain();
        EXPECT_EQ(rect(controller->closeButton()), "518 0 50 50");
        EXPECT_EQ(rect(controller->videoView()), "0 0 568 320");
        controller->dismiss();
        driver().advance(1);
        EXPECT_EQ(UIDevice::currentDevice()->isGeneratingDeviceOrientationNotifications(), false);
        UIDevice::currentDevice()->simulateOrientation(1);
        UIApplication::sharedApplication()->simulateStatusBarOrientation(1);
        driver().drain();
    }
}

TEST_F(HLVideoLayoutTest, TheAutoLayoutCloseAreaGrowsLeftAndUpOnlyAroundAVisibleButton) {
    setSlot(81, Value(20));
    auto tapNearClose = [&](CGFloat dx, CGFloat dy, CGFloat alpha) {
        auto controller = present(videoAd(23));
        driver().drain();
        controller->view()->layoutIfNeeded();
        controller->closeButton()->setAlpha(alpha);
        const CGRect close = controller->closeButton()->frame();
        window()->simulateTap(CGPointMake(close.origin.x + dx, close.origin.y + dy));
        driver().advance(0.5);
        const bool dismissed = controller->isDismissed();
        controller->dismiss();
        driver().advance(1);
        return dismissed;
    };
    EXPECT_TRUE(tapNearClose(-15, 25, 1));   // 15 points to the left
    EXPECT_FALSE(tapNearClose(25, 65, 1));   // 15 points below: the area does not grow down
    EXPECT_FALSE(tapNearClose(-15, 25, 0.5f));  // half transparent
}

TEST_F(HLVideoLayoutTest, TheFrameClassPlacesItsCloseAreasFromTheButtonsFrameOrigin) {
    setSlot(81, Value(20));
    auto controller = presentFrame();
    ASSERT_TRUE(controller);
    auto area = controller->closeButton()->extendedClickArea();
    ASSERT_TRUE(area);
    EXPECT_EQ(rect(area), "270 0 70 70");
    ASSERT_TRUE(controller->skipButton()->extendedClickArea());
}

}  // namespace
