// Views: geometry under transforms, the tree and its layers, move hooks,
// autoresizing, coordinate conversion, hit-testing, layout pass, main thread.
#include <cmath>
#include <thread>

#include "UITestFixture.h"

namespace platform::testing {
namespace {

using ViewTest = UITestFixture;

Ref<UIView> makeView(CGRect frame) { return UIView::alloc()->initWithFrame(frame); }

// Records the move hooks it receives.
class HookView : public UIView {
public:
    static Ref<HookView> make(std::vector<std::string>* log, std::string name) {
        auto v = std::make_shared<HookView>();
        v->initWithFrame(CGRectMake(0, 0, 10, 10));
        v->log_ = log;
        v->name_ = std::move(name);
        return v;
    }
    void willMoveToSuperview(Ref<UIView> s) override { log_->push_back(name_ + ".willMoveToSuperview(" + (s ? "view" : "nil") + ")"); }
    void didMoveToSuperview() override { log_->push_back(name_ + ".didMoveToSuperview"); }
    void willMoveToWindow(Ref<UIWindow> w) override { log_->push_back(name_ + ".willMoveToWindow(" + (w ? "window" : "nil") + ")"); }
    void didMoveToWindow() override { log_->push_back(name_ + ".didMoveToWindow"); }
    void layoutSubviews() override { log_->push_back(name_ + ".layoutSubviews"); }

private:
    std::vector<std::string>* log_ = nullptr;
    std::string name_;
};

TEST_F(ViewTest, FrameIsTheBoxOfTheBoundsTransformedAboutTheCentre) {
    auto v = makeView(CGRectMake(100, 20, 50, 50));
    EXPECT_EQ(v->center(), CGPointMake(125, 45));
    EXPECT_EQ(v->bounds(), CGRectMake(0, 0, 50, 50));
    v->setTransform(CGAffineTransformMakeScale(2, 0.5f));
    EXPECT_EQ(v->frame(), CGRectMake(75, 32.5f, 100, 25));
    EXPECT_EQ(v->bounds().size, CGSizeMake(50, 50));  // the bounds do not change
    v->setTransform(CGAffineTransformIdentity);
    v->setFrame(CGRectMake(107, 15, 47.5f, 47.5f));
    EXPECT_EQ(v->frame(), CGRectMake(107, 15, 47.5f, 47.5f));
    EXPECT_EQ(v->layer()->frame(), v->frame());
    // A frame that is not a number is refused, not stored.
    expectLogLine("UIView::setFrame: ignored");
    v->setFrame(CGRectMake(NAN, 0, 1, 1));
    EXPECT_EQ(v->frame(), CGRectMake(107, 15, 47.5f, 47.5f));
}

TEST_F(ViewTest, SubviewOrderAndLayerOrderStayTogether) {
    auto parent = makeView(CGRectMake(0, 0, 100, 100));
    auto a = makeView(CGRectZero), b = makeView(CGRectZero), c = makeView(CGRectZero);
    auto free = CALayer::layer();
    parent->layer()->addSublayer(free);
    parent->addSubview(a);
    parent->addSubview(b);
    parent->insertSubviewBelowSubview(c, a);
    EXPECT_EQ(parent->subviews(), (std::vector<Ref<UIView>>{c, a, b}));
    parent->bringSubviewToFront(c);
    EXPECT_EQ(parent->subviews(), (std::vector<Ref<UIView>>{a, b, c}));
    parent->sendSubviewToBack(b);
    EXPECT_EQ(parent->subviews(), (std::vector<Ref<UIView>>{b, a, c}));
    parent->insertSubviewAboveSubview(b, a);
    EXPECT_EQ(parent->subviews(), (std::vector<Ref<UIView>>{a, b, c}));
    auto layers = parent->layer()->sublayers();
    // The free-standing layer stays below; view layers follow the subviews.
    EXPECT_EQ(layers, (std::vector<Ref<CALayer>>{free, a->layer(), b->layer(), c->layer()}));

    // Adding to another parent moves the view.
    auto other = makeView(CGRectZero);
    other->addSubview(b);
    EXPECT_EQ(parent->subviews(), (std::vector<Ref<UIView>>{a, c}));
    EXPECT_EQ(b->superview(), other);
    EXPECT_EQ(b->layer()->superlayer(), other->layer());

    // A view cannot be put inside itself.
    expectLogLine("cannot be added inside itself");
    b->addSubview(other);
    EXPECT_EQ(other->superview(), nullptr);
    EXPECT_TRUE(b->isDescendantOfView(other));
    EXPECT_FALSE(other->isDescendantOfView(b));
}

TEST_F(ViewTest, MoveHooksComeInOrderAndReachTheWholeSubtree) {
    std::vector<std::string> log;
    auto outer = HookView::make(&log, "outer");
    auto inner = HookView::make(&log, "inner");
    outer->addSubview(inner);
    log.clear();
    window()->addSubview(outer);
    EXPECT_EQ(log, (std::vector<std::string>{"outer.willMoveToSuperview(view)", "outer.willMoveToWindow(window)",
                                             "inner.willMoveToWindow(window)", "outer.didMoveToWindow",
                                             "inner.didMoveToWindow", "outer.didMoveToSuperview"}));
    EXPECT_EQ(inner->window(), window());
    log.clear();
    outer->removeFromSuperview();
    EXPECT_EQ(log, (std::vector<std::string>{"outer.willMoveToSuperview(nil)", "outer.willMoveToWindow(nil)",
                                             "inner.willMoveToWindow(nil)", "outer.didMoveToWindow",
                                             "inner.didMoveToWindow", "outer.didMoveToSuperview"}));
    EXPECT_EQ(inner->window(), nullptr);
}

TEST_F(ViewTest, RemovingAViewDropsTheConstraintsOfItsSubtreeHeldAbove) {
    auto container = makeView(CGRectMake(0, 0, 100, 100));
    window()->addSubview(container);
    auto child = makeView(CGRectZero), grandchild = makeView(CGRectZero), other = makeView(CGRectZero);
    container->addSubview(child);
    child->addSubview(grandchild);
    container->addSubview(other);
    auto toGrandchild = NSLayoutConstraint::constraintWithItem(grandchild, NSLayoutAttributeWidth,
                                                               NSLayoutRelationEqual, other, NSLayoutAttributeWidth, 1, 0);
    auto unrelated = NSLayoutConstraint::constraintWithItem(other, NSLayoutAttributeWidth, NSLayoutRelationEqual,
                                                            nullptr, NSLayoutAttributeNotAnAttribute, 0, 5);
    window()->addConstraint(toGrandchild);
    container->addConstraint(unrelated);
    child->removeFromSuperview();
    EXPECT_TRUE(window()->constraints().empty());
    EXPECT_EQ(container->constraints().size(), 1u);
    EXPECT_EQ(toGrandchild->holder(), nullptr);
}

TEST_F(ViewTest, AutoresizingSharesTheChangeAmongFlexibleParts) {
    auto parent = makeView(CGRectMake(0, 0, 100, 100));
    auto width = makeView(CGRectMake(10, 10, 30, 30));
    width->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);  // 18
    auto margins = makeView(CGRectMake(10, 0, 30, 10));
    margins->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin);
    auto left = makeView(CGRectMake(80, 0, 20, 20));
    left->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    auto fixed = makeView(CGRectMake(5, 5, 5, 5));
    auto constrained = makeView(CGRectMake(5, 5, 5, 5));
    constrained->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    constrained->setTranslatesAutoresizingMaskIntoConstraints(false);
    for (const auto& v : {width, margins, left, fixed, constrained}) parent->addSubview(v);

    parent->setFrame(CGRectMake(0, 0, 200, 150));
    EXPECT_EQ(width->frame(), CGRectMake(10, 10, 130, 80));
    // Margins 10 and 60 share 100 in proportion: +16.67 on the left.
    EXPECT_NEAR(margins->frame().origin.x, 10 + 100.0 * 10 / 70, 1e-4);
    EXPECT_EQ(margins->frame().size.width, 30);
    EXPECT_EQ(left->frame(), CGRectMake(180, 0, 20, 20));
    EXPECT_EQ(fixed->frame(), CGRectMake(5, 5, 5, 5));
    EXPECT_EQ(constrained->frame(), CGRectMake(5, 5, 5, 5));

    // All flexible parts of length 0: equal shares.
    auto zero = makeView(CGRectMake(0, 0, 0, 0));
    zero->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleWidth);
    auto tight = makeView(CGRectMake(0, 0, 0, 10));
    tight->addSubview(zero);
    tight->setFrame(CGRectMake(0, 0, 10, 10));
    EXPECT_EQ(zero->frame(), CGRectMake(5, 0, 5, 0));

    parent->setAutoresizesSubviews(false);
    parent->setFrame(CGRectMake(0, 0, 100, 100));
    EXPECT_EQ(width->frame(), CGRectMake(10, 10, 130, 80));
}

TEST_F(ViewTest, ConvertingPointsGoesThroughTransformsAndWindows) {
    auto a = makeView(CGRectMake(10, 20, 100, 100));
    auto b = makeView(CGRectMake(5, 5, 50, 50));
    window()->addSubview(a);
    a->addSubview(b);
    EXPECT_EQ(b->convertPointToView(CGPointMake(1, 2), nullptr), CGPointMake(16, 27));
    EXPECT_EQ(b->convertPointFromView(CGPointMake(16, 27), nullptr), CGPointMake(1, 2));
    EXPECT_EQ(b->convertRectToView(CGRectMake(0, 0, 10, 10), a), CGRectMake(5, 5, 10, 10));

    // A half turn about a's centre (60, 70).
    a->setTransform(CGAffineTransformMakeScale(-1, -1));
    CGPoint p = a->convertPointToView(CGPointMake(0, 0), window());
    EXPECT_NEAR(p.x, 110, 1e-4);
    EXPECT_NEAR(p.y, 120, 1e-4);
    a->setTransform(CGAffineTransformIdentity);

    // Between windows: through the window frames.
    auto other = UIWindow::alloc();
    other->initWithFrame(CGRectMake(100, 200, 50, 50));
    other->setHidden(false);
    EXPECT_EQ(b->convertPointToView(CGPointMake(0, 0), other), CGPointMake(15 - 100, 25 - 200));
    EXPECT_EQ(other->convertPointFromView(CGPointMake(0, 0), b), CGPointMake(15 - 100, 25 - 200));

    // Scrolled bounds move the content.
    a->setBounds(CGRectMake(0, 30, 100, 100));
    EXPECT_EQ(b->convertPointToView(CGPointMake(0, 0), nullptr), CGPointMake(15, -5));
}

TEST_F(ViewTest, HitTestingFollowsThePlatformRule) {
    auto container = makeView(CGRectMake(0, 0, 100, 100));
    auto button = makeView(CGRectMake(10, 10, 20, 20));
    auto outside = makeView(CGRectMake(90, 90, 40, 40));  // partly outside its parent
    window()->addSubview(container);
    container->addSubview(button);
    container->addSubview(outside);

    EXPECT_EQ(window()->hitTest(CGPointMake(15, 15), nullptr), button);
    EXPECT_EQ(window()->hitTest(CGPointMake(50, 50), nullptr), container);
    EXPECT_EQ(window()->hitTest(CGPointMake(95, 95), nullptr), outside);
    // The part outside the parent's bounds is never hit.
    EXPECT_EQ(window()->hitTest(CGPointMake(110, 110), nullptr), rootViewController()->view());

    button->setAlpha(0.009f);
    EXPECT_EQ(window()->hitTest(CGPointMake(15, 15), nullptr), container);
    button->setAlpha(0.01f);
    EXPECT_EQ(window()->hitTest(CGPointMake(15, 15), nullptr), button);
    button->setHidden(true);
    EXPECT_EQ(window()->hitTest(CGPointMake(15, 15), nullptr), container);
    button->setHidden(false);
    button->setUserInteractionEnabled(false);
    EXPECT_EQ(window()->hitTest(CGPointMake(15, 15), nullptr), container);
    button->setUserInteractionEnabled(true);

    // Front to back: a later sibling covers an earlier one.
    auto cover = makeView(CGRectMake(0, 0, 50, 50));
    container->addSubview(cover);
    EXPECT_EQ(window()->hitTest(CGPointMake(15, 15), nullptr), cover);
    container->sendSubviewToBack(cover);
    EXPECT_EQ(window()->hitTest(CGPointMake(15, 15), nullptr), button);
}

TEST_F(ViewTest, ViewWithTagSearchesDepthFirstFromTheViewItself) {
    auto root = makeView(CGRectZero);
    auto a = makeView(CGRectZero), a1 = makeView(CGRectZero), b = makeView(CGRectZero);
    root->addSubview(a);
    a->addSubview(a1);
    root->addSubview(b);
    a1->setTag(999999999);
    b->setTag(999999999);
    EXPECT_EQ(root->viewWithTag(999999999), a1);
    root->setTag(999999999);
    EXPECT_EQ(root->viewWithTag(999999999), root);
    EXPECT_EQ(root->viewWithTag(7), nullptr);
}

TEST_F(ViewTest, TheLayoutPassRunsWhereMarkedTopDownWithControllerHooks) {
    std::vector<std::string> log;
    auto outer = HookView::make(&log, "outer");
    auto inner = HookView::make(&log, "inner");
    outer->addSubview(inner);
    window()->addSubview(outer);
    driver().drain();
    log.clear();
    driver().drain();
    EXPECT_TRUE(log.empty());  // nothing marked, nothing laid out
    inner->setNeedsLayout();
    outer->setNeedsLayout();
    driver().drain();
    EXPECT_EQ(log, (std::vector<std::string>{"outer.layoutSubviews", "inner.layoutSubviews"}));
    log.clear();
    inner->setFrame(CGRectMake(0, 0, 20, 20));  // a size change marks the view
    inner->layoutIfNeeded();
    EXPECT_EQ(log, (std::vector<std::string>{"inner.layoutSubviews"}));

    // Views outside windows wait for layoutIfNeeded.
    log.clear();
    auto loose = HookView::make(&log, "loose");
    driver().drain();
    EXPECT_TRUE(log.empty());
    loose->layoutIfNeeded();
    EXPECT_EQ(log, (std::vector<std::string>{"loose.layoutSubviews"}));
}

class CountingController : public UIViewController {
public:
    int willLayout = 0, didLayout = 0;
    void viewWillLayoutSubviews() override { ++willLayout; }
    void viewDidLayoutSubviews() override { ++didLayout; }
};

TEST_F(ViewTest, ControllersHearAroundTheirViewsLayout) {
    auto c = std::make_shared<CountingController>();
    c->init();
    window()->addSubview(c->view());
    driver().drain();
    EXPECT_EQ(c->willLayout, 1);
    EXPECT_EQ(c->didLayout, 1);
    c->view()->setNeedsLayout();
    driver().drain();
    EXPECT_EQ(c->didLayout, 2);
}

TEST_F(ViewTest, ACallOffTheMainThreadIsLoggedAndCarriedOut) {
    auto v = makeView(CGRectZero);
    expectLogLine("main-thread-only call off the main thread: UIView::setFrame");
    std::thread([&] { v->setFrame(CGRectMake(1, 2, 3, 4)); }).join();
    EXPECT_EQ(v->frame(), CGRectMake(1, 2, 3, 4));
}

TEST_F(ViewTest, TheScreenAndWindowFollowTheProfile) {
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 320, 568));
    EXPECT_EQ(UIScreen::mainScreen()->nativeBounds(), CGRectMake(0, 0, 640, 1136));
    EXPECT_EQ(UIScreen::mainScreen()->applicationFrame(), CGRectMake(0, 20, 320, 548));
    EXPECT_EQ(window()->frame(), CGRectMake(0, 0, 320, 568));
    EXPECT_EQ(rootViewController()->view()->frame(), window()->bounds());
    EXPECT_TRUE(window()->isKeyWindow());
    EXPECT_EQ(UIApplication::sharedApplication()->keyWindow(), window());
}

TEST_F(ViewTest, WindowsListByLevelThenByTheOrderTheyBecameVisible) {
    auto alert = UIWindow::alloc();
    alert->initWithFrame(CGRectMake(0, 0, 10, 10));
    alert->setWindowLevel(UIWindowLevelAlert);
    alert->makeKeyAndVisible();
    auto later = UIWindow::alloc();
    later->initWithFrame(CGRectMake(0, 0, 10, 10));
    later->setHidden(false);
    EXPECT_EQ(UIApplication::sharedApplication()->windows(), (std::vector<Ref<UIWindow>>{window(), later, alert}));
    EXPECT_EQ(UIApplication::sharedApplication()->keyWindow(), alert);
    later->setHidden(true);
    EXPECT_EQ(UIApplication::sharedApplication()->windows(), (std::vector<Ref<UIWindow>>{window(), alert}));
}

}  // namespace
}  // namespace platform::testing
