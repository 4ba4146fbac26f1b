// Conversions between the Relay records' optional fields and the values
// they are archived as (absent fields are archived as Null).
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NSData.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/Value.h"

namespace OrreryRelayCoding {

inline std::optional<std::string> optionalString(const Value& value) {
    if (const std::string* s = value.string()) return *s;
    return std::nullopt;
}

inline Value valueOf(const std::optional<NSDate>& date) { return date ? Value(*date) : Value(); }
inline std::optional<NSDate> optionalDate(const Value& value) {
    if (const NSDate* d = value.date()) return *d;
    return std::nullopt;
}

inline Value valueOf(const std::optional<NSData>& data) { return data ? Value(*data) : Value(); }
inline std::optional<NSData> optionalData(const Value& value) {
    if (const NSData* d = value.data()) return *d;
    return std::nullopt;
}

inline Value valueOf(const std::optional<std::vector<std::string>>& strings) {
    if (!strings) return Value();
    Value::Array array;
    for (const std::string& s : *strings) array.emplace_back(s);
    return Value(std::move(array));
}
// The strings of an array value (other elements are left out); nullopt for
// anything but an array.
inline std::optional<std::vector<std::string>> optionalStrings(const Value& value) {
    const Value::Array* array = value.array();
    if (!array) return std::nullopt;
    std::vector<std::string> strings;
    for (const Value& element : *array)
        if (const std::string* s = element.string()) strings.push_back(*s);
    return strings;
}

// An archived integer narrowed to 32 bits, saturating.
inline int32_t int32Of(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// A dictionary value or Null; any other kind reads as Null.
inline Value dictionaryOrNull(const Value& value) { return value.isDictionary() ? value : Value(); }

}  // namespace OrreryRelayCoding
