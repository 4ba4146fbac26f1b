#include "platform/ui/UIAlertView.h"

#include <algorithm>

#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"
#include "platform/ui/MainThreadOnly.h"
#include "platform/runtime/RunLoopTimer.h"

namespace platform {

void UIAlertViewDelegate::alertViewClickedButtonAtIndex(const Ref<UIAlertView>&, int64_t) {}
void UIAlertViewDelegate::alertViewWillDismissWithButtonIndex(const Ref<UIAlertView>&, int64_t) {}
void UIAlertViewDelegate::alertViewDidDismissWithButtonIndex(const Ref<UIAlertView>&, int64_t) {}
void UIAlertViewDelegate::willPresentAlertView(const Ref<UIAlertView>&) {}
void UIAlertViewDelegate::didPresentAlertView(const Ref<UIAlertView>&) {}
void UIAlertViewDelegate::alertViewCancel(const Ref<UIAlertView>&) {}

namespace {

// Shown alerts in order; the first is the visible one (or about to be).
std::vector<Ref<UIAlertView>>& shown() {
    static auto* list = new std::vector<Ref<UIAlertView>>();
    return *list;
}

void tell(const Ref<UIAlertView>& alert, const std::function<void(UIAlertViewDelegate&)>& call) {
    if (auto d = alert->delegate()) runtime::callAtBoundary([&] { call(*d); }, "alert delegate");
}

}  // namespace

Ref<UIAlertView> UIAlertView::initWithTitle(std::optional<std::string> title, std::optional<std::string> message,
                                            Weak<UIAlertViewDelegate> delegate,
                                            std::optional<std::string> cancelButtonTitle,
                                            std::vector<std::string> otherButtonTitles) {
    initWithFrame(CGRectZero);
    title_ = std::move(title);
    message_ = std::move(message);
    delegate_ = std::move(delegate);
    if (cancelButtonTitle) {
        cancelIndex_ = 0;
        buttons_.push_back(*cancelButtonTitle);
    }
    for (auto& t : otherButtonTitles) buttons_.push_back(std::move(t));
    return self<UIAlertView>();
}

std::optional<std::string> UIAlertView::buttonTitleAtIndex(int64_t index) const {
    if (index < 0 || index >= numberOfButtons()) return std::nullopt;
    return buttons_[size_t(index)];
}

int64_t UIAlertView::addButtonWithTitle(const std::string& title) {
    buttons_.push_back(title);
    return numberOfButtons() - 1;
}

void UIAlertView::show() {
    MainThreadOnly mainThreadOnly("UIAlertView::show");
    auto me = self<UIAlertView>();
    auto& list = shown();
    if (std::find(list.begin(), list.end(), me) != list.end()) return;
    list.push_back(me);
    if (list.front() == me) present();
}

void UIAlertView::present() {
    auto me = self<UIAlertView>();
    visible_ = true;
    tell(me, [&](UIAlertViewDelegate& d) { d.willPresentAlertView(me); });
    runtime::scheduleMainThreadCall(0, [me] {
        if (me->visible_) tell(me, [&](UIAlertViewDelegate& d) { d.didPresentAlertView(me); });
    });
}

Ref<UIAlertView> UIAlertView::visibleAlert() {
    auto& list = shown();
    return !list.empty() && list.front()->visible_ ? list.front() : nullptr;
}

void UIAlertView::simulateTapButtonAtIndex(int64_t index) {
    MainThreadOnly mainThreadOnly("UIAlertView::simulateTapButtonAtIndex");
    if (!visible_) {
        logError("UIAlertView::simulateTapButtonAtIndex: the alert is not visible");
        return;
    }
    if (index < 0 || index >= numberOfButtons()) {
        logError("UIAlertView::simulateTapButtonAtIndex: no button at index " + std::to_string(index));
        return;
    }
    dismiss(index, true);
}

void UIAlertView::dismissWithClickedButtonIndex(int64_t buttonIndex, bool) {
    MainThreadOnly mainThreadOnly("UIAlertView::dismissWithClickedButtonIndex");
    auto& list = shown();
    if (std::find(list.begin(), list.end(), self<UIAlertView>()) == list.end()) return;
    dismiss(buttonIndex, false);
}

void UIAlertView::dismiss(int64_t buttonIndex, bool clicked) {
    if (dismissing_) return;
    auto me = self<UIAlertView>();
    dismissing_ = true;
    if (clicked) tell(me, [&](UIAlertViewDelegate& d) { d.alertViewClickedButtonAtIndex(me, buttonIndex); });
    tell(me, [&](UIAlertViewDelegate& d) { d.alertViewWillDismissWithButtonIndex(me, buttonIndex); });
    visible_ = false;
    auto& list = shown();
    list.erase(std::remove(list.begin(), list.end(), me), list.end());
    runtime::scheduleMainThreadCall(0, [me, buttonIndex] {
        tell(me, [&](UIAlertViewDelegate& d) { d.alertViewDidDismissWithButtonIndex(me, buttonIndex); });
        me->dismissing_ = false;
        auto& waiting = shown();
        if (!waiting.empty() && !waiting.front()->visible_) waiting.front()->present();
    });
}

}  // namespace platform
