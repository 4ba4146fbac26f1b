#include "halcyon/core/HLColorUtils.h"

#include <algorithm>

#include "halcyon/core/HLStringUtils.h"
#include "platform/foundation/NSString.h"

namespace HLUtils {

CGFloat hl_colorComponentFrom(std::string_view hex, size_t start, size_t length) {
    std::string digits(hex.substr(std::min(start, hex.size()), length));
    if (digits.size() == 1) digits += digits;
    unsigned value = 0;
    // A hex scan: it stops at the first character that is not a hex digit.
    for (char c : digits) {
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else break;
        value = value * 16 + digit;
    }
    return static_cast<CGFloat>(value) / 255.0f;
}

Ref<UIColor> hl_colorWithHexString(std::string_view hex) {
    std::string text = NSString::uppercaseString(NSString::stringByReplacingOccurrencesOfString(hex, "#", ""));
    CGFloat a = 1, r, g, b;
    switch (text.size()) {
        case 3:
            r = hl_colorComponentFrom(text, 0, 1), g = hl_colorComponentFrom(text, 1, 1), b = hl_colorComponentFrom(text, 2, 1);
            break;
        case 4:
            a = hl_colorComponentFrom(text, 0, 1), r = hl_colorComponentFrom(text, 1, 1);
            g = hl_colorComponentFrom(text, 2, 1), b = hl_colorComponentFrom(text, 3, 1);
            break;
        case 6:
            r = hl_colorComponentFrom(text, 0, 2), g = hl_colorComponentFrom(text, 2, 2), b = hl_colorComponentFrom(text, 4, 2);
            break;
        case 8:
            a = hl_colorComponentFrom(text, 0, 2), r = hl_colorComponentFrom(text, 2, 2);
            g = hl_colorComponentFrom(text, 4, 2), b = hl_colorComponentFrom(text, 6, 2);
            break;
        default: return UIColor::whiteColor();
    }
    return UIColor::colorWithRed(r, g, b, a);
}

Ref<UIColor> hl_colorWithRGBTemplateString(std::string_view text) {
    auto parts = NSString::componentsSeparatedByString(text, ",");
    if (parts.size() < 3) return nullptr;
    auto after = [](const std::string& s, char c) {
        size_t at = s.find(c);
        return at == std::string::npos ? s : s.substr(at + 1);
    };
    auto before = [](const std::string& s, char c) { return s.substr(0, s.find(c)); };
    CGFloat r = NSString::floatValue(hl_stringByTrimmingWhitespace(after(parts[0], '('))) / 255.0f;
    CGFloat g = NSString::floatValue(hl_stringByTrimmingWhitespace(parts[1])) / 255.0f;
    CGFloat b = NSString::floatValue(hl_stringByTrimmingWhitespace(before(parts[2], ')'))) / 255.0f;
    CGFloat a = parts.size() > 3 ? NSString::floatValue(hl_stringByTrimmingWhitespace(parts[3])) : 1.0f;
    return UIColor::colorWithRed(r, g, b, a);
}

namespace {
Ref<UIColor> hlShiftedColor(const Ref<UIColor>& color, CGFloat delta) {
    if (!color) return nullptr;
    CGFloat r, g, b, a;
    if (!color->getRed(&r, &g, &b, &a)) return nullptr;
    auto shift = [delta](CGFloat c) { return std::clamp(c + delta, 0.0f, 1.0f); };
    return UIColor::colorWithRed(shift(r), shift(g), shift(b), a);
}
}  // namespace

Ref<UIColor> hl_lighterColorForColor(const Ref<UIColor>& color) { return hlShiftedColor(color, 0.2f); }
Ref<UIColor> hl_darkerColorForColor(const Ref<UIColor>& color) { return hlShiftedColor(color, -0.2f); }

const std::vector<std::string>& hl_stockColorSelectors() {
    static const std::vector<std::string> names = {
        "blackColor", "darkGrayColor", "lightGrayColor", "whiteColor", "redColor",    "greenColor",  "blueColor",
        "cyanColor",  "yellowColor",   "magentaColor",   "orangeColor", "purpleColor", "brownColor", "clearColor"};
    return names;
}

}  // namespace HLUtils
