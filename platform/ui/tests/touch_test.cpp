// Simulated taps: recognizers offered the touch hit view first, a control's
// own tap winning, touches cancelled by recognizers; buttons and scroll views.
#include "UITestFixture.h"

namespace platform::testing {
namespace {

using TouchTest = UITestFixture;

class TouchLog : public UIView {
public:
    std::vector<std::string>* log = nullptr;
    std::string name;
    static Ref<TouchLog> make(std::vector<std::string>* log, std::string name, CGRect frame) {
        auto v = std::make_shared<TouchLog>();
        v->initWithFrame(frame);
        v->log = log;
        v->name = std::move(name);
        return v;
    }
    void touchesBegan(const std::vector<Ref<UITouch>>&, const Ref<UIEvent>&) override { log->push_back(name + ".began"); }
    void touchesEnded(const std::vector<Ref<UITouch>>&, const Ref<UIEvent>&) override { log->push_back(name + ".ended"); }
    void touchesCancelled(const std::vector<Ref<UITouch>>&, const Ref<UIEvent>&) override {
        log->push_back(name + ".cancelled");
    }
};

class Target : public NSObject, public UIGestureRecognizerDelegate {
public:
    std::vector<std::string>* log = nullptr;
    bool receive = true, begin = true;
    CGPoint lastLocation{};
    void tapped(Ref<UIGestureRecognizer> r) {
        lastLocation = r->locationInView(r->view());
        log->push_back("tap on " + std::to_string(r->view()->tag()));
    }
    void pressed(Ref<UIControl> c) { log->push_back("button " + std::to_string(c->tag())); }
    bool gestureRecognizerShouldReceiveTouch(const Ref<UIGestureRecognizer>& r, const Ref<UITouch>& t) override {
        CGPoint p = t->locationInView(r->view());
        log->push_back("offered " + std::to_string(r->view()->tag()) + " at " + NSStringFromCGPoint(p));
        return receive;
    }
    bool gestureRecognizerShouldBegin(const Ref<UIGestureRecognizer>&) override { return begin; }
};

Ref<UITapGestureRecognizer> tap(const Ref<Target>& target, bool withDelegate = false) {
    auto r = UITapGestureRecognizer::alloc();
    r->initWithTarget(target, &Target::tapped);
    if (withDelegate) r->setDelegate(target);
    return r;
}

TEST_F(TouchTest, RecognizersOfTheHitViewAndItsAncestorsFireInOrder) {
    std::vector<std::string> log;
    auto target = std::make_shared<Target>();
    target->log = &log;
    auto outer = TouchLog::make(&log, "outer", CGRectMake(0, 0, 200, 200));
    auto inner = TouchLog::make(&log, "inner", CGRectMake(50, 50, 50, 50));
    outer->setTag(1);
    inner->setTag(2);
    window()->addSubview(outer);
    outer->addSubview(inner);
    auto innerTap = tap(target);
    innerTap->setCancelsTouchesInView(false);
    inner->addGestureRecognizer(innerTap);
    auto outerTap = tap(target, true);
    outerTap->setCancelsTouchesInView(false);
    outer->addGestureRecognizer(outerTap);

    window()->simulateTap(CGPointMake(60, 70));
    EXPECT_EQ(log, (std::vector<std::string>{"offered 1 at {60, 70}", "inner.began", "tap on 2", "tap on 1",
                                             "inner.ended"}));
    EXPECT_EQ(target->lastLocation, CGPointMake(60, 70));

    // A recognizer that cancels touches turns the end into a cancel.
    log.clear();
    innerTap->setCancelsTouchesInView(true);
    window()->simulateTap(inner);
    EXPECT_EQ(log, (std::vector<std::string>{"offered 1 at {75, 75}", "inner.began", "tap on 2", "tap on 1",
                                             "inner.cancelled"}));

    // The delegate refusing the touch or the beginning stops that recognizer.
    log.clear();
    target->receive = false;
    window()->simulateTap(CGPointMake(10, 10));
    EXPECT_EQ(log, (std::vector<std::string>{"offered 1 at {10, 10}", "outer.began", "outer.ended"}));
    log.clear();
    target->receive = true;
    target->begin = false;
    window()->simulateTap(CGPointMake(10, 10));
    EXPECT_EQ(log, (std::vector<std::string>{"offered 1 at {10, 10}", "outer.began", "outer.ended"}));

    // Disabled recognizers and double-tap recognizers do not take a single tap.
    log.clear();
    target->begin = true;
    outerTap->setEnabled(false);
    innerTap->setNumberOfTapsRequired(2);
    window()->simulateTap(inner);
    EXPECT_EQ(log, (std::vector<std::string>{"inner.began", "inner.ended"}));
}

TEST_F(TouchTest, AControlsOwnTapWinsOverItsAncestorsRecognizers) {
    std::vector<std::string> log;
    auto target = std::make_shared<Target>();
    target->log = &log;
    auto root = rootViewController()->view();
    root->setTag(1);
    root->addGestureRecognizer(tap(target, true));
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);  // no image: still takes touches
    button->setFrame(CGRectMake(270, 0, 50, 50));
    button->setTag(7);
    button->addTarget(target, &Target::pressed, UIControlEventTouchUpInside);
    root->addSubview(button);

    window()->simulateTap(CGPointMake(290, 20));
    // The root's recognizer is offered the touch (it sees taps on the button)
    // but does not fire; the button's action runs.
    EXPECT_EQ(log, (std::vector<std::string>{"offered 1 at {290, 20}", "button 7"}));

    log.clear();
    button->setHidden(true);  // a hidden button takes no touch
    window()->simulateTap(CGPointMake(290, 20));
    EXPECT_EQ(log, (std::vector<std::string>{"offered 1 at {290, 20}", "tap on 1"}));
    log.clear();
    button->setHidden(false);
    button->setEnabled(false);
    window()->simulateTap(CGPointMake(290, 20));
    EXPECT_EQ(log, (std::vector<std::string>{"offered 1 at {290, 20}"}));

    // Targets are held weakly.
    button->setEnabled(true);
    log.clear();
    Weak<Target> weak = target;
    root->gestureRecognizers().front()->setDelegate(nullptr);
    target.reset();
    EXPECT_TRUE(weak.expired());
    window()->simulateTap(CGPointMake(290, 20));
    EXPECT_TRUE(log.empty());
}

TEST_F(TouchTest, ButtonsKeepContentPerStateWithNormalAsFallback) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(CGRectMake(0, 0, 100, 40));
    button->setTitle("Open", UIControlStateNormal);
    button->setTitle("Opening", UIControlStateHighlighted);
    button->setTitleColor(UIColor::redColor(), UIControlStateNormal);
    EXPECT_EQ(button->titleForState(UIControlStateSelected), "Open");
    EXPECT_EQ(button->currentTitle(), "Open");
    button->setHighlighted(true);
    EXPECT_EQ(button->currentTitle(), "Opening");
    EXPECT_EQ(button->titleLabel()->text(), "Opening");
    button->setHighlighted(false);
    EXPECT_EQ(button->titleLabel()->text(), "Open");
    EXPECT_TRUE(button->titleLabel()->textColor()->isEqual(*UIColor::redColor()));
    EXPECT_EQ(button->imageForState(UIControlStateNormal), nullptr);
    button->layoutIfNeeded();
    // "Open" in the 17-point system font: as wide as the font measures it, 21 high, centred.
    CGRect title = button->titleLabel()->frame();
    EXPECT_EQ(title.size, CGSizeMake(UIFont::systemFontOfSize(17)->widthOfText("Open"), 21));
    EXPECT_FLOAT_EQ(CGRectGetMidX(title), 50);
    EXPECT_EQ(title.origin.y, 9.5f);
    int fired = 0;
    auto counter = std::make_shared<Target>();
    std::vector<std::string> log;
    counter->log = &log;
    button->addTarget(counter, &Target::pressed, UIControlEventTouchUpInside | UIControlEventValueChanged);
    button->sendActionsForControlEvents(UIControlEventValueChanged);
    button->removeTarget(counter.get(), UIControlEventValueChanged);
    button->sendActionsForControlEvents(UIControlEventValueChanged);
    button->sendActionsForControlEvents(UIControlEventTouchUpInside);
    fired = int(log.size());
    EXPECT_EQ(fired, 2);
}

class ScrollDelegate : public NSObject, public UIScrollViewDelegate {
public:
    std::vector<CGPoint> offsets;
    void scrollViewDidScroll(const Ref<UIScrollView>& s) override { offsets.push_back(s->contentOffset()); }
};

TEST_F(TouchTest, ScrollViewsReportEveryOffsetChange) {
    auto scroll = UIScrollView::alloc();
    scroll->initWithFrame(CGRectMake(0, 0, 100, 100));
    scroll->setContentSize(CGSizeMake(100, 1000));
    auto d = std::make_shared<ScrollDelegate>();
    scroll->setDelegate(d);
    scroll->simulateScroll(CGPointMake(0, 50));
    scroll->scrollRectToVisible(CGRectMake(0, 400, 10, 10), true);  // just enough to show it
    scroll->scrollRectToVisible(CGRectMake(0, 350, 10, 10), false);  // already visible: no change
    scroll->scrollRectToVisible(CGRectMake(0, 990, 10, 50), false);  // kept within the content
    scroll->setScrollEnabled(false);
    scroll->simulateScroll(CGPointMake(0, 0));  // the user cannot scroll it
    EXPECT_EQ(d->offsets, (std::vector<CGPoint>{{0, 50}, {0, 310}, {0, 900}}));
    scroll->setContentOffset(CGPointMake(0, 0), false);
    EXPECT_EQ(d->offsets.size(), 4u);
}

}  // namespace
}  // namespace platform::testing
