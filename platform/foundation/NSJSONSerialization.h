// JSON text to Value and back: integers stay integers, objects keep document
// order, integral doubles are written without a fraction.
#pragma once

#include <optional>

#include "platform/foundation/NSData.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

namespace platform {

enum NSJSONReadingOptions : unsigned long {
    NSJSONReadingMutableContainers = 1,  // accepted; Values are always changeable
    NSJSONReadingMutableLeaves = 2,      // accepted
    NSJSONReadingAllowFragments = 4,     // a top level other than an object or array
    NSJSONReadingFragmentsAllowed = 4,
};

enum NSJSONWritingOptions : unsigned long {
    NSJSONWritingPrettyPrinted = 1,    // indented by 2
    NSJSONWritingFragmentsAllowed = 4, // a top level other than an object or array
};

// Error code of every JSON failure (NSCocoaErrorDomain).
inline constexpr int64_t NSPropertyListReadCorruptError = 3840;

class NSJSONSerialization {
public:
    // Nesting deeper than this is refused (an error, never a stack overflow).
    static constexpr size_t kMaximumDepth = 512;

    // Integers that fit int64 → Integer, other numbers → Double, true/false →
    // Bool, null → Null. Invalid JSON, empty data, invalid UTF-8 or too deep →
    // nullopt and NSCocoaErrorDomain 3840 in *error.
    static std::optional<Value> JSONObjectWithData(const NSData& data, unsigned long options = 0,
                                                   Ref<NSError>* error = nullptr);
    // Keys in insertion order, "/" unescaped, non-ASCII as UTF-8. Dates, data,
    // objects, NaN and infinities → nullopt and error 3840.
    static std::optional<NSData> dataWithJSONObject(const Value& object, unsigned long options = 0,
                                                    Ref<NSError>* error = nullptr);
    // An array or dictionary holding only JSON kinds and finite numbers.
    static bool isValidJSONObject(const Value& object);
};

}  // namespace platform

using platform::NSJSONReadingAllowFragments;
using platform::NSJSONReadingFragmentsAllowed;
using platform::NSJSONReadingMutableContainers;
using platform::NSJSONReadingMutableLeaves;
using platform::NSJSONReadingOptions;
using platform::NSJSONSerialization;
using platform::NSJSONWritingFragmentsAllowed;
using platform::NSJSONWritingOptions;
using platform::NSJSONWritingPrettyPrinted;
