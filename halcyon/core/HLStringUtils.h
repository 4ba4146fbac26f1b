// The client's string extension: free functions in the HLUtils namespace, the
// receiver first, each prefixed "hl_". The ones whose output reaches the wire
// (escaping, hashing, Base64) are exact. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NSRange.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {
class NSURL;
class NSURLRequest;
}  // namespace platform

namespace HLUtils {

// The hashing selector of hl_stringByHashingStringUsingEncoding.
inline constexpr int kHLHashMD5 = 0;
inline constexpr int kHLHashSHA1 = 1;

// True for a string of at least one character (a Value: only a String kind).
bool hl_isValidString(std::string_view s);
bool hl_isValidString(const Value& v);
bool hl_isValidString(const std::optional<std::string>& s);
bool hl_containsSubstring(std::string_view s, std::string_view substring);
bool hl_containsSubstringIgnoringCase(std::string_view s, std::string_view substring);
bool hl_isEqualToStringIgnoringCase(std::string_view s, std::string_view other);

// Percent-encoding of the UTF-8 bytes that also escapes !*'();:@&=+$/?%#[]
// (a "," stays): the form of query keys and values, and of every value the
// client puts into a URL.
std::string hl_stringByURLEncodingString(std::string_view s);
// The standard escaping: "%" and every character not allowed in a URL,
// reserved characters kept.
std::string hl_stringByAddingPercentEscapesUsingUTF8Encoding(std::string_view s);
// For each entry (in dictionary order) whose key and value are strings and
// whose key occurs, every occurrence is replaced in the current text.
// Options: NSCaseInsensitiveSearch or 0 (literal).
std::string hl_stringByReplacingOccurrencesOfStringsInDictionary(std::string_view s, const Value& dictionary,
                                                                 unsigned long options = 0);

// Lower-case hex digest of the UTF-8 bytes up to the first zero byte:
// kHLHashSHA1 (40 digits) or kHLHashMD5 (32); nullopt for another selector;
// "" for an empty receiver.
std::optional<std::string> hl_stringByHashingStringUsingEncoding(std::string_view s, int encoding);
std::string hl_stringByHexEncodingCharBuffer(const void* buffer, size_t length);
// Base64 text made URL-safe: "+" → "-", "/" → "_", "=" → "*".
std::string hl_stringBySafeEncodingBase64(std::string_view base64);

// The number a decimal formatter reads (the whole text), or nullopt.
std::optional<Value> hl_numberValue(std::string_view s);
// No character outside 0-9 ("" is numeric).
bool hl_isNumeric(std::string_view s);
Ref<platform::NSURL> hl_asURL(std::string_view s);
Ref<platform::NSURLRequest> hl_URLRequest(std::string_view s);
// From 0 over the whole length (UTF-16 units).
platform::NSRange hl_containingRange(std::string_view s);
// "YES"/"NO" when objectiveCStyle, else "true"/"false".
std::string hl_stringWithBool(bool value, bool objectiveCStyle);
// Split, each part trimmed of white space and line ends, empty parts left
// out; an empty separator gives no parts.
std::vector<std::string> hl_trimmedComponentsSeparatedByString(std::string_view s, std::string_view separator);
std::string hl_stringByRemovingWhitespace(std::string_view s);
std::string hl_stringByRemovingSpaces(std::string_view s);
std::string hl_stringByTrimmingWhitespace(std::string_view s);

}  // namespace HLUtils
