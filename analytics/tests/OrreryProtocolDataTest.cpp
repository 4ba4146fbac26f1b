// The binary writer, byte for byte: widths, byte order, truncation of
// timestamps, and the string cuts (255 UTF-16 units, never inside a
// surrogate pair; 65535 bytes behind a 2-byte length).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analytics/OrreryProtocolData.h"

namespace {

std::vector<uint8_t> bytesOf(const NSData& data) {
    return std::vector<uint8_t>(data.bytes(), data.bytes() + data.length());
}

std::vector<uint8_t> concat(std::vector<uint8_t> head, const std::string& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const std::string kGrinning = "\xF0\x9F\x98\x80";  // U+1F600: two UTF-16 units, four UTF-8 bytes

TEST(OrreryProtocolData, WritesNumbersBigEndian) {
    NSData data;
    OrreryProtocolData::appendUshort(0x1234, data);
    OrreryProtocolData::appendUshort(70000, data);  // low 16 bits: 4464
    OrreryProtocolData::appendUshort(static_cast<uint64_t>(-1), data);
    OrreryProtocolData::appendInt(-2, data);
    OrreryProtocolData::appendInt(0x01020304, data);
    OrreryProtocolData::appendLong(1450000000000LL, data);
    OrreryProtocolData::appendLong(-1, data);
    OrreryProtocolData::appendBoolean(true, data);
    OrreryProtocolData::appendBoolean(false, data);
    EXPECT_EQ(bytesOf(data), (std::vector<uint8_t>{0x12, 0x34, 0x11, 0x70, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x01,
                                                   0x02, 0x03, 0x04, 0x00, 0x00, 0x01, 0x51, 0x9A, 0xBC, 0x24, 0x00,
                                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00}));
}

TEST(OrreryProtocolData, TimestampsAreWholeMillisecondsTruncated) {
    NSData data;
    OrreryProtocolData::appendTimestamp(NSDate::dateWithTimeIntervalSince1970(1450000000.1239), data);
    OrreryProtocolData::appendTimestamp(NSDate::dateWithTimeIntervalSince1970(-1.5009), data);
    OrreryProtocolData::appendTimestamp(std::nullopt, data);
    EXPECT_EQ(bytesOf(data),
              (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x51, 0x9A, 0xBC, 0x24, 0x7B, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFA, 0x24, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(OrreryProtocolData, StringsCarryTheirUtf8Length) {
    NSData data;
    OrreryProtocolData::appendString("h\xC3\xA9llo", data);
    OrreryProtocolData::appendString(std::nullopt, data);
    OrreryProtocolData::appendString("", data);
    OrreryProtocolData::appendStringUnlimited(std::nullopt, data);
    EXPECT_EQ(bytesOf(data),
              (std::vector<uint8_t>{0x00, 0x06, 'h', 0xC3, 0xA9, 'l', 'l', 'o', 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(OrreryProtocolData, StringsOf256UnitsOrMoreAreCutTo255) {
    for (size_t units : {255u, 256u, 300u}) {
        NSData data;
        OrreryProtocolData::appendString(std::string(units, 'a'), data);
        size_t kept = units >= 256 ? 255 : units;
        EXPECT_EQ(bytesOf(data), concat({0x00, static_cast<uint8_t>(kept)}, std::string(kept, 'a'))) << units;
    }
    // Units, not bytes, are counted: 255 two-byte characters stay whole.
    std::string accented;
    for (int i = 0; i < 300; ++i) accented += "\xC3\xA9";
    NSData data;
    OrreryProtocolData::appendString(accented, data);
    EXPECT_EQ(bytesOf(data), concat({0x01, 0xFE}, accented.substr(0, 510)));
}

TEST(OrreryProtocolData, TheCutNeverSplitsASurrogatePair) {
    // Units 254 and 255 are one emoji: cutting at 255 would split it, so it goes whole.
    std::string split = std::string(254, 'a') + kGrinning + "bc";
    NSData data;
    OrreryProtocolData::appendString(split, data);
    EXPECT_EQ(bytesOf(data), concat({0x00, 0xFE}, std::string(254, 'a')));

    // Units 254 and 255 end at the cut: the emoji is kept.
    std::string whole = std::string(253, 'a') + kGrinning + "bc";
    NSData kept;
    OrreryProtocolData::appendString(whole, kept);
    EXPECT_EQ(bytesOf(kept), concat({0x01, 0x01}, std::string(253, 'a') + kGrinning));
}

TEST(OrreryProtocolData, UnlimitedStringsKeepTheirLengthUpTo65535Bytes) {
    NSData data;
    OrreryProtocolData::appendStringUnlimited(std::string(300, 'u'), data);
    EXPECT_EQ(bytesOf(data), concat({0x01, 0x2C}, std::string(300, 'u')));

    // Beyond what 2 bytes can announce the text is cut at a whole character,
    // so the length always matches the bytes that follow.
    NSData longData;
    std::string text = std::string(65534, 'u') + "\xC3\xA9" + "tail";
    OrreryProtocolData::appendStringUnlimited(text, longData);
    ASSERT_EQ(longData.length(), 2u + 65534u);
    EXPECT_EQ(longData.bytes()[0], 0xFF);
    EXPECT_EQ(longData.bytes()[1], 0xFE);
}

TEST(OrreryProtocolData, ShortDataIsLengthThenBytes) {
    NSData data;
    uint8_t raw[] = {0x00, 0x01, 0xFF};
    OrreryProtocolData::appendShortData(NSData(raw, sizeof raw), data);
    OrreryProtocolData::appendShortData(std::nullopt, data);
    OrreryProtocolData::appendShortData(NSData(), data);
    EXPECT_EQ(bytesOf(data), (std::vector<uint8_t>{0x00, 0x03, 0x00, 0x01, 0xFF, 0x00, 0x00, 0x00, 0x00}));

    NSData big;
    OrreryProtocolData::appendShortData(NSData(std::vector<uint8_t>(70000, 0x5A)), big);
    ASSERT_EQ(big.length(), 2u + 65535u);
    EXPECT_EQ(big.bytes()[0], 0xFF);
    EXPECT_EQ(big.bytes()[1], 0xFF);
}

}  // namespace
