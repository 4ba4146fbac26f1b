// The client's dictionary, number, array and date extensions: free functions
// in the HLUtils namespace, the receiver first, each prefixed "hl_". Query
// strings and number texts are exact wire forms. Pure functions, any thread
// (hl_randomArrayElement draws from the platform's random source).
#pragma once

#include <optional>
#include <string>

#include "platform/runtime/NSDate.h"
#include "platform/foundation/Value.h"

namespace HLUtils {

// ---- Dictionary
// Every string key and string value replaced by hl_stringByURLEncodingString;
// other keys and values copied unchanged. A non-dictionary gives an empty one.
Value hl_dictionaryByURLEncodingKeysAndValues(const Value& dictionary);
// "key=value" pairs of the encoded dictionary joined by "&", in dictionary
// order (numbers in their decimal text); "" for an empty dictionary.
std::string hl_httpGetQueryStringWithMembers(const Value& dictionary);

// ---- Number
// A non-string gives 0; "true"/"false" in any case give YES/NO; else a
// double when the text's double value is not 0, else an integer when its
// integer value is not 0, else 0.
Value hl_numberWithString(const Value& text);
double hl_timeIntervalValue(const Value& number);
// Formats 0 ceiling "%ld", 1 floor "%ld", 2 decimal (≤ 2 fraction digits),
// 3 "%f", 4 currency (≤ 2), 5 decimal with grouping (≤ 2), 6 as 5 with no
// fraction digits; any other format "".
std::string hl_stringValueWithFormat(const Value& number, int64_t format);

// ---- Array
// An element chosen uniformly, Null for an empty or non-array receiver.
Value hl_randomArrayElement(const Value& array);
// The distinct elements, in first-seen order.
Value hl_uniqueObjects(const Value& array);

// ---- Date
double hl_unixTimestampInSeconds(const NSDate& date);
// Seconds since 1970 × 1000, the fraction kept.
double hl_unixTimestampInMilliseconds(const NSDate& date);
NSDate hl_dateByAddingOffsetInDays(const NSDate& date, int64_t days);
NSDate hl_yesterday(const NSDate& date);
NSDate hl_tomorrow(const NSDate& date);

}  // namespace HLUtils
