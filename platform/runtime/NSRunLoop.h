// The main run loop: one FIFO of main-thread work plus the timer list, run
// in passes on the main thread. There are no other run loops.
#pragma once

#include <optional>
#include <string_view>

#include "platform/runtime/NSDate.h"
#include "platform/runtime/NSObject.h"

namespace platform {

namespace runtime {
class RunLoopTimer;
}

// Modes are accepted and all equivalent.
inline constexpr const char* NSDefaultRunLoopMode = "NSDefaultRunLoopMode";
inline constexpr const char* NSRunLoopCommonModes = "NSRunLoopCommonModes";
inline constexpr const char* UITrackingRunLoopMode = "UITrackingRunLoopMode";

class NSRunLoop : public NSObject {
public:
    static Ref<NSRunLoop> mainRunLoop();
    // The main run loop, on every thread: a timer scheduled anywhere fires on main.
    static Ref<NSRunLoop> currentRunLoop() { return mainRunLoop(); }

    // Schedules a timer made with NSTimer::timerWithTimeInterval (or
    // RunLoopTimer's), from any thread.
    void addTimer(const Ref<runtime::RunLoopTimer>& timer, std::string_view mode);

    // The program's loop (main thread): passes, sleeping until the next timer
    // or posted work, until runtime::stopMainRunLoop().
    void run();
    // Passes until the wall date. On a virtual clock the clock is moved on to
    // each timer due before it and then to the date, like the test driver.
    void runUntilDate(const NSDate& limit) { runUntilTimeIntervalSince1970(limit.timeIntervalSince1970()); }
    void runUntilTimeIntervalSince1970(double wallSeconds);
};

namespace runtime {

// Appends to the main FIFO (any thread). Never runs inline.
void postToMainThread(Block block);

// Work run at the end of every pass, after the timers: all Layout hooks (in
// the order added), then all Display hooks.
enum class PassPhase { Layout, Display };
void addPassHook(PassPhase phase, Block hook);

// Makes NSRunLoop::run() return after its current pass. Thread-safe and
// async-signal-safe (for SIGINT / SIGTERM handlers).
void stopMainRunLoop();

// The pass machinery, for NSRunLoop::run and the test driver (main thread).
// One pass: the posted work queued when it began, the due timers in
// fire-date order (ties in scheduling order), then the pass hooks.
void runMainPass();
bool hasPostedWork();
bool hasDueTimer();
// Uptime of the earliest scheduled timer, if any.
std::optional<double> nextTimerUptime();
// Sleeps (real time) until work is posted, activity drops to zero, a stop is
// requested or the time-out passes.
void waitForMainWork(double realTimeoutSeconds);

}  // namespace runtime

}  // namespace platform

using platform::NSDefaultRunLoopMode;
using platform::NSRunLoop;
using platform::NSRunLoopCommonModes;
using platform::UITrackingRunLoopMode;
