// View animations on the clock: the animations block changes the model at
// once; each completion runs once, at delay + duration on the clock, with
// finished true (at the next pass for zero total time), unless the view's
// animations were removed, which runs it at the next pass with false.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/runtime/NSObject.h"

namespace platform {

class UIView;

using UIViewAnimationOptions = uint64_t;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionLayoutSubviews = 1 << 0;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionAllowUserInteraction = 1 << 1;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionBeginFromCurrentState = 1 << 2;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionCurveEaseInOut = 0 << 16;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionCurveEaseIn = 1 << 16;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionCurveEaseOut = 2 << 16;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionCurveLinear = 3 << 16;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionTransitionNone = 0 << 20;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionTransitionCrossDissolve = 5 << 20;

class UIViewAnimation {
public:
    using Completion = std::function<void(bool finished)>;

    // `view` (may be null) takes part even when the block changes nothing of
    // it (transitions).
    static void run(double duration, double delay, UIViewAnimationOptions options, const Block& animations,
                    Completion completion, UIView* view);
    // Called by the animatable property setters: while an animations block
    // runs, the view takes part in that animation.
    static void noteChange(UIView* view);
    // The view's pending animations end: completions at the next pass with false.
    static void cancelAnimationsOf(UIView* view);
    // Options of the innermost running animations block (0 outside one).
    static UIViewAnimationOptions currentOptions();
};

}  // namespace platform

using platform::UIViewAnimationOptionAllowUserInteraction;
using platform::UIViewAnimationOptionBeginFromCurrentState;
using platform::UIViewAnimationOptionCurveEaseIn;
using platform::UIViewAnimationOptionCurveEaseInOut;
using platform::UIViewAnimationOptionCurveEaseOut;
using platform::UIViewAnimationOptionCurveLinear;
using platform::UIViewAnimationOptionLayoutSubviews;
using platform::UIViewAnimationOptions;
using platform::UIViewAnimationOptionTransitionCrossDissolve;
using platform::UIViewAnimationOptionTransitionNone;
