// Floating values reach integers only through here: NaN gives 0 and values
// beyond the target's range give its nearest limit (never undefined behaviour).
#pragma once

#include <cmath>
#include <limits>
#include <type_traits>

namespace platform {

template <class T>
T saturatingCast(double value) {
    static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>, "integral targets only");
    if (std::isnan(value)) return 0;
    // The limits as doubles are powers of two (or exact), so these tests are exact.
    if (value >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    if (value <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    return static_cast<T>(value);
}

}  // namespace platform
