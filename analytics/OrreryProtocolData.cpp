#include "analytics/OrreryProtocolData.h"

#include <string_view>

#include "analytics/OrreryLog.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/SaturatingCast.h"

namespace {

void appendBigEndian(uint64_t value, int byteCount, NSData& data) {
    uint8_t bytes[8];
    for (int i = 0; i < byteCount; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * (byteCount - 1 - i)));
    data.appendBytes(bytes, static_cast<size_t>(byteCount));
}

// The longest prefix of at most kMaxShortLength bytes that does not end
// inside a UTF-8 sequence.
size_t shortLengthFor(std::string_view text) {
    if (text.size() <= OrreryProtocolData::kMaxShortLength) return text.size();
    size_t cut = OrreryProtocolData::kMaxShortLength;
    while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

void appendLengthAndBytes(std::string_view bytes, NSData& data) {
    appendBigEndian(bytes.size(), 2, data);
    data.appendBytes(bytes.data(), bytes.size());
}

void appendCutText(std::string_view text, NSData& data) {
    size_t length = shortLengthFor(text);
    if (length < text.size())
        OrreryLog::error("a string of " + std::to_string(text.size()) + " bytes was cut to " + std::to_string(length) +
                         " bytes to fit its 2-byte length");
    appendLengthAndBytes(text.substr(0, length), data);
}

}  // namespace

void OrreryProtocolData::appendUshort(uint64_t value, NSData& data) { appendBigEndian(value & 0xFFFF, 2, data); }

void OrreryProtocolData::appendInt(int32_t value, NSData& data) {
    appendBigEndian(static_cast<uint32_t>(value), 4, data);
}

void OrreryProtocolData::appendLong(int64_t value, NSData& data) {
    appendBigEndian(static_cast<uint64_t>(value), 8, data);
}

void OrreryProtocolData::appendBoolean(bool value, NSData& data) { appendBigEndian(value ? 1 : 0, 1, data); }

void OrreryProtocolData::appendTimestamp(const std::optional<NSDate>& date, NSData& data) {
    int64_t millis = date ? platform::saturatingCast<int64_t>(date->timeIntervalSince1970() * 1000.0) : 0;
    appendLong(millis, data);
}

void OrreryProtocolData::appendString(const std::optional<std::string>& string, NSData& data) {
    if (!string) {
        appendUshort(0, data);
        return;
    }
    if (NSString::length(*string) >= kStringCutLength) {
        // The platform's cut never splits a surrogate pair.
        appendCutText(NSString::substringToIndex(*string, kStringCutLength - 1), data);
        return;
    }
    appendCutText(*string, data);
}

void OrreryProtocolData::appendStringUnlimited(const std::optional<std::string>& string, NSData& data) {
    if (!string) {
        appendUshort(0, data);
        return;
    }
    appendCutText(*string, data);
}

void OrreryProtocolData::appendShortData(const std::optional<NSData>& bytes, NSData& data) {
    if (!bytes) {
        appendUshort(0, data);
        return;
    }
    size_t length = bytes->length();
    if (length > kMaxShortLength) {
        OrreryLog::error("a byte run of " + std::to_string(length) + " bytes was cut to 65535 bytes");
        length = kMaxShortLength;
    }
    appendBigEndian(length, 2, data);
    data.appendBytes(bytes->bytes(), length);
}
