#include "platform/runtime/NSRunLoop.h"

#include <algorithm>
#include <cmath>

#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/MainLoop.h"
#include "platform/runtime/NSThread.h"

namespace platform {
namespace {

// Longest sleep of run() with nothing scheduled (it wakes earlier for any work).
constexpr double kIdleWait = 60;

}  // namespace

Ref<NSRunLoop> NSRunLoop::mainRunLoop() {
    static auto* loop = new Ref<NSRunLoop>(std::make_shared<NSRunLoop>());
    return *loop;
}

void NSRunLoop::addTimer(const Ref<runtime::RunLoopTimer>& timer, std::string_view /*mode: all modes are one*/) {
    if (!timer) {
        logError("NSRunLoop addTimer: nil timer");
        return;
    }
    MainLoop::shared().add(timer);
}

void NSRunLoop::run() {
    assertMainThread("NSRunLoop run");
    auto& loop = MainLoop::shared();
    for (;;) {
        if (loop.takeStopRequest()) return;
        loop.runPass();
        if (loop.hasPostedWork() || loop.hasDueTimer()) continue;
        double timeout = kIdleWait;
        auto clock = Clock::current();
        if (auto next = loop.nextTimerUptime(); next && !clock->isVirtual())
            timeout = std::clamp(*next - clock->uptime(), 0.0, kIdleWait);
        loop.wait(timeout);
    }
}

void NSRunLoop::runUntilTimeIntervalSince1970(double wallSeconds) {
    assertMainThread("NSRunLoop runUntilDate");
    auto& loop = MainLoop::shared();
    auto clock = Clock::current();
    if (clock->isVirtual()) {
        loop.advanceVirtualClockTo(clock->uptimeForWallTime(wallSeconds));
        return;
    }
    for (;;) {
        if (loop.takeStopRequest()) return;
        loop.runPass();
        double remaining = wallSeconds - clock->now();
        if (!(remaining > 0)) return;
        if (loop.hasPostedWork() || loop.hasDueTimer()) continue;
        double timeout = std::min(remaining, kIdleWait);
        if (auto next = loop.nextTimerUptime()) timeout = std::clamp(*next - clock->uptime(), 0.0, timeout);
        loop.wait(timeout);
    }
}

}  // namespace platform
