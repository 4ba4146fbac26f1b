// Numbers from text (C-locale decimal, the whole text) and to text in the
// decimal, currency and percent styles, rounded half-even, always with en_US
// conventions ("," grouping, "." decimal point, "$" prefix).
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/NSLocale.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

enum NSNumberFormatterStyle : unsigned long {
    NSNumberFormatterNoStyle = 0,        // "1235"
    NSNumberFormatterDecimalStyle = 1,   // "1,234.568" (up to 3 fraction digits)
    NSNumberFormatterCurrencyStyle = 2,  // "$1,234.57"
    NSNumberFormatterPercentStyle = 3,   // "26%"
};

class NSNumberFormatter : public NSObject {
public:
    Ref<NSNumberFormatter> init() { return self<NSNumberFormatter>(); }

    // Setting the style resets fraction digits and grouping to its defaults.
    void setNumberStyle(NSNumberFormatterStyle style);
    NSNumberFormatterStyle numberStyle() const;
    void setMaximumFractionDigits(uint64_t digits);  // lowers the minimum if needed
    uint64_t maximumFractionDigits() const;
    void setMinimumFractionDigits(uint64_t digits);  // raises the maximum if needed
    uint64_t minimumFractionDigits() const;
    void setUsesGroupingSeparator(bool uses);
    bool usesGroupingSeparator() const;
    void setLocale(Ref<NSLocale> locale);  // stored only
    Ref<NSLocale> locale() const;

    // Optional white space, sign, digits, fraction, exponent; the whole text
    // must be used. Integer when there is no fraction or exponent and it fits
    // 64 bits, else Double; nullopt otherwise ("abc", "12abc", "", "1e999").
    std::optional<Value> numberFromString(std::string_view text) const;
    // nullopt when `number` is not a number.
    std::optional<std::string> stringFromNumber(const Value& number) const;

private:
    mutable std::mutex mutex_;
    NSNumberFormatterStyle style_ = NSNumberFormatterNoStyle;
    uint64_t maxFraction_ = 0;
    uint64_t minFraction_ = 0;
    bool grouping_ = false;
    Ref<NSLocale> locale_;
};

}  // namespace platform

using platform::NSNumberFormatter;
using platform::NSNumberFormatterCurrencyStyle;
using platform::NSNumberFormatterDecimalStyle;
using platform::NSNumberFormatterNoStyle;
using platform::NSNumberFormatterPercentStyle;
using platform::NSNumberFormatterStyle;
