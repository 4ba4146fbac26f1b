#include "platform/foundation/NSUUID.h"

#include <cstring>

#include "platform/foundation/NSString.h"
#include "platform/foundation/Random.h"

namespace platform {

Ref<NSUUID> NSUUID::UUID() {
    auto uuid = alloc<NSUUID>();
    arc4random_buf(uuid->bytes_.data(), uuid->bytes_.size());
    uuid->bytes_[6] = static_cast<uint8_t>((uuid->bytes_[6] & 0x0F) | 0x40);  // version 4
    uuid->bytes_[8] = static_cast<uint8_t>((uuid->bytes_[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return uuid;
}

Ref<NSUUID> NSUUID::initWithUUIDString(std::string_view text) {
    if (text.size() != 36) return nullptr;
    auto uuid = alloc<NSUUID>();
    size_t byte = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return nullptr;
            ++i;
            continue;
        }
        int v = 0;
        for (int k = 0; k < 2; ++k, ++i) {
            const char c = text[i];
            int n;
            if (c >= '0' && c <= '9') n = c - '0';
            else if (c >= 'a' && c <= 'f') n = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') n = c - 'A' + 10;
            else return nullptr;
            v = v * 16 + n;
        }
        uuid->bytes_[byte++] = static_cast<uint8_t>(v);
    }
    return uuid;
}

std::string NSUUID::UUIDString() const {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += hex[bytes_[i] >> 4];
        out += hex[bytes_[i] & 15];
    }
    return out;
}

bool NSUUID::isEqual(const NSObject& other) const {
    const auto* u = dynamic_cast<const NSUUID*>(&other);
    return u && u->bytes_ == bytes_;
}

size_t NSUUID::hash() const {
    return static_cast<size_t>(NSString::hash(std::string_view(reinterpret_cast<const char*>(bytes_.data()), bytes_.size())));
}

std::string CFUUIDCreateString() { return NSUUID::UUID()->UUIDString(); }

}  // namespace platform
