// The main run loop's timers: one-shot or repeating, firing a block on the
// main thread during run loop passes, scheduled on uptime and reported in
// wall time. NSTimer (foundation) is the platform's timer class on top of it;
// the runtime and the platform's own delayed steps use this one directly.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "platform/runtime/NSDate.h"
#include "platform/runtime/NSObject.h"

namespace platform {

struct MainLoop;

namespace runtime {

class RunLoopTimer;

// A one-shot main-thread call after `delay` seconds (no minimum: 0 runs at the
// next pass). `owner` tags it for cancelMainThreadCalls.
Ref<RunLoopTimer> scheduleMainThreadCall(double delay, Block block, const void* owner = nullptr);
// Invalidates every pending call scheduled with `owner`.
void cancelMainThreadCalls(const void* owner);

class RunLoopTimer : public NSObject {
public:
    using Callback = std::function<void(const Ref<RunLoopTimer>&)>;

    // Intervals below 0.0001 s count as 0.0001 s.
    static Ref<RunLoopTimer> scheduledTimerWithTimeInterval(double seconds, bool repeats, Callback callback);
    // Not yet scheduled: NSRunLoop::addTimer schedules it.
    static Ref<RunLoopTimer> timerWithTimeInterval(double seconds, bool repeats, Callback callback);

    // Idempotent, from any thread; releases the callback (and what it holds).
    void invalidate();
    bool isValid() const { return valid_.load(); }
    // Scheduled on uptime, reported as wall time. distantFuture parks the timer.
    NSDate fireDate() const { return NSDate::dateWithTimeIntervalSince1970(fireTimeIntervalSince1970()); }
    void setFireDate(const NSDate& date) { setFireTimeIntervalSince1970(date.timeIntervalSince1970()); }
    double fireTimeIntervalSince1970() const;
    void setFireTimeIntervalSince1970(double wallSeconds);
    // The repeat interval; 0 for a one-shot timer.
    double timeInterval() const { return repeats_ ? interval_ : 0; }
    // Runs the callback now, on the calling thread; a one-shot is then invalidated.
    void fire();

    // Into the main run loop (any thread).
    static void schedule(const Ref<RunLoopTimer>& timer);

protected:
    // For subclasses made with std::make_shared: sets up an unscheduled timer.
    void configure(double seconds, bool repeats, Callback callback);

private:
    friend struct platform::MainLoop;
    friend Ref<RunLoopTimer> scheduleMainThreadCall(double, Block, const void*);

    // Schedule state, guarded by the main loop's lock.
    double interval_ = 0;
    bool repeats_ = false;
    Callback block_;
    const void* owner_ = nullptr;  // performSelector target, for cancelPreviousPerformRequestsWithTarget
    double fireUptime_ = 0;
    uint64_t order_ = 0;         // ties at one fire date fire in scheduling order
    uint64_t addedStamp_ = 0;    // the timer step during which it was (re)scheduled
    bool scheduled_ = false;     // in the run loop's list
    bool firing_ = false;
    bool rescheduledWhileFiring_ = false;
    std::atomic<bool> valid_{true};
};

}  // namespace runtime
}  // namespace platform
