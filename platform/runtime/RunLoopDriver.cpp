#include "platform/runtime/RunLoopDriver.h"

#include <chrono>
#include <cmath>

#include "platform/runtime/ActivityCounter.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/MainLoop.h"

namespace platform::testing {
namespace {

// Waits are sliced so conditions that change without waking the main thread
// (a predicate over worker state) are still seen promptly.
constexpr double kWaitSlice = 0.005;

using Steady = std::chrono::steady_clock;

Steady::time_point deadlineAfter(double seconds) {
    if (!(seconds > 0)) seconds = 0;
    seconds = std::min(seconds, 3600.0);
    return Steady::now() + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(seconds));
}

double secondsLeft(Steady::time_point deadline) {
    return std::chrono::duration<double>(deadline - Steady::now()).count();
}

}  // namespace

RunLoopDriver::RunLoopDriver(double guardScale) : guardScale_(guardScale > 0 ? guardScale : 1) {}

void RunLoopDriver::drain() { MainLoop::shared().drain(); }

void RunLoopDriver::advance(double seconds) {
    if (!(seconds >= 0) || std::isinf(seconds)) {
        logError("RunLoopDriver advance: invalid interval " + std::to_string(seconds));
        seconds = 0;
    }
    MainLoop::shared().advanceVirtualClockTo(Clock::current()->uptime() + seconds);
}

bool RunLoopDriver::runUntil(const std::function<bool()>& predicate, double realTimeoutSeconds) {
    auto& loop = MainLoop::shared();
    auto deadline = deadlineAfter(realTimeoutSeconds * guardScale_);
    for (;;) {
        loop.drain();
        if (predicate && predicate()) return true;
        double left = secondsLeft(deadline);
        if (left <= 0) return false;
        if (!loop.hasPostedWork()) loop.wait(std::min(left, kWaitSlice));
    }
}

bool RunLoopDriver::settle(double realTimeoutSeconds) {
    auto& loop = MainLoop::shared();
    auto deadline = deadlineAfter(realTimeoutSeconds * guardScale_);
    for (;;) {
        loop.drain();
        // Work posts its follow-up before it stops counting, so idle here is final.
        if (runtime::ActivityCounter::count() == 0 && !loop.hasPostedWork() && !loop.hasDueTimer()) return true;
        double left = secondsLeft(deadline);
        if (left <= 0) return false;
        if (!loop.hasPostedWork()) loop.wait(std::min(left, kWaitSlice * 4));
    }
}

}  // namespace platform::testing
