// View controllers: lazy loading, presentation and dismissal on the clock,
// refusals, completions exactly once and later, appearance counts.
#include <algorithm>

#include "UITestFixture.h"
#include "platform/foundation/NSBundle.h"

namespace platform::testing {
namespace {

using ControllerTest = UITestFixture;

// Records its life cycle into a shared log, prefixed with its name.
class Recorder : public UIViewController {
public:
    static Ref<Recorder> make(std::vector<std::string>* log, std::string name) {
        auto c = std::make_shared<Recorder>();
        c->init();
        c->log_ = log;
        c->name_ = std::move(name);
        return c;
    }
    void loadView() override {
        note("loadView");
        UIViewController::loadView();
    }
    void viewDidLoad() override { note("viewDidLoad"); }
    void viewWillAppear(bool) override { note("viewWillAppear"); }
    void viewDidAppear(bool) override { note("viewDidAppear"); }
    void viewWillDisappear(bool) override { note("viewWillDisappear"); }
    void viewDidDisappear(bool) override { note("viewDidDisappear"); }
    void note(const std::string& what) {
        if (log_) log_->push_back(name_ + "." + what);
    }
    int count(const std::string& what) const {
        return int(std::count(log_->begin(), log_->end(), name_ + "." + what));
    }

    UIInterfaceOrientationMask mask = UIInterfaceOrientationMaskAllButUpsideDown;
    UIInterfaceOrientationMask supportedInterfaceOrientations() override { return mask; }

private:
    std::vector<std::string>* log_ = nullptr;
    std::string name_;
};

class ControllerFlowTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        root = Recorder::make(&log, "root");
        window()->setRootViewController(root);
        driver().drain();
        log.clear();
    }
    std::vector<std::string> log;
    Ref<Recorder> root;
};

TEST_F(ControllerTest, TheViewLoadsOnFirstAccessSynchronously) {
    std::vector<std::string> log;
    auto c = Recorder::make(&log, "c");
    EXPECT_FALSE(c->isViewLoaded());
    auto view = c->view();
    EXPECT_EQ(log, (std::vector<std::string>{"c.loadView", "c.viewDidLoad"}));
    EXPECT_EQ(view->frame(), UIScreen::mainScreen()->bounds());
    EXPECT_EQ(c->view(), view);
    EXPECT_EQ(log.size(), 2u);
    EXPECT_EQ(view->viewController(), c);
}

TEST_F(ControllerFlowTest, APresentationAppearsThenCompletesAfterTheTransition) {
    auto sheet = Recorder::make(&log, "sheet");
    int completions = 0;
    root->presentViewController(sheet, true, [&] {
        log.push_back("completion");
        ++completions;
    });
    // At once: links, the loaded view above everything, viewWillAppear.
    EXPECT_EQ(root->presentedViewController(), sheet);
    EXPECT_EQ(sheet->presentingViewController(), root);
    EXPECT_TRUE(sheet->isBeingPresented());
    EXPECT_TRUE(sheet->transitionCoordinator());
    EXPECT_TRUE(root->transitionCoordinator());
    EXPECT_EQ(window()->subviews().back(), sheet->view());
    EXPECT_EQ(sheet->view()->frame(), window()->bounds());
    EXPECT_EQ(log, (std::vector<std::string>{"sheet.loadView", "sheet.viewDidLoad", "sheet.viewWillAppear"}));
    driver().advance(0.29);
    EXPECT_EQ(completions, 0);
    driver().advance(0.02);
    EXPECT_EQ(log, (std::vector<std::string>{"sheet.loadView", "sheet.viewDidLoad", "sheet.viewWillAppear",
                                             "sheet.viewDidAppear", "completion"}));
    EXPECT_FALSE(sheet->isBeingPresented());
    EXPECT_FALSE(sheet->transitionCoordinator());
    EXPECT_FALSE(root->transitionCoordinator());
    // The presenter heard nothing.
    EXPECT_EQ(root->count("viewWillDisappear") + root->count("viewDidDisappear"), 0);
}

TEST_F(ControllerFlowTest, AnUnanimatedPresentationCompletesAtTheNextPass) {
    auto sheet = Recorder::make(&log, "sheet");
    bool done = false;
    root->presentViewController(sheet, false, [&] { done = true; });
    EXPECT_FALSE(done);
    driver().drain();
    EXPECT_TRUE(done);
    EXPECT_EQ(sheet->count("viewDidAppear"), 1);
}

TEST_F(ControllerFlowTest, PresentationIsRefusedOffWindowAndWhilePresenting) {
    auto first = Recorder::make(&log, "first");
    auto second = Recorder::make(&log, "second");
    auto offWindow = Recorder::make(&log, "offWindow");
    bool called = false;
    expectLogLine("Attempt to present Recorder on Recorder whose view is not in the window hierarchy");
    offWindow->presentViewController(second, false, [&] { called = true; });
    EXPECT_FALSE(offWindow->presentedViewController());
    EXPECT_FALSE(second->presentingViewController());

    root->presentViewController(first, false, nullptr);
    expectLogLine("Attempt to present Recorder on Recorder which is already presenting Recorder");
    root->presentViewController(second, false, [&] { called = true; });
    EXPECT_EQ(root->presentedViewController(), first);
    driver().advance(1);
    EXPECT_FALSE(called);  // the completion of a refused presentation is dropped
    EXPECT_EQ(second->count("viewWillAppear"), 0);
    // A transition still running does not refuse: present right after a dismissal began.
    root->dismissViewControllerAnimated(false, nullptr);
    root->presentViewController(second, false, [&] { called = true; });
    EXPECT_EQ(root->presentedViewController(), second);
    driver().drain();
    EXPECT_TRUE(called);
}

TEST_F(ControllerFlowTest, DismissalClearsLinksAtOnceAndFinishesLater) {
    auto sheet = Recorder::make(&log, "sheet");
    root->presentViewController(sheet, false, nullptr);
    driver().drain();
    log.clear();
    int completions = 0;
    sheet->dismissViewControllerAnimated(true, [&] {
        log.push_back("completion");
        ++completions;
    });
    EXPECT_FALSE(root->presentedViewController());
    EXPECT_FALSE(sheet->presentingViewController());
    EXPECT_TRUE(sheet->isBeingDismissed());
    EXPECT_EQ(log, (std::vector<std::string>{"sheet.viewWillDisappear"}));
    EXPECT_TRUE(sheet->view()->window());  // still on screen during the transition
    driver().advance(0.31);
    EXPECT_EQ(log, (std::vector<std::string>{"sheet.viewWillDisappear", "sheet.viewDidDisappear", "completion"}));
    EXPECT_FALSE(sheet->view()->window());
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(root->count("viewWillAppear") + root->count("viewDidAppear"), 0);
}

TEST_F(ControllerFlowTest, DoubleDismissalRunsEachCompletionOnceAndTheDisappearPairOnce) {
    auto sheet = Recorder::make(&log, "sheet");
    root->presentViewController(sheet, false, nullptr);
    driver().drain();
    int first = 0, second = 0, third = 0;
    sheet->dismissViewControllerAnimated(false, [&] { ++first; });
    sheet->dismissViewControllerAnimated(false, [&] { ++second; });  // already under way
    root->dismissViewControllerAnimated(false, [&] { ++third; });    // nothing left to dismiss
    EXPECT_EQ(first + second + third, 0);  // never inside the call
    driver().drain();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(third, 1);
    EXPECT_EQ(sheet->count("viewWillDisappear"), 1);
    EXPECT_EQ(sheet->count("viewDidDisappear"), 1);
    driver().advance(5);
    EXPECT_EQ(first + second + third, 3);
}

TEST_F(ControllerFlowTest, DismissingAPresenterTakesEverythingAboveIt) {
    auto a = Recorder::make(&log, "a");
    auto b = Recorder::make(&log, "b");
    root->presentViewController(a, false, nullptr);
    driver().drain();
    a->presentViewController(b, false, nullptr);
    driver().drain();
    EXPECT_EQ(a->count("viewWillDisappear"), 0);  // a presenter hears nothing
    log.clear();
    bool done = false;
    root->dismissViewControllerAnimated(false, [&] { done = true; });
    EXPECT_EQ(log, (std::vector<std::string>{"b.viewWillDisappear", "a.viewWillDisappear"}));
    EXPECT_FALSE(a->presentedViewController());
    EXPECT_FALSE(b->presentingViewController());
    driver().drain();
    EXPECT_EQ(log, (std::vector<std::string>{"b.viewWillDisappear", "a.viewWillDisappear", "b.viewDidDisappear",
                                             "a.viewDidDisappear"}));
    EXPECT_TRUE(done);
    EXPECT_EQ(window()->subviews(), (std::vector<Ref<UIView>>{root->view()}));
}

TEST_F(ControllerFlowTest, EachPresentationGetsItsOwnAppearPair) {
    auto sheet = Recorder::make(&log, "sheet");
    for (int i = 0; i < 3; ++i) {
        root->presentViewController(sheet, true, nullptr);
        driver().advance(0.3);
        sheet->dismissViewControllerAnimated(true, nullptr);
        driver().advance(0.3);
    }
    EXPECT_EQ(sheet->count("viewDidLoad"), 1);
    EXPECT_EQ(sheet->count("viewWillAppear"), 3);
    EXPECT_EQ(sheet->count("viewDidAppear"), 3);
    EXPECT_EQ(sheet->count("viewWillDisappear"), 3);
    EXPECT_EQ(sheet->count("viewDidDisappear"), 3);
}

TEST_F(ControllerFlowTest, ThePresentationKeepsThePresentedControllerAlive) {
    Weak<Recorder> weak;
    {
        auto sheet = Recorder::make(&log, "sheet");
        weak = sheet;
        root->presentViewController(sheet, false, nullptr);
    }
    driver().drain();
    ASSERT_FALSE(weak.expired());
    bool completionSawIt = false;
    weak.lock()->dismissViewControllerAnimated(true, [&] { completionSawIt = !weak.expired(); });
    driver().advance(0.3);
    EXPECT_TRUE(completionSawIt);  // alive until its completion ran
    driver().drain();
    EXPECT_TRUE(weak.expired());
}

TEST_F(ControllerFlowTest, PresentingAControllerThatCannotTakeTheOrientationRotates) {
    auto landscape = Recorder::make(&log, "landscape");
    landscape->mask = UIInterfaceOrientationMaskLandscape;
    auto app = UIApplication::sharedApplication();
    NSBundle::mainBundle()->setInfoDictionaryValue(
        "UISupportedInterfaceOrientations",
        Value::array({"UIInterfaceOrientationPortrait", "UIInterfaceOrientationLandscapeLeft",
                      "UIInterfaceOrientationLandscapeRight"}));
    root->presentViewController(landscape, false, nullptr);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeRight);
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 568, 320));
    EXPECT_EQ(landscape->view()->frame(), CGRectMake(0, 0, 568, 320));
    landscape->dismissViewControllerAnimated(false, nullptr);
    driver().drain();
    // The root (portrait and landscape) is fine as it is.
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeRight);
}

TEST_F(ControllerTest, NavigationAndTabBarContainers) {
    std::vector<std::string> log;
    auto first = Recorder::make(&log, "first");
    auto second = Recorder::make(&log, "second");
    auto nav = UINavigationController::alloc()->initWithRootViewController(first);
    window()->setRootViewController(nav);
    driver().drain();
    EXPECT_TRUE(nav->isMemberOfClass<UINavigationController>());
    EXPECT_EQ(nav->topViewController(), first);
    EXPECT_EQ(first->view()->superview(), nav->view());
    nav->pushViewController(second, false);
    EXPECT_EQ(nav->viewControllers(), (std::vector<Ref<UIViewController>>{first, second}));
    EXPECT_EQ(second->view()->superview(), nav->view());
    EXPECT_EQ(first->view()->superview(), nullptr);
    driver().drain();
    EXPECT_EQ(second->count("viewDidAppear"), 1);
    EXPECT_EQ(first->count("viewDidDisappear"), 1);
    EXPECT_EQ(nav->popViewControllerAnimated(false), second);
    EXPECT_EQ(nav->popViewControllerAnimated(false), nullptr);
    EXPECT_EQ(nav->visibleViewController(), first);

    auto tabs = UITabBarController::alloc();
    tabs->init();
    tabs->setViewControllers({second, Recorder::make(&log, "third")});
    EXPECT_EQ(tabs->selectedViewController(), second);
    tabs->setSelectedIndex(1);
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    EXPECT_EQ(tabs->selectedViewController()->parentViewController(), tabs);
    driver().drain();  // the log goes away with the test body
}

}  // namespace
}  // namespace platform::testing
