// Sets of Unicode code points: white space for trimming, the URL component
// sets for percent encoding, and sets built from the caller's characters.
#pragma once

#include <bitset>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/runtime/NSObject.h"

namespace platform {

class NSCharacterSet : public NSObject {
public:
    // Space, tab and the Unicode space separators.
    static Ref<NSCharacterSet> whitespaceCharacterSet();
    // The above plus line feed, carriage return, vertical tab, form feed,
    // U+0085, U+2028 and U+2029.
    static Ref<NSCharacterSet> whitespaceAndNewlineCharacterSet();
    static Ref<NSCharacterSet> newlineCharacterSet();
    static Ref<NSCharacterSet> decimalDigitCharacterSet();  // 0-9
    // ASCII letters and digits. Other scripts are left out on purpose: the
    // set serves percent encoding, where escaping them is the safe side.
    static Ref<NSCharacterSet> alphanumericCharacterSet();
    // ASCII letters, digits and the characters each URL component allows.
    static Ref<NSCharacterSet> URLQueryAllowedCharacterSet();
    static Ref<NSCharacterSet> URLFragmentAllowedCharacterSet();
    static Ref<NSCharacterSet> URLPathAllowedCharacterSet();
    static Ref<NSCharacterSet> URLHostAllowedCharacterSet();
    static Ref<NSCharacterSet> URLUserAllowedCharacterSet();
    static Ref<NSCharacterSet> URLPasswordAllowedCharacterSet();
    // The code points of a UTF-8 string.
    static Ref<NSCharacterSet> characterSetWithCharactersInString(std::string_view characters);

    bool characterIsMember(char32_t c) const;
    Ref<NSCharacterSet> invertedSet() const;

    // NSMutableCharacterSet: a changeable copy, then add or remove.
    Ref<NSCharacterSet> mutableCopy() const;
    void addCharactersInString(std::string_view characters);
    void removeCharactersInString(std::string_view characters);

private:
    void addRange(char32_t first, char32_t last);
    void removeCodePoint(char32_t c);
    std::bitset<128> ascii_;
    std::vector<std::pair<char32_t, char32_t>> ranges_;  // non-ASCII members, inclusive
    bool inverted_ = false;
};

}  // namespace platform

using platform::NSCharacterSet;
