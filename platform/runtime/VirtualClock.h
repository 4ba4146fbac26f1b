// The tests' clock: it stands still until the run loop driver or
// NSThread::sleepForTimeInterval moves it, so time-dependent code is deterministic.
#pragma once

#include <atomic>

#include "platform/runtime/Clock.h"

namespace platform {

class VirtualClock : public Clock {
public:
    // Starts at the real wall time truncated to whole milliseconds, uptime 0.
    VirtualClock();

    double now() const override { return wallTimeForUptime(uptime()); }
    double uptime() const override { return uptime_.load(); }
    double wallTimeForUptime(double u) const override { return wallStart_ + wallOffset_.load() + u; }
    // Moves uptime (and so wall time) on by `seconds` at once; nothing runs meanwhile.
    void sleep(double seconds) override { advanceBy(seconds); }
    bool isVirtual() const override { return true; }

    // Moves the clock on; it never goes back (negative or NaN amounts are ignored).
    void advanceBy(double seconds);
    void advanceTo(double uptime);
    // Shifts wall time without moving uptime (a change of the device's clock).
    void setWallOffset(double seconds) { wallOffset_.store(seconds); }
    double wallOffset() const { return wallOffset_.load(); }

private:
    double wallStart_;
    std::atomic<double> wallOffset_{0};
    std::atomic<double> uptime_{0};
};

}  // namespace platform

using platform::VirtualClock;
