// Message digests (MD5, SHA-1) over libcrypto, CRC-32 over zlib, lower-case
// hex, and the C-style digest entry points the clients call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NSData.h"

namespace platform {

std::vector<uint8_t> md5(const void* bytes, size_t length);   // 16 bytes
std::vector<uint8_t> sha1(const void* bytes, size_t length);  // 20 bytes
inline std::vector<uint8_t> md5(std::string_view s) { return md5(s.data(), s.size()); }
inline std::vector<uint8_t> md5(const NSData& d) { return md5(d.bytes(), d.length()); }
inline std::vector<uint8_t> sha1(std::string_view s) { return sha1(s.data(), s.size()); }
inline std::vector<uint8_t> sha1(const NSData& d) { return sha1(d.bytes(), d.length()); }

std::string hexLower(const void* bytes, size_t length);
inline std::string hexLower(const std::vector<uint8_t>& bytes) { return hexLower(bytes.data(), bytes.size()); }
inline std::string hexLower(const NSData& d) { return hexLower(d.bytes(), d.length()); }

// CRC-32 (reflected 0xEDB88320, initial and final 0xFFFFFFFF); 0 for no bytes.
uint32_t crc32(const void* bytes, size_t length);
inline uint32_t crc32(std::string_view s) { return crc32(s.data(), s.size()); }
inline uint32_t crc32(const NSData& d) { return crc32(d.bytes(), d.length()); }

using CC_LONG = uint32_t;
inline constexpr int CC_MD5_DIGEST_LENGTH = 16;
inline constexpr int CC_SHA1_DIGEST_LENGTH = 20;
// Write the digest of `len` bytes at `data` into `md` and return `md`.
unsigned char* CC_MD5(const void* data, CC_LONG len, unsigned char* md);
unsigned char* CC_SHA1(const void* data, CC_LONG len, unsigned char* md);

}  // namespace platform

using platform::CC_LONG;
using platform::CC_MD5;
using platform::CC_MD5_DIGEST_LENGTH;
using platform::CC_SHA1;
using platform::CC_SHA1_DIGEST_LENGTH;
