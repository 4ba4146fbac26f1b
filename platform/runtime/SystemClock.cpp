#include "platform/runtime/SystemClock.h"

#include <chrono>
#include <cmath>
#include <thread>

#include <time.h>

namespace platform {

double SystemClock::now() const {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

double SystemClock::uptime() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::sleep(double seconds) {
    if (!(seconds > 0) || std::isinf(seconds)) return;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

double SystemClock::threadProcessorSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace platform
