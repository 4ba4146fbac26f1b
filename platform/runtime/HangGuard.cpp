#include "platform/runtime/HangGuard.h"

#include <cstdlib>

namespace platform::testing {
namespace {

double scale() {
    if (const char* given = std::getenv("HANG_GUARD_SCALE")) {
        char* end = nullptr;
        double value = std::strtod(given, &end);
        if (end != given && *end == '\0' && value > 0 && value < 1000) return value;
    }
#if defined(__SANITIZE_THREAD__)
    return 6;
#elif defined(__SANITIZE_ADDRESS__)
    return 4;
#else
    return 3;
#endif
}

}  // namespace

double hangGuardScale() {
    static const double factor = scale();
    return factor;
}

}  // namespace platform::testing
