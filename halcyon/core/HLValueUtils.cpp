#include "halcyon/core/HLValueUtils.h"

#include <cmath>

#include "halcyon/core/HLStringUtils.h"
#include "platform/foundation/NSNumberFormatter.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Random.h"
#include "platform/runtime/SaturatingCast.h"

namespace HLUtils {

Value hl_dictionaryByURLEncodingKeysAndValues(const Value& dictionary) {
    Value out = Value::dictionary({});
    if (const auto* entries = dictionary.dictionary())
        for (const auto& [key, value] : *entries)
            out.set(hl_stringByURLEncodingString(key),
                    value.string() ? Value(hl_stringByURLEncodingString(*value.string())) : value);
    return out;
}

std::string hl_httpGetQueryStringWithMembers(const Value& dictionary) {
    std::string query;
    const Value encoded = hl_dictionaryByURLEncodingKeysAndValues(dictionary);
    for (const auto& [key, value] : *encoded.dictionary()) {
        if (!query.empty()) query += '&';
        query += NSString::stringWithFormat("%@=%@", key, value);
    }
    return query;
}

Value hl_numberWithString(const Value& text) {
    const std::string* s = text.string();
    if (!s) return Value(0);
    if (hl_isEqualToStringIgnoringCase(*s, "true")) return Value(true);
    if (hl_isEqualToStringIgnoringCase(*s, "false")) return Value(false);
    double d = NSString::doubleValue(*s);
    if (d != 0) return Value(d);
    int64_t i = NSString::integerValue(*s);
    if (i != 0) return Value(i);
    return Value(0);
}

double hl_timeIntervalValue(const Value& number) { return number.doubleValue(); }

std::string hl_stringValueWithFormat(const Value& number, int64_t format) {
    double value = number.doubleValue();
    auto formatter = NSObject::alloc<NSNumberFormatter>()->init();
    switch (format) {
        case 0: return NSString::stringWithFormat("%ld", platform::saturatingCast<long>(std::ceil(value)));
        case 1: return NSString::stringWithFormat("%ld", platform::saturatingCast<long>(std::floor(value)));
        case 2:
            formatter->setNumberStyle(NSNumberFormatterDecimalStyle);
            formatter->setMaximumFractionDigits(2);
            break;
        case 3: return NSString::stringWithFormat("%f", value);
        case 4:
            formatter->setNumberStyle(NSNumberFormatterCurrencyStyle);
            formatter->setMaximumFractionDigits(2);
            break;
        case 5:
        case 6:
            formatter->setNumberStyle(NSNumberFormatterDecimalStyle);
            formatter->setUsesGroupingSeparator(true);
            formatter->setMaximumFractionDigits(format == 5 ? 2 : 0);
            break;
        default: return "";
    }
    return formatter->stringFromNumber(Value(value)).value_or("");
}

Value hl_randomArrayElement(const Value& array) {
    size_t count = array.isArray() ? array.count() : 0;
    if (count == 0) return Value();
    return array.at(::arc4random_uniform(static_cast<uint32_t>(count)));
}

Value hl_uniqueObjects(const Value& array) {
    Value out = Value::array({});
    if (const auto* items = array.array())
        for (const Value& item : *items) {
            bool seen = false;
            for (const Value& kept : *out.array()) seen = seen || kept.isEqual(item);
            if (!seen) out.append(item);
        }
    return out;
}

double hl_unixTimestampInSeconds(const NSDate& date) { return date.timeIntervalSince1970(); }
double hl_unixTimestampInMilliseconds(const NSDate& date) { return date.timeIntervalSince1970() * 1000; }

NSDate hl_dateByAddingOffsetInDays(const NSDate& date, int64_t days) {
    return date.dateByAddingTimeInterval(static_cast<double>(days) * 86400);
}
NSDate hl_yesterday(const NSDate& date) { return hl_dateByAddingOffsetInDays(date, -1); }
NSDate hl_tomorrow(const NSDate& date) { return hl_dateByAddingOffsetInDays(date, 1); }

}  // namespace HLUtils
