#include "platform/runtime/NSTimer.h"

#include <cmath>

#include "platform/runtime/Clock.h"
#include "platform/runtime/MainLoop.h"

namespace platform {
namespace {

// Shorter intervals count as this.
constexpr double kMinimumInterval = 0.0001;

}  // namespace

Ref<NSTimer> NSTimer::make(double seconds, bool repeats, TimerBlock block, std::shared_ptr<const Value> userInfo) {
    auto timer = std::make_shared<NSTimer>();
    timer->interval_ = seconds >= kMinimumInterval ? seconds : kMinimumInterval;  // NaN too
    timer->repeats_ = repeats;
    timer->block_ = std::move(block);
    timer->userInfo_ = std::move(userInfo);
    timer->fireUptime_ = Clock::current()->uptime() + timer->interval_;
    return timer;
}

void NSTimer::schedule(const Ref<NSTimer>& timer) { MainLoop::shared().add(timer); }

Ref<NSTimer> NSTimer::timerWithTimeInterval(double seconds, bool repeats, TimerBlock block) {
    return make(seconds, repeats, std::move(block), nullptr);
}

Ref<NSTimer> NSTimer::scheduledTimerWithTimeInterval(double seconds, bool repeats, TimerBlock block) {
    auto timer = make(seconds, repeats, std::move(block), nullptr);
    schedule(timer);
    return timer;
}

void NSTimer::invalidate() { MainLoop::shared().invalidate(*this); }

double NSTimer::fireTimeIntervalSince1970() const {
    return Clock::current()->wallTimeForUptime(MainLoop::shared().fireUptime(*this));
}

void NSTimer::setFireTimeIntervalSince1970(double wallSeconds) {
    MainLoop::shared().setFireUptime(*this, Clock::current()->uptimeForWallTime(wallSeconds));
}

void NSTimer::fire() { MainLoop::shared().fireNow(*this); }

namespace runtime {

Ref<NSTimer> scheduleMainThreadCall(double delay, Block block, const void* owner) {
    auto timer = NSTimer::make(
        0, false, [block = std::move(block)](const Ref<NSTimer>&) { if (block) block(); }, nullptr);
    // No minimum here: a delay of 0 runs at the next pass.
    timer->fireUptime_ = Clock::current()->uptime() + (delay > 0 ? delay : 0);
    timer->owner_ = owner;
    NSTimer::schedule(timer);
    return timer;
}

void cancelMainThreadCalls(const void* owner) { MainLoop::shared().cancelCalls(owner); }

}  // namespace runtime
}  // namespace platform
