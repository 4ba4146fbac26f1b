#include "platform/runtime/Log.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <mutex>

namespace platform {
namespace {

struct LogState {
    std::mutex mutex;
    std::shared_ptr<const LogSink> sink;  // null: stderr
    std::mutex stderrMutex;
};

LogState& state() {
    static auto* s = new LogState;  // never destroyed: workers may log during exit
    return *s;
}

// The length of the valid UTF-8 sequence of two or more bytes at `at`; 0 when
// there is none (overlong forms, surrogates and values above U+10FFFF included).
size_t utf8SequenceLength(std::string_view text, size_t at) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    unsigned char second = byte(at + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

// Appends `text` escaped as printableLogLine says, while `out` stays within
// `limit` bytes; returns how many bytes of `text` it took (all, or up to the
// first character whose escaped form would pass the limit).
size_t appendPrintable(std::string& out, std::string_view text, size_t limit) {
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c >= 0x20 && c < 0x7F ? 1 : c >= 0x80 ? utf8SequenceLength(text, i) : 0;
        if (length > 0) {
            if (out.size() + length > limit) break;
            out.append(text.substr(i, length));
            i += length;
            continue;
        }
        char escaped[5] = {'\\', 0, 0, 0, 0};
        switch (c) {
            case '\n':
                escaped[1] = 'n';
                break;
            case '\r':
                escaped[1] = 'r';
                break;
            case '\t':
                escaped[1] = 't';
                break;
            default: {
                static constexpr char kHex[] = "0123456789abcdef";
                escaped[1] = 'x';
                escaped[2] = kHex[c >> 4];
                escaped[3] = kHex[c & 0xF];
            }
        }
        std::string_view piece(escaped);
        if (out.size() + piece.size() > limit) break;
        out += piece;
        ++i;
    }
    return i;
}

// Where the authority of `text` would begin for a URL parser or a browser,
// npos when it has none. They skip leading white space and control bytes and
// drop tabs and line breaks anywhere; take a backslash for a slash; read
// "//host" with no scheme against the page's; and for the special schemes
// (http, https, ws, wss, ftp, file) read an authority after any number of
// slashes, none included ("http:user:pw@host").
size_t authorityStart(std::string_view text) {
    const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto isSchemeCharacter = [&](char c) {
        return isAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    };
    const auto isDropped = [](char c) { return c == '\t' || c == '\n' || c == '\r'; };
    const auto isSlash = [](char c) { return c == '/' || c == '\\'; };
    size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= 0x20) ++i;
    // The scheme in lower case, as far as a special one's length (a longer one is none).
    std::string scheme;
    size_t schemeLength = 0;
    for (; i < text.size() && (isSchemeCharacter(text[i]) || isDropped(text[i])); ++i) {
        if (isDropped(text[i])) continue;
        if (schemeLength++ == 0 && !isAlpha(text[i])) return std::string_view::npos;
        if (scheme.size() <= 5) scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    }
    const bool hasScheme = schemeLength > 0;
    if (hasScheme && (i == text.size() || text[i] != ':')) return std::string_view::npos;
    if (hasScheme) ++i;
    size_t slashes = 0;
    for (; i < text.size() && (isSlash(text[i]) || isDropped(text[i])); ++i)
        if (isSlash(text[i])) ++slashes;
    static constexpr std::string_view kSpecial[] = {"http", "https", "ws", "wss", "ftp", "file"};
    const bool special = std::find(std::begin(kSpecial), std::end(kSpecial), scheme) != std::end(kSpecial);
    if (hasScheme ? special || slashes >= 2 : slashes >= 2) return i;
    return std::string_view::npos;
}

}  // namespace

std::string printableLogLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendPrintable(out, text, std::string::npos);
    return out;
}

std::string shortenedForLog(std::string_view text, size_t limit) { return shortenedForLog(text, text.size(), limit); }

std::string shortenedForLog(std::string_view start, size_t length, size_t limit) {
    if (length <= limit) return std::string(start.substr(0, length));
    size_t cut = std::min(limit, start.size());
    // Back to the start of the sequence the limit falls in (at most three continuation bytes).
    for (size_t back = 0; back < 3 && cut > 0 && cut < start.size() &&
                          (static_cast<unsigned char>(start[cut]) & 0xC0) == 0x80;
         ++back)
        --cut;
    return std::string(start.substr(0, cut)) + "… (" + std::to_string(length) + " bytes)";
}

std::string urlForLog(std::string_view url, size_t limit) { return urlForLog(url, url.size(), limit); }

std::string urlForLog(std::string_view start, size_t length, size_t limit) {
    start = start.substr(0, length);
    const size_t begin = authorityStart(start);
    if (begin == std::string_view::npos) return shortenedForLog(start, length, limit);
    const size_t end = start.find_first_of("/?#", begin);
    if (end == std::string_view::npos && start.size() < length)
        return shortenedForLog(std::string(start.substr(0, begin)) + "***", length, limit);
    const size_t at = start.substr(begin, std::min(end, start.size()) - begin).rfind('@');
    if (at == std::string_view::npos) return shortenedForLog(start, length, limit);
    std::string redacted(start.substr(0, begin));
    redacted += "***";
    redacted += start.substr(begin + at);
    return shortenedForLog(redacted, length - at + 3, limit);
}

void log(LogLevel level, std::string_view raw) {
    // The common line is printable and short already and passes without a copy.
    bool plain = raw.size() <= kLogLineLimit;
    for (size_t i = 0; plain && i < raw.size(); ++i) plain = raw[i] >= 0x20 && raw[i] < 0x7F;
    std::string escaped;
    if (!plain) {
        // Escaped, then cut: the bound holds however many bytes the escapes take.
        escaped.reserve(std::min(raw.size(), kLogLineLimit));
        size_t taken = appendPrintable(escaped, raw, kLogLineLimit);
        if (taken < raw.size()) escaped += "… (" + std::to_string(raw.size()) + " bytes)";
    }
    std::string_view line = plain ? raw : std::string_view(escaped);
    auto& s = state();
    std::shared_ptr<const LogSink> sink;
    {
        std::lock_guard lock(s.mutex);
        sink = s.sink;
    }
    // The sink is called outside our lock so it may log itself.
    if (sink) {
        (*sink)(level, line);
        return;
    }
    std::string text(line);
    text += '\n';
    std::lock_guard lock(s.stderrMutex);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void setLogSink(LogSink sink) {
    auto& s = state();
    auto next = sink ? std::make_shared<const LogSink>(std::move(sink)) : nullptr;
    std::lock_guard lock(s.mutex);
    s.sink.swap(next);
}

}  // namespace platform
