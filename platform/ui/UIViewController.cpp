#include "platform/ui/UIViewController.h"

#include <algorithm>

#include "platform/foundation/DeviceProfile.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"
#include "platform/ui/MainThreadOnly.h"
#include "platform/runtime/RunLoopTimer.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

namespace platform {

namespace {

constexpr double kTransitionSeconds = 0.3;

void atBoundary(const Block& block, std::string_view what) { runtime::callAtBoundary(block, what); }

// Work that happens when a transition is over: 0.3 s of clock time when
// animated, else the next pass.
void afterTransition(bool animated, Block block) {
    runtime::scheduleMainThreadCall(animated ? kTransitionSeconds : 0, std::move(block));
}

}  // namespace

// ---- traits and coordinators ---------------------------------------------------------

Ref<UITraitCollection> UITraitCollection::traitCollectionWithSizeClasses(UIUserInterfaceSizeClass horizontal,
                                                                         UIUserInterfaceSizeClass vertical) {
    auto t = alloc();
    t->horizontal_ = horizontal;
    t->vertical_ = vertical;
    return t;
}

Ref<UITraitCollection> UITraitCollection::current() {
    if (DeviceProfile::current().idiom == 1)
        return traitCollectionWithSizeClasses(UIUserInterfaceSizeClassRegular, UIUserInterfaceSizeClassRegular);
    bool landscape = UIInterfaceOrientationIsLandscape(UIApplication::sharedApplication()->interfaceLayoutOrientation());
    return traitCollectionWithSizeClasses(UIUserInterfaceSizeClassCompact,
                                          landscape ? UIUserInterfaceSizeClassCompact : UIUserInterfaceSizeClassRegular);
}

bool UITraitCollection::isEqual(const NSObject& other) const {
    auto* o = dynamic_cast<const UITraitCollection*>(&other);
    return o && o->horizontal_ == horizontal_ && o->vertical_ == vertical_;
}

bool UIViewControllerTransitionCoordinator::animateAlongsideTransition(Animation animation, Animation completion) {
    if (deferring_) {
        deferred_.push_back(std::move(animation));
        deferred_.push_back(std::move(completion));
        return true;
    }
    auto me = self<UIViewControllerTransitionCoordinator>();
    if (animation) atBoundary([&] { animation(me); }, "transition animation");
    if (completion)
        runtime::scheduleMainThreadCall(0, [me, completion] {
            atBoundary([&] { completion(me); }, "transition completion");
        });
    return true;
}

void UIViewControllerTransitionCoordinator::runDeferred() {
    deferring_ = false;
    auto list = std::move(deferred_);
    deferred_.clear();
    for (size_t i = 0; i + 1 < list.size(); i += 2) animateAlongsideTransition(list[i], list[i + 1]);
}

// ---- the view ------------------------------------------------------------------------------

UIViewController::~UIViewController() = default;

Ref<UIView> UIViewController::view() {
    if (view_ || loadingView_) return view_;
    MainThreadOnly mainThreadOnly("UIViewController::view");
    Ref<UIViewController> keep = self<UIViewController>();
    loadingView_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{loadingView_};
    loadView();
    if (!view_) setView(UIView::alloc()->initWithFrame(UIScreen::mainScreen()->bounds()));
    viewDidLoad();
    return view_;
}

void UIViewController::setView(const Ref<UIView>& view) {
    if (view_ && view_->viewController().get() == this) view_->setViewController(nullptr);
    view_ = view;
    if (view_) view_->setViewController(self<UIViewController>());
}

void UIViewController::loadView() { setView(UIView::alloc()->initWithFrame(UIScreen::mainScreen()->bounds())); }
void UIViewController::viewDidLoad() {}
void UIViewController::viewWillAppear(bool) {}
void UIViewController::viewDidAppear(bool) {}
void UIViewController::viewWillDisappear(bool) {}
void UIViewController::viewDidDisappear(bool) {}
void UIViewController::viewWillLayoutSubviews() {}
void UIViewController::viewDidLayoutSubviews() {}

void UIViewController::beginAppearance(bool animated) {
    Ref<UIViewController> keep = self<UIViewController>();
    atBoundary([&] { viewWillAppear(animated); }, "viewWillAppear");
    afterTransition(false, [keep, animated] { atBoundary([&] { keep->viewDidAppear(animated); }, "viewDidAppear"); });
}

void UIViewController::beginDisappearance(bool animated) {
    Ref<UIViewController> keep = self<UIViewController>();
    atBoundary([&] { viewWillDisappear(animated); }, "viewWillDisappear");
    afterTransition(false,
                    [keep, animated] { atBoundary([&] { keep->viewDidDisappear(animated); }, "viewDidDisappear"); });
}

// ---- presentation ------------------------------------------------------------------------------

void UIViewController::presentViewController(const Ref<UIViewController>& controller, bool animated,
                                             Block completion) {
    MainThreadOnly mainThreadOnly("UIViewController::presentViewController");
    Ref<UIViewController> keep = self<UIViewController>();
    if (!controller) {
        logError("Attempt to present a nil view controller on " + className());
        return;
    }
    std::string attempt = "Attempt to present " + controller->className() + " on " + className();
    Ref<UIWindow> window = isViewLoaded() ? view_->window() : nullptr;
    if (!window) {
        logError(attempt + " whose view is not in the window hierarchy!");
        return;
    }
    if (presented_) {
        logError(attempt + " which is already presenting " + presented_->className());
        return;
    }
    if (controller.get() == this || controller->presentingViewController() || controller->beingDismissed_ ||
        (controller->isViewLoaded() && controller->view_->window())) {
        logError(attempt + ": the controller is already shown");
        return;
    }

    presented_ = controller;
    controller->presenting_ = keep;
    controller->beingPresented_ = true;
    auto view = controller->view();
    view->setFrame(window->bounds());
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    window->addSubview(view);
    controller->checkOrientation();

    auto coordinator = UIViewControllerTransitionCoordinator::alloc();
    coordinator->setAnimated(animated);
    coordinator_ = coordinator;
    controller->coordinator_ = coordinator;
    atBoundary([&] { controller->viewWillAppear(animated); }, "viewWillAppear");
    afterTransition(animated, [keep, controller, coordinator, animated, completion] {
        if (keep->coordinator_ == coordinator) keep->coordinator_.reset();
        controller->finishPresentation(animated, completion);
        if (controller->coordinator_ == coordinator) controller->coordinator_.reset();
    });
}

void UIViewController::finishPresentation(bool animated, Block completion) {
    beingPresented_ = false;
    atBoundary([&] { viewDidAppear(animated); }, "viewDidAppear");
    if (completion) atBoundary(completion, "presentation completion");
}

void UIViewController::dismissViewControllerAnimated(bool animated, Block completion) {
    MainThreadOnly mainThreadOnly("UIViewController::dismissViewControllerAnimated");
    Ref<UIViewController> keep = self<UIViewController>();
    Ref<UIViewController> presenter, target;
    if (presented_) {
        presenter = keep;
        target = presented_;
    } else if (auto p = presenting_.lock()) {
        presenter = p;
        target = keep;
    }
    if (!target) {
        // Nothing to dismiss (or a dismissal already under way): the
        // completion still runs, once, later.
        if (completion)
            afterTransition(false, [keep, completion] { atBoundary(completion, "dismissal completion"); });
        return;
    }

    // The target and everything it presents, the topmost first.
    std::vector<Ref<UIViewController>> chain;
    for (auto c = target; c; c = c->presented_) chain.insert(chain.begin(), c);
    auto coordinator = UIViewControllerTransitionCoordinator::alloc();
    coordinator->setAnimated(animated);
    presenter->coordinator_ = coordinator;
    for (const auto& c : chain) {
        c->beingDismissed_ = true;
        c->coordinator_ = coordinator;
        atBoundary([&] { c->viewWillDisappear(animated); }, "viewWillDisappear");
    }
    presenter->presented_.reset();
    for (const auto& c : chain) {
        c->presenting_.reset();
        c->presented_.reset();
    }
    afterTransition(animated, [presenter, chain, coordinator, animated, completion] {
        for (const auto& c : chain) {
            if (c->isViewLoaded() && c->view_->window()) c->view_->removeFromSuperview();
            c->beingDismissed_ = false;
            if (c->coordinator_ == coordinator) c->coordinator_.reset();
            atBoundary([&] { c->viewDidDisappear(animated); }, "viewDidDisappear");
        }
        if (presenter->coordinator_ == coordinator) presenter->coordinator_.reset();
        if (completion) atBoundary(completion, "dismissal completion");
        if (auto top = UIApplication::sharedApplication()->topmostViewController()) top->checkOrientation();
    });
}

void UIViewController::checkOrientation() {
    auto app = UIApplication::sharedApplication();
    Ref<UIViewController> keep = self<UIViewController>();
    UIInterfaceOrientationMask mask = 0;
    UIInterfaceOrientation preferred = UIInterfaceOrientationUnknown;
    atBoundary(
        [&] {
            shouldAutorotate();
            mask = supportedInterfaceOrientations();
            preferred = preferredInterfaceOrientationForPresentation();
        },
        "orientation query");
    UIInterfaceOrientationMask appMask = app->supportedInterfaceOrientationsForWindow(view_ ? view_->window() : nullptr);
    if (mask & appMask) mask &= appMask;
    if (mask == 0) return;
    UIInterfaceOrientation current = app->interfaceLayoutOrientation();
    if (mask & (UIInterfaceOrientationMask(1) << current)) return;
    if (preferred >= UIInterfaceOrientationPortrait && preferred <= UIInterfaceOrientationLandscapeLeft &&
        (mask & (UIInterfaceOrientationMask(1) << preferred))) {
        app->rotateInterfaceTo(preferred);
        return;
    }
    for (UIInterfaceOrientation o : {1, 3, 4, 2})
        if (mask & (UIInterfaceOrientationMask(1) << o)) return app->rotateInterfaceTo(o);
}

// ---- orientation and status bar answers ---------------------------------------------------------

bool UIViewController::shouldAutorotate() { return true; }

UIInterfaceOrientationMask UIViewController::supportedInterfaceOrientations() {
    return DeviceProfile::current().idiom == 1 ? UIInterfaceOrientationMaskAll
                                               : UIInterfaceOrientationMaskAllButUpsideDown;
}

UIInterfaceOrientation UIViewController::preferredInterfaceOrientationForPresentation() {
    UIInterfaceOrientationMask mask = supportedInterfaceOrientations();
    UIInterfaceOrientation current = interfaceOrientation();
    if (mask & (UIInterfaceOrientationMask(1) << current)) return current;
    for (UIInterfaceOrientation o : {1, 3, 4, 2})
        if (mask & (UIInterfaceOrientationMask(1) << o)) return o;
    return UIInterfaceOrientationPortrait;
}

bool UIViewController::shouldAutorotateToInterfaceOrientation(UIInterfaceOrientation o) {
    return o == UIInterfaceOrientationPortrait;
}

bool UIViewController::prefersStatusBarHidden() { return false; }
UIStatusBarStyle UIViewController::preferredStatusBarStyle() { return UIStatusBarStyleDefault; }

UIInterfaceOrientation UIViewController::interfaceOrientation() const {
    return UIApplication::sharedApplication()->statusBarOrientation();
}

void UIViewController::willRotateToInterfaceOrientation(UIInterfaceOrientation o, double duration) {
    for (const auto& c : childViewControllers()) c->willRotateToInterfaceOrientation(o, duration);
}

void UIViewController::didRotateFromInterfaceOrientation(UIInterfaceOrientation old) {
    for (const auto& c : childViewControllers()) c->didRotateFromInterfaceOrientation(old);
}

void UIViewController::viewWillTransitionToSize(CGSize size,
                                                const Ref<UIViewControllerTransitionCoordinator>& coordinator) {
    for (const auto& c : childViewControllers()) c->viewWillTransitionToSize(size, coordinator);
}

void UIViewController::willTransitionToTraitCollection(const Ref<UITraitCollection>& traits,
                                                       const Ref<UIViewControllerTransitionCoordinator>& coordinator) {
    for (const auto& c : childViewControllers()) c->willTransitionToTraitCollection(traits, coordinator);
}

// ---- containment ------------------------------------------------------------------------------------

void UIViewController::addChildViewController(const Ref<UIViewController>& child) {
    MainThreadOnly mainThreadOnly("UIViewController::addChildViewController");
    if (!child || child.get() == this || child->parentViewController().get() == this) return;
    Ref<UIViewController> keep = child;
    child->willMoveToParentViewController(self<UIViewController>());
    if (auto old = child->parentViewController()) std::erase(old->children_, child);
    children_.push_back(child);
    child->parent_ = self<UIViewController>();
}

void UIViewController::removeFromParentViewController() {
    MainThreadOnly mainThreadOnly("UIViewController::removeFromParentViewController");
    auto parent = parentViewController();
    if (!parent) return;
    Ref<UIViewController> keep = self<UIViewController>();
    std::erase(parent->children_, keep);
    parent_.reset();
    didMoveToParentViewController(nullptr);
}

void UIViewController::willMoveToParentViewController(Ref<UIViewController>) {}
void UIViewController::didMoveToParentViewController(Ref<UIViewController>) {}

}  // namespace platform
