// Rational media time (value / timescale) with the flags that mark invalid,
// indefinite and infinite times, and the arithmetic the players use.
#pragma once

#include <cstdint>

namespace platform {

enum : uint32_t {
    kCMTimeFlags_Valid = 1,
    kCMTimeFlags_PositiveInfinity = 4,
    kCMTimeFlags_NegativeInfinity = 8,
    kCMTimeFlags_Indefinite = 16,
};

struct CMTime {
    int64_t value = 0;
    int32_t timescale = 0;
    uint32_t flags = 0;
    int64_t epoch = 0;
};

inline constexpr CMTime kCMTimeZero{0, 1, kCMTimeFlags_Valid, 0};
inline constexpr CMTime kCMTimeInvalid{0, 0, 0, 0};
inline constexpr CMTime kCMTimeIndefinite{0, 0, kCMTimeFlags_Valid | kCMTimeFlags_Indefinite, 0};
inline constexpr CMTime kCMTimePositiveInfinity{0, 0, kCMTimeFlags_Valid | kCMTimeFlags_PositiveInfinity, 0};
inline constexpr CMTime kCMTimeNegativeInfinity{0, 0, kCMTimeFlags_Valid | kCMTimeFlags_NegativeInfinity, 0};

constexpr bool CMTIME_IS_VALID(const CMTime& t) { return (t.flags & kCMTimeFlags_Valid) != 0; }
constexpr bool CMTIME_IS_INVALID(const CMTime& t) { return !CMTIME_IS_VALID(t); }
constexpr bool CMTIME_IS_INDEFINITE(const CMTime& t) {
    return CMTIME_IS_VALID(t) && (t.flags & kCMTimeFlags_Indefinite) != 0;
}
constexpr bool CMTIME_IS_POSITIVE_INFINITY(const CMTime& t) {
    return CMTIME_IS_VALID(t) && (t.flags & kCMTimeFlags_PositiveInfinity) != 0;
}
constexpr bool CMTIME_IS_NEGATIVE_INFINITY(const CMTime& t) {
    return CMTIME_IS_VALID(t) && (t.flags & kCMTimeFlags_NegativeInfinity) != 0;
}
constexpr bool CMTIME_IS_NUMERIC(const CMTime& t) {
    return CMTIME_IS_VALID(t) &&
           (t.flags & (kCMTimeFlags_PositiveInfinity | kCMTimeFlags_NegativeInfinity | kCMTimeFlags_Indefinite)) == 0 &&
           t.timescale > 0;
}

// A timescale of 0 or below gives an invalid time.
CMTime CMTimeMake(int64_t value, int32_t timescale);
// Rounded to the nearest tick of `preferredTimescale`; NaN gives an invalid
// time, ±infinity the infinite times. A value too large for the timescale is
// kept at a coarser one (halved until it fits).
CMTime CMTimeMakeWithSeconds(double seconds, int32_t preferredTimescale);
// NaN for invalid or indefinite times, ±infinity for the infinite ones.
double CMTimeGetSeconds(const CMTime& time);
// -1, 0 or 1. Order: negative infinity < numeric times < indefinite <
// positive infinity < invalid (invalid times equal each other).
int32_t CMTimeCompare(const CMTime& a, const CMTime& b);
// Invalid when either side is invalid (or the epochs differ); infinities and
// indefinite times propagate; numeric results use a common timescale and
// become infinite on overflow.
CMTime CMTimeAdd(const CMTime& a, const CMTime& b);
CMTime CMTimeSubtract(const CMTime& a, const CMTime& b);

}  // namespace platform

using platform::CMTime;
using platform::CMTimeAdd;
using platform::CMTimeCompare;
using platform::CMTimeGetSeconds;
using platform::CMTimeMake;
using platform::CMTimeMakeWithSeconds;
using platform::CMTimeSubtract;
using platform::CMTIME_IS_INDEFINITE;
using platform::CMTIME_IS_INVALID;
using platform::CMTIME_IS_NEGATIVE_INFINITY;
using platform::CMTIME_IS_NUMERIC;
using platform::CMTIME_IS_POSITIVE_INFINITY;
using platform::CMTIME_IS_VALID;
using platform::kCMTimeFlags_Indefinite;
using platform::kCMTimeFlags_NegativeInfinity;
using platform::kCMTimeFlags_PositiveInfinity;
using platform::kCMTimeFlags_Valid;
using platform::kCMTimeIndefinite;
using platform::kCMTimeInvalid;
using platform::kCMTimeNegativeInfinity;
using platform::kCMTimePositiveInfinity;
using platform::kCMTimeZero;
