#include "platform/runtime/NSDate.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/runtime/Clock.h"

namespace platform {

NSDate NSDate::date() { return dateWithTimeIntervalSince1970(Clock::current()->now()); }

NSDate NSDate::dateWithTimeIntervalSince1970(double seconds) { return NSDate(seconds - NSTimeIntervalSince1970); }

NSDate NSDate::dateWithTimeIntervalSinceReferenceDate(double seconds) { return NSDate(seconds); }

NSDate NSDate::dateWithTimeIntervalSinceNow(double seconds) { return date().dateByAddingTimeInterval(seconds); }

// 4001-01-01 and 0001-01-01 (proleptic Gregorian), as on the platform.
NSDate NSDate::distantFuture() { return NSDate(63113904000.0); }
NSDate NSDate::distantPast() { return NSDate(-63114076800.0); }

double NSDate::timeIntervalSinceNow() const { return timeIntervalSinceDate(date()); }

NSDate NSDate::dateByAddingTimeInterval(double seconds) const { return NSDate(sinceReference_ + seconds); }

NSComparisonResult NSDate::compare(const NSDate& other) const {
    if (sinceReference_ < other.sinceReference_) return NSComparisonResult::OrderedAscending;
    if (sinceReference_ > other.sinceReference_) return NSComparisonResult::OrderedDescending;
    return NSComparisonResult::OrderedSame;
}

std::string NSDate::description() const {
    using namespace std::chrono;
    double t = timeIntervalSince1970();
    // Keep the calendar arithmetic within years -250…9999 whatever the value.
    if (!std::isfinite(t)) t = 0;
    t = std::clamp(t, -7e10, 253402300799.0);
    const auto secs = static_cast<int64_t>(std::floor(t));
    const int64_t dayNumber = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    const int64_t inDay = secs - dayNumber * 86400;
    const year_month_day ymd{sys_days{days{dayNumber}}};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d +0000", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60), static_cast<int>(inDay % 60));
    return buf;
}

}  // namespace platform
