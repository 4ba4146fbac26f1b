// A stack of controllers whose top one's view fills the navigation
// controller's view (no bars), for the clients' top-controller searches.
#pragma once

#include <vector>

#include "platform/ui/UIViewController.h"

namespace platform {

class UINavigationController : public UIViewController {
public:
    static Ref<UINavigationController> alloc() { return std::make_shared<UINavigationController>(); }
    Ref<UINavigationController> initWithRootViewController(const Ref<UIViewController>& root);

    std::vector<Ref<UIViewController>> viewControllers() const { return childViewControllers(); }
    Ref<UIViewController> topViewController() const;
    // The controller the top one presents, else the top one.
    Ref<UIViewController> visibleViewController() const;
    // The pushed controller's view is shown in place of the top one's.
    void pushViewController(const Ref<UIViewController>& controller, bool animated);
    // Null when only the root is left.
    Ref<UIViewController> popViewControllerAnimated(bool animated);

    void loadView() override;

private:
    void show(const Ref<UIViewController>& incoming, const Ref<UIViewController>& outgoing, bool animated);
};

class UITabBarController : public UIViewController {
public:
    static Ref<UITabBarController> alloc() { return std::make_shared<UITabBarController>(); }

    std::vector<Ref<UIViewController>> viewControllers() const { return childViewControllers(); }
    void setViewControllers(const std::vector<Ref<UIViewController>>& controllers);
    Ref<UIViewController> selectedViewController() const;
    void setSelectedViewController(const Ref<UIViewController>& controller);
    uint64_t selectedIndex() const { return selectedIndex_; }
    void setSelectedIndex(uint64_t index);

    void loadView() override;

private:
    void showSelected(const Ref<UIViewController>& previous);
    uint64_t selectedIndex_ = 0;
};

}  // namespace platform

using platform::UINavigationController;
using platform::UITabBarController;
