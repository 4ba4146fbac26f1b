// The older alert: a title, a message and buttons (the cancel button first
// when given). The platform holds shown alerts until dismissed; one is
// visible at a time and later ones wait their turn. Seams tap its buttons.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/UIView.h"

namespace platform {

class UIAlertView;

// Every method is optional.
class UIAlertViewDelegate : public virtual NSObjectProtocol {
public:
    virtual void alertViewClickedButtonAtIndex(const Ref<UIAlertView>& alertView, int64_t buttonIndex);
    virtual void alertViewWillDismissWithButtonIndex(const Ref<UIAlertView>& alertView, int64_t buttonIndex);
    virtual void alertViewDidDismissWithButtonIndex(const Ref<UIAlertView>& alertView, int64_t buttonIndex);
    virtual void willPresentAlertView(const Ref<UIAlertView>& alertView);
    virtual void didPresentAlertView(const Ref<UIAlertView>& alertView);
    virtual void alertViewCancel(const Ref<UIAlertView>& alertView);
};

class UIAlertView : public UIView {
public:
    static Ref<UIAlertView> alloc() { return std::make_shared<UIAlertView>(); }
    Ref<UIAlertView> initWithTitle(std::optional<std::string> title, std::optional<std::string> message,
                                   Weak<UIAlertViewDelegate> delegate, std::optional<std::string> cancelButtonTitle,
                                   std::vector<std::string> otherButtonTitles);

    const std::optional<std::string>& title() const { return title_; }
    const std::optional<std::string>& message() const { return message_; }
    Ref<UIAlertViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(Weak<UIAlertViewDelegate> d) { delegate_ = std::move(d); }
    // -1 without a cancel button.
    int64_t cancelButtonIndex() const { return cancelIndex_; }
    int64_t numberOfButtons() const { return int64_t(buttons_.size()); }
    // Nothing out of range.
    std::optional<std::string> buttonTitleAtIndex(int64_t index) const;
    int64_t addButtonWithTitle(const std::string& title);

    // Visible at once when no other alert is (willPresentAlertView now,
    // didPresentAlertView at the next pass); otherwise it waits its turn.
    void show();
    bool isVisible() const { return visible_; }
    // The will/did-dismiss pair only (never "clicked"); -1 is accepted.
    void dismissWithClickedButtonIndex(int64_t buttonIndex, bool animated);

    // Seams.
    static Ref<UIAlertView> visibleAlert();
    // On the visible alert: clicked, will-dismiss, then (no longer visible)
    // did-dismiss at the next pass.
    void simulateTapButtonAtIndex(int64_t index);

private:
    void dismiss(int64_t buttonIndex, bool clicked);
    void present();

    std::optional<std::string> title_;
    std::optional<std::string> message_;
    Weak<UIAlertViewDelegate> delegate_;
    std::vector<std::string> buttons_;
    int64_t cancelIndex_ = -1;
    bool visible_ = false;
    bool dismissing_ = false;
};

}  // namespace platform

using platform::UIAlertView;
using platform::UIAlertViewDelegate;
