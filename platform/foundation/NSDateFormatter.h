// Dates to text and back with fixed patterns ("yyyy-MM-dd HH:mm:ss") or the
// en_US date and time styles, in a time zone (the device's by default).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSTimeZone.h"
#include "platform/runtime/NSObject.h"

namespace platform {

enum NSDateFormatterStyle : unsigned long {
    NSDateFormatterNoStyle = 0,
    NSDateFormatterShortStyle = 1,   // "M/d/yy", "h:mm a"
    NSDateFormatterMediumStyle = 2,  // "MMM d, y", "h:mm:ss a"
    NSDateFormatterLongStyle = 3,    // "MMMM d, y", "h:mm:ss a z"
    NSDateFormatterFullStyle = 4,    // "EEEE, MMMM d, y", "h:mm:ss a zzzz"
};

class NSDateFormatter : public NSObject {
public:
    Ref<NSDateFormatter> init() { return self<NSDateFormatter>(); }

    // Pattern letters: y yy yyyy, M MM MMM MMMM (L alike), d dd, E EEE EEEE,
    // a, H HH, h hh, k, K, m mm, s ss, S… (fraction), Z ZZZZ ZZZZZ (z as ZZZZ).
    // Text in single quotes is literal ('' is a quote); other non-letters are
    // literal. A set format wins over the styles.
    void setDateFormat(std::string format);
    std::string dateFormat() const;
    void setDateStyle(NSDateFormatterStyle style);
    void setTimeStyle(NSDateFormatterStyle style);
    NSDateFormatterStyle dateStyle() const;
    NSDateFormatterStyle timeStyle() const;
    // Null restores the device's zone.
    void setTimeZone(Ref<NSTimeZone> zone);
    Ref<NSTimeZone> timeZone() const;
    // Stored only: output always follows en_US.
    void setLocale(Ref<NSLocale> locale);
    Ref<NSLocale> locale() const;

    std::string stringFromDate(const NSDate& date) const;
    // nullopt when the text does not match the pattern whole (or names an
    // impossible date such as February 30).
    std::optional<NSDate> dateFromString(std::string_view text) const;

    // One-off formatting without a formatter object.
    static std::string format(const NSDate& date, std::string_view pattern, const NSTimeZone& zone);

private:
    std::string effectivePattern() const;
    Ref<NSTimeZone> effectiveZone() const;

    mutable std::mutex mutex_;
    std::string format_;
    NSDateFormatterStyle dateStyle_ = NSDateFormatterNoStyle;
    NSDateFormatterStyle timeStyle_ = NSDateFormatterNoStyle;
    Ref<NSTimeZone> zone_;
    Ref<NSLocale> locale_;
};

}  // namespace platform

using platform::NSDateFormatter;
using platform::NSDateFormatterFullStyle;
using platform::NSDateFormatterLongStyle;
using platform::NSDateFormatterMediumStyle;
using platform::NSDateFormatterNoStyle;
using platform::NSDateFormatterShortStyle;
using platform::NSDateFormatterStyle;
