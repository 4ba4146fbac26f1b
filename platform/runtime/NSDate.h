// A point in time: seconds since 2001-01-01 00:00:00 UTC (value type).
#pragma once

#include <string>

namespace platform {

// Seconds between 1970-01-01 and 2001-01-01.
inline constexpr double NSTimeIntervalSince1970 = 978307200.0;

enum class NSComparisonResult : int { OrderedAscending = -1, OrderedSame = 0, OrderedDescending = 1 };

class NSDate {
public:
    NSDate() = default;  // the reference date itself
    static NSDate date();  // now, from the injectable clock
    static NSDate dateWithTimeIntervalSince1970(double seconds);
    static NSDate dateWithTimeIntervalSinceReferenceDate(double seconds);
    static NSDate dateWithTimeIntervalSinceNow(double seconds);
    static NSDate distantFuture();
    static NSDate distantPast();

    double timeIntervalSince1970() const { return sinceReference_ + NSTimeIntervalSince1970; }
    double timeIntervalSinceReferenceDate() const { return sinceReference_; }
    double timeIntervalSinceDate(const NSDate& other) const { return sinceReference_ - other.sinceReference_; }
    double timeIntervalSinceNow() const;
    NSDate dateByAddingTimeInterval(double seconds) const;
    NSComparisonResult compare(const NSDate& other) const;
    bool isEqual(const NSDate& other) const { return sinceReference_ == other.sinceReference_; }
    bool operator==(const NSDate& other) const { return isEqual(other); }
    bool operator<(const NSDate& other) const { return sinceReference_ < other.sinceReference_; }
    // "2026-12-07 04:01:02 +0000"
    std::string description() const;

private:
    explicit NSDate(double sinceReference) : sinceReference_(sinceReference) {}
    double sinceReference_ = 0;
};

}  // namespace platform

using platform::NSComparisonResult;
using platform::NSDate;
