// The analytics client's binary writer: appends values to a byte buffer in
// big-endian order, strings and byte runs behind a 2-byte length. Reports
// (the Relay callback report among them) are written with it.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

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

    // The same into a plain byte buffer, for encoders that build a large
    // record in one buffer before handing it out as NSData.
    using Buffer = std::vector<uint8_t>;
    static void appendUshort(uint64_t value, Buffer& data) { appendBigEndian(value & 0xFFFF, 2, data); }
    static void appendInt(int32_t value, Buffer& data) { appendBigEndian(static_cast<uint32_t>(value), 4, data); }
    static void appendLong(int64_t value, Buffer& data) { appendBigEndian(static_cast<uint64_t>(value), 8, data); }
    static void appendBoolean(bool value, Buffer& data) { appendBigEndian(value ? 1 : 0, 1, data); }
    static void appendTimestamp(const std::optional<NSDate>& date, Buffer& data);
    static void appendString(const std::optional<std::string>& string, Buffer& data);
    static void appendStringUnlimited(const std::optional<std::string>& string, Buffer& data);
    static void appendShortData(const std::optional<NSData>& bytes, Buffer& data);

    // A run of fixed-width fields written straight into a buffer, which
    // grows once by their total width:
    //   FixedFields(out, 10).ushort(4).long64(id);
    // Writing past the width is a programming error (the excess is dropped).
    class FixedFields {
    public:
        FixedFields(Buffer& data, size_t width) : left_(width) {
            const size_t at = data.size();
            data.resize(at + width);
            at_ = data.data() + at;
        }
        FixedFields& ushort(uint64_t value) { return put(value & 0xFFFF, 2); }
        FixedFields& int32(int32_t value) { return put(static_cast<uint32_t>(value), 4); }
        FixedFields& long64(int64_t value) { return put(static_cast<uint64_t>(value), 8); }
        FixedFields& boolean(bool value) { return put(value ? 1 : 0, 1); }

    private:
        FixedFields& put(uint64_t value, size_t width) {
            if (width > left_) return *this;
            const uint64_t bigEndian = __builtin_bswap64(value);
            std::memcpy(at_, reinterpret_cast<const uint8_t*>(&bigEndian) + (8 - width), width);
            at_ += width;
            left_ -= width;
            return *this;
        }
        uint8_t* at_;
        size_t left_;
    };

private:
    static void appendBigEndian(uint64_t value, int byteCount, Buffer& data) {
        const size_t at = data.size();
        data.resize(at + static_cast<size_t>(byteCount));
        uint8_t* out = data.data() + at;
        for (int i = 0; i < byteCount; ++i) out[i] = static_cast<uint8_t>(value >> (8 * (byteCount - 1 - i)));
    }
};
