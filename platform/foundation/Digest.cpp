#include "platform/foundation/Digest.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace platform {

namespace {

std::vector<uint8_t> digest(const EVP_MD* type, const void* bytes, size_t length) {
    std::vector<uint8_t> out(static_cast<size_t>(EVP_MD_get_size(type)));
    unsigned int size = 0;
    static const uint8_t nothing = 0;
    if (!EVP_Digest(length ? bytes : &nothing, length, out.data(), &size, type, nullptr)) return {};
    out.resize(size);
    return out;
}

}  // namespace

std::vector<uint8_t> md5(const void* bytes, size_t length) { return digest(EVP_md5(), bytes, length); }
std::vector<uint8_t> sha1(const void* bytes, size_t length) { return digest(EVP_sha1(), bytes, length); }

std::string hexLower(const void* bytes, size_t length) {
    static const char* hex = "0123456789abcdef";
    const auto* p = static_cast<const uint8_t*>(bytes);
    std::string out;
    out.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        out += hex[p[i] >> 4];
        out += hex[p[i] & 15];
    }
    return out;
}

uint32_t crc32(const void* bytes, size_t length) {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    const auto* p = static_cast<const Bytef*>(bytes);
    // zlib takes a uInt length: feed large buffers in pieces.
    while (length > 0) {
        const size_t take = std::min<size_t>(length, 1u << 30);
        crc = ::crc32(crc, p, static_cast<uInt>(take));
        p += take;
        length -= take;
    }
    return static_cast<uint32_t>(crc);
}

unsigned char* CC_MD5(const void* data, CC_LONG len, unsigned char* md) {
    const auto d = md5(data, len);
    std::memcpy(md, d.data(), d.size());
    return md;
}

unsigned char* CC_SHA1(const void* data, CC_LONG len, unsigned char* md) {
    const auto d = sha1(data, len);
    std::memcpy(md, d.data(), d.size());
    return md;
}

}  // namespace platform
