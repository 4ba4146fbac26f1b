#include "platform/ui/UINavigationController.h"

#include "platform/runtime/CallCatching.h"
#include "platform/ui/MainThreadOnly.h"
#include "platform/runtime/RunLoopTimer.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

namespace platform {

namespace {

// Puts `controller`'s view in `container`, filling it.
void embed(const Ref<UIView>& container, const Ref<UIViewController>& controller) {
    auto view = controller->view();
    view->setFrame(container->bounds());
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    container->addSubview(view);
}

// Swaps the shown child; the appearance pairs run when the container is in a
// window (the did-calls after the transition).
void swapChild(const Ref<UIViewController>& container, const Ref<UIViewController>& incoming,
               const Ref<UIViewController>& outgoing, bool animated) {
    if (!container->isViewLoaded()) return;
    auto view = container->view();
    bool onScreen = view->window() != nullptr;
    if (onScreen && outgoing)
        runtime::callAtBoundary([&] { outgoing->viewWillDisappear(animated); }, "viewWillDisappear");
    if (outgoing && outgoing->isViewLoaded() && outgoing->view()->superview() == view)
        outgoing->view()->removeFromSuperview();
    if (incoming) {
        embed(view, incoming);
        if (onScreen) runtime::callAtBoundary([&] { incoming->viewWillAppear(animated); }, "viewWillAppear");
    }
    if (!onScreen) return;
    runtime::scheduleMainThreadCall(animated ? 0.3 : 0, [incoming, outgoing, animated] {
        if (outgoing) runtime::callAtBoundary([&] { outgoing->viewDidDisappear(animated); }, "viewDidDisappear");
        if (incoming) runtime::callAtBoundary([&] { incoming->viewDidAppear(animated); }, "viewDidAppear");
    });
}

}  // namespace

Ref<UINavigationController> UINavigationController::initWithRootViewController(const Ref<UIViewController>& root) {
    init();
    if (root) addChildViewController(root);
    return self<UINavigationController>();
}

Ref<UIViewController> UINavigationController::topViewController() const {
    auto list = childViewControllers();
    return list.empty() ? nullptr : list.back();
}

Ref<UIViewController> UINavigationController::visibleViewController() const {
    auto top = topViewController();
    if (auto presented = presentedViewController()) return presented;
    return top;
}

void UINavigationController::loadView() {
    UIViewController::loadView();
    if (auto top = topViewController()) embed(view(), top);
}

void UINavigationController::pushViewController(const Ref<UIViewController>& controller, bool animated) {
    MainThreadOnly mainThreadOnly("UINavigationController::pushViewController");
    if (!controller || controller->parentViewController()) return;
    auto outgoing = topViewController();
    addChildViewController(controller);
    show(controller, outgoing, animated);
}

Ref<UIViewController> UINavigationController::popViewControllerAnimated(bool animated) {
    MainThreadOnly mainThreadOnly("UINavigationController::popViewControllerAnimated");
    auto list = childViewControllers();
    if (list.size() < 2) return nullptr;
    auto outgoing = list.back();
    outgoing->removeFromParentViewController();
    show(topViewController(), outgoing, animated);
    return outgoing;
}

void UINavigationController::show(const Ref<UIViewController>& incoming, const Ref<UIViewController>& outgoing,
                                  bool animated) {
    swapChild(self<UIViewController>(), incoming, outgoing, animated);
}

// ---- tab bar ---------------------------------------------------------------------------

void UITabBarController::setViewControllers(const std::vector<Ref<UIViewController>>& controllers) {
    auto previous = selectedViewController();
    for (const auto& c : childViewControllers()) c->removeFromParentViewController();
    for (const auto& c : controllers) addChildViewController(c);
    selectedIndex_ = 0;
    showSelected(previous);
}

Ref<UIViewController> UITabBarController::selectedViewController() const {
    auto list = childViewControllers();
    return selectedIndex_ < list.size() ? list[selectedIndex_] : nullptr;
}

void UITabBarController::setSelectedViewController(const Ref<UIViewController>& controller) {
    auto list = childViewControllers();
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == controller) return setSelectedIndex(i);
}

void UITabBarController::setSelectedIndex(uint64_t index) {
    if (index >= childViewControllers().size() || index == selectedIndex_) return;
    auto previous = selectedViewController();
    selectedIndex_ = index;
    showSelected(previous);
}

void UITabBarController::loadView() {
    UIViewController::loadView();
    if (auto selected = selectedViewController()) embed(view(), selected);
}

void UITabBarController::showSelected(const Ref<UIViewController>& previous) {
    auto selected = selectedViewController();
    if (selected == previous) return;
    swapChild(self<UIViewController>(), selected, previous, false);
}

}  // namespace platform
