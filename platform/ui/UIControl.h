// A view that sends actions to targets on control events (touch up inside
// above all), with enabled, selected and highlighted states.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/ui/UIView.h"

namespace platform {

using UIControlEvents = uint64_t;
inline constexpr UIControlEvents UIControlEventTouchDown = 1 << 0;
inline constexpr UIControlEvents UIControlEventTouchUpInside = 1 << 6;
inline constexpr UIControlEvents UIControlEventTouchCancel = 1 << 8;
inline constexpr UIControlEvents UIControlEventValueChanged = 1 << 12;
inline constexpr UIControlEvents UIControlEventAllEvents = 0xFFFFFFFF;

using UIControlState = uint64_t;
inline constexpr UIControlState UIControlStateNormal = 0;
inline constexpr UIControlState UIControlStateHighlighted = 1 << 0;
inline constexpr UIControlState UIControlStateDisabled = 1 << 1;
inline constexpr UIControlState UIControlStateSelected = 1 << 2;

class UIControl : public UIView {
public:
    static Ref<UIControl> alloc() { return std::make_shared<UIControl>(); }

    // Targets are held weakly.
    template <class T> void addTarget(const Ref<T>& target, void (T::*selector)(Ref<UIControl>), UIControlEvents events) {
        if (!target || !selector) return;
        Weak<T> weak = target;
        add(weak, events, [weak, selector](Ref<UIControl> sender) {
            if (auto t = weak.lock()) ((*t).*selector)(std::move(sender));
        });
    }
    template <class T> void addTarget(const Ref<T>& target, void (T::*selector)(), UIControlEvents events) {
        if (!target || !selector) return;
        Weak<T> weak = target;
        add(weak, events, [weak, selector](Ref<UIControl>) {
            if (auto t = weak.lock()) ((*t).*selector)();
        });
    }
    // Removes the target's actions for these events (all events: every action).
    void removeTarget(const void* target, UIControlEvents events = UIControlEventAllEvents);
    // Runs the actions registered for any of `events`, in the order added.
    void sendActionsForControlEvents(UIControlEvents events);

    bool isEnabled() const { return enabled_; }
    virtual void setEnabled(bool e);
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool s);
    bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted(bool h);
    UIControlState state() const;

private:
    struct Action {
        Weak<void> target;
        UIControlEvents events;
        std::function<void(Ref<UIControl>)> run;
    };
    void add(Weak<void> target, UIControlEvents events, std::function<void(Ref<UIControl>)> run);

    std::vector<Action> actions_;
    bool enabled_ = true;
    bool selected_ = false;
    bool highlighted_ = false;
};

}  // namespace platform

using platform::UIControl;
using platform::UIControlEventAllEvents;
using platform::UIControlEvents;
using platform::UIControlEventTouchCancel;
using platform::UIControlEventTouchDown;
using platform::UIControlEventTouchUpInside;
using platform::UIControlEventValueChanged;
using platform::UIControlState;
using platform::UIControlStateDisabled;
using platform::UIControlStateHighlighted;
using platform::UIControlStateNormal;
using platform::UIControlStateSelected;
