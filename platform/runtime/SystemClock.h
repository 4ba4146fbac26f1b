// The real clock: the program's wall time and a monotonic uptime; and the
// processor time a thread has used, which bounds work however loaded the
// machine is.
#pragma once

#include "platform/runtime/Clock.h"

namespace platform {

class SystemClock : public Clock {
public:
    double now() const override;
    double uptime() const override;
    double wallTimeForUptime(double u) const override { return now() + (u - uptime()); }
    void sleep(double seconds) override;

    // Seconds of processor time the calling thread has used.
    static double threadProcessorSeconds();
};

}  // namespace platform

using platform::SystemClock;
