// The Relay tests' fixture (the platform's fixture, the client's classes, a
// fixed identifier for vendor and API key), a big-endian byte builder and
// Avro's binary forms for expected wire bytes, written independently of the
// client's writer and of the Avro library.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "analytics/OrreryClasses.h"
#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/relay/OrreryRelayClasses.h"
#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSData.h"
#include "platform/foundation/PropertyList.h"
#include "platform/testing/PlatformTest.h"

class RelayTest : public platform::testing::PlatformTest {
protected:
    static constexpr const char* kVendorId = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
    static constexpr const char* kApiKey = "RELAYKEY";
    static constexpr const char* kAppVersion = "2.5";

    void SetUp() override {
        PlatformTest::SetUp();
        registerOrreryClasses();
        registerOrreryRelayClasses();
        ASSERT_TRUE(platform::PropertyList::writeToFile(Value::dictionary({{"identifierForVendor", kVendorId}}),
                                                        home() + "/Library/Preferences/platform.identity.plist"));
        platform::DeviceProfile::reloadPersistedIdentifiers();
        auto storage = OrreryGlobalVariableStorage::sharedInstance();
        storage->setApiKey(kApiKey);
        storage->setAppVersion(kAppVersion);
    }
};

// Expected bytes, big-endian.
class Bytes {
public:
    Bytes& u8(uint64_t v) { return put(v, 1); }
    Bytes& u16(uint64_t v) { return put(v, 2); }
    Bytes& u32(uint64_t v) { return put(v, 4); }
    Bytes& u64(uint64_t v) { return put(v, 8); }
    Bytes& str(std::string_view s) {
        u16(s.size());
        bytes_.append(s);
        return *this;
    }
    Bytes& raw(std::string_view s) {
        bytes_.append(s);
        return *this;
    }
    const std::string& string() const { return bytes_; }
    NSData data() const { return NSData(bytes_.data(), bytes_.size()); }

private:
    Bytes& put(uint64_t v, int width) {
        for (int i = width - 1; i >= 0; --i) bytes_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return *this;
    }
    std::string bytes_;
};

// Avro's binary forms, written by hand: a long (or int) as a zig-zag varint,
// a string as its length and bytes.
inline std::string avroLong(int64_t value) {
    uint64_t z = (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
    std::string out;
    while (z >= 0x80) {
        out.push_back(static_cast<char>(z | 0x80));
        z >>= 7;
    }
    out.push_back(static_cast<char>(z));
    return out;
}
inline std::string avroString(std::string_view s) { return avroLong(static_cast<int64_t>(s.size())) + std::string(s); }

inline std::string hexOf(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex.push_back(digits[c >> 4]);
        hex.push_back(digits[c & 15]);
    }
    return hex;
}
inline std::string hexOf(const NSData& data) { return hexOf(data.stringView()); }
