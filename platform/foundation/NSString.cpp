#include "platform/foundation/NSString.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/foundation/CLocale.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/Utf8.h"

namespace platform::NSString {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalAt(std::string_view s, size_t pos, std::string_view needle, bool fold) {
    if (!fold) return s.compare(pos, needle.size(), needle) == 0;
    for (size_t i = 0; i < needle.size(); ++i)
        if (lowerAscii(s[pos + i]) != lowerAscii(needle[i])) return false;
    return true;
}

size_t skipSpace(std::string_view s, size_t i = 0) {
    while (i < s.size() && isSpace(s[i])) ++i;
    return i;
}

}  // namespace

// --- UTF-16 view -------------------------------------------------------------

uint64_t length(std::string_view s) {
    uint64_t units = 0;
    for (size_t i = 0; i < s.size();) {
        const auto d = utf8::decode(s, i);
        units += utf8::utf16Units(d);
        i += d.size;
    }
    return units;
}

unichar characterAtIndex(std::string_view s, uint64_t index) {
    uint64_t unit = 0;
    for (size_t i = 0; i < s.size();) {
        const auto d = utf8::decode(s, i);
        if (utf8::utf16Units(d) == 2) {
            const char32_t v = d.codePoint - 0x10000;
            if (unit == index) return static_cast<unichar>(0xD800 + (v >> 10));
            if (unit + 1 == index) return static_cast<unichar>(0xDC00 + (v & 0x3FF));
            unit += 2;
        } else {
            if (unit == index) return static_cast<unichar>(d.codePoint);
            unit += 1;
        }
        i += d.size;
    }
    NSException::raise(NSRangeException, "characterAtIndex: index " + std::to_string(index) + " beyond bounds " +
                                             std::to_string(unit));
}

std::string substringToIndex(std::string_view s, uint64_t index) {
    uint64_t unit = 0;
    size_t i = 0;
    while (i < s.size()) {
        const auto d = utf8::decode(s, i);
        const size_t units = utf8::utf16Units(d);
        if (unit + units > index) break;  // this code point would cross the cut
        unit += units;
        i += d.size;
    }
    return std::string(s.substr(0, i));
}

// --- search ------------------------------------------------------------------

bool hasPrefix(std::string_view s, std::string_view prefix) { return !prefix.empty() && s.starts_with(prefix); }
bool hasSuffix(std::string_view s, std::string_view suffix) { return !suffix.empty() && s.ends_with(suffix); }
bool containsString(std::string_view s, std::string_view needle) {
    return !needle.empty() && s.find(needle) != std::string_view::npos;
}

NSRange rangeOfString(std::string_view s, std::string_view needle, unsigned long options) {
    const NSRange notFound{NSNotFound, 0};
    if (needle.empty() || needle.size() > s.size()) return notFound;
    const bool fold = options & NSCaseInsensitiveSearch;
    const bool backwards = options & NSBackwardsSearch;
    const bool anchored = options & NSAnchoredSearch;
    const size_t last = s.size() - needle.size();
    if (anchored) {
        const size_t pos = backwards ? last : 0;
        return equalAt(s, pos, needle, fold) ? NSRange{pos, needle.size()} : notFound;
    }
    if (backwards) {
        for (size_t pos = last + 1; pos-- > 0;)
            if (equalAt(s, pos, needle, fold)) return {pos, needle.size()};
        return notFound;
    }
    if (!fold) {
        const size_t pos = s.find(needle);
        return pos == std::string_view::npos ? notFound : NSRange{pos, needle.size()};
    }
    for (size_t pos = 0; pos <= last; ++pos)
        if (equalAt(s, pos, needle, true)) return {pos, needle.size()};
    return notFound;
}

// --- pieces and changes --------------------------------------------------------

std::vector<std::string> componentsSeparatedByString(std::string_view s, std::string_view separator) {
    if (separator.empty()) return {std::string(s)};
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t pos = s.find(separator, start);
        if (pos == std::string_view::npos) break;
        parts.emplace_back(s.substr(start, pos - start));
        start = pos + separator.size();
    }
    parts.emplace_back(s.substr(start));
    return parts;
}

std::string componentsJoinedByString(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += separator;
        out += parts[i];
    }
    return out;
}

std::string stringByReplacingOccurrencesOfString(std::string_view s, std::string_view target,
                                                 std::string_view replacement) {
    if (target.empty()) return std::string(s);
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t pos = s.find(target, start);
        if (pos == std::string_view::npos) break;
        out.append(s.substr(start, pos - start));
        out.append(replacement);
        start = pos + target.size();
    }
    out.append(s.substr(start));
    return out;
}

std::string stringByTrimmingCharactersInSet(std::string_view s, const NSCharacterSet& set) {
    size_t begin = 0;
    while (begin < s.size()) {
        const auto d = utf8::decode(s, begin);
        if (!d.valid || !set.characterIsMember(d.codePoint)) break;
        begin += d.size;
    }
    // Walk forward to find where the trailing run of members starts.
    size_t end = begin;
    for (size_t i = begin; i < s.size();) {
        const auto d = utf8::decode(s, i);
        i += d.size;
        if (!d.valid || !set.characterIsMember(d.codePoint)) end = i;
    }
    return std::string(s.substr(begin, end - begin));
}

std::string lowercaseString(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

std::string uppercaseString(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = upperAscii(c);
    return out;
}

// --- comparison ----------------------------------------------------------------

namespace {
NSComparisonResult order(int c) {
    return c < 0 ? NSComparisonResult::OrderedAscending
                 : (c > 0 ? NSComparisonResult::OrderedDescending : NSComparisonResult::OrderedSame);
}
}  // namespace

NSComparisonResult compare(std::string_view a, std::string_view b, unsigned long options) {
    const bool fold = options & NSCaseInsensitiveSearch;
    const bool numeric = options & NSNumericSearch;
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (numeric && isDigit(a[i]) && isDigit(b[j])) {
            // Compare the digit runs as numbers: skip leading zeros, then the
            // longer run is larger, else the first differing digit decides.
            size_t ie = i;
            size_t je = j;
            while (ie < a.size() && isDigit(a[ie])) ++ie;
            while (je < b.size() && isDigit(b[je])) ++je;
            size_t is = i;
            size_t js = j;
            while (is + 1 < ie && a[is] == '0') ++is;
            while (js + 1 < je && b[js] == '0') ++js;
            if (ie - is != je - js) return order(ie - is < je - js ? -1 : 1);
            const int c = a.substr(is, ie - is).compare(b.substr(js, je - js));
            if (c != 0) return order(c);
            i = ie;
            j = je;
            continue;
        }
        const auto ca = static_cast<unsigned char>(fold ? lowerAscii(a[i]) : a[i]);
        const auto cb = static_cast<unsigned char>(fold ? lowerAscii(b[j]) : b[j]);
        if (ca != cb) return order(ca < cb ? -1 : 1);
        ++i;
        ++j;
    }
    const bool aLeft = i < a.size();
    const bool bLeft = j < b.size();
    return order(aLeft == bLeft ? 0 : (aLeft ? 1 : -1));
}

NSComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b) {
    return compare(a, b, NSCaseInsensitiveSearch);
}

// --- numbers ---------------------------------------------------------------------

int64_t integerValue(std::string_view s) {
    size_t i = skipSpace(s);
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    // Accumulate as a negative number so INT64_MIN is reachable; saturate.
    int64_t v = 0;
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    bool overflow = false;
    for (; i < s.size() && isDigit(s[i]); ++i) {
        const int digit = s[i] - '0';
        if (v < (kMin + digit) / 10) {
            overflow = true;
            continue;
        }
        v = v * 10 - digit;
    }
    if (overflow) return negative ? kMin : std::numeric_limits<int64_t>::max();
    if (negative) return v;
    return v == kMin ? std::numeric_limits<int64_t>::max() : -v;
}

int32_t intValue(std::string_view s) {
    const int64_t v = integerValue(s);
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

double doubleValue(std::string_view s) {
    // Find the longest decimal prefix ourselves so hex, "inf" and "nan" stay out.
    const size_t start = skipSpace(s);
    size_t i = start;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t k = i + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
        if (k < s.size() && isDigit(s[k])) {
            while (k < s.size() && isDigit(s[k])) ++k;
            i = k;
        }
    }
    const std::string prefix(s.substr(start, i - start));
    return strtod_l(prefix.c_str(), nullptr, cLocale());
}

float floatValue(std::string_view s) {
    const double d = doubleValue(s);
    if (d > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (d < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

bool boolValue(std::string_view s) {
    size_t i = skipSpace(s);
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    while (i < s.size() && s[i] == '0') ++i;
    if (i >= s.size()) return false;
    const char c = s[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

uint64_t hash(std::string_view s) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

// --- encodings -------------------------------------------------------------------

bool isValidUTF8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto d = utf8::decode(s, i);
        if (!d.valid) return false;
        i += d.size;
    }
    return true;
}

std::optional<std::string> initWithData(const NSData& data, unsigned long encoding) {
    const std::string_view bytes = data.stringView();
    if (encoding == NSASCIIStringEncoding) {
        for (unsigned char c : bytes)
            if (c >= 0x80) return std::nullopt;
        return std::string(bytes);
    }
    if (encoding != NSUTF8StringEncoding || !isValidUTF8(bytes)) return std::nullopt;
    return std::string(bytes);
}

NSData dataUsingEncoding(std::string_view s, unsigned long) { return NSData::dataWithString(s); }

}  // namespace platform::NSString
