// A window: the root of a view tree shown on the screen, with its root view
// controller, level and key status; the registry of visible windows; and the
// seams that tap it and write its snapshot.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/UIView.h"

namespace platform {

class UIViewController;

using UIWindowLevel = CGFloat;
inline constexpr UIWindowLevel UIWindowLevelNormal = 0;
inline constexpr UIWindowLevel UIWindowLevelStatusBar = 1000;
inline constexpr UIWindowLevel UIWindowLevelAlert = 2000;

class UIWindow : public UIView {
public:
    static Ref<UIWindow> alloc() { return std::make_shared<UIWindow>(); }
    // Windows start hidden.
    Ref<UIView> initWithFrame(CGRect frame) override;

    Ref<UIViewController> rootViewController() const { return rootViewController_; }
    // The controller's view fills the window.
    void setRootViewController(const Ref<UIViewController>& controller);
    void makeKeyAndVisible();
    void makeKeyWindow();
    bool isKeyWindow() const;
    UIWindowLevel windowLevel() const { return windowLevel_; }
    void setWindowLevel(UIWindowLevel level) { windowLevel_ = level; }
    void setHidden(bool hidden) override;

    // Seams. A tap at a point in window coordinates: hit-test, recognizers
    // offered the touch (hit view first, then its ancestors), a control's own
    // tap winning over its ancestors' recognizers, then the touch callbacks.
    void simulateTap(CGPoint point);
    // At the view's centre.
    void simulateTap(const Ref<UIView>& view);
    bool snapshotPNG(const std::string& path);

    // Visible windows, by level then in the order they became visible.
    static std::vector<Ref<UIWindow>> visibleWindows();
    static Ref<UIWindow> keyWindow();

private:
    Ref<UIViewController> rootViewController_;
    UIWindowLevel windowLevel_ = UIWindowLevelNormal;
};

}  // namespace platform

using platform::UIWindow;
using platform::UIWindowLevel;
using platform::UIWindowLevelAlert;
using platform::UIWindowLevelNormal;
using platform::UIWindowLevelStatusBar;
