#include "analytics/OrreryProtocolData.h"

#include <string_view>

#include "analytics/OrreryLog.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/SaturatingCast.h"

namespace {

// Appending to either kind of buffer.
void protocolAppendRaw(const void* bytes, size_t length, NSData& data) { data.appendBytes(bytes, length); }
void protocolAppendRaw(const void* bytes, size_t length, OrreryProtocolData::Buffer& data) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    data.insert(data.end(), p, p + length);
}

template <class Sink>
void protocolAppendBigEndian(uint64_t value, int byteCount, Sink& data) {
    uint8_t bytes[8];
    for (int i = 0; i < byteCount; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * (byteCount - 1 - i)));
    protocolAppendRaw(bytes, static_cast<size_t>(byteCount), data);
}

// The longest prefix of at most kMaxShortLength bytes that does not end
// inside a UTF-8 sequence.
size_t protocolShortLength(std::string_view text) {
    if (text.size() <= OrreryProtocolData::kMaxShortLength) return text.size();
    size_t cut = OrreryProtocolData::kMaxShortLength;
    while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

template <class Sink>
void protocolAppendLengthAndBytes(std::string_view bytes, Sink& data) {
    protocolAppendBigEndian(bytes.size(), 2, data);
    protocolAppendRaw(bytes.data(), bytes.size(), data);
}

template <class Sink>
void protocolAppendCutText(std::string_view text, Sink& data) {
    size_t length = protocolShortLength(text);
    if (length < text.size())
        OrreryLog::error("a string of " + std::to_string(text.size()) + " bytes was cut to " + std::to_string(length) +
                         " bytes to fit its 2-byte length");
    protocolAppendLengthAndBytes(text.substr(0, length), data);
}

template <class Sink>
void appendTimestampTo(const std::optional<NSDate>& date, Sink& data) {
    int64_t millis = date ? platform::saturatingCast<int64_t>(date->timeIntervalSince1970() * 1000.0) : 0;
    protocolAppendBigEndian(static_cast<uint64_t>(millis), 8, data);
}

template <class Sink>
void appendStringTo(const std::optional<std::string>& string, Sink& data) {
    if (!string) {
        protocolAppendBigEndian(0, 2, data);
        return;
    }
    // Fewer bytes than the cut length are fewer UTF-16 units too: no count needed.
    if (string->size() >= OrreryProtocolData::kStringCutLength &&
        NSString::length(*string) >= OrreryProtocolData::kStringCutLength) {
        // The platform's cut never splits a surrogate pair.
        protocolAppendCutText(NSString::substringToIndex(*string, OrreryProtocolData::kStringCutLength - 1), data);
        return;
    }
    protocolAppendCutText(*string, data);
}

template <class Sink>
void appendStringUnlimitedTo(const std::optional<std::string>& string, Sink& data) {
    if (!string) {
        protocolAppendBigEndian(0, 2, data);
        return;
    }
    protocolAppendCutText(*string, data);
}

template <class Sink>
void appendShortDataTo(const std::optional<NSData>& bytes, Sink& data) {
    if (!bytes) {
        protocolAppendBigEndian(0, 2, data);
        return;
    }
    size_t length = bytes->length();
    if (length > OrreryProtocolData::kMaxShortLength) {
        OrreryLog::error("a byte run of " + std::to_string(length) + " bytes was cut to 65535 bytes");
        length = OrreryProtocolData::kMaxShortLength;
    }
    protocolAppendBigEndian(length, 2, data);
    protocolAppendRaw(bytes->bytes(), length, data);
}

}  // namespace

void OrreryProtocolData::appendUshort(uint64_t value, NSData& data) { protocolAppendBigEndian(value & 0xFFFF, 2, data); }
void OrreryProtocolData::appendInt(int32_t value, NSData& data) { protocolAppendBigEndian(static_cast<uint32_t>(value), 4, data); }
void OrreryProtocolData::appendLong(int64_t value, NSData& data) { protocolAppendBigEndian(static_cast<uint64_t>(value), 8, data); }
void OrreryProtocolData::appendBoolean(bool value, NSData& data) { protocolAppendBigEndian(value ? 1 : 0, 1, data); }
void OrreryProtocolData::appendTimestamp(const std::optional<NSDate>& date, NSData& data) { appendTimestampTo(date, data); }
void OrreryProtocolData::appendString(const std::optional<std::string>& string, NSData& data) {
    appendStringTo(string, data);
}
void OrreryProtocolData::appendStringUnlimited(const std::optional<std::string>& string, NSData& data) {
    appendStringUnlimitedTo(string, data);
}
void OrreryProtocolData::appendShortData(const std::optional<NSData>& bytes, NSData& data) { appendShortDataTo(bytes, data); }

void OrreryProtocolData::appendTimestamp(const std::optional<NSDate>& date, Buffer& data) { appendTimestampTo(date, data); }
void OrreryProtocolData::appendString(const std::optional<std::string>& string, Buffer& data) {
    appendStringTo(string, data);
}
void OrreryProtocolData::appendStringUnlimited(const std::optional<std::string>& string, Buffer& data) {
    appendStringUnlimitedTo(string, data);
}
void OrreryProtocolData::appendShortData(const std::optional<NSData>& bytes, Buffer& data) { appendShortDataTo(bytes, data); }
