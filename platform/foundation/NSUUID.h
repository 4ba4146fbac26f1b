// Universally unique identifiers: random version 4, written upper case.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/NSObject.h"

namespace platform {

class NSUUID : public NSObject {
public:
    // A new random (version 4) identifier.
    static Ref<NSUUID> UUID();
    // Parses "8-4-4-4-12" hex (either case); null when malformed.
    static Ref<NSUUID> initWithUUIDString(std::string_view text);

    // "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"
    std::string UUIDString() const;
    const std::array<uint8_t, 16>& bytes() const { return bytes_; }

    std::string description() const override { return UUIDString(); }
    bool isEqual(const NSObject& other) const override;
    size_t hash() const override;

private:
    std::array<uint8_t, 16> bytes_{};
};

// The string of a new random UUID (the platform's CFUUIDCreate + CFUUIDCreateString).
std::string CFUUIDCreateString();

}  // namespace platform

using platform::CFUUIDCreateString;
using platform::NSUUID;
