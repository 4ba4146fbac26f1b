// Visual formats (good and bad) and the frames the solver gives.
#include "UITestFixture.h"

namespace platform::testing {
namespace {

using LayoutTest = UITestFixture;

struct Scene {
    Ref<UIView> container;
    std::map<std::string, Ref<UIView>> views;
};

// A container of the given size in the window with named subviews that take
// constraints.
Scene scene(const Ref<UIWindow>& window, CGSize size, std::initializer_list<std::string> names) {
    Scene s;
    s.container = UIView::alloc()->initWithFrame(CGRectMake(0, 0, size.width, size.height));
    window->addSubview(s.container);
    for (const auto& name : names) {
        auto v = UIView::alloc()->initWithFrame(CGRectMake(1, 2, 3, 4));
        v->setTranslatesAutoresizingMaskIntoConstraints(false);
        s.container->addSubview(v);
        s.views[name] = v;
    }
    return s;
}

void apply(Scene& s, const std::string& format, const Value& metrics = Value()) {
    Ref<NSError> error;
    auto constraints = NSLayoutConstraint::constraintsWithVisualFormat(format, 0, metrics, s.views, &error);
    ASSERT_FALSE(error) << format << ": " << error->localizedDescription();
    s.container->addConstraints(constraints);
}

TEST_F(LayoutTest, TheClientsDefaultFormatsParse) {
    auto s = scene(window(), {320, 568}, {"interstitial", "closeButton", "videoButton", "activityIndicator"});
    struct Case {
        const char* format;
        size_t count;
    } cases[] = {
        {"H:|-(0)-[interstitial]-(0)-|", 2},
        {"V:|-(0)-[interstitial]-(0)-|", 2},
        {"H:[closeButton(50)]-(6)-|", 2},
        {"V:|-(6)-[closeButton(50)]", 2},
        {"H:[videoButton(220)]-(5)-|", 2},
        {"H:[activityIndicator(==50)]", 1},
        {"H:|-5-[closeButton]-5-|", 2},
        {"|[interstitial]|", 2},
        {"H:|-[closeButton]-|", 2},
        {"H:|[closeButton][videoButton]|", 3},
        {"H:|-(>=10)-[closeButton(>=20,<=40)]", 3},
        {"V:[closeButton(==videoButton)]", 1},
        {"H:|-(0@750)-[closeButton(50@500)]", 2},
        {" H: | - ( 0 ) - [ closeButton ] ", 1},
    };
    for (const auto& c : cases) {
        Ref<NSError> error;
        auto list = NSLayoutConstraint::constraintsWithVisualFormat(c.format, 0, Value(), s.views, &error);
        EXPECT_FALSE(error) << c.format;
        EXPECT_EQ(list.size(), c.count) << c.format;
    }
    auto list = NSLayoutConstraint::constraintsWithVisualFormat("H:[closeButton(50)]-(6)-|", 0, Value(), s.views);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->firstItem(), s.views["closeButton"]);
    EXPECT_EQ(list[0]->firstAttribute(), NSLayoutAttributeWidth);
    EXPECT_EQ(list[0]->secondItem(), nullptr);
    EXPECT_EQ(list[0]->constant(), 50);
    EXPECT_EQ(list[1]->firstItem(), s.container);
    EXPECT_EQ(list[1]->firstAttribute(), NSLayoutAttributeTrailing);
    EXPECT_EQ(list[1]->secondItem(), s.views["closeButton"]);
    EXPECT_EQ(list[1]->constant(), 6);
    auto prioritised = NSLayoutConstraint::constraintsWithVisualFormat("H:|-(>=8@750)-[closeButton]", 0, Value(), s.views);
    ASSERT_EQ(prioritised.size(), 1u);
    EXPECT_EQ(prioritised[0]->relation(), NSLayoutRelationGreaterThanOrEqual);
    EXPECT_EQ(prioritised[0]->priority(), 750);
}

TEST_F(LayoutTest, MetricsStandInForNumbers) {
    auto s = scene(window(), {320, 568}, {"subview"});
    Value metrics = Value::dictionary({{"margin", 12}, {"side", 40.5}});
    apply(s, "H:|-margin-[subview(side)]", metrics);
    apply(s, "V:|-(margin)-[subview(==side)]", metrics);
    window()->layoutIfNeeded();
    EXPECT_EQ(s.views["subview"]->frame(), CGRectMake(12, 12, 40.5f, 40.5f));
}

TEST_F(LayoutTest, ABadFormatGivesAnEmptyArrayAndAnErrorNeverAThrow) {
    auto s = scene(window(), {320, 568}, {"closeButton"});
    auto loose = UIView::alloc()->initWithFrame(CGRectZero);  // no superview for "|"
    s.views["loose"] = loose;
    s.views["missing"] = nullptr;
    const char* bad[] = {
        "",
        "H:",
        "H:[closeButton(50)]-(6)-",
        "H:[closeButton(50]",
        "H:[nobody]",
        "H:[closeButton(unknownMetric)]",
        "H:|-(>=x)-[closeButton]",
        "V:|-(6)-[closeButton(50)]]",
        "H:|-[loose]",
        "H:[missing]",
        "X:[closeButton]",
        "H:[closeButton(50@0)]",
        "H:[closeButton(1e999)]",
        "H:[closeButton]-(5",
        "{statusBarHeight}",
        "V:|-{statusBarHeight}-[closeButton]",
        "H:[closeButton]|extra",
        "H:[closeButton(--5)]",
    };
    expectLogLine("Unable to parse constraint format");
    for (const char* format : bad) {
        Ref<NSError> error;
        std::vector<Ref<NSLayoutConstraint>> list;
        EXPECT_NO_THROW(list = NSLayoutConstraint::constraintsWithVisualFormat(format, 0, Value(), s.views, &error));
        EXPECT_TRUE(list.empty()) << format;
        ASSERT_TRUE(error) << format;
        EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
        EXPECT_EQ(error->code(), 2048);
    }
    // Without an error pointer too.
    EXPECT_TRUE(NSLayoutConstraint::constraintsWithVisualFormat("H:[", 0, Value(), s.views).empty());
    // The log names the format and the position.
    EXPECT_TRUE(logCapture().contains("at position 15: \"H:[closeButton(unknownMetric)]\""));
}

TEST_F(LayoutTest, TheDialogAndCloseButtonDefaultsPlaceTheViews) {
    auto s = scene(window(), {320, 568}, {"closeButton", "adView"});
    apply(s, "H:[closeButton(50)]-(6)-|");
    apply(s, "V:|-(6)-[closeButton(50)]");
    apply(s, "H:|-(0)-[adView]-(0)-|");
    apply(s, "V:|-(0)-[adView]-(0)-|");
    driver().drain();  // the layout pass
    EXPECT_EQ(s.views["closeButton"]->frame(), CGRectMake(264, 6, 50, 50));
    EXPECT_EQ(s.views["adView"]->frame(), CGRectMake(0, 0, 320, 568));

    // The constraints follow a size change of the container.
    s.container->setFrame(CGRectMake(0, 0, 568, 320));
    driver().drain();
    EXPECT_EQ(s.views["closeButton"]->frame(), CGRectMake(512, 6, 50, 50));
    EXPECT_EQ(s.views["adView"]->frame(), CGRectMake(0, 0, 568, 320));
}

TEST_F(LayoutTest, TheWindowHoldsTheDialogConstraints) {
    auto dialog = UIView::alloc()->initWithFrame(CGRectZero);
    dialog->setTranslatesAutoresizingMaskIntoConstraints(false);
    window()->addSubview(dialog);
    std::map<std::string, Ref<UIView>> views{{"interstitial", dialog}};
    for (const char* f : {"H:|-(0)-[interstitial]-(0)-|", "V:|-(20.000000)-[interstitial]-(0)-|"})
        window()->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(f, 0, Value(), views));
    driver().drain();
    EXPECT_EQ(dialog->frame(), CGRectMake(0, 20, 320, 548));
    EXPECT_EQ(window()->constraints().size(), 4u);
    dialog->removeFromSuperview();
    EXPECT_TRUE(window()->constraints().empty());
}

TEST_F(LayoutTest, SiblingChainsAndCentringConstraints) {
    auto s = scene(window(), {300, 100}, {"a", "b", "spinner"});
    apply(s, "H:|-10-[a(50)]-[b(==a)]");
    apply(s, "V:|[a(20)]");
    apply(s, "V:|[b(30)]");
    auto spinner = s.views["spinner"];
    for (auto attribute : {NSLayoutAttributeCenterX, NSLayoutAttributeCenterY})
        s.container->addConstraint(NSLayoutConstraint::constraintWithItem(spinner, attribute, NSLayoutRelationEqual,
                                                                          s.container, attribute, 1, 0));
    apply(s, "H:[spinner(==50)]");
    apply(s, "V:[spinner(==50)]");
    window()->layoutIfNeeded();
    EXPECT_EQ(s.views["a"]->frame(), CGRectMake(10, 0, 50, 20));
    EXPECT_EQ(s.views["b"]->frame(), CGRectMake(68, 0, 50, 30));
    EXPECT_EQ(spinner->frame(), CGRectMake(125, 25, 50, 50));
}

TEST_F(LayoutTest, AViewShortOfValuesTakesItsIntrinsicSizeOrKeepsItsOwn) {
    auto s = scene(window(), {320, 100}, {"plain"});
    auto label = UILabel::alloc();
    label->initWithFrame(CGRectZero);
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    label->setFont(UIFont::systemFontOfSize(10));
    label->setText("hello");  // as wide as the font measures it, ceil(12) high
    s.container->addSubview(label);
    s.views["label"] = label;
    apply(s, "H:[label]-(4)-|");
    apply(s, "V:|-(8)-[label]");
    apply(s, "H:|-(7)-[plain]");  // keeps its width 3 and its vertical place
    window()->layoutIfNeeded();
    auto expectFrame = [&](const std::string& text) {
        CGFloat width = label->font()->widthOfText(text);
        ASSERT_GT(width, 10);
        CGRect frame = label->frame();
        EXPECT_FLOAT_EQ(frame.size.width, width);
        EXPECT_FLOAT_EQ(frame.origin.x + frame.size.width, 316);
        EXPECT_EQ(frame.origin.y, 8);
        EXPECT_EQ(frame.size.height, 12);
    };
    expectFrame("hello");
    EXPECT_EQ(s.views["plain"]->frame(), CGRectMake(7, 2, 3, 4));

    // A text change redoes the layout at the next pass.
    label->setText("hello world");
    driver().drain();
    expectFrame("hello world");
}

TEST_F(LayoutTest, InequalitiesClamp) {
    auto s = scene(window(), {320, 100}, {"wide", "narrow", "pushed"});
    s.views["wide"]->setFrame(CGRectMake(0, 0, 500, 10));
    s.views["narrow"]->setFrame(CGRectMake(0, 0, 5, 10));
    apply(s, "H:|[wide(>=20,<=100)]");
    apply(s, "H:|[narrow(>=20,<=100)]");
    apply(s, "H:|-(>=30)-[pushed(10)]");
    window()->layoutIfNeeded();
    EXPECT_EQ(s.views["wide"]->frame().size.width, 100);
    EXPECT_EQ(s.views["narrow"]->frame().size.width, 20);
    EXPECT_EQ(s.views["pushed"]->frame().origin.x, 30);
}

TEST_F(LayoutTest, ContradictionsAreLoggedOnceAndSkipped) {
    auto s = scene(window(), {320, 100}, {"v"});
    apply(s, "H:|-(10)-[v(50)]");
    apply(s, "H:[v]-(10)-|");  // 10 + 50 + 10 ≠ 320
    expectLogLine("Unable to simultaneously satisfy constraints");
    window()->layoutIfNeeded();
    EXPECT_EQ(s.views["v"]->frame().origin.x, 10);
    EXPECT_EQ(s.views["v"]->frame().size.width, 50);
    s.container->setNeedsLayout();
    window()->layoutIfNeeded();
    EXPECT_EQ(logCapture().count("Unable to simultaneously satisfy constraints"), 1u);
    // Optional constraints give way silently.
    auto t = scene(window(), {320, 100}, {"w"});
    apply(t, "H:|-(10)-[w(50)]");
    apply(t, "H:[w]-(10@250)-|");
    window()->layoutIfNeeded();
    EXPECT_EQ(logCapture().count("Unable to simultaneously satisfy constraints"), 1u);
}

TEST_F(LayoutTest, ConstraintsBetweenOtherViewsAreLoggedAndIgnored) {
    auto s = scene(window(), {320, 100}, {"v"});
    auto grandchild = UIView::alloc()->initWithFrame(CGRectMake(1, 1, 1, 1));
    s.views["v"]->addSubview(grandchild);
    expectLogLine("ignoring a constraint between views outside");
    s.container->addConstraint(NSLayoutConstraint::constraintWithItem(
        grandchild, NSLayoutAttributeWidth, NSLayoutRelationEqual, nullptr, NSLayoutAttributeNotAnAttribute, 0, 99));
    window()->layoutIfNeeded();
    EXPECT_EQ(grandchild->frame(), CGRectMake(1, 1, 1, 1));
}

TEST_F(LayoutTest, ActivatingAddsToTheCommonAncestor) {
    auto s = scene(window(), {200, 100}, {"a", "b"});
    auto c = NSLayoutConstraint::constraintWithItem(s.views["a"], NSLayoutAttributeLeft, NSLayoutRelationEqual,
                                                    s.views["b"], NSLayoutAttributeLeft, 1, 0);
    c->setActive(true);
    EXPECT_EQ(c->holder(), s.container);
    c->setActive(false);
    EXPECT_TRUE(s.container->constraints().empty());
}

}  // namespace
}  // namespace platform::testing
