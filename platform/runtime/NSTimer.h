// Timers on the main run loop: one-shot or repeating, with a target and
// selector or a block. They fire on the main thread during run loop passes.
// (The runtime itself never calls the NSDate / Value members defined here
// inline, so it does not link against foundation.)
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "platform/foundation/NSDate.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class NSTimer;

namespace runtime {
// A one-shot main-thread call after `delay` seconds (no minimum: 0 runs at the
// next pass). `owner` tags it for cancelMainThreadCalls.
Ref<NSTimer> scheduleMainThreadCall(double delay, Block block, const void* owner = nullptr);
// Invalidates every pending call scheduled with `owner`.
void cancelMainThreadCalls(const void* owner);
}  // namespace runtime

class NSTimer : public NSObject {
public:
    using TimerBlock = std::function<void(Ref<NSTimer>)>;

    // Intervals below 0.0001 s count as 0.0001 s.
    static Ref<NSTimer> scheduledTimerWithTimeInterval(double seconds, bool repeats, TimerBlock block);
    template <class T>
    static Ref<NSTimer> scheduledTimerWithTimeInterval(double seconds, Ref<T> target, void (T::*selector)(Ref<NSTimer>),
                                                       const Value& userInfo, bool repeats);
    // Not yet scheduled: NSRunLoop::addTimer schedules it.
    static Ref<NSTimer> timerWithTimeInterval(double seconds, bool repeats, TimerBlock block);
    template <class T>
    static Ref<NSTimer> timerWithTimeInterval(double seconds, Ref<T> target, void (T::*selector)(Ref<NSTimer>),
                                              const Value& userInfo, bool repeats);

    // Idempotent, from any thread; releases the target.
    void invalidate();
    bool isValid() const { return valid_.load(); }
    // Scheduled on uptime, reported as wall time. distantFuture parks the timer.
    NSDate fireDate() const { return NSDate::dateWithTimeIntervalSince1970(fireTimeIntervalSince1970()); }
    void setFireDate(const NSDate& date) { setFireTimeIntervalSince1970(date.timeIntervalSince1970()); }
    double fireTimeIntervalSince1970() const;
    void setFireTimeIntervalSince1970(double wallSeconds);
    // The repeat interval; 0 for a one-shot timer.
    double timeInterval() const { return repeats_ ? interval_ : 0; }
    // Null when none was given.
    const Value& userInfo() const { return userInfo_ ? *userInfo_ : Value::null(); }
    // Runs the callback now, on the calling thread; a one-shot is then invalidated.
    void fire();

private:
    friend struct MainLoop;
    friend Ref<NSTimer> runtime::scheduleMainThreadCall(double, Block, const void*);

    static Ref<NSTimer> make(double seconds, bool repeats, TimerBlock block, std::shared_ptr<const Value> userInfo);
    static void schedule(const Ref<NSTimer>& timer);  // into the main run loop

    // Schedule state, guarded by the main loop's lock.
    double interval_ = 0;
    bool repeats_ = false;
    std::shared_ptr<const Value> userInfo_;
    TimerBlock block_;
    const void* owner_ = nullptr;  // performSelector target, for cancelPreviousPerformRequestsWithTarget
    double fireUptime_ = 0;
    uint64_t order_ = 0;         // ties at one fire date fire in scheduling order
    uint64_t addedStamp_ = 0;    // the timer step during which it was (re)scheduled
    bool scheduled_ = false;     // in the run loop's list
    bool firing_ = false;
    bool rescheduledWhileFiring_ = false;
    std::atomic<bool> valid_{true};
};

template <class T>
Ref<NSTimer> NSTimer::timerWithTimeInterval(double seconds, Ref<T> target, void (T::*selector)(Ref<NSTimer>),
                                            const Value& userInfo, bool repeats) {
    // The block holds the target strongly until the timer is invalidated.
    TimerBlock block;
    if (target && selector) block = [target, selector](Ref<NSTimer> timer) { ((*target).*selector)(std::move(timer)); };
    return make(seconds, repeats, std::move(block), std::make_shared<const Value>(userInfo));
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
