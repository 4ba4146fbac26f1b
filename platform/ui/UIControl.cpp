#include "platform/ui/UIControl.h"

#include <algorithm>

#include "platform/runtime/CallCatching.h"
#include "platform/ui/MainThreadOnly.h"

namespace platform {

void UIControl::add(Weak<void> target, UIControlEvents events, std::function<void(Ref<UIControl>)> run) {
    MainThreadOnly mainThreadOnly("UIControl::addTarget");
    actions_.push_back({std::move(target), events, std::move(run)});
}

void UIControl::removeTarget(const void* target, UIControlEvents events) {
    MainThreadOnly mainThreadOnly("UIControl::removeTarget");
    for (auto& a : actions_) {
        auto t = a.target.lock();
        if (t && t.get() == target) a.events &= ~events;
    }
    std::erase_if(actions_, [](const Action& a) { return a.events == 0 || a.target.expired(); });
}

void UIControl::sendActionsForControlEvents(UIControlEvents events) {
    MainThreadOnly mainThreadOnly("UIControl::sendActionsForControlEvents");
    Ref<UIControl> keep = self<UIControl>();
    auto actions = actions_;  // an action may change the list
    for (const auto& a : actions) {
        if (!(a.events & events) || a.target.expired()) continue;
        runtime::callAtBoundary([&] { a.run(keep); }, "control action");
    }
}

void UIControl::setEnabled(bool e) {
    enabled_ = e;
    setNeedsDisplay();
}

void UIControl::setSelected(bool s) {
    selected_ = s;
    setNeedsLayout();
}

void UIControl::setHighlighted(bool h) {
    highlighted_ = h;
    setNeedsLayout();
}

UIControlState UIControl::state() const {
    UIControlState s = UIControlStateNormal;
    if (highlighted_) s |= UIControlStateHighlighted;
    if (!enabled_) s |= UIControlStateDisabled;
    if (selected_) s |= UIControlStateSelected;
    return s;
}

}  // namespace platform
