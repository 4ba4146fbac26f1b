// The platform's timers: one-shot or repeating, with a target and selector
// (and a user-info value) or a block. They fire on the main thread during
// run loop passes; the machinery is the runtime's RunLoopTimer.
#pragma once

#include <functional>
#include <memory>

#include "platform/foundation/Value.h"
#include "platform/runtime/RunLoopTimer.h"

namespace platform {

class NSTimer : public runtime::RunLoopTimer {
public:
    using TimerBlock = std::function<void(Ref<NSTimer>)>;

    // Intervals below 0.0001 s count as 0.0001 s.
    static Ref<NSTimer> scheduledTimerWithTimeInterval(double seconds, bool repeats, TimerBlock block);
    // Holds `target` strongly until the timer is invalidated (a one-shot: until it fired).
    template <class T>
    static Ref<NSTimer> scheduledTimerWithTimeInterval(double seconds, Ref<T> target, void (T::*selector)(Ref<NSTimer>),
                                                       const Value& userInfo, bool repeats);
    // Not yet scheduled: NSRunLoop::addTimer schedules it.
    static Ref<NSTimer> timerWithTimeInterval(double seconds, bool repeats, TimerBlock block);
    template <class T>
    static Ref<NSTimer> timerWithTimeInterval(double seconds, Ref<T> target, void (T::*selector)(Ref<NSTimer>),
                                              const Value& userInfo, bool repeats);

    // Null when none was given.
    const Value& userInfo() const { return userInfo_; }

private:
    static Ref<NSTimer> make(double seconds, bool repeats, TimerBlock block, Value userInfo);

    Value userInfo_;  // set once, before the timer is shared
};

template <class T>
Ref<NSTimer> NSTimer::timerWithTimeInterval(double seconds, Ref<T> target, void (T::*selector)(Ref<NSTimer>),
                                            const Value& userInfo, bool repeats) {
    TimerBlock block;
    if (target && selector) block = [target, selector](Ref<NSTimer> timer) { ((*target).*selector)(std::move(timer)); };
    return make(seconds, repeats, std::move(block), userInfo);
}

template <class T>
Ref<NSTimer> NSTimer::scheduledTimerWithTimeInterval(double seconds, Ref<T> target, void (T::*selector)(Ref<NSTimer>),
                                                     const Value& userInfo, bool repeats) {
    auto timer = timerWithTimeInterval(seconds, std::move(target), selector, userInfo, repeats);
    schedule(timer);
    return timer;
}

}  // namespace platform

using platform::NSTimer;
