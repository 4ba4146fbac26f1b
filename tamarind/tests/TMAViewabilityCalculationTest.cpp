// The viewability measurement, through the older calculator on plain views
// in the key window (the template calculator shares every step): the ad off
// screen, under translucent, hidden and clipping ancestors, covered by later
// siblings and windows and by each kind of covering view, paused while the
// application is inactive; the covered fraction's edge cases; and the
// overlap step's hop through a global queue with the ad released meanwhile.
#include "platform/ui/CAGradientLayer.h"
#include "platform/ui/UIImageView.h"
#include "tamarind/TMAViewabilityCalculation.h"
#include "tamarind/tests/TamarindTestSupport.h"

namespace {

class TMAViewabilityTestRecorder : public NSObject, public TMAViewabilityCalculationDelegate {
public:
    void viewabilityOfAdView(float percentage, CGRect adFrame) override {
        percentages.push_back(percentage);
        frames.push_back(adFrame);
    }
    std::vector<float> percentages;
    std::vector<CGRect> frames;
};

}  // namespace

class TMAViewabilityCalculationTest : public TamarindTest {
protected:
    void SetUp() override {
        TamarindTest::SetUp();
        recorder = NSObject::alloc<TMAViewabilityTestRecorder>();
        ad = addView(window(), CGRectMake(0, 100, 320, 50));
        calculation = NSObject::alloc<TMAViewabilityCalculation>()->initWithAdView(ad);
        calculation->setDelegate(recorder);
    }
    // A view added above its earlier siblings; opaque when given a colour.
    static Ref<UIView> addView(const Ref<UIView>& parent, CGRect frame, Ref<UIColor> color = nullptr) {
        auto view = UIView::alloc()->initWithFrame(frame);
        view->setBackgroundColor(color);
        parent->addSubview(view);
        return view;
    }
    // One measurement, through its hop to a global queue and back.
    float measure() {
        recorder->percentages.clear();
        calculation->triggerViewabilityCalculation();
        driver().settle();
        return recorder->percentages.empty() ? -1 : recorder->percentages.back();
    }
    static float covered(CGRect visible, std::vector<CGRect> rects) {
        return TMAViewabilityCalculator::calculateOverlapPercentage(visible, std::move(rects));
    }

    Ref<TMAViewabilityTestRecorder> recorder;
    Ref<UIView> ad;
    Ref<TMAViewabilityCalculation> calculation;
};

TEST_F(TMAViewabilityCalculationTest, OnScreenShareAndFrame) {
    EXPECT_EQ(measure(), 100);
    EXPECT_EQ(recorder->frames.back(), CGRectMake(0, 100, 320, 50));
    ad->setFrame(CGRectMake(-160, 100, 320, 50));
    EXPECT_EQ(measure(), 50);
    ad->setFrame(CGRectMake(0, 543, 320, 50));
    EXPECT_EQ(measure(), 50);
    ad->setFrame(CGRectMake(320, 100, 320, 50));
    EXPECT_EQ(measure(), 0);
    ad->setFrame(CGRectMake(0, 100, 320, 50));
    ad->setAlpha(0.99f);
    EXPECT_EQ(measure(), 0);
    ad->setAlpha(1);
    ad->setHidden(true);
    EXPECT_EQ(measure(), 0);
    ad->removeFromSuperview();
    EXPECT_EQ(measure(), 0);
    EXPECT_EQ(recorder->frames.back(), CGRectZero);
}

TEST_F(TMAViewabilityCalculationTest, TranslucentHiddenAndClippingAncestors) {
    auto holder = addView(window(), CGRectMake(0, 100, 320, 25));
    ad->setFrame(CGRectMake(0, 0, 320, 50));
    holder->addSubview(ad);
    EXPECT_EQ(measure(), 100);
    holder->setClipsToBounds(true);
    EXPECT_EQ(measure(), 50);
    holder->setAlpha(0.5f);
    EXPECT_EQ(measure(), 0);
    holder->setAlpha(1);
    holder->setHidden(true);
    EXPECT_EQ(measure(), 0);
}

TEST_F(TMAViewabilityCalculationTest, LaterSiblingsAndWindowsCoverEarlierOnesDoNot) {
    // A cover of 320 × 25 counts 26 rows: 48 %, as the row scan is inclusive.
    auto below = UIView::alloc()->initWithFrame(CGRectMake(0, 100, 320, 50));
    below->setBackgroundColor(UIColor::redColor());
    window()->insertSubviewBelowSubview(below, ad);
    EXPECT_EQ(measure(), 100);
    auto cover = addView(window(), CGRectMake(0, 100, 320, 25), UIColor::blackColor());
    EXPECT_EQ(measure(), 48);
    cover->removeFromSuperview();

    // Above an ancestor, and inside a later window.
    auto holder = addView(window(), CGRectMake(0, 100, 320, 50));
    ad->setFrame(CGRectMake(0, 0, 320, 50));
    holder->addSubview(ad);
    auto aboveHolder = addView(window(), CGRectMake(0, 0, 320, 125));
    aboveHolder->setUserInteractionEnabled(false);
    addView(aboveHolder, CGRectMake(0, 100, 160, 25), UIColor::blackColor());
    EXPECT_EQ(measure(), 74);
    aboveHolder->removeFromSuperview();

    auto later = UIWindow::alloc();
    later->initWithFrame(CGRectMake(0, 0, 320, 568));
    later->setWindowLevel(UIWindowLevelAlert);
    later->setHidden(false);
    addView(later, CGRectMake(0, 100, 320, 50), UIColor::blackColor());
    EXPECT_EQ(measure(), 0);
    later->setWindowLevel(UIWindowLevelNormal - 1);
    later->setHidden(true);
    later->setHidden(false);
    EXPECT_EQ(measure(), 100);
    later->setHidden(true);
}

TEST_F(TMAViewabilityCalculationTest, WhichViewsCover) {
    auto half = CGRectMake(0, 100, 320, 25);
    auto expectCover = [&](const Ref<UIView>& view, float percentage, const char* what) {
        window()->addSubview(view);
        EXPECT_EQ(measure(), percentage) << what;
        view->removeFromSuperview();
    };
    auto plain = [&] { return UIView::alloc()->initWithFrame(half); };

    auto clearUntouchable = plain();
    clearUntouchable->setUserInteractionEnabled(false);
    expectCover(clearUntouchable, 100, "clear, not the hit-test target");
    expectCover(plain(), 48, "clear, the hit-test target at its centre");
    auto clearColoured = plain();
    clearColoured->setBackgroundColor(UIColor::clearColor());
    clearColoured->setUserInteractionEnabled(false);
    expectCover(clearColoured, 100, "the clear colour");
    auto image = UIImageView::alloc()->initWithFrame(half);
    image->setUserInteractionEnabled(false);
    expectCover(image, 48, "an image view");
    auto gradient = plain();
    gradient->setUserInteractionEnabled(false);
    gradient->layer()->addSublayer(CAGradientLayer::layer());
    expectCover(gradient, 48, "a gradient layer");
    auto transparent = plain();
    transparent->setBackgroundColor(UIColor::blackColor());
    transparent->setAlpha(0);
    expectCover(transparent, 100, "fully transparent");
    auto hidden = plain();
    hidden->setHidden(true);
    addView(hidden, CGRectMake(0, 0, 320, 25), UIColor::blackColor());
    expectCover(hidden, 100, "hidden, with an opaque child");
    auto container = plain();
    container->setUserInteractionEnabled(false);
    addView(container, CGRectMake(0, 0, 160, 25), UIColor::blackColor());
    expectCover(container, 74, "a clear view's opaque child");
}

TEST_F(TMAViewabilityCalculationTest, InactiveApplicationPausesAfterOneZeroReport) {
    calculation->startCalculationsWithInterval(0.5);
    driver().advance(0.5);
    driver().settle();
    EXPECT_EQ(recorder->percentages, std::vector<float>{100});
    UIApplication::sharedApplication()->simulateResignActive();
    driver().advance(3);
    driver().settle();
    EXPECT_EQ(recorder->percentages, (std::vector<float>{100, 0}));
    EXPECT_EQ(recorder->frames.back(), CGRectZero);
    UIApplication::sharedApplication()->simulateBecomeActive();
    driver().advance(0.5);
    driver().settle();
    EXPECT_EQ(recorder->percentages, (std::vector<float>{100, 0, 100}));
    calculation->stopCalculations();
    EXPECT_FALSE(calculation->timerActive());
    driver().advance(3);
    EXPECT_EQ(recorder->percentages.size(), 3u);
}

TEST_F(TMAViewabilityCalculationTest, CoveredFractionEdgeCases) {
    const CGRect banner = CGRectMake(0, 0, 320, 50);
    EXPECT_EQ(covered(banner, {}), 0);
    EXPECT_FLOAT_EQ(covered(banner, {CGRectMake(0, 0, 320, 25)}), 0.52f);
    // Overlapping covers of one row count once; the order given does not matter.
    EXPECT_FLOAT_EQ(covered(banner, {CGRectMake(100, 0, 220, 25), CGRectMake(0, 0, 200, 25)}), 0.52f);
    EXPECT_FLOAT_EQ(covered(banner, {CGRectMake(200, 0, 100, 10), CGRectMake(0, 0, 100, 10)}), 0.14f);
    EXPECT_FLOAT_EQ(covered(banner, {CGRectMake(0, 0, 320, 50)}), 1.0f);
    EXPECT_FLOAT_EQ(covered(banner, {CGRectMake(0, 0, 320, 50), CGRectMake(0, 0, 320, 50)}), 1.0f);
    // Under one square point: 0, never NaN.
    EXPECT_EQ(covered(CGRectMake(0, 0, 0.5f, 0.5f), {CGRectMake(0, 0, 0.5f, 0.5f)}), 0);
    EXPECT_EQ(covered(CGRectMake(0, 0, 0, 50), {CGRectMake(0, 0, 0, 50)}), 0);
}

TEST_F(TMAViewabilityCalculationTest, AnAdReleasedDuringTheOverlapHopEndsQuietly) {
    calculation->triggerViewabilityCalculation();
    ad->removeFromSuperview();
    ad = nullptr;
    driver().settle();
    EXPECT_TRUE(recorder->percentages.empty());

    ad = addView(window(), CGRectMake(0, 100, 320, 50));
    calculation = NSObject::alloc<TMAViewabilityCalculation>()->initWithAdView(ad);
    calculation->setDelegate(recorder);
    calculation->triggerViewabilityCalculation();
    calculation = nullptr;
    driver().settle();
    EXPECT_TRUE(recorder->percentages.empty());
}
