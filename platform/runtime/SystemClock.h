// The real clock: the program's wall time and a monotonic uptime.
#pragma once

#include "platform/runtime/Clock.h"

namespace platform {

class SystemClock : public Clock {
public:
    double now() const override;
    double uptime() const override;
    double wallTimeForUptime(double u) const override { return now() + (u - uptime()); }
    void sleep(double seconds) override;
};

}  // namespace platform

using platform::SystemClock;
