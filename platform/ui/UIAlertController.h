// The newer alert (system version 8.0 on): a controller with actions,
// presented like any controller. The seam taps an action: the controller is
// dismissed and the action's handler runs when the dismissal completes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/UIViewController.h"

namespace platform {

using UIAlertActionStyle = int64_t;
inline constexpr UIAlertActionStyle UIAlertActionStyleDefault = 0;
inline constexpr UIAlertActionStyle UIAlertActionStyleCancel = 1;
inline constexpr UIAlertActionStyle UIAlertActionStyleDestructive = 2;

using UIAlertControllerStyle = int64_t;
inline constexpr UIAlertControllerStyle UIAlertControllerStyleActionSheet = 0;
inline constexpr UIAlertControllerStyle UIAlertControllerStyleAlert = 1;

class UIAlertAction : public NSObject {
public:
    using Handler = std::function<void(Ref<UIAlertAction>)>;
    static Ref<UIAlertAction> alloc() { return std::make_shared<UIAlertAction>(); }
    static Ref<UIAlertAction> actionWithTitle(std::optional<std::string> title, UIAlertActionStyle style,
                                              Handler handler);
    const std::optional<std::string>& title() const { return title_; }
    UIAlertActionStyle style() const { return style_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool e) { enabled_ = e; }
    const Handler& handler() const { return handler_; }

private:
    std::optional<std::string> title_;
    UIAlertActionStyle style_ = UIAlertActionStyleDefault;
    bool enabled_ = true;
    Handler handler_;
};

class UIAlertController : public UIViewController {
public:
    static Ref<UIAlertController> alloc() { return std::make_shared<UIAlertController>(); }
    static Ref<UIAlertController> alertControllerWithTitle(std::optional<std::string> title,
                                                           std::optional<std::string> message,
                                                           UIAlertControllerStyle style);
    const std::optional<std::string>& title() const { return title_; }
    const std::optional<std::string>& message() const { return message_; }
    UIAlertControllerStyle preferredStyle() const { return style_; }
    void addAction(const Ref<UIAlertAction>& action);
    std::vector<Ref<UIAlertAction>> actions() const { return actions_; }

    // Seam: dismisses the controller; the action's handler runs when the
    // dismissal completes. Logged and ignored out of range or while the
    // controller is not presented.
    void simulateTapActionAtIndex(int64_t index);

private:
    std::optional<std::string> title_;
    std::optional<std::string> message_;
    UIAlertControllerStyle style_ = UIAlertControllerStyleAlert;
    std::vector<Ref<UIAlertAction>> actions_;
};

}  // namespace platform

using platform::UIAlertAction;
using platform::UIAlertActionStyle;
using platform::UIAlertActionStyleCancel;
using platform::UIAlertActionStyleDefault;
using platform::UIAlertActionStyleDestructive;
using platform::UIAlertController;
using platform::UIAlertControllerStyle;
using platform::UIAlertControllerStyleActionSheet;
using platform::UIAlertControllerStyleAlert;
