// UTF-8 decoding that never fails: an invalid byte is reported as one unit of
// its own so callers can keep it (the platform's strings hold any bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::utf8 {

struct Decoded {
    char32_t codePoint;  // U+FFFD for an invalid byte
    size_t size;         // bytes consumed (1 for an invalid byte)
    bool valid;
};

// Decodes the sequence starting at `pos` (pos < s.size()).
inline Decoded decode(std::string_view s, size_t pos) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) return {b0, 1, true};
    size_t need;
    char32_t cp;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        return {0xFFFD, 1, false};
    }
    if (pos + need >= s.size()) return {0xFFFD, 1, false};  // truncated sequence
    for (size_t k = 1; k <= need; ++k) {
        const auto b = static_cast<unsigned char>(s[pos + k]);
        if ((b & 0xC0) != 0x80) return {0xFFFD, 1, false};
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0xFFFD, 1, false};
    return {cp, need + 1, true};
}

// Number of UTF-16 units the decoded sequence stands for.
inline size_t utf16Units(const Decoded& d) { return d.valid && d.codePoint > 0xFFFF ? 2 : 1; }

inline void append(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace platform::utf8
