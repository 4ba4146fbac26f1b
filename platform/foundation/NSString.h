// String operations on UTF-8 std::string with the platform's rules: UTF-16
// lengths and cuts, searching with the empty-string rules, C-locale number
// parsing, a stable hash and printf-style formatting with "%@".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/foundation/NSCharacterSet.h"
#include "platform/foundation/NSData.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSRange.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

using unichar = uint16_t;

enum : unsigned long {
    NSCaseInsensitiveSearch = 1,
    NSLiteralSearch = 2,
    NSBackwardsSearch = 4,
    NSAnchoredSearch = 8,
    NSNumericSearch = 64,
};

enum : unsigned long {
    NSASCIIStringEncoding = 1,
    NSUTF8StringEncoding = 4,
};

namespace format {

// One argument of stringWithFormat, captured with its run-time type. It only
// refers to the caller's argument, which outlives the call.
class Arg {
public:
    enum class Kind { Null, Signed, Unsigned, Floating, Text, Value, Object, Data, Date };

    Arg(std::nullptr_t) : kind_(Kind::Null) {}
    Arg(bool b) : kind_(Kind::Signed), bytes_(1) { i_ = b ? 1 : 0; }
    template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
    Arg(T v) : bytes_(sizeof(T)) {
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::Signed;
            i_ = static_cast<int64_t>(v);
        } else {
            kind_ = Kind::Unsigned;
            u_ = static_cast<uint64_t>(v);
        }
    }
    template <class T, std::enable_if_t<std::is_enum_v<T>, int> = 0>
    Arg(T v) : Arg(static_cast<std::underlying_type_t<T>>(v)) {}
    template <class T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
    Arg(T v) : kind_(Kind::Floating) { d_ = static_cast<double>(v); }
    Arg(const char* s) : kind_(s ? Kind::Text : Kind::Null), text_(s ? std::string_view(s) : std::string_view()) {}
    Arg(char* s) : Arg(static_cast<const char*>(s)) {}
    Arg(const std::string& s) : kind_(Kind::Text), text_(s) {}
    Arg(std::string_view s) : kind_(Kind::Text), text_(s) {}
    Arg(const std::optional<std::string>& s) : kind_(s ? Kind::Text : Kind::Null), text_(s ? std::string_view(*s) : std::string_view()) {}
    // Exact types only for the class types below: a converted temporary
    // would not outlive the capture.
    template <class V, std::enable_if_t<std::is_same_v<V, Value>, int> = 0>
    Arg(const V& v) : kind_(Kind::Value), value_(&v) {}
    Arg(const NSData& d) : kind_(Kind::Data), data_(&d) {}
    Arg(const NSDate& d) : kind_(Kind::Date), date_(&d) {}
    Arg(const NSObject& o) : kind_(Kind::Object), object_(&o) {}
    template <class T>
    Arg(const std::shared_ptr<T>& p) {
        const NSObject* o = nullptr;
        if constexpr (std::is_base_of_v<NSObject, T>) o = p.get();
        else o = dynamic_cast<const NSObject*>(p.get());
        kind_ = o ? Kind::Object : Kind::Null;
        object_ = o;
    }

    Kind kind() const { return kind_; }
    int64_t signedValue() const { return i_; }
    uint64_t unsignedValue() const { return u_; }
    double doubleValue() const { return d_; }
    int bytes() const { return bytes_; }  // size of an integral argument's own type
    std::string_view text() const { return text_; }
    const Value* value() const { return value_; }
    const NSObject* object() const { return object_; }
    const NSData* data() const { return data_; }
    const NSDate* date() const { return date_; }

private:
    Kind kind_ = Kind::Null;
    int bytes_ = 8;
    union {
        int64_t i_ = 0;
        uint64_t u_;
        double d_;
    };
    std::string_view text_;
    const Value* value_ = nullptr;
    const NSObject* object_ = nullptr;
    const NSData* data_ = nullptr;
    const NSDate* date_ = nullptr;
};

// Formats with the captured arguments (see NSString::stringWithFormat).
std::string formatWithArgs(std::string_view fmt, const Arg* args, size_t count);

}  // namespace format

namespace NSString {

// --- UTF-16 view -------------------------------------------------------------
// Lengths and indexes count UTF-16 units: a code point above U+FFFF counts 2;
// an invalid UTF-8 byte counts 1 and is kept.
uint64_t length(std::string_view s);
// The UTF-16 unit at `index` (U+FFFD for an invalid byte). Raises
// NSRangeException beyond the end.
unichar characterAtIndex(std::string_view s, uint64_t index);
// The first `index` UTF-16 units, cut at the last whole code point at or
// before `index` (a surrogate pair is never split); the whole string when
// `index` is at or beyond its length.
std::string substringToIndex(std::string_view s, uint64_t index);

// --- search ------------------------------------------------------------------
// An empty needle is never found; no string has the empty prefix or suffix.
bool hasPrefix(std::string_view s, std::string_view prefix);
bool hasSuffix(std::string_view s, std::string_view suffix);
bool containsString(std::string_view s, std::string_view needle);
// Byte offsets; {NSNotFound, 0} when absent. Options: NSCaseInsensitiveSearch
// (ASCII folding), NSBackwardsSearch, NSAnchoredSearch (at the start, or at the
// end when searching backwards).
NSRange rangeOfString(std::string_view s, std::string_view needle, unsigned long options = 0);

// --- pieces and changes --------------------------------------------------------
// An empty separator gives the whole string as the only component.
std::vector<std::string> componentsSeparatedByString(std::string_view s, std::string_view separator);
std::string componentsJoinedByString(const std::vector<std::string>& parts, std::string_view separator);
// Literal replacement; an empty target leaves the string unchanged.
std::string stringByReplacingOccurrencesOfString(std::string_view s, std::string_view target,
                                                 std::string_view replacement);
std::string stringByTrimmingCharactersInSet(std::string_view s, const NSCharacterSet& set);
inline std::string stringByTrimmingCharactersInSet(std::string_view s, const Ref<NSCharacterSet>& set) {
    return set ? stringByTrimmingCharactersInSet(s, *set) : std::string(s);
}
// ASCII letters only.
std::string lowercaseString(std::string_view s);
std::string uppercaseString(std::string_view s);

// --- comparison ----------------------------------------------------------------
inline bool isEqualToString(std::string_view a, std::string_view b) { return a == b; }
// Options: NSCaseInsensitiveSearch (ASCII), NSNumericSearch (digit runs compare
// as numbers: "10.0" > "9.0").
NSComparisonResult compare(std::string_view a, std::string_view b, unsigned long options = 0);
NSComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b);

// --- numbers (C locale) ----------------------------------------------------------
// Leading white space, optional sign, digits; 0 when there are none; saturates.
int32_t intValue(std::string_view s);
int64_t integerValue(std::string_view s);
inline long long longLongValue(std::string_view s) { return integerValue(s); }
// The longest decimal prefix (sign, digits, fraction, exponent); 0 when none.
double doubleValue(std::string_view s);
float floatValue(std::string_view s);
// After white space, a sign and zeros: Y, y, T, t or 1–9 → true.
bool boolValue(std::string_view s);

// FNV-1a 64-bit over the UTF-8 bytes: stable across builds and runs.
uint64_t hash(std::string_view s);

// --- encodings -------------------------------------------------------------------
bool isValidUTF8(std::string_view s);
// nullopt when the bytes are not valid in the encoding (UTF-8 or ASCII).
std::optional<std::string> initWithData(const NSData& data, unsigned long encoding = NSUTF8StringEncoding);
NSData dataUsingEncoding(std::string_view s, unsigned long encoding = NSUTF8StringEncoding);

// --- formatting --------------------------------------------------------------------
// printf-style, always in the C locale. Conversions %@ %d %i %u %x %X %o %f %e
// %g %c %s %% with flags, width, precision ('*' too) and length modifiers.
// Arguments are checked at run time: another arithmetic type is converted;
// "%@" takes Value, object references, strings, optionals, data, dates and
// numbers; a null or nullopt prints "(null)". An unknown conversion is copied
// unchanged and logged once; a missing or unusable argument is logged.
template <class... Args>
std::string stringWithFormat(std::string_view fmt, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return format::formatWithArgs(fmt, nullptr, 0);
    } else {
        const format::Arg captured[] = {format::Arg(args)...};
        return format::formatWithArgs(fmt, captured, sizeof...(Args));
    }
}

}  // namespace NSString

}  // namespace platform

namespace NSString = platform::NSString;
using platform::NSASCIIStringEncoding;
using platform::NSBackwardsSearch;
using platform::NSAnchoredSearch;
using platform::NSCaseInsensitiveSearch;
using platform::NSLiteralSearch;
using platform::NSNumericSearch;
using platform::NSUTF8StringEncoding;
using platform::unichar;
