#include "platform/media/CMTime.h"

#include <cmath>
#include <cstdlib>
#include <numeric>

namespace platform {

namespace {

using Wide = __int128;

constexpr Wide kInt64Max = static_cast<Wide>(INT64_MAX);
constexpr Wide kInt64Min = static_cast<Wide>(INT64_MIN);

// Order categories for CMTimeCompare.
enum Category { NegativeInfinity, Numeric, Indefinite, PositiveInfinity, Invalid };

Category categoryOf(const CMTime& t) {
    if (!CMTIME_IS_VALID(t)) return Invalid;
    if (t.flags & kCMTimeFlags_NegativeInfinity) return NegativeInfinity;
    if (t.flags & kCMTimeFlags_PositiveInfinity) return PositiveInfinity;
    if (t.flags & kCMTimeFlags_Indefinite) return Indefinite;
    return t.timescale > 0 ? Numeric : Invalid;
}

// Rounds n / d to the nearest integer, halves away from zero (d > 0).
Wide roundedDivide(Wide n, Wide d) {
    Wide q = n / d;
    Wide r = n % d;
    if (r < 0) r = -r;
    if (2 * r >= d) q += (n < 0) ? -1 : 1;
    return q;
}

CMTime fromWide(Wide value, int32_t timescale, int64_t epoch) {
    if (value > kInt64Max) return kCMTimePositiveInfinity;
    if (value < kInt64Min) return kCMTimeNegativeInfinity;
    return CMTime{static_cast<int64_t>(value), timescale, kCMTimeFlags_Valid, epoch};
}

// a + sign * b
CMTime combine(const CMTime& a, const CMTime& b, int sign) {
    Category ca = categoryOf(a);
    Category cb = categoryOf(b);
    if (ca == Invalid || cb == Invalid) return kCMTimeInvalid;
    if (sign < 0) {
        if (cb == PositiveInfinity) cb = NegativeInfinity;
        else if (cb == NegativeInfinity) cb = PositiveInfinity;
    }
    bool infA = ca == PositiveInfinity || ca == NegativeInfinity;
    bool infB = cb == PositiveInfinity || cb == NegativeInfinity;
    if (infA && infB) return ca == cb ? (ca == PositiveInfinity ? kCMTimePositiveInfinity : kCMTimeNegativeInfinity)
                                      : kCMTimeInvalid;
    if (infA || infB) {
        Category c = infA ? ca : cb;
        return c == PositiveInfinity ? kCMTimePositiveInfinity : kCMTimeNegativeInfinity;
    }
    if (ca == Indefinite || cb == Indefinite) return kCMTimeIndefinite;
    if (a.epoch != b.epoch) return kCMTimeInvalid;

    Wide bv = static_cast<Wide>(b.value) * sign;
    if (a.timescale == b.timescale) return fromWide(static_cast<Wide>(a.value) + bv, a.timescale, a.epoch);
    int64_t g = std::gcd(static_cast<int64_t>(a.timescale), static_cast<int64_t>(b.timescale));
    int64_t lcm = static_cast<int64_t>(a.timescale) / g * b.timescale;
    int32_t ts = lcm <= INT32_MAX ? static_cast<int32_t>(lcm) : std::max(a.timescale, b.timescale);
    Wide av = roundedDivide(static_cast<Wide>(a.value) * ts, a.timescale);
    Wide bs = roundedDivide(bv * ts, b.timescale);
    return fromWide(av + bs, ts, a.epoch);
}

}  // namespace

CMTime CMTimeMake(int64_t value, int32_t timescale) {
    if (timescale <= 0) return kCMTimeInvalid;
    return CMTime{value, timescale, kCMTimeFlags_Valid, 0};
}

CMTime CMTimeMakeWithSeconds(double seconds, int32_t preferredTimescale) {
    if (std::isnan(seconds) || preferredTimescale <= 0) return kCMTimeInvalid;
    if (std::isinf(seconds)) return seconds > 0 ? kCMTimePositiveInfinity : kCMTimeNegativeInfinity;
    const long double limit = 0x1p63L;  // 2^63: the first magnitude llroundl cannot hold
    int32_t ts = preferredTimescale;
    long double ticks = static_cast<long double>(seconds) * ts;
    while (std::fabs(ticks) >= limit - 1 && ts > 1) {
        ts /= 2;
        ticks = static_cast<long double>(seconds) * ts;
    }
    if (std::fabs(ticks) >= limit - 1) return seconds > 0 ? kCMTimePositiveInfinity : kCMTimeNegativeInfinity;
    return CMTime{static_cast<int64_t>(std::llroundl(ticks)), ts, kCMTimeFlags_Valid, 0};
}

double CMTimeGetSeconds(const CMTime& time) {
    switch (categoryOf(time)) {
        case Numeric: return static_cast<double>(time.value) / time.timescale;
        case PositiveInfinity: return INFINITY;
        case NegativeInfinity: return -INFINITY;
        case Indefinite:
        case Invalid: break;
    }
    return NAN;
}

int32_t CMTimeCompare(const CMTime& a, const CMTime& b) {
    Category ca = categoryOf(a);
    Category cb = categoryOf(b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca != Numeric) return 0;
    if (a.epoch != b.epoch) return a.epoch < b.epoch ? -1 : 1;
    Wide left = static_cast<Wide>(a.value) * b.timescale;
    Wide right = static_cast<Wide>(b.value) * a.timescale;
    return left < right ? -1 : (left > right ? 1 : 0);
}

CMTime CMTimeAdd(const CMTime& a, const CMTime& b) { return combine(a, b, 1); }

CMTime CMTimeSubtract(const CMTime& a, const CMTime& b) { return combine(a, b, -1); }

}  // namespace platform
