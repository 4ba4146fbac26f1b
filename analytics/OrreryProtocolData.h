// The analytics client's binary writer: appends values to a byte buffer in
// big-endian order, strings and byte runs behind a 2-byte length. Reports
// (the Relay callback report among them) are written with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/NSData.h"
#include "platform/runtime/NSDate.h"

class OrreryProtocolData {
public:
    // Strings of this many UTF-16 units or more are cut by appendString.
    static constexpr size_t kStringCutLength = 256;
    // The most bytes a 2-byte length can announce.
    static constexpr size_t kMaxShortLength = 0xFFFF;

    // 2 bytes: the low 16 bits of the value.
    static void appendUshort(uint64_t value, NSData& data);
    // 4 bytes, two's complement.
    static void appendInt(int32_t value, NSData& data);
    // 8 bytes, two's complement.
    static void appendLong(int64_t value, NSData& data);
    // 1 byte, 0 or 1.
    static void appendBoolean(bool value, NSData& data);
    // 8 bytes: whole milliseconds since 1970, truncated; no date writes 0.
    static void appendTimestamp(const std::optional<NSDate>& date, NSData& data);
    // A string of 256 or more UTF-16 units is cut to its first 255, never
    // inside a surrogate pair (the cut falls before a pair that would be
    // split). Then the UTF-8 byte length (2 bytes) and the bytes; no string
    // writes length 0.
    static void appendString(const std::optional<std::string>& string, NSData& data);
    // As appendString without the 255-unit cut. Text longer than 65535 UTF-8
    // bytes is cut at the last whole character within that, so the length
    // always matches the bytes that follow.
    static void appendStringUnlimited(const std::optional<std::string>& string, NSData& data);
    // 2-byte length, then the bytes (at most 65535, cut like the string);
    // no data writes length 0.
    static void appendShortData(const std::optional<NSData>& bytes, NSData& data);
};
