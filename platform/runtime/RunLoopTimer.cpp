#include "platform/runtime/RunLoopTimer.h"

#include <cmath>

#include "platform/runtime/Clock.h"
#include "platform/runtime/MainLoop.h"

namespace platform::runtime {
namespace {

// Shorter intervals count as this.
constexpr double kMinimumInterval = 0.0001;

}  // namespace

void RunLoopTimer::configure(double seconds, bool repeats, Callback callback) {
    interval_ = seconds >= kMinimumInterval ? seconds : kMinimumInterval;  // NaN too
    repeats_ = repeats;
    block_ = std::move(callback);
    fireUptime_ = Clock::current()->uptime() + interval_;
}

void RunLoopTimer::schedule(const Ref<RunLoopTimer>& timer) { MainLoop::shared().add(timer); }

Ref<RunLoopTimer> RunLoopTimer::timerWithTimeInterval(double seconds, bool repeats, Callback callback) {
    auto timer = std::make_shared<RunLoopTimer>();
    timer->configure(seconds, repeats, std::move(callback));
    return timer;
}

Ref<RunLoopTimer> RunLoopTimer::scheduledTimerWithTimeInterval(double seconds, bool repeats, Callback callback) {
    auto timer = timerWithTimeInterval(seconds, repeats, std::move(callback));
    schedule(timer);
    return timer;
}

void RunLoopTimer::invalidate() { MainLoop::shared().invalidate(*this); }

double RunLoopTimer::fireTimeIntervalSince1970() const {
    return Clock::current()->wallTimeForUptime(MainLoop::shared().fireUptime(*this));
}

void RunLoopTimer::setFireTimeIntervalSince1970(double wallSeconds) {
    MainLoop::shared().setFireUptime(*this, Clock::current()->uptimeForWallTime(wallSeconds));
}

void RunLoopTimer::fire() { MainLoop::shared().fireNow(*this); }

Ref<RunLoopTimer> scheduleMainThreadCall(double delay, Block block, const void* owner) {
    auto timer = RunLoopTimer::timerWithTimeInterval(0, false, [block = std::move(block)](const Ref<RunLoopTimer>&) {
        if (block) block();
    });
    // No minimum here: a delay of 0 runs at the next pass.
    timer->fireUptime_ = Clock::current()->uptime() + (delay > 0 ? delay : 0);
    timer->owner_ = owner;
    RunLoopTimer::schedule(timer);
    return timer;
}

void cancelMainThreadCalls(const void* owner) { MainLoop::shared().cancelCalls(owner); }

}  // namespace platform::runtime
