// A URL as the platform parses it (strict: text that is no valid URL gives no
// URL), with its components, relative resolution, and the percent-escaping
// functions that build and take apart URL text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NSCharacterSet.h"
#include "platform/foundation/NSCoder.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/NSObject.h"

namespace platform {

// Archivable: a keyed archive keeps its text ("NS.relative"); text that does
// not parse as a URL unarchives as Null.
class NSURL : public NSObject, public NSCoding {
public:
    // Null for empty text, characters outside the URL set (space, control or
    // non-ASCII bytes, `"<>\^`{|}`), a "%" without two hex digits, a second "#",
    // "[" or "]" outside the host, or a port that is not a number. Relative
    // references ("a/b?c") are URLs too.
    static Ref<NSURL> URLWithString(std::string_view text);
    // Resolves `text` against `base` by RFC 3986 (a null base: as above).
    static Ref<NSURL> URLWithString(std::string_view text, const Ref<NSURL>& base);
    // "file://" + the absolute path, characters not allowed in a path escaped.
    // A relative path is taken from the current directory.
    static Ref<NSURL> fileURLWithPath(std::string_view path);

    Ref<NSURL> initWithString(std::string_view text);

    // The text exactly as given (or as resolved): no case folding, nothing added.
    const std::string& absoluteString() const { return text_; }
    // The scheme as written; "" for a relative reference.
    std::string scheme() const;
    // The host without IPv6 brackets, percent-decoded; "" when none.
    std::string host() const;
    std::optional<int> port() const;
    // Percent-decoded path, a trailing "/" dropped (except for "/" itself);
    // "" when there is none, for an opaque URL ("mailto:…") and when the
    // escapes do not decode to UTF-8.
    std::string path() const;
    // Raw text after "?" (up to "#"), nullopt when there is no "?".
    std::optional<std::string> query() const;
    // Raw text after "#", nullopt when there is no "#".
    std::optional<std::string> fragment() const;
    // Decoded last component: "" for no path, "/" for "/".
    std::string lastPathComponent() const;
    // "/a/b" → {"/", "a", "b"}; empty for no path.
    std::vector<std::string> pathComponents() const;
    // Extension of the last component ("" when none).
    std::string pathExtension() const;
    Ref<NSURL> URLByDeletingPathExtension() const;
    // Appends one component (escaped as a path segment), keeping query and fragment.
    Ref<NSURL> URLByAppendingPathComponent(std::string_view component) const;
    bool isFileURL() const;

    // Accepted and answered true; there is no backup to exclude from.
    bool setResourceValue(bool value, std::string_view key);

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

    // Same absoluteString.
    bool isEqual(const NSObject& other) const override;
    size_t hash() const override;
    std::string description() const override { return text_; }

private:
    struct Parts {
        size_t schemeEnd = 0;  // length of the scheme (0: none)
        bool hasAuthority = false;
        size_t authorityBegin = 0, authorityEnd = 0;
        size_t hostBegin = 0, hostEnd = 0;
        std::optional<int> port;
        size_t pathBegin = 0, pathEnd = 0;
        bool hasQuery = false;
        size_t queryBegin = 0, queryEnd = 0;
        bool hasFragment = false;
        size_t fragmentBegin = 0;
    };
    static std::optional<Parts> parse(std::string_view text);
    Ref<NSURL> withPath(std::string_view newRawPath) const;
    std::string_view rawPath() const;

    std::string text_;
    Parts parts_;
};

inline constexpr const char* NSURLIsExcludedFromBackupKey = "NSURLIsExcludedFromBackupKey";

// The escaping primitive: UTF-8 bytes as upper-case "%XX". Letters, digits and
// -_.!~*'();/?:@&=+$, stay unless listed in `forceEscaped`; every other byte is
// escaped unless listed in `leaveUnescaped`.
std::string addPercentEscapes(std::string_view text, std::string_view leaveUnescaped = {},
                              std::string_view forceEscaped = {});

// Decodes "%XX" sequences; nullopt for a bad sequence or a result that is not UTF-8.
std::optional<std::string> removePercentEscapes(std::string_view text);

// RFC 3986 5.2.4: the path with its "." and ".." segments taken out
// ("/a/./b/../c" → "/a/c"), in time linear in its length.
std::string removeDotSegments(std::string_view path);

namespace NSString {

// Letters, digits and -_.!~*'();/?:@&=+$, stay; everything else is escaped,
// "%", "#", "[" and "]" included. Only UTF-8 is supported (any encoding is
// taken as UTF-8).
inline std::string stringByAddingPercentEscapesUsingEncoding(std::string_view s,
                                                             unsigned long /*encoding*/ = NSUTF8StringEncoding) {
    return addPercentEscapes(s);
}
// nullopt for a "%" without two hex digits or bytes that are not UTF-8.
inline std::optional<std::string> stringByReplacingPercentEscapesUsingEncoding(
    std::string_view s, unsigned long /*encoding*/ = NSUTF8StringEncoding) {
    return removePercentEscapes(s);
}
inline std::optional<std::string> stringByRemovingPercentEncoding(std::string_view s) {
    return removePercentEscapes(s);
}
// Code points in `allowed` stay; every other UTF-8 byte (invalid ones too)
// becomes "%XX".
std::string stringByAddingPercentEncodingWithAllowedCharacters(std::string_view s, const NSCharacterSet& allowed);
inline std::string stringByAddingPercentEncodingWithAllowedCharacters(std::string_view s,
                                                                      const Ref<NSCharacterSet>& allowed) {
    return allowed ? stringByAddingPercentEncodingWithAllowedCharacters(s, *allowed) : std::string(s);
}

}  // namespace NSString

}  // namespace platform

using platform::NSURL;
using platform::NSURLIsExcludedFromBackupKey;
