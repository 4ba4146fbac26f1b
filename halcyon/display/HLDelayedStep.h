// A presenter's delayed step: a method of `object` run on the main queue
// after `seconds`, holding the object weakly. Delays an ad sets (close
// delays, button fades) may be of any length; a presenter that has gone must
// not be kept for them, and a step due after it went does nothing.
#pragma once

#include <cstdint>

#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/NSObject.h"
#include "platform/runtime/SaturatingCast.h"

template <class T>
void HLPerformStepAfterDelay(const Ref<T>& object, void (T::*step)(), double seconds) {
    Weak<T> weak = object;
    const auto nanoseconds = platform::saturatingCast<int64_t>(seconds * 1e9);
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, nanoseconds), dispatch_get_main_queue(), [weak, step] {
        if (Ref<T> target = weak.lock()) ((*target).*step)();
    });
}
