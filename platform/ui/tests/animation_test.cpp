// Animations on the virtual clock: values at once, completions at their end
// time in order, never superseded, removal reporting finished false.
#include <cmath>
#include <stdexcept>

#include "UITestFixture.h"

namespace platform::testing {
namespace {

using AnimationTest = UITestFixture;

TEST_F(AnimationTest, ValuesApplyAtOnceAndCompletionsRunAtTheirEndTimes) {
    auto v = UIView::alloc()->initWithFrame(CGRectMake(0, 0, 10, 10));
    v->setAlpha(0);
    std::vector<std::string> order;
    UIView::animateWithDuration(1.0, 0.5, UIViewAnimationOptionAllowUserInteraction, [&] { v->setAlpha(1); },
                                [&](bool finished) { order.push_back(std::string("fade ") + (finished ? "yes" : "no")); });
    EXPECT_EQ(v->alpha(), 1.0f);  // the model changes at once
    UIView::animateWithDuration(0.3, [&] { v->setFrame(CGRectMake(5, 5, 20, 20)); },
                                [&](bool finished) { order.push_back(std::string("move ") + (finished ? "yes" : "no")); });
    UIView::animateWithDuration(0, [&] { v->setBackgroundColor(UIColor::redColor()); },
                                [&](bool) { order.push_back("instant"); });
    EXPECT_EQ(v->frame(), CGRectMake(5, 5, 20, 20));
    EXPECT_TRUE(order.empty());  // never inside the call
    driver().drain();
    EXPECT_EQ(order, (std::vector<std::string>{"instant"}));
    driver().advance(0.29);
    EXPECT_EQ(order.size(), 1u);
    driver().advance(0.02);
    EXPECT_EQ(order, (std::vector<std::string>{"instant", "move yes"}));
    driver().advance(1.18);
    EXPECT_EQ(order.size(), 2u);
    driver().advance(0.02);  // 1.5 s: delay + duration
    EXPECT_EQ(order, (std::vector<std::string>{"instant", "move yes", "fade yes"}));
    driver().advance(10);
    EXPECT_EQ(order.size(), 3u);  // once each
}

TEST_F(AnimationTest, ALaterAnimationOfTheSamePropertyDoesNotCancelTheFirst) {
    auto v = UIView::alloc()->initWithFrame(CGRectMake(0, 0, 100, 10));
    int first = 0, second = 0;
    bool firstFinished = false;
    UIView::animateWithDuration(1.0, [&] { v->setAlpha(0); }, [&](bool finished) {
        ++first;
        firstFinished = finished;
        v->setFrame(CGRectMake(0, 0, 0, 10));  // a fade's completion collapsing the view
    });
    driver().advance(0.5);
    UIView::animateWithDuration(1.0, [&] { v->setAlpha(1); }, [&](bool) { ++second; });
    driver().advance(0.5);
    EXPECT_EQ(first, 1);
    EXPECT_TRUE(firstFinished);
    EXPECT_EQ(v->frame().size.width, 0);
    EXPECT_EQ(v->alpha(), 1.0f);
    driver().advance(0.5);
    EXPECT_EQ(second, 1);
}

TEST_F(AnimationTest, RemovingAnimationsRunsPendingCompletionsAtTheNextPassUnfinished) {
    auto a = UIView::alloc()->initWithFrame(CGRectZero);
    auto b = UIView::alloc()->initWithFrame(CGRectZero);
    std::vector<std::string> log;
    UIView::animateWithDuration(2.0, [&] { a->setAlpha(0.5f); },
                                [&](bool finished) { log.push_back(std::string("a ") + (finished ? "yes" : "no")); });
    UIView::animateWithDuration(2.0, [&] { b->setAlpha(0.5f); },
                                [&](bool finished) { log.push_back(std::string("b ") + (finished ? "yes" : "no")); });
    UIView::transitionWithView(a, 1.0, UIViewAnimationOptionTransitionCrossDissolve, nullptr,
                               [&](bool finished) { log.push_back(std::string("t ") + (finished ? "yes" : "no")); });
    a->layer()->removeAllAnimations();
    EXPECT_TRUE(log.empty());
    driver().drain();
    EXPECT_EQ(log, (std::vector<std::string>{"a no", "t no"}));
    driver().advance(3);
    EXPECT_EQ(log, (std::vector<std::string>{"a no", "t no", "b yes"}));
}

TEST_F(AnimationTest, AnExceptionInACompletionIsLoggedAndTheRestGoOn) {
    int ran = 0;
    expectLogLine("animation completion: uncaught exception: boom");
    UIView::animateWithDuration(0.1, [] {}, [](bool) { throw std::runtime_error("boom"); });
    UIView::animateWithDuration(0.1, [] {}, [&](bool) { ++ran; });
    driver().advance(0.2);
    EXPECT_EQ(ran, 1);
}

TEST_F(AnimationTest, NestedBlocksAndBadDurations) {
    auto v = UIView::alloc()->initWithFrame(CGRectZero);
    std::vector<int> order;
    UIView::animateWithDuration(1, [&] {
        v->setAlpha(0.2f);
        UIView::animateWithDuration(0.5, [&] { v->setAlpha(0.4f); }, [&](bool) { order.push_back(2); });
    }, [&](bool) { order.push_back(1); });
    UIView::animateWithDuration(NAN, [] {}, [&](bool) { order.push_back(0); });
    EXPECT_EQ(v->alpha(), 0.4f);
    driver().advance(2);
    EXPECT_EQ(order, (std::vector<int>{0, 2, 1}));
}

}  // namespace
}  // namespace platform::testing
