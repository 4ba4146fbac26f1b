// Gesture recognizers attached to views; the tap recognizer is the one the
// clients use. Simulated taps (UIWindow::simulateTap) drive them.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/runtime/NSObject.h"
#include "platform/ui/CGGeometry.h"

namespace platform {

class UIView;
class UITouch;
class UIGestureRecognizer;

using UIGestureRecognizerState = int64_t;
inline constexpr UIGestureRecognizerState UIGestureRecognizerStatePossible = 0;
inline constexpr UIGestureRecognizerState UIGestureRecognizerStateBegan = 1;
inline constexpr UIGestureRecognizerState UIGestureRecognizerStateChanged = 2;
inline constexpr UIGestureRecognizerState UIGestureRecognizerStateEnded = 3;
inline constexpr UIGestureRecognizerState UIGestureRecognizerStateCancelled = 4;
inline constexpr UIGestureRecognizerState UIGestureRecognizerStateFailed = 5;
inline constexpr UIGestureRecognizerState UIGestureRecognizerStateRecognized = UIGestureRecognizerStateEnded;

// Optional methods: the defaults allow everything.
class UIGestureRecognizerDelegate : public virtual NSObjectProtocol {
public:
    virtual bool gestureRecognizerShouldReceiveTouch(const Ref<UIGestureRecognizer>& recognizer,
                                                     const Ref<UITouch>& touch);
    virtual bool gestureRecognizerShouldBegin(const Ref<UIGestureRecognizer>& recognizer);
};

class UIGestureRecognizer : public NSObject {
public:
    using Action = std::function<void(Ref<UIGestureRecognizer>)>;

    // The target is held weakly; a null target or selector gives a recognizer
    // without an action (its delegate may still act on touches).
    template <class T>
    Ref<UIGestureRecognizer> initWithTarget(const Ref<T>& target, void (T::*selector)(Ref<UIGestureRecognizer>)) {
        if (target && selector) {
            Weak<T> weak = target;
            addAction(weak, [weak, selector](Ref<UIGestureRecognizer> r) {
                if (auto t = weak.lock()) ((*t).*selector)(std::move(r));
            });
        }
        return self<UIGestureRecognizer>();
    }
    Ref<UIGestureRecognizer> init() { return self<UIGestureRecognizer>(); }
    template <class T> void addTarget(const Ref<T>& target, void (T::*selector)(Ref<UIGestureRecognizer>)) {
        initWithTarget(target, selector);
    }
    void removeTarget(const void* target);

    Ref<UIView> view() const { return view_.lock(); }
    UIGestureRecognizerState state() const { return state_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool e) { enabled_ = e; }
    bool cancelsTouchesInView() const { return cancelsTouchesInView_; }
    void setCancelsTouchesInView(bool c) { cancelsTouchesInView_ = c; }
    Ref<UIGestureRecognizerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UIGestureRecognizerDelegate>& d) { delegate_ = d; }
    // The location of the touch being recognized in `view` (null: the window).
    CGPoint locationInView(const Ref<UIView>& view) const;

    // ---- used by the platform ----
    void attachToView(const Ref<UIView>& view) { view_ = view; }
    // Whether a single one-finger tap satisfies this recognizer.
    virtual bool acceptsSingleTap() const { return false; }
    // Offered a touch: the delegate's answer (true without a delegate).
    bool offerTouch(const Ref<UITouch>& touch);
    // The touch ended: fires when the delegate allows. True when it fired.
    bool finishTouch();
    void reset();

protected:
    void addAction(Weak<void> target, Action action);

private:
    struct Target {
        Weak<void> key;
        Action action;
    };
    Weak<UIView> view_;
    Weak<UIGestureRecognizerDelegate> delegate_;
    std::vector<Target> targets_;
    UIGestureRecognizerState state_ = UIGestureRecognizerStatePossible;
    bool enabled_ = true;
    bool cancelsTouchesInView_ = true;
    Ref<UITouch> touch_;
};

class UITapGestureRecognizer : public UIGestureRecognizer {
public:
    static Ref<UITapGestureRecognizer> alloc() { return std::make_shared<UITapGestureRecognizer>(); }
    uint64_t numberOfTapsRequired() const { return taps_; }
    void setNumberOfTapsRequired(uint64_t n) { taps_ = n; }
    uint64_t numberOfTouchesRequired() const { return touches_; }
    void setNumberOfTouchesRequired(uint64_t n) { touches_ = n; }
    bool acceptsSingleTap() const override { return taps_ == 1 && touches_ == 1; }

private:
    uint64_t taps_ = 1;
    uint64_t touches_ = 1;
};

}  // namespace platform

using platform::UIGestureRecognizer;
using platform::UIGestureRecognizerDelegate;
using platform::UIGestureRecognizerState;
using platform::UIGestureRecognizerStateBegan;
using platform::UIGestureRecognizerStateCancelled;
using platform::UIGestureRecognizerStateChanged;
using platform::UIGestureRecognizerStateEnded;
using platform::UIGestureRecognizerStateFailed;
using platform::UIGestureRecognizerStatePossible;
using platform::UIGestureRecognizerStateRecognized;
using platform::UITapGestureRecognizer;
