#include "platform/foundation/NSNumberFormatter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/foundation/NSString.h"

namespace platform {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number as digits and the position of the decimal point within
// them: value = 0.D × 10^point (digits "1234", point 2 → 12.34).
struct Decimal {
    bool negative = false;
    std::string digits;  // no leading zeros, may be empty for zero
    int64_t point = 0;
};

Decimal fromValue(const Value& v) {
    Decimal d;
    if (v.isDouble()) {
        const double x = v.doubleValue();
        d.negative = std::signbit(x);
        char buf[64];
        // Shortest round-trip digits, so 2.675 rounds as the decimal 2.675.
        const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific);
        const std::string_view s(buf, static_cast<size_t>(res.ptr - buf));
        const size_t e = s.find('e');
        for (char c : s.substr(0, e))
            if (isDigit(c)) d.digits += c;
        d.point = std::stoll(std::string(s.substr(e + 1))) + 1;
    } else {
        const int64_t i = v.integerValue();
        d.negative = i < 0;
        // Magnitude as unsigned so INT64_MIN has one.
        const uint64_t m = i < 0 ? 0 - static_cast<uint64_t>(i) : static_cast<uint64_t>(i);
        d.digits = std::to_string(m);
        d.point = static_cast<int64_t>(d.digits.size());
    }
    const size_t nz = d.digits.find_first_not_of('0');
    if (nz == std::string::npos) {
        d.digits.clear();
        d.point = 0;
    } else if (nz > 0) {
        d.digits.erase(0, nz);
        d.point -= static_cast<int64_t>(nz);
    }
    return d;
}

// Rounds half-even to `fraction` digits after the point.
void roundHalfEven(Decimal& d, int64_t fraction) {
    const int64_t keep = d.point + fraction;  // digits that stay
    if (keep >= static_cast<int64_t>(d.digits.size())) return;
    if (keep < 0) {
        d.digits.clear();
        return;
    }
    const auto k = static_cast<size_t>(keep);
    const char decider = d.digits[k];
    const bool restNonZero = d.digits.find_first_not_of('0', k + 1) != std::string::npos;
    const bool previousOdd = k > 0 && ((d.digits[k - 1] - '0') % 2 == 1);
    const bool up = decider > '5' || (decider == '5' && (restNonZero || previousOdd));
    d.digits.resize(k);
    if (up) {
        size_t i = k;
        while (i > 0 && d.digits[i - 1] == '9') d.digits[--i] = '0';
        if (i == 0) {
            d.digits.insert(d.digits.begin(), '1');
            d.point += 1;
        } else {
            d.digits[i - 1] = static_cast<char>(d.digits[i - 1] + 1);
        }
    }
    const size_t last = d.digits.find_last_not_of('0');
    d.digits.resize(last == std::string::npos ? 0 : last + 1);
    if (d.digits.empty()) d.point = 0;
}

std::string group(const std::string& integer) {
    std::string out;
    const size_t n = integer.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out += ',';
        out += integer[i];
    }
    return out;
}

}  // namespace

void NSNumberFormatter::setNumberStyle(NSNumberFormatterStyle style) {
    std::lock_guard lock(mutex_);
    style_ = style;
    switch (style) {
    case NSNumberFormatterDecimalStyle: minFraction_ = 0, maxFraction_ = 3, grouping_ = true; break;
    case NSNumberFormatterCurrencyStyle: minFraction_ = 2, maxFraction_ = 2, grouping_ = true; break;
    case NSNumberFormatterPercentStyle: minFraction_ = 0, maxFraction_ = 0, grouping_ = true; break;
    default: minFraction_ = 0, maxFraction_ = 0, grouping_ = false; break;
    }
}

NSNumberFormatterStyle NSNumberFormatter::numberStyle() const {
    std::lock_guard lock(mutex_);
    return style_;
}

void NSNumberFormatter::setMaximumFractionDigits(uint64_t digits) {
    std::lock_guard lock(mutex_);
    maxFraction_ = std::min<uint64_t>(digits, 340);
    minFraction_ = std::min(minFraction_, maxFraction_);
}

uint64_t NSNumberFormatter::maximumFractionDigits() const {
    std::lock_guard lock(mutex_);
    return maxFraction_;
}

void NSNumberFormatter::setMinimumFractionDigits(uint64_t digits) {
    std::lock_guard lock(mutex_);
    minFraction_ = std::min<uint64_t>(digits, 340);
    maxFraction_ = std::max(minFraction_, maxFraction_);
}

uint64_t NSNumberFormatter::minimumFractionDigits() const {
    std::lock_guard lock(mutex_);
    return minFraction_;
}

void NSNumberFormatter::setUsesGroupingSeparator(bool uses) {
    std::lock_guard lock(mutex_);
    grouping_ = uses;
}

bool NSNumberFormatter::usesGroupingSeparator() const {
    std::lock_guard lock(mutex_);
    return grouping_;
}

void NSNumberFormatter::setLocale(Ref<NSLocale> locale) {
    std::lock_guard lock(mutex_);
    locale_ = std::move(locale);
}

Ref<NSLocale> NSNumberFormatter::locale() const {
    std::lock_guard lock(mutex_);
    return locale_ ? locale_ : NSLocale::currentLocale();
}

std::optional<Value> NSNumberFormatter::numberFromString(std::string_view text) const {
    size_t b = 0;
    size_t e = text.size();
    while (b < e && isSpace(text[b])) ++b;
    while (e > b && isSpace(text[e - 1])) --e;
    const std::string_view s = text.substr(b, e - b);
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    bool integral = true;
    if (i < s.size() && s[i] == '.') {
        integral = false;
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        integral = false;
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t exponentDigits = 0;
        while (i < s.size() && isDigit(s[i])) ++i, ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    if (integral) {
        const std::string_view body = s[0] == '+' ? s.substr(1) : s;
        int64_t v = 0;
        const auto res = std::from_chars(body.data(), body.data() + body.size(), v);
        if (res.ec == std::errc() && res.ptr == body.data() + body.size()) return Value(v);
    }
    const double d = NSString::doubleValue(s);
    if (!std::isfinite(d)) return std::nullopt;
    return Value(d);
}

std::optional<std::string> NSNumberFormatter::stringFromNumber(const Value& number) const {
    if (!number.isNumber()) return std::nullopt;
    NSNumberFormatterStyle style;
    uint64_t maxFraction, minFraction;
    bool grouping;
    {
        std::lock_guard lock(mutex_);
        style = style_, maxFraction = maxFraction_, minFraction = minFraction_, grouping = grouping_;
    }
    const std::string prefix = style == NSNumberFormatterCurrencyStyle ? "$" : "";
    const std::string suffix = style == NSNumberFormatterPercentStyle ? "%" : "";
    if (number.isDouble() && !std::isfinite(number.doubleValue())) {
        const double x = number.doubleValue();
        if (std::isnan(x)) return "NaN";
        return (x < 0 ? "-" : "") + prefix + "\u221e" + suffix;
    }
    Decimal d = fromValue(number);
    if (style == NSNumberFormatterPercentStyle && !d.digits.empty()) d.point += 2;
    roundHalfEven(d, static_cast<int64_t>(maxFraction));

    std::string integer;
    std::string fraction;
    const auto n = static_cast<int64_t>(d.digits.size());
    if (d.point <= 0) {
        integer = "0";
        fraction = std::string(static_cast<size_t>(-d.point), '0') + d.digits;
    } else if (d.point >= n) {
        integer = d.digits + std::string(static_cast<size_t>(d.point - n), '0');
    } else {
        integer = d.digits.substr(0, static_cast<size_t>(d.point));
        fraction = d.digits.substr(static_cast<size_t>(d.point));
    }
    if (d.digits.empty()) integer = "0", fraction.clear();
    if (fraction.size() < minFraction) fraction.append(minFraction - fraction.size(), '0');
    if (grouping) integer = group(integer);

    std::string out = (d.negative && !d.digits.empty()) ? "-" : "";
    out += prefix + integer;
    if (!fraction.empty()) out += "." + fraction;
    return out + suffix;
}

}  // namespace platform
