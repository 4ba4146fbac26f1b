// A view controller: its lazily loaded view, appearance and layout hooks,
// modal presentation and dismissal on the clock (with the refusal,
// completion and appearance rules), child controllers, and the orientation,
// rotation and status-bar answers the platform asks for.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/ui/UIApplication.h"
#include "platform/ui/UIResponder.h"
#include "platform/ui/UIView.h"

namespace platform {

class UIViewController;

using UIModalPresentationStyle = int64_t;
inline constexpr UIModalPresentationStyle UIModalPresentationFullScreen = 0;
inline constexpr UIModalPresentationStyle UIModalPresentationPageSheet = 1;
inline constexpr UIModalPresentationStyle UIModalPresentationFormSheet = 2;
inline constexpr UIModalPresentationStyle UIModalPresentationCurrentContext = 3;
inline constexpr UIModalPresentationStyle UIModalPresentationCustom = 4;
inline constexpr UIModalPresentationStyle UIModalPresentationOverFullScreen = 5;
inline constexpr UIModalPresentationStyle UIModalPresentationOverCurrentContext = 6;

using UIModalTransitionStyle = int64_t;
inline constexpr UIModalTransitionStyle UIModalTransitionStyleCoverVertical = 0;
inline constexpr UIModalTransitionStyle UIModalTransitionStyleFlipHorizontal = 1;
inline constexpr UIModalTransitionStyle UIModalTransitionStyleCrossDissolve = 2;

using UIUserInterfaceSizeClass = int64_t;
inline constexpr UIUserInterfaceSizeClass UIUserInterfaceSizeClassUnspecified = 0;
inline constexpr UIUserInterfaceSizeClass UIUserInterfaceSizeClassCompact = 1;
inline constexpr UIUserInterfaceSizeClass UIUserInterfaceSizeClassRegular = 2;

// Size classes: phone portrait compact/regular, phone landscape
// compact/compact, tablet regular/regular.
class UITraitCollection : public NSObject {
public:
    static Ref<UITraitCollection> alloc() { return std::make_shared<UITraitCollection>(); }
    static Ref<UITraitCollection> traitCollectionWithSizeClasses(UIUserInterfaceSizeClass horizontal,
                                                                 UIUserInterfaceSizeClass vertical);
    // The traits of the current screen.
    static Ref<UITraitCollection> current();
    UIUserInterfaceSizeClass horizontalSizeClass() const { return horizontal_; }
    UIUserInterfaceSizeClass verticalSizeClass() const { return vertical_; }
    bool isEqual(const NSObject& other) const override;

private:
    UIUserInterfaceSizeClass horizontal_ = UIUserInterfaceSizeClassUnspecified;
    UIUserInterfaceSizeClass vertical_ = UIUserInterfaceSizeClassUnspecified;
};

// The transition in progress (presentation, dismissal, rotation). Animations
// along it run at once; completions at the next pass.
class UIViewControllerTransitionCoordinator : public NSObject {
public:
    using Animation = std::function<void(const Ref<UIViewControllerTransitionCoordinator>&)>;
    static Ref<UIViewControllerTransitionCoordinator> alloc() {
        return std::make_shared<UIViewControllerTransitionCoordinator>();
    }
    bool animateAlongsideTransition(Animation animation, Animation completion);
    bool isAnimated() const { return animated_; }
    double transitionDuration() const { return animated_ ? 0.3 : 0; }
    void setAnimated(bool a) { animated_ = a; }

    // Used by rotation: animations offered while deferring wait until the
    // views have their new sizes, then run (runDeferred).
    void beginDeferring() { deferring_ = true; }
    void runDeferred();

private:
    bool animated_ = false;
    bool deferring_ = false;
    std::vector<Animation> deferred_;
};

class UIViewController : public UIResponder {
public:
    static Ref<UIViewController> alloc() { return std::make_shared<UIViewController>(); }
    Ref<UIViewController> init() { return self<UIViewController>(); }
    ~UIViewController() override;

    // ---- the view: loaded on first access (loadView, then viewDidLoad) ----
    Ref<UIView> view();
    bool isViewLoaded() const { return view_ != nullptr; }
    void setView(const Ref<UIView>& view);
    // Default: a plain view of the screen bounds.
    virtual void loadView();
    virtual void viewDidLoad();
    virtual void viewWillAppear(bool animated);
    virtual void viewDidAppear(bool animated);
    virtual void viewWillDisappear(bool animated);
    virtual void viewDidDisappear(bool animated);
    virtual void viewWillLayoutSubviews();
    virtual void viewDidLayoutSubviews();

    // ---- presentation ----
    // Refused (logged "Attempt to present <class> on <class> …", nothing
    // changes, the completion is dropped) when this controller's view is not
    // in a window or it already presents a controller.
    void presentViewController(const Ref<UIViewController>& controller, bool animated, Block completion);
    // Dismisses what this controller presents (and anything above), or, with
    // nothing presented, this controller from its presenter. The completion
    // runs exactly once, later (also when there was nothing to dismiss).
    void dismissViewControllerAnimated(bool animated, Block completion);
    Ref<UIViewController> presentedViewController() const { return presented_; }
    Ref<UIViewController> presentingViewController() const { return presenting_.lock(); }
    bool isBeingPresented() const { return beingPresented_; }
    bool isBeingDismissed() const { return beingDismissed_; }
    // Non-null while a transition of this controller runs.
    Ref<UIViewControllerTransitionCoordinator> transitionCoordinator() const { return coordinator_; }
    UIModalPresentationStyle modalPresentationStyle() const { return presentationStyle_; }
    void setModalPresentationStyle(UIModalPresentationStyle s) { presentationStyle_ = s; }
    UIModalTransitionStyle modalTransitionStyle() const { return transitionStyle_; }
    void setModalTransitionStyle(UIModalTransitionStyle s) { transitionStyle_ = s; }
    bool modalPresentationCapturesStatusBarAppearance() const { return capturesStatusBar_; }
    void setModalPresentationCapturesStatusBarAppearance(bool c) { capturesStatusBar_ = c; }

    // ---- orientation and status bar (overridable; asked only by the platform) ----
    virtual bool shouldAutorotate();
    // Phone 26 (all but upside down), tablet 30 (all).
    virtual UIInterfaceOrientationMask supportedInterfaceOrientations();
    // The current orientation when supported, else the first supported one.
    virtual UIInterfaceOrientation preferredInterfaceOrientationForPresentation();
    virtual bool shouldAutorotateToInterfaceOrientation(UIInterfaceOrientation o);
    virtual bool prefersStatusBarHidden();
    virtual UIStatusBarStyle preferredStatusBarStyle();
    // No effect: the status bar belongs to the application.
    void setNeedsStatusBarAppearanceUpdate() {}
    // The status-bar orientation.
    UIInterfaceOrientation interfaceOrientation() const;
    Ref<UITraitCollection> traitCollection() const { return UITraitCollection::current(); }

    // Rotation hooks. The defaults pass the call on to the child controllers.
    // Before 8.0:
    virtual void willRotateToInterfaceOrientation(UIInterfaceOrientation o, double duration);
    virtual void didRotateFromInterfaceOrientation(UIInterfaceOrientation old);
    // From 8.0:
    virtual void viewWillTransitionToSize(CGSize size, const Ref<UIViewControllerTransitionCoordinator>& coordinator);
    virtual void willTransitionToTraitCollection(const Ref<UITraitCollection>& traits,
                                                 const Ref<UIViewControllerTransitionCoordinator>& coordinator);

    // ---- containment ----
    void addChildViewController(const Ref<UIViewController>& child);
    void removeFromParentViewController();
    std::vector<Ref<UIViewController>> childViewControllers() const { return children_; }
    Ref<UIViewController> parentViewController() const { return parent_.lock(); }
    virtual void willMoveToParentViewController(Ref<UIViewController> parent);
    virtual void didMoveToParentViewController(Ref<UIViewController> parent);

    // ---- used by the platform ----
    // Runs the appear / disappear pairs for a view that enters or leaves a
    // window outside a presentation (a window's root controller).
    void beginAppearance(bool animated);
    void beginDisappearance(bool animated);

private:
    void finishPresentation(bool animated, Block completion);
    void checkOrientation();

    Ref<UIView> view_;
    bool loadingView_ = false;
    Ref<UIViewController> presented_;
    Weak<UIViewController> presenting_;
    Weak<UIViewController> parent_;
    std::vector<Ref<UIViewController>> children_;
    bool beingPresented_ = false;
    bool beingDismissed_ = false;
    Ref<UIViewControllerTransitionCoordinator> coordinator_;
    UIModalPresentationStyle presentationStyle_ = UIModalPresentationFullScreen;
    UIModalTransitionStyle transitionStyle_ = UIModalTransitionStyleCoverVertical;
    bool capturesStatusBar_ = false;

    friend class UIApplication;
};

}  // namespace platform

using platform::UIModalPresentationCurrentContext;
using platform::UIModalPresentationCustom;
using platform::UIModalPresentationFormSheet;
using platform::UIModalPresentationFullScreen;
using platform::UIModalPresentationOverCurrentContext;
using platform::UIModalPresentationOverFullScreen;
using platform::UIModalPresentationPageSheet;
using platform::UIModalPresentationStyle;
using platform::UIModalTransitionStyle;
using platform::UIModalTransitionStyleCoverVertical;
using platform::UIModalTransitionStyleCrossDissolve;
using platform::UIModalTransitionStyleFlipHorizontal;
using platform::UITraitCollection;
using platform::UIUserInterfaceSizeClass;
using platform::UIUserInterfaceSizeClassCompact;
using platform::UIUserInterfaceSizeClassRegular;
using platform::UIUserInterfaceSizeClassUnspecified;
using platform::UIViewController;
using platform::UIViewControllerTransitionCoordinator;
