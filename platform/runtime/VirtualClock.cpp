#include "platform/runtime/VirtualClock.h"

#include <chrono>
#include <cmath>

namespace platform {

VirtualClock::VirtualClock() {
    using namespace std::chrono;
    // Whole milliseconds, so file times the test writes compare equal to dates it reads.
    auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    wallStart_ = static_cast<double>(ms) / 1000.0;
}

void VirtualClock::advanceBy(double seconds) {
    if (!(seconds > 0) || std::isinf(seconds)) return;
    advanceTo(uptime() + seconds);
}

void VirtualClock::advanceTo(double uptime) {
    if (std::isnan(uptime) || std::isinf(uptime)) return;
    double current = uptime_.load();
    while (uptime > current && !uptime_.compare_exchange_weak(current, uptime)) {
    }
}

}  // namespace platform
