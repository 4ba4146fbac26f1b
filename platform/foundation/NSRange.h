// A location and length in a string or buffer (UTF-8 byte offsets for strings).
#pragma once

#include <cstdint>
#include <limits>

namespace platform {

// "Not found" location, as the platform's NSIntegerMax.
inline constexpr uint64_t NSNotFound = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

struct NSRange {
    uint64_t location = 0;
    uint64_t length = 0;
    bool operator==(const NSRange&) const = default;
};

inline constexpr NSRange NSMakeRange(uint64_t location, uint64_t length) { return NSRange{location, length}; }
inline constexpr uint64_t NSMaxRange(NSRange r) { return r.location + r.length; }

}  // namespace platform

using platform::NSMakeRange;
using platform::NSMaxRange;
using platform::NSNotFound;
using platform::NSRange;
