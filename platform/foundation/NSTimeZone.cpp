#include "platform/foundation/NSTimeZone.h"

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "platform/foundation/DeviceLocale.h"
#include "platform/foundation/NSData.h"
#include "platform/runtime/Log.h"

namespace platform {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    using namespace std::chrono;
    return sys_days{year{static_cast<int>(y)} / month{m} / day{d}}.time_since_epoch().count();
}

// A POSIX TZ rule ("EST5EDT,M3.2.0,M11.1.0"), the part of a zone file that
// covers times after its last listed transition.
struct PosixRule {
    struct When {
        unsigned month = 0, week = 0, weekday = 0;  // Mm.w.d
        int64_t time = 7200;                         // local seconds after midnight
    };
    int64_t stdOffset = 0;  // seconds east of UTC
    int64_t dstOffset = 0;
    bool hasDst = false;
    When start, end;

    // UTC instant of a rule's moment in `year`, given the offset in force before it.
    static int64_t instant(int64_t year, const When& w, int64_t offsetBefore) {
        const int64_t first = daysFromCivil(year, w.month, 1);
        // 1970-01-01 was a Thursday (weekday 4).
        const int64_t firstWeekday = ((first % 7) + 7 + 4) % 7;
        int64_t day = first + (static_cast<int64_t>(w.weekday) - firstWeekday + 7) % 7 + 7 * (static_cast<int64_t>(w.week) - 1);
        if (w.week == 5) {
            const unsigned nextMonth = w.month == 12 ? 1 : w.month + 1;
            const int64_t limit = daysFromCivil(w.month == 12 ? year + 1 : year, nextMonth, 1);
            while (day >= limit) day -= 7;
        }
        return day * 86400 + w.time - offsetBefore;
    }

    int64_t offsetAt(int64_t t) const {
        if (!hasDst) return stdOffset;
        const auto days = static_cast<int64_t>(std::floor(static_cast<double>(t) / 86400.0));
        const int64_t year = static_cast<int>(std::chrono::year_month_day{std::chrono::sys_days{std::chrono::days{days}}}.year());
        const int64_t begin = instant(year, start, stdOffset);
        const int64_t finish = instant(year, end, dstOffset);
        const bool inDst = begin < finish ? (t >= begin && t < finish) : (t >= begin || t < finish);
        return inDst ? dstOffset : stdOffset;
    }
};

class PosixParser {
public:
    explicit PosixParser(std::string_view s) : s_(s) {}

    std::optional<PosixRule> parse() {
        PosixRule r;
        if (!name()) return std::nullopt;
        const auto stdOff = offset();
        if (!stdOff) return std::nullopt;
        r.stdOffset = -*stdOff;  // POSIX offsets count west of UTC
        if (i_ == s_.size()) return r;
        if (!name()) return std::nullopt;
        r.hasDst = true;
        r.dstOffset = r.stdOffset + 3600;
        if (i_ < s_.size() && s_[i_] != ',') {
            const auto dstOff = offset();
            if (!dstOff) return std::nullopt;
            r.dstOffset = -*dstOff;
        }
        if (i_ >= s_.size() || s_[i_] != ',') return std::nullopt;
        ++i_;
        if (!when(r.start)) return std::nullopt;
        if (i_ >= s_.size() || s_[i_] != ',') return std::nullopt;
        ++i_;
        if (!when(r.end)) return std::nullopt;
        return i_ == s_.size() ? std::optional(r) : std::nullopt;
    }

private:
    bool name() {
        if (i_ < s_.size() && s_[i_] == '<') {
            const size_t close = s_.find('>', i_);
            if (close == std::string_view::npos) return false;
            i_ = close + 1;
            return true;
        }
        const size_t begin = i_;
        while (i_ < s_.size() && ((s_[i_] >= 'A' && s_[i_] <= 'Z') || (s_[i_] >= 'a' && s_[i_] <= 'z'))) ++i_;
        return i_ - begin >= 3;
    }
    std::optional<int64_t> number() {
        const size_t begin = i_;
        int64_t v = 0;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9' && i_ - begin < 4) v = v * 10 + (s_[i_++] - '0');
        if (i_ == begin) return std::nullopt;
        return v;
    }
    // [+-]hh[:mm[:ss]] in seconds.
    std::optional<int64_t> offset() {
        int64_t sign = 1;
        if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) sign = s_[i_++] == '-' ? -1 : 1;
        const auto h = number();
        if (!h) return std::nullopt;
        int64_t total = *h * 3600;
        for (int64_t unit : {60, 1}) {
            if (i_ < s_.size() && s_[i_] == ':') {
                ++i_;
                const auto v = number();
                if (!v) return std::nullopt;
                total += *v * unit;
            }
        }
        return sign * total;
    }
    bool when(PosixRule::When& w) {
        if (i_ >= s_.size() || s_[i_] != 'M') return false;  // only the month/week/day form is used by the database
        ++i_;
        const auto m = number();
        if (!m || i_ >= s_.size() || s_[i_++] != '.') return false;
        const auto wk = number();
        if (!wk || i_ >= s_.size() || s_[i_++] != '.') return false;
        const auto d = number();
        if (!d || *m < 1 || *m > 12 || *wk < 1 || *wk > 5 || *d > 6) return false;
        w.month = static_cast<unsigned>(*m);
        w.week = static_cast<unsigned>(*wk);
        w.weekday = static_cast<unsigned>(*d);
        if (i_ < s_.size() && s_[i_] == '/') {
            ++i_;
            const auto t = offset();
            if (!t) return false;
            w.time = *t;
        }
        return true;
    }
    std::string_view s_;
    size_t i_ = 0;
};

}  // namespace

struct NSTimeZone::Rules {
    std::vector<int64_t> transitions;      // UTC seconds, ascending
    std::vector<uint8_t> transitionTypes;  // index into offsets
    std::vector<int64_t> offsets;
    std::vector<bool> isDst;
    std::optional<PosixRule> footer;

    int64_t offsetAt(int64_t t) const {
        if (transitions.empty() || t < transitions.front()) {
            if (footer && transitions.empty()) return footer->offsetAt(t);
            // Before the first transition: the first standard-time type.
            for (size_t k = 0; k < offsets.size(); ++k)
                if (!isDst[k]) return offsets[k];
            return offsets.empty() ? 0 : offsets[0];
        }
        if (t >= transitions.back() && footer) return footer->offsetAt(t);
        const auto it = std::upper_bound(transitions.begin(), transitions.end(), t);
        const size_t idx = static_cast<size_t>(it - transitions.begin()) - 1;
        return offsets[transitionTypes[idx]];
    }
};

namespace {

class Reader {
public:
    explicit Reader(std::string_view b) : b_(b) {}
    bool has(size_t n) const { return pos_ + n <= b_.size(); }
    int64_t be(size_t n) {
        uint64_t v = 0;
        for (size_t k = 0; k < n; ++k) v = (v << 8) | static_cast<uint8_t>(b_[pos_ + k]);
        pos_ += n;
        if (n == 4) return static_cast<int32_t>(static_cast<uint32_t>(v));
        return static_cast<int64_t>(v);
    }
    void skip(size_t n) { pos_ += n; }
    size_t pos() const { return pos_; }
    std::string_view rest() const { return b_.substr(std::min(pos_, b_.size())); }

private:
    std::string_view b_;
    size_t pos_ = 0;
};

// Parses a TZif file (versions 1–4); the 64-bit block when there is one.
std::shared_ptr<NSTimeZone::Rules> parseTzif(std::string_view bytes) {
    Reader r(bytes);
    auto header = [&](int64_t counts[6]) -> bool {
        if (!r.has(44) || bytes.substr(r.pos(), 4) != "TZif") return false;
        r.skip(20);
        for (int k = 0; k < 6; ++k) counts[k] = r.be(4);
        for (int k = 0; k < 6; ++k)
            if (counts[k] < 0 || counts[k] > 100000) return false;
        return true;
    };
    int64_t c[6];  // isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt
    if (!header(c)) return nullptr;
    const char version = bytes[4];
    size_t timeSize = 4;
    if (version >= '2') {
        const size_t v1 = static_cast<size_t>(c[3] * 5 + c[4] * 6 + c[5] + c[2] * 8 + c[1] + c[0]);
        if (!r.has(v1)) return nullptr;
        r.skip(v1);
        if (!header(c)) return nullptr;
        timeSize = 8;
    }
    const auto timecnt = static_cast<size_t>(c[3]);
    const auto typecnt = static_cast<size_t>(c[4]);
    if (typecnt == 0) return nullptr;
    const size_t need = timecnt * (timeSize + 1) + typecnt * 6 + static_cast<size_t>(c[5]) +
                        static_cast<size_t>(c[2]) * (timeSize + 4) + static_cast<size_t>(c[1] + c[0]);
    if (!r.has(need)) return nullptr;
    auto rules = std::make_shared<NSTimeZone::Rules>();
    for (size_t k = 0; k < timecnt; ++k) rules->transitions.push_back(r.be(timeSize));
    for (size_t k = 0; k < timecnt; ++k) {
        const auto type = static_cast<uint8_t>(r.be(1));
        if (type >= typecnt) return nullptr;
        rules->transitionTypes.push_back(type);
    }
    for (size_t k = 0; k < typecnt; ++k) {
        rules->offsets.push_back(r.be(4));
        rules->isDst.push_back(r.be(1) != 0);
        r.skip(1);
    }
    r.skip(static_cast<size_t>(c[5]) + static_cast<size_t>(c[2]) * (timeSize + 4) + static_cast<size_t>(c[1] + c[0]));
    if (!std::is_sorted(rules->transitions.begin(), rules->transitions.end())) return nullptr;
    if (timeSize == 8) {
        const std::string_view rest = r.rest();
        if (rest.size() >= 2 && rest[0] == '\n') {
            const size_t end = rest.find('\n', 1);
            if (end != std::string_view::npos && end > 1) rules->footer = PosixParser(rest.substr(1, end - 1)).parse();
        }
    }
    return rules;
}

// "UTC", "GMT", "GMT+5:30", "UTC-08:00", "GMT+0530": the fixed offset in seconds.
std::optional<int64_t> fixedOffset(std::string_view name) {
    if (name == "UTC" || name == "GMT" || name == "Z") return 0;
    if (name.size() < 4 || !(name.starts_with("GMT") || name.starts_with("UTC"))) return std::nullopt;
    std::string_view rest = name.substr(3);
    const int64_t sign = rest[0] == '-' ? -1 : (rest[0] == '+' ? 1 : 0);
    if (!sign) return std::nullopt;
    rest.remove_prefix(1);
    std::string digits;
    size_t colon = std::string_view::npos;
    for (size_t k = 0; k < rest.size(); ++k) {
        if (rest[k] == ':' && colon == std::string_view::npos) colon = digits.size();
        else if (rest[k] >= '0' && rest[k] <= '9') digits += rest[k];
        else return std::nullopt;
    }
    if (digits.empty() || digits.size() > 4) return std::nullopt;
    int64_t h, m = 0;
    if (colon != std::string_view::npos) {
        if (colon == 0 || digits.size() - colon != 2) return std::nullopt;
        h = std::stoll(digits.substr(0, colon));
        m = std::stoll(digits.substr(colon));
    } else if (digits.size() <= 2) {
        h = std::stoll(digits);
    } else {
        h = std::stoll(digits.substr(0, digits.size() - 2));
        m = std::stoll(digits.substr(digits.size() - 2));
    }
    if (h > 18 || m > 59) return std::nullopt;
    return sign * (h * 3600 + m * 60);
}

bool plausibleZoneName(std::string_view name) {
    if (name.empty() || name.size() > 128 || name.front() == '/' || name.find("..") != std::string_view::npos) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '_' ||
               c == '-' || c == '+';
    });
}

// Parsed zone files are kept: the device zone is asked for on every log line.
struct ZoneCache {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const NSTimeZone::Rules>, std::less<>> rules;
    std::set<std::string> reportedUnknown;
};
ZoneCache& zoneCache() {
    static auto* cache = new ZoneCache;  // never destroyed: threads may log during exit
    return *cache;
}

}  // namespace

Ref<NSTimeZone> NSTimeZone::timeZoneWithName(std::string_view name) {
    if (const auto fixed = fixedOffset(name)) {
        auto tz = alloc<NSTimeZone>();
        tz->name_ = std::string(name);
        tz->fixedOffset_ = *fixed;
        return tz;
    }
    if (!plausibleZoneName(name)) return nullptr;
    ZoneCache& cache = zoneCache();
    std::shared_ptr<const Rules> rules;
    {
        std::lock_guard lock(cache.mutex);
        if (auto it = cache.rules.find(name); it != cache.rules.end()) rules = it->second;
    }
    if (!rules) {
        for (const char* dir : {"/usr/share/zoneinfo/", "/usr/lib/zoneinfo/"}) {
            const auto bytes = NSData::dataWithContentsOfFile(dir + std::string(name));
            if (!bytes) continue;
            rules = parseTzif(bytes->stringView());
            if (rules) break;
        }
        if (!rules) return nullptr;
        std::lock_guard lock(cache.mutex);
        cache.rules.emplace(std::string(name), rules);
    }
    auto tz = alloc<NSTimeZone>();
    tz->name_ = std::string(name);
    tz->rules_ = std::move(rules);
    return tz;
}

Ref<NSTimeZone> NSTimeZone::timeZoneWithAbbreviation(std::string_view abbreviation) {
    return fixedOffset(abbreviation) ? timeZoneWithName(abbreviation) : nullptr;
}

Ref<NSTimeZone> NSTimeZone::timeZoneForSecondsFromGMT(int64_t seconds) {
    auto tz = alloc<NSTimeZone>();
    tz->fixedOffset_ = seconds;
    const int64_t a = seconds < 0 ? -seconds : seconds;
    char buf[32];
    std::snprintf(buf, sizeof buf, "GMT%c%02lld%02lld", seconds < 0 ? '-' : '+', static_cast<long long>(a / 3600),
                  static_cast<long long>(a / 60 % 60));
    tz->name_ = seconds == 0 ? "GMT" : buf;
    return tz;
}

Ref<NSTimeZone> NSTimeZone::localTimeZone() {
    const std::string name = deviceTimeZoneName();
    if (auto tz = timeZoneWithName(name)) return tz;
    ZoneCache& cache = zoneCache();
    bool first;
    {
        std::lock_guard lock(cache.mutex);
        first = cache.reportedUnknown.insert(name).second;
    }
    if (first) logError("NSTimeZone: unknown device time zone \"" + shortenedForLog(name) + "\", using UTC");
    return timeZoneWithName("UTC");
}

int64_t NSTimeZone::secondsFromGMT() const { return secondsFromGMTForDate(NSDate::date()); }

int64_t NSTimeZone::secondsFromGMTForDate(const NSDate& date) const {
    if (!rules_) return fixedOffset_;
    double t = date.timeIntervalSince1970();
    if (!std::isfinite(t)) t = 0;
    t = std::clamp(t, -1e11, 1e11);
    return rules_->offsetAt(static_cast<int64_t>(std::floor(t)));
}

bool NSTimeZone::isEqual(const NSObject& other) const {
    const auto* tz = dynamic_cast<const NSTimeZone*>(&other);
    return tz && tz->name_ == name_ && tz->fixedOffset_ == fixedOffset_;
}

size_t NSTimeZone::hash() const { return std::hash<std::string>{}(name_); }

}  // namespace platform
