// One finger on the screen (simulated taps have exactly one), and the event
// that carries the touches.
#pragma once

#include <vector>

#include "platform/runtime/NSObject.h"
#include "platform/ui/CGGeometry.h"

namespace platform {

class UIView;
class UIWindow;

enum UITouchPhase : int64_t {
    UITouchPhaseBegan = 0,
    UITouchPhaseMoved = 1,
    UITouchPhaseStationary = 2,
    UITouchPhaseEnded = 3,
    UITouchPhaseCancelled = 4,
};

class UITouch : public NSObject {
public:
    static Ref<UITouch> alloc() { return std::make_shared<UITouch>(); }
    // A touch at `windowPoint` in `window`, delivered to `view`.
    Ref<UITouch> initWithWindow(const Ref<UIWindow>& window, const Ref<UIView>& view, CGPoint windowPoint);

    // The location in `view`'s coordinates (null: the window's).
    CGPoint locationInView(const Ref<UIView>& view) const;
    Ref<UIView> view() const { return view_.lock(); }
    Ref<UIWindow> window() const { return window_.lock(); }
    UITouchPhase phase() const { return phase_; }
    void setPhase(UITouchPhase p) { phase_ = p; }
    uint64_t tapCount() const { return 1; }

private:
    Weak<UIWindow> window_;
    Weak<UIView> view_;
    CGPoint windowPoint_{};
    UITouchPhase phase_ = UITouchPhaseBegan;
};

class UIEvent : public NSObject {
public:
    static Ref<UIEvent> alloc() { return std::make_shared<UIEvent>(); }
    Ref<UIEvent> initWithTouches(std::vector<Ref<UITouch>> touches) {
        touches_ = std::move(touches);
        return self<UIEvent>();
    }
    const std::vector<Ref<UITouch>>& allTouches() const { return touches_; }

private:
    std::vector<Ref<UITouch>> touches_;
};

}  // namespace platform

using platform::UIEvent;
using platform::UITouch;
using platform::UITouchPhase;
using platform::UITouchPhaseBegan;
using platform::UITouchPhaseCancelled;
using platform::UITouchPhaseEnded;
using platform::UITouchPhaseMoved;
using platform::UITouchPhaseStationary;
