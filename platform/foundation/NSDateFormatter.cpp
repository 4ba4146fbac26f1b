#include "platform/foundation/NSDateFormatter.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <vector>

namespace platform {

namespace {

constexpr std::array<const char*, 12> kMonths = {"January", "February", "March",     "April",   "May",      "June",
                                                 "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kWeekdays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};

struct Token {
    char letter = 0;  // 0: literal text
    int count = 0;
    std::string literal;
};

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::vector<Token> tokenize(std::string_view pattern) {
    std::vector<Token> out;
    auto literal = [&](std::string_view text) {
        if (out.empty() || out.back().letter != 0) out.push_back(Token{});
        out.back().literal += text;
    };
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '\'') {
            if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                literal("'");
                i += 2;
                continue;
            }
            // Quoted text up to the closing quote ('' inside is a quote).
            ++i;
            std::string text;
            while (i < pattern.size()) {
                if (pattern[i] == '\'') {
                    if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                        text += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += pattern[i++];
            }
            literal(text);
        } else if (isLetter(c)) {
            size_t j = i;
            while (j < pattern.size() && pattern[j] == c) ++j;
            out.push_back(Token{c, static_cast<int>(j - i), {}});
            i = j;
        } else {
            literal(std::string_view(&pattern[i], 1));
            ++i;
        }
    }
    return out;
}

std::string padded(int64_t v, int width) {
    std::string digits = std::to_string(v < 0 ? -v : v);
    if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    return v < 0 ? "-" + digits : digits;
}

std::string offsetText(int64_t offset, int count) {
    const char sign = offset < 0 ? '-' : '+';
    const int64_t a = offset < 0 ? -offset : offset;
    const std::string hh = padded(a / 3600, 2);
    const std::string mm = padded(a / 60 % 60, 2);
    if (count == 5) return offset == 0 ? "Z" : std::string(1, sign) + hh + ":" + mm;
    if (count == 4) return offset == 0 ? "GMT" : "GMT" + std::string(1, sign) + hh + ":" + mm;
    return std::string(1, sign) + hh + mm;
}

struct Civil {
    int64_t year;
    unsigned month, day, weekday;  // weekday 0 = Sunday
    int64_t hour, minute, second;
    double fraction;
};

Civil civilFromLocal(double local) {
    using namespace std::chrono;
    const auto whole = static_cast<int64_t>(std::floor(local));
    const int64_t dayNumber = whole >= 0 ? whole / 86400 : -((-whole + 86399) / 86400);
    const int64_t inDay = whole - dayNumber * 86400;
    const year_month_day ymd{sys_days{days{dayNumber}}};
    Civil c;
    c.year = static_cast<int>(ymd.year());
    c.month = static_cast<unsigned>(ymd.month());
    c.day = static_cast<unsigned>(ymd.day());
    c.weekday = static_cast<unsigned>(((dayNumber % 7) + 7 + 4) % 7);
    c.hour = inDay / 3600;
    c.minute = inDay / 60 % 60;
    c.second = inDay % 60;
    c.fraction = local - static_cast<double>(whole);
    return c;
}

double clampedSeconds(const NSDate& date) {
    const double t = date.timeIntervalSince1970();
    if (!std::isfinite(t)) return 0;
    return std::clamp(t, -6e10, 2.5e11);  // years ~ 0…9900: inside the calendar types' range
}

std::string render(const std::vector<Token>& tokens, const NSDate& date, const NSTimeZone& zone) {
    const double t = clampedSeconds(date);
    const int64_t offset = zone.secondsFromGMTForDate(NSDate::dateWithTimeIntervalSince1970(t));
    const Civil c = civilFromLocal(t + static_cast<double>(offset));
    std::string out;
    for (const Token& tk : tokens) {
        const int n = tk.count;
        switch (tk.letter) {
        case 0: out += tk.literal; break;
        case 'y': out += n == 2 ? padded(((c.year % 100) + 100) % 100, 2) : padded(c.year, n); break;
        case 'M':
        case 'L':
            if (n >= 4) out += kMonths[c.month - 1];
            else if (n == 3) out += std::string(kMonths[c.month - 1]).substr(0, 3);
            else out += padded(c.month, n);
            break;
        case 'd': out += padded(c.day, n); break;
        case 'E': out += n >= 4 ? std::string(kWeekdays[c.weekday]) : std::string(kWeekdays[c.weekday]).substr(0, 3); break;
        case 'a': out += c.hour < 12 ? "AM" : "PM"; break;
        case 'H': out += padded(c.hour, n); break;
        case 'k': out += padded(c.hour == 0 ? 24 : c.hour, n); break;
        case 'h': out += padded(c.hour % 12 == 0 ? 12 : c.hour % 12, n); break;
        case 'K': out += padded(c.hour % 12, n); break;
        case 'm': out += padded(c.minute, n); break;
        case 's': out += padded(c.second, n); break;
        case 'S': {
            // The fraction truncated to n digits.
            const double limit = std::pow(10.0, std::min(n, 9));
            const double scaled = std::min(std::floor(c.fraction * limit + 1e-6), limit - 1);
            out += padded(static_cast<int64_t>(scaled), std::min(n, 9));
            for (int k = 9; k < n; ++k) out += '0';
            break;
        }
        case 'Z': out += offsetText(offset, n <= 3 ? 1 : (n == 4 ? 4 : 5)); break;
        case 'z': out += offsetText(offset, 4); break;
        default: out += std::string(static_cast<size_t>(n), tk.letter); break;
        }
    }
    return out;
}

bool isNumericField(const Token& t) {
    switch (t.letter) {
    case 'y': case 'd': case 'H': case 'h': case 'k': case 'K': case 'm': case 's': case 'S': return true;
    case 'M': case 'L': return t.count <= 2;
    default: return false;
    }
}

bool equalsFolded(std::string_view text, size_t pos, std::string_view word) {
    if (pos + word.size() > text.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        char a = text[pos + i], b = word[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// Matches a full or three-letter name; returns the index or -1.
template <size_t N>
int matchName(std::string_view text, size_t& pos, const std::array<const char*, N>& names) {
    for (size_t k = 0; k < N; ++k)
        if (equalsFolded(text, pos, names[k])) return pos += std::string_view(names[k]).size(), static_cast<int>(k);
    for (size_t k = 0; k < N; ++k)
        if (equalsFolded(text, pos, std::string_view(names[k]).substr(0, 3))) return pos += 3, static_cast<int>(k);
    return -1;
}

bool readDigits(std::string_view text, size_t& pos, size_t minDigits, size_t maxDigits, int64_t& value, size_t& used) {
    used = 0;
    value = 0;
    while (pos < text.size() && used < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos++] - '0');
        ++used;
    }
    return used >= minDigits && used > 0;
}

// "Z", "GMT", "UTC", optionally "GMT"/"UTC" then ±h[h][[:]mm], or ±hh[[:]mm].
bool readOffset(std::string_view text, size_t& pos, int64_t& offset) {
    offset = 0;
    if (pos < text.size() && text[pos] == 'Z') return ++pos, true;
    bool named = false;
    if (equalsFolded(text, pos, "GMT") || equalsFolded(text, pos, "UTC")) pos += 3, named = true;
    if (pos >= text.size() || (text[pos] != '+' && text[pos] != '-')) return named;
    const int64_t sign = text[pos++] == '-' ? -1 : 1;
    int64_t h = 0, m = 0;
    size_t used = 0;
    if (!readDigits(text, pos, 1, 2, h, used)) return false;
    if (pos < text.size() && text[pos] == ':') {
        ++pos;
        if (!readDigits(text, pos, 2, 2, m, used)) return false;
    } else if (pos + 1 < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (!readDigits(text, pos, 2, 2, m, used)) return false;
    }
    if (h > 18 || m > 59) return false;
    offset = sign * (h * 3600 + m * 60);
    return true;
}

std::optional<double> parse(const std::vector<Token>& tokens, std::string_view text, const NSTimeZone& zone) {
    int64_t year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    double fraction = 0;
    bool pm = false, hasAmPm = false, twelveHour = false;
    std::optional<int64_t> offset;
    size_t pos = 0;
    for (size_t ti = 0; ti < tokens.size(); ++ti) {
        const Token& tk = tokens[ti];
        if (tk.letter == 0) {
            if (text.substr(pos, tk.literal.size()) != tk.literal) return std::nullopt;
            pos += tk.literal.size();
            continue;
        }
        if (isNumericField(tk)) {
            // Next to another number field the width is fixed; otherwise greedy.
            const bool fixed = ti + 1 < tokens.size() && isNumericField(tokens[ti + 1]);
            size_t width = static_cast<size_t>(tk.count);
            if (tk.letter == 'y' && tk.count != 2) width = std::max<size_t>(width, 4);
            int64_t v = 0;
            size_t used = 0;
            if (!readDigits(text, pos, fixed ? width : 1, fixed ? width : 10, v, used)) return std::nullopt;
            switch (tk.letter) {
            case 'y':
                if (tk.count == 2 && used == 2) {
                    // Two-digit years fall within 80 years before and 20 after now.
                    const int64_t now = civilFromLocal(clampedSeconds(NSDate::date())).year;
                    v += now / 100 * 100;
                    if (v > now + 20) v -= 100;
                    else if (v <= now - 80) v += 100;
                }
                year = v;
                break;
            case 'M': case 'L': month = v; break;
            case 'd': day = v; break;
            case 'H': hour = v; if (v > 23) return std::nullopt; break;
            case 'k': hour = v == 24 ? 0 : v; if (v < 1 || v > 24) return std::nullopt; break;
            case 'h': twelveHour = true; hour = v == 12 ? 0 : v; if (v < 1 || v > 12) return std::nullopt; break;
            case 'K': twelveHour = true; hour = v; if (v > 11) return std::nullopt; break;
            case 'm': minute = v; if (v > 59) return std::nullopt; break;
            case 's': second = v; if (v > 59) return std::nullopt; break;
            case 'S': fraction = static_cast<double>(v) / std::pow(10.0, static_cast<double>(used)); break;
            }
            continue;
        }
        switch (tk.letter) {
        case 'M':
        case 'L': {
            const int k = matchName(text, pos, kMonths);
            if (k < 0) return std::nullopt;
            month = k + 1;
            break;
        }
        case 'E':
            if (matchName(text, pos, kWeekdays) < 0) return std::nullopt;
            break;
        case 'a':
            if (equalsFolded(text, pos, "AM")) pm = false;
            else if (equalsFolded(text, pos, "PM")) pm = true;
            else return std::nullopt;
            pos += 2;
            hasAmPm = true;
            break;
        case 'Z':
        case 'z': {
            int64_t o = 0;
            if (!readOffset(text, pos, o)) return std::nullopt;
            offset = o;
            break;
        }
        default:
            // An unsupported letter stands for itself, as when formatting.
            for (int k = 0; k < tk.count; ++k, ++pos)
                if (pos >= text.size() || text[pos] != tk.letter) return std::nullopt;
        }
    }
    if (pos != text.size()) return std::nullopt;
    if (twelveHour && hasAmPm && pm) hour += 12;
    using namespace std::chrono;
    if (month < 1 || month > 12 || day < 1 || year < -9999 || year > 9999) return std::nullopt;
    const year_month_day ymd{std::chrono::year{static_cast<int>(year)}, std::chrono::month{static_cast<unsigned>(month)},
                             std::chrono::day{static_cast<unsigned>(day)}};
    if (!ymd.ok()) return std::nullopt;
    const double local = static_cast<double>(sys_days{ymd}.time_since_epoch().count()) * 86400.0 +
                         static_cast<double>(hour * 3600 + minute * 60 + second) + fraction;
    if (offset) return local - static_cast<double>(*offset);
    // Local time in the zone: take the offset at the guess, then check it once more.
    const auto offsetAt = [&](double utc) {
        return static_cast<double>(zone.secondsFromGMTForDate(NSDate::dateWithTimeIntervalSince1970(utc)));
    };
    double utc = local - offsetAt(local);
    utc = local - offsetAt(utc);
    return utc;
}

const char* stylePattern(NSDateFormatterStyle style, bool date) {
    switch (style) {
    case NSDateFormatterNoStyle: return "";
    case NSDateFormatterShortStyle: return date ? "M/d/yy" : "h:mm a";
    case NSDateFormatterMediumStyle: return date ? "MMM d, y" : "h:mm:ss a";
    case NSDateFormatterLongStyle: return date ? "MMMM d, y" : "h:mm:ss a z";
    default: return date ? "EEEE, MMMM d, y" : "h:mm:ss a zzzz";
    }
}

}  // namespace

void NSDateFormatter::setDateFormat(std::string format) {
    std::lock_guard lock(mutex_);
    format_ = std::move(format);
}

std::string NSDateFormatter::dateFormat() const {
    std::lock_guard lock(mutex_);
    return format_;
}

void NSDateFormatter::setDateStyle(NSDateFormatterStyle style) {
    std::lock_guard lock(mutex_);
    dateStyle_ = style;
    format_.clear();
}

void NSDateFormatter::setTimeStyle(NSDateFormatterStyle style) {
    std::lock_guard lock(mutex_);
    timeStyle_ = style;
    format_.clear();
}

NSDateFormatterStyle NSDateFormatter::dateStyle() const {
    std::lock_guard lock(mutex_);
    return dateStyle_;
}

NSDateFormatterStyle NSDateFormatter::timeStyle() const {
    std::lock_guard lock(mutex_);
    return timeStyle_;
}

void NSDateFormatter::setTimeZone(Ref<NSTimeZone> zone) {
    std::lock_guard lock(mutex_);
    zone_ = std::move(zone);
}

Ref<NSTimeZone> NSDateFormatter::timeZone() const { return effectiveZone(); }

void NSDateFormatter::setLocale(Ref<NSLocale> locale) {
    std::lock_guard lock(mutex_);
    locale_ = std::move(locale);
}

Ref<NSLocale> NSDateFormatter::locale() const {
    std::lock_guard lock(mutex_);
    return locale_ ? locale_ : NSLocale::currentLocale();
}

std::string NSDateFormatter::effectivePattern() const {
    std::lock_guard lock(mutex_);
    if (!format_.empty()) return format_;
    const std::string date = stylePattern(dateStyle_, true);
    const std::string time = stylePattern(timeStyle_, false);
    if (!date.empty() && !time.empty()) return date + ", " + time;
    return date + time;
}

Ref<NSTimeZone> NSDateFormatter::effectiveZone() const {
    {
        std::lock_guard lock(mutex_);
        if (zone_) return zone_;
    }
    return NSTimeZone::localTimeZone();
}

std::string NSDateFormatter::stringFromDate(const NSDate& date) const {
    return render(tokenize(effectivePattern()), date, *effectiveZone());
}

std::optional<NSDate> NSDateFormatter::dateFromString(std::string_view text) const {
    const std::string pattern = effectivePattern();
    if (pattern.empty()) return std::nullopt;
    const auto t = parse(tokenize(pattern), text, *effectiveZone());
    if (!t) return std::nullopt;
    return NSDate::dateWithTimeIntervalSince1970(*t);
}

std::string NSDateFormatter::format(const NSDate& date, std::string_view pattern, const NSTimeZone& zone) {
    return render(tokenize(pattern), date, zone);
}

}  // namespace platform
