// The one injectable clock behind the run loop, timers, delayed calls and
// every "now": wall time for dates, monotonic uptime for scheduling.
#pragma once

#include "platform/runtime/NSObject.h"

namespace platform {

class Clock : public NSObject {
public:
    // Wall time, seconds since 1970.
    virtual double now() const = 0;
    // Monotonic seconds; timers and delayed calls are scheduled on it.
    virtual double uptime() const = 0;
    // Wall time at which uptime `u` falls (exactly now() when u == uptime()).
    virtual double wallTimeForUptime(double u) const = 0;
    double uptimeForWallTime(double wall) const { return uptime() + (wall - now()); }

    // NSThread::sleepForTimeInterval: a real sleep, or moving a virtual clock on.
    virtual void sleep(double seconds) = 0;
    virtual bool isVirtual() const { return false; }

    // The installed clock (a SystemClock until one is set).
    static Ref<Clock> current();
    // Installs `clock` (null restores a SystemClock). Set once at start-up.
    static void setCurrent(Ref<Clock> clock);
};

}  // namespace platform

using platform::Clock;
