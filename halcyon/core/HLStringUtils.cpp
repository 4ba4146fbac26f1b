#include "halcyon/core/HLStringUtils.h"

#include "platform/foundation/Digest.h"
#include "platform/foundation/NSCharacterSet.h"
#include "platform/foundation/NSNumberFormatter.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Utf8.h"
#include "platform/net/NSURLRequest.h"

namespace HLUtils {

namespace {
// Characters the URL-encoding form escapes beyond those never allowed in a URL.
constexpr std::string_view kHLURLEncodingForced = "!*'();:@&=+$/?%#[]";

// Copies the code points of `s` that `drop` rejects.
template <class Drop>
std::string hlStringWithout(std::string_view s, Drop drop) {
    std::string out;
    size_t pos = 0;
    while (pos < s.size()) {
        platform::utf8::Decoded d = platform::utf8::decode(s, pos);
        if (!(d.valid && drop(d.codePoint))) out.append(s.substr(pos, d.size));
        pos += d.size;
    }
    return out;
}
}  // namespace

bool hl_isValidString(std::string_view s) { return !s.empty(); }
bool hl_isValidString(const Value& v) { return v.string() && !v.string()->empty(); }
bool hl_isValidString(const std::optional<std::string>& s) { return s && !s->empty(); }

bool hl_containsSubstring(std::string_view s, std::string_view substring) {
    return NSString::containsString(s, substring);
}

bool hl_containsSubstringIgnoringCase(std::string_view s, std::string_view substring) {
    return NSString::rangeOfString(s, substring, platform::NSCaseInsensitiveSearch).location != platform::NSNotFound;
}

bool hl_isEqualToStringIgnoringCase(std::string_view s, std::string_view other) {
    return NSString::caseInsensitiveCompare(s, other) == NSComparisonResult::OrderedSame;
}

std::string hl_stringByURLEncodingString(std::string_view s) {
    return platform::addPercentEscapes(s, {}, kHLURLEncodingForced);
}

std::string hl_stringByAddingPercentEscapesUsingUTF8Encoding(std::string_view s) {
    return NSString::stringByAddingPercentEscapesUsingEncoding(s);
}

std::string hl_stringByReplacingOccurrencesOfStringsInDictionary(std::string_view s, const Value& dictionary,
                                                                 unsigned long options) {
    std::string text(s);
    const auto* entries = dictionary.dictionary();
    if (!entries) return text;
    for (const auto& [key, value] : *entries) {
        const std::string* replacement = value.string();
        if (!replacement || key.empty()) continue;
        std::string out;
        size_t from = 0;
        for (;;) {
            auto range = NSString::rangeOfString(std::string_view(text).substr(from), key, options);
            if (range.location == platform::NSNotFound) break;
            out.append(text, from, range.location);
            out += *replacement;
            from += range.location + range.length;
        }
        out.append(text, from, std::string::npos);
        text = std::move(out);
    }
    return text;
}

std::optional<std::string> hl_stringByHashingStringUsingEncoding(std::string_view s, int encoding) {
    if (s.empty()) return std::string();
    // The bytes up to the first zero byte, as a C string would hand them over.
    std::string_view bytes = s.substr(0, s.find('\0'));
    if (encoding == kHLHashSHA1) return platform::hexLower(platform::sha1(bytes));
    if (encoding == kHLHashMD5) return platform::hexLower(platform::md5(bytes));
    return std::nullopt;
}

std::string hl_stringByHexEncodingCharBuffer(const void* buffer, size_t length) {
    return buffer ? platform::hexLower(buffer, length) : std::string();
}

std::string hl_stringBySafeEncodingBase64(std::string_view base64) {
    std::string out(base64);
    for (char& c : out) {
        if (c == '+') c = '-';
        else if (c == '/') c = '_';
        else if (c == '=') c = '*';
    }
    return out;
}

std::optional<Value> hl_numberValue(std::string_view s) {
    auto formatter = NSObject::alloc<NSNumberFormatter>()->init();
    formatter->setNumberStyle(NSNumberFormatterDecimalStyle);
    return formatter->numberFromString(s);
}

bool hl_isNumeric(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

Ref<platform::NSURL> hl_asURL(std::string_view s) { return NSURL::URLWithString(s); }

Ref<platform::NSURLRequest> hl_URLRequest(std::string_view s) { return NSURLRequest::requestWithURL(hl_asURL(s)); }

platform::NSRange hl_containingRange(std::string_view s) { return NSMakeRange(0, NSString::length(s)); }

std::string hl_stringWithBool(bool value, bool objectiveCStyle) {
    if (objectiveCStyle) return value ? "YES" : "NO";
    return value ? "true" : "false";
}

std::vector<std::string> hl_trimmedComponentsSeparatedByString(std::string_view s, std::string_view separator) {
    std::vector<std::string> parts;
    if (separator.empty()) return parts;
    for (const std::string& part : NSString::componentsSeparatedByString(s, separator)) {
        std::string trimmed = hl_stringByTrimmingWhitespace(part);
        if (!trimmed.empty()) parts.push_back(std::move(trimmed));
    }
    return parts;
}

std::string hl_stringByRemovingWhitespace(std::string_view s) {
    auto set = NSCharacterSet::whitespaceAndNewlineCharacterSet();
    return hlStringWithout(s, [&](char32_t c) { return set->characterIsMember(c); });
}

std::string hl_stringByRemovingSpaces(std::string_view s) {
    return hlStringWithout(s, [](char32_t c) { return c == U' '; });
}

std::string hl_stringByTrimmingWhitespace(std::string_view s) {
    return NSString::stringByTrimmingCharactersInSet(s, NSCharacterSet::whitespaceAndNewlineCharacterSet());
}

}  // namespace HLUtils
