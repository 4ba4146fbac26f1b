#include "platform/ui/UIAlertController.h"

#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"
#include "platform/ui/MainThreadOnly.h"

namespace platform {

Ref<UIAlertAction> UIAlertAction::actionWithTitle(std::optional<std::string> title, UIAlertActionStyle style,
                                                  Handler handler) {
    auto a = alloc();
    a->title_ = std::move(title);
    a->style_ = style;
    a->handler_ = std::move(handler);
    return a;
}

Ref<UIAlertController> UIAlertController::alertControllerWithTitle(std::optional<std::string> title,
                                                                   std::optional<std::string> message,
                                                                   UIAlertControllerStyle style) {
    auto c = alloc();
    c->init();
    c->title_ = std::move(title);
    c->message_ = std::move(message);
    c->style_ = style;
    return c;
}

void UIAlertController::addAction(const Ref<UIAlertAction>& action) {
    if (action) actions_.push_back(action);
}

void UIAlertController::simulateTapActionAtIndex(int64_t index) {
    MainThreadOnly mainThreadOnly("UIAlertController::simulateTapActionAtIndex");
    if (index < 0 || index >= int64_t(actions_.size())) {
        logError("UIAlertController::simulateTapActionAtIndex: no action at index " + std::to_string(index));
        return;
    }
    if (!presentingViewController() || isBeingDismissed()) {
        logError("UIAlertController::simulateTapActionAtIndex: the alert is not presented");
        return;
    }
    Ref<UIAlertAction> action = actions_[size_t(index)];
    if (!action->isEnabled()) return;
    dismissViewControllerAnimated(true, [action] {
        if (action->handler()) runtime::callAtBoundary([&] { action->handler()(action); }, "alert action");
    });
}

}  // namespace platform
