#include "platform/runtime/Clock.h"

#include <mutex>

#include "platform/runtime/SystemClock.h"

namespace platform {
namespace {

struct ClockSlot {
    std::mutex mutex;
    Ref<Clock> clock;
};

ClockSlot& slot() {
    static auto* s = new ClockSlot;  // never destroyed: read by workers until exit
    return *s;
}

}  // namespace

Ref<Clock> Clock::current() {
    auto& s = slot();
    std::lock_guard lock(s.mutex);
    if (!s.clock) s.clock = std::make_shared<SystemClock>();
    return s.clock;
}

void Clock::setCurrent(Ref<Clock> clock) {
    if (!clock) clock = std::make_shared<SystemClock>();
    auto& s = slot();
    std::lock_guard lock(s.mutex);
    s.clock.swap(clock);
}

}  // namespace platform
