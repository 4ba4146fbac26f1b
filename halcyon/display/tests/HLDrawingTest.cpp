// The drawings the client makes itself: both close buttons' recorded calls at
// 50 points, the White-grey button's shrunk frame, the countdown clock's
// rules, and PNG snapshots of each compared pixel by pixel with references
// under halcyon/display/tests/data.
#include <cmath>
#include <numbers>

#include "halcyon/display/HLCircularCountdownView.h"
#include "halcyon/display/HLCloseButton.h"
#include "halcyon/display/tests/HalcyonDisplayTestSupport.h"
#include "platform/foundation/NSException.h"

namespace {

using platform::testing::SnapshotComparison;
using HLDrawingTest = HalcyonDisplayTest;

void expectOperation(const DrawOperation& op, const std::string& name, std::vector<float> arguments) {
    EXPECT_EQ(op.name, name);
    ASSERT_EQ(op.arguments.size(), arguments.size()) << name;
    for (size_t i = 0; i < arguments.size(); ++i) EXPECT_NEAR(op.arguments[i], arguments[i], 1e-4) << name << " " << i;
}

}  // namespace

TEST_F(HLDrawingTest, ClassicButtonAtFiftyPointsDrawsRingDiscAndCross) {
    auto button = HLCloseButton::closeButtonWithStyle(0, CGRectMake(0, 0, 50, 50));
    ASSERT_TRUE(button->isKindOfClass<HLCloseButtonClassic>());
    EXPECT_EQ(button->closeButtonStyle(), 0u);
    window()->addSubview(button);
    driver().drain();
    auto ops = button->lastDrawOperations();
    ASSERT_EQ(ops.size(), 12u);
    const float t = 50.0f / 15;
    expectOperation(ops[0], "CGContextSetFillColorWithColor", {1, 1, 1, 1});
    expectOperation(ops[1], "CGContextFillEllipseInRect", {10, 10, 30, 30});  // outer disc, diameter 30
    expectOperation(ops[2], "CGContextSetFillColorWithColor", {0, 0, 0, 1});
    expectOperation(ops[3], "CGContextFillEllipseInRect", {10 + t, 10 + t, 30 - 2 * t, 30 - 2 * t});  // 23.33
    expectOperation(ops[4], "CGContextSetLineWidth", {t});                                            // 3.33
    expectOperation(ops[5], "CGContextSetStrokeColorWithColor", {1, 1, 1, 1});
    // The cross spans 10 by 10 points, each arm its own path.
    expectOperation(ops[6], "CGContextMoveToPoint", {20, 20});
    expectOperation(ops[7], "CGContextAddLineToPoint", {30, 30});
    expectOperation(ops[8], "CGContextStrokePath", {});
    expectOperation(ops[9], "CGContextMoveToPoint", {30, 20});
    expectOperation(ops[10], "CGContextAddLineToPoint", {20, 30});
    expectOperation(ops[11], "CGContextStrokePath", {});
    EXPECT_EQ(button->accessibilityLabel(), "Close Advertisement");
    EXPECT_TRUE(button->isAccessibilityElement());
    EXPECT_FALSE(button->isOpaque());
}

TEST_F(HLDrawingTest, WhiteGreyButtonShrinksItsFrameAndDrawsADarkDiscWithAThinCross) {
    // Any style but 0 gives the White-grey button.
    auto button = HLCloseButton::closeButtonWithStyle(7, CGRectMake(100, 20, 50, 50));
    ASSERT_TRUE(button->isKindOfClass<HLCloseButtonWhiteGrey>());
    EXPECT_EQ(button->closeButtonStyle(), 1u);
    EXPECT_TRUE(CGRectEqualToRect(button->frame(), CGRectMake(107, 15, 47.5f, 47.5f)));

    window()->addSubview(button);
    driver().drain();
    auto ops = button->lastDrawOperations();
    ASSERT_EQ(ops.size(), 10u);
    const float W = 47.5f;
    expectOperation(ops[0], "CGContextSetFillColorWithColor", {0, 0, 0, 0.25f});
    expectOperation(ops[1], "CGContextFillEllipseInRect", {W / 4, W / 4, 23.75f, 23.75f});
    expectOperation(ops[2], "CGContextSetLineWidth", {W / 28});  // about 1.70
    expectOperation(ops[3], "CGContextSetStrokeColorWithColor", {1, 1, 1, 1});
    const float x0 = (W - W / 4) / 2;  // the cross spans 11.875 points
    expectOperation(ops[4], "CGContextMoveToPoint", {x0, x0});
    expectOperation(ops[5], "CGContextAddLineToPoint", {x0 + 11.875f, x0 + 11.875f});
    expectOperation(ops[7], "CGContextMoveToPoint", {x0 + 11.875f, x0});
    expectOperation(ops[8], "CGContextAddLineToPoint", {x0, x0 + 11.875f});
}

TEST_F(HLDrawingTest, TheAbstractButtonRefusesToDrawAndClickAreasReplaceEachOther) {
    auto abstract = std::make_shared<HLCloseButton>();
    abstract->initWithFrame(CGRectMake(0, 0, 50, 50));
    EXPECT_EQ(abstract->closeButtonStyle(), 2u);
    try {
        abstract->drawRect(abstract->bounds());
        ADD_FAILURE() << "drawing the abstract button must raise";
    } catch (const platform::NSException& e) {
        EXPECT_EQ(e.name(), platform::NSInternalInconsistencyException);
        EXPECT_EQ(e.reason(), "Must use a concrete subclass of HLCloseButton, e.g. HLCloseButtonClassic.");
    }

    auto button = HLCloseButton::closeButtonWithStyle(0, CGRectMake(30, 40, 50, 50));
    auto first = HLCloseButtonExtendedClickArea::extendedClickAreaForCloseButton(button, 20);
    EXPECT_TRUE(CGRectEqualToRect(first->frame(), CGRectMake(30, 40, 70, 70)));
    button->setExtendedClickArea(first);
    auto second = HLCloseButtonExtendedClickArea::extendedClickAreaForCloseButton(button, 1);
    button->setExtendedClickArea(second);
    EXPECT_FALSE(first->superview());
    EXPECT_EQ(second->superview(), button);
    EXPECT_EQ(button->subviews().back(), second);
}

TEST_F(HLDrawingTest, CountdownShowsARingAtTotalAnArcAtHalfTimeAndIgnoresMoreThanTotal) {
    auto clock = HLCircularCountdownView::alloc()->initWithFrame(CGRectMake(0, 0, 30, 30), 12, 1, 30);
    window()->addSubview(clock);
    clock->setRemainingSeconds(30);
    EXPECT_EQ(clock->secondsLabel()->text(), "30");
    EXPECT_EQ(clock->layer()->borderWidth(), 1);
    EXPECT_TRUE(CGColorEqualToColor(clock->layer()->borderColor(), UIColor::whiteColor()->CGColor()));

    clock->setRemainingSeconds(15);
    driver().drain();
    EXPECT_EQ(clock->endDegrees(), 90.0f);
    EXPECT_EQ(clock->layer()->borderWidth(), 0);
    auto ops = clock->lastDrawOperations();
    ASSERT_EQ(ops.size(), 3u);
    expectOperation(ops[0], "CGContextSetStrokeColorWithColor", {1, 1, 1, 1});
    // From the top (−π/2) to +π/2, the platform arc's clockwise flag off.
    expectOperation(ops[1], "UIBezierPath.addArcWithCenter",
                    {15, 15, 14.5f, -std::numbers::pi_v<float> / 2, std::numbers::pi_v<float> / 2, 0});
    expectOperation(ops[2], "UIBezierPath.stroke", {1});

    clock->setRemainingSeconds(31);  // more than the total: nothing changes
    EXPECT_EQ(clock->remainingSeconds(), 15u);
    EXPECT_EQ(clock->secondsLabel()->text(), "15");
}

TEST_F(HLDrawingTest, CountdownFadesOutAtZeroAndComesBackWithTime) {
    auto clock = HLCircularCountdownView::alloc()->initWithFrame(CGRectMake(0, 0, 30, 30), 12, 4, 30);
    window()->addSubview(clock);
    clock->setRemainingSeconds(0);
    EXPECT_EQ(clock->secondsLabel()->text(), "0");
    EXPECT_EQ(clock->alpha(), 0);  // the fade's target, reached 1 s after a 1 s delay
    driver().advance(2.5);
    clock->setRemainingSeconds(5);
    EXPECT_EQ(clock->alpha(), 1);

    // Without hiding at zero the clock stays.
    auto kept = HLCircularCountdownView::alloc()->initWithFrame(CGRectMake(0, 0, 30, 30), 12, 4, 30);
    kept->setHideWhenZeroRemainingTime(false);
    kept->setRemainingSeconds(0);
    EXPECT_EQ(kept->alpha(), 1);
}

TEST_F(HLDrawingTest, CountdownOfNoTimeShowsZeroInARingAndDrawsNoArc) {
    auto clock = HLCircularCountdownView::alloc()->init();
    clock->setFrame(CGRectMake(0, 0, 30, 30));
    EXPECT_EQ(clock->strokeWidth(), 4);
    EXPECT_EQ(clock->font()->pointSize(), 12);
    window()->addSubview(clock);
    clock->setRemainingSeconds(0);
    EXPECT_EQ(clock->secondsLabel()->text(), "0");
    EXPECT_TRUE(std::isnan(clock->endDegrees()));
    EXPECT_EQ(clock->layer()->borderWidth(), 4);  // remaining equals the total
    driver().drain();
    // The arc's end is not a number: nothing reaches the pixels.
    std::string png = scratch() + "/empty_clock.png";
    ASSERT_TRUE(clock->renderToPNG(png));
    EXPECT_EQ(SnapshotComparison::pixelAt(png, 30, 30), 0u);
}

TEST_F(HLDrawingTest, SnapshotsMatchTheReferences) {
    // Each drawing on a grey card, so that white and translucent parts show.
    auto card = [this](const Ref<UIView>& content) {
        auto background = UIView::alloc()->initWithFrame(CGRectMake(0, 0, 60, 60));
        background->setBackgroundColor(UIColor::grayColor());
        background->addSubview(content);
        window()->addSubview(background);
        return background;
    };
    auto classic = card(HLCloseButton::closeButtonWithStyle(0, CGRectMake(5, 5, 50, 50)));
    auto whiteGrey = card(HLCloseButton::closeButtonWithStyle(1, CGRectMake(0, 8, 50, 50)));
    auto fullClock = HLCircularCountdownView::alloc()->initWithFrame(CGRectMake(15, 15, 30, 30), 12, 2, 30);
    fullClock->setCountdownColor(UIColor::yellowColor());
    fullClock->setRemainingSeconds(30);
    auto atTotal = card(fullClock);
    auto halfClock = HLCircularCountdownView::alloc()->initWithFrame(CGRectMake(15, 15, 30, 30), 12, 2, 30);
    halfClock->setCountdownColor(UIColor::yellowColor());
    halfClock->setRemainingSeconds(15);
    auto halfTime = card(halfClock);
    driver().drain();

    const std::string data = "halcyon/display/tests/data/";
    EXPECT_TRUE(SnapshotComparison::viewMatchesReference(classic, data + "close_button_classic.png", scratch()));
    EXPECT_TRUE(SnapshotComparison::viewMatchesReference(whiteGrey, data + "close_button_white_grey.png", scratch()));
    EXPECT_TRUE(SnapshotComparison::viewMatchesReference(atTotal, data + "countdown_at_total.png", scratch()));
    EXPECT_TRUE(SnapshotComparison::viewMatchesReference(halfTime, data + "countdown_half_time.png", scratch()));
}
