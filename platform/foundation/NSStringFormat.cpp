// NSString::stringWithFormat: printf-style formatting checked at run time.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <set>

#include "platform/foundation/CLocale.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SaturatingCast.h"

namespace platform::format {

namespace {

// printf in the C locale whatever the process locale (a "," decimal point
// must never reach a wire or a file).
std::string cFormat(const char* spec, ...) __attribute__((format(printf, 1, 2)));
std::string cFormat(const char* spec, ...) {
    const locale_t previous = uselocale(cLocale());
    va_list args;
    va_start(args, spec);
    va_list again;
    va_copy(again, args);
    char small[256];
    const int n = std::vsnprintf(small, sizeof small, spec, args);
    std::string out;
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        out.assign(small, static_cast<size_t>(n));
    } else if (n >= 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), spec, again);
        out.resize(static_cast<size_t>(n));
    }
    va_end(again);
    va_end(args);
    uselocale(previous);
    return out;
}

// Logs a message once per distinct text, so a bad format in a loop does not flood the log.
void logOnce(const std::string& message) {
    struct Seen {
        std::mutex mutex;
        std::set<std::string> messages;
    };
    static auto* seen = new Seen;  // never destroyed: threads may format during exit
    {
        std::lock_guard lock(seen->mutex);
        if (seen->messages.size() > 1000 || !seen->messages.insert(message).second) return;
    }
    logError(message);
}

struct Spec {
    std::string flags;
    int width = -1;
    int precision = -1;
    char conversion = 0;
};

// Flags and numbers go back into a printf spec; only these characters reach it.
std::string printfSpec(const Spec& s, const char* length, char conversion) {
    std::string out = "%" + s.flags;
    if (s.width >= 0) out += std::to_string(s.width);
    if (s.precision >= 0) out += "." + std::to_string(s.precision);
    return out + length + conversion;
}

std::string describe(const Arg& a) {
    switch (a.kind()) {
    case Arg::Kind::Null: return "(null)";
    case Arg::Kind::Signed: return std::to_string(a.signedValue());
    case Arg::Kind::Unsigned: return std::to_string(a.unsignedValue());
    case Arg::Kind::Floating: return Value(a.doubleValue()).description();
    case Arg::Kind::Text: return std::string(a.text());
    case Arg::Kind::Value: return a.value()->description();
    case Arg::Kind::Object: return a.object()->description();
    case Arg::Kind::Data: return a.data()->description();
    case Arg::Kind::Date: return a.date()->description();
    }
    return "";
}

// Pads text conversions (%@, %s) to the width, by bytes; precision cuts %s.
std::string padText(std::string text, const Spec& s) {
    if (s.conversion == 's' && s.precision >= 0 && text.size() > static_cast<size_t>(s.precision))
        text.resize(static_cast<size_t>(s.precision));
    if (s.width > 0 && text.size() < static_cast<size_t>(s.width)) {
        const std::string pad(static_cast<size_t>(s.width) - text.size(), ' ');
        text = s.flags.find('-') != std::string::npos ? text + pad : pad + text;
    }
    return text;
}

// A number argument as the conversion wants it; nullopt when it is no number.
std::optional<long double> numeric(const Arg& a) {
    switch (a.kind()) {
    case Arg::Kind::Signed: return static_cast<long double>(a.signedValue());
    case Arg::Kind::Unsigned: return static_cast<long double>(a.unsignedValue());
    case Arg::Kind::Floating: return a.doubleValue();
    case Arg::Kind::Value:
        if (a.value()->isNumber()) return a.value()->isDouble() ? a.value()->doubleValue() : a.value()->integerValue();
        return std::nullopt;
    default: return std::nullopt;
    }
}

class Formatter {
public:
    Formatter(std::string_view fmt, const Arg* args, size_t count) : fmt_(fmt), args_(args), count_(count) {}

    std::string run() {
        size_t i = 0;
        while (i < fmt_.size()) {
            const size_t pct = fmt_.find('%', i);
            if (pct == std::string_view::npos) {
                out_.append(fmt_.substr(i));
                break;
            }
            out_.append(fmt_.substr(i, pct - i));
            i = conversion(pct);
        }
        return std::move(out_);
    }

private:
    const Arg* next(const Spec& s) {
        if (used_ < count_) return &args_[used_++];
        logOnce("stringWithFormat: missing argument for %" + std::string(1, s.conversion) + " in \"" +
                shortenedForLog(fmt_) + "\"");
        return nullptr;
    }

    int intArgument(const Spec& s) {
        const Arg* a = next(s);
        const auto v = a ? numeric(*a) : std::nullopt;
        return v ? saturatingCast<int>(static_cast<double>(*v)) : 0;
    }

    void wrongType(const Spec& s, const Arg& a) {
        logOnce("stringWithFormat: argument " + std::to_string(used_) + " does not fit %" +
                std::string(1, s.conversion) + " in \"" + shortenedForLog(fmt_) + "\"");
        out_ += padText(describe(a), s);
    }

    // Parses one conversion starting at fmt_[pct] == '%'; returns the index after it.
    size_t conversion(size_t pct) {
        size_t i = pct + 1;
        Spec s;
        auto at = [&](size_t k) { return k < fmt_.size() ? fmt_[k] : '\0'; };
        while (std::string_view("-+ #0").find(at(i)) != std::string_view::npos && at(i) != '\0') s.flags += fmt_[i++];
        if (at(i) == '*') {
            ++i;
            s.width = intArgument(s);
            if (s.width < 0) s.flags += '-', s.width = -s.width;
        } else {
            while (at(i) >= '0' && at(i) <= '9') s.width = std::max(s.width, 0) * 10 + (fmt_[i++] - '0'), s.width = std::min(s.width, 100000);
        }
        if (at(i) == '.') {
            ++i;
            s.precision = 0;
            if (at(i) == '*') {
                ++i;
                s.precision = intArgument(s);
                if (s.precision < 0) s.precision = -1;
            } else {
                while (at(i) >= '0' && at(i) <= '9') s.precision = std::min(s.precision * 10 + (fmt_[i++] - '0'), 100000);
            }
        }
        while (std::string_view("hlqLzjt").find(at(i)) != std::string_view::npos && at(i) != '\0') ++i;
        s.conversion = at(i);
        switch (s.conversion) {
        case '%': out_ += '%'; return i + 1;
        case '@': object(s); return i + 1;
        case 's': text(s); return i + 1;
        case 'd': case 'i': case 'D': integer(s, true); return i + 1;
        case 'u': case 'U': case 'x': case 'X': case 'o': case 'O': integer(s, false); return i + 1;
        case 'c': character(s); return i + 1;
        case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': floating(s); return i + 1;
        default:
            // Unknown: copy what was read unchanged; the offending character is
            // handled as ordinary text (or starts the next conversion).
            logOnce("stringWithFormat: unknown conversion in \"" + shortenedForLog(fmt_) + "\"");
            out_.append(fmt_.substr(pct, i - pct));
            return i;
        }
    }

    void object(const Spec& s) {
        const Arg* a = next(s);
        out_ += padText(a ? describe(*a) : "(null)", s);
    }

    void text(const Spec& s) {
        const Arg* a = next(s);
        if (!a || a->kind() == Arg::Kind::Null) {
            out_ += padText("(null)", s);
        } else if (a->kind() == Arg::Kind::Text) {
            out_ += padText(std::string(a->text()), s);
        } else if (a->kind() == Arg::Kind::Value && a->value()->isString()) {
            out_ += padText(*a->value()->string(), s);
        } else {
            wrongType(s, *a);
        }
    }

    void integer(const Spec& s, bool isSigned) {
        const Arg* a = next(s);
        if (!a) {
            out_ += cFormat(printfSpec(s, "ll", 'd').c_str(), 0LL);
            return;
        }
        const auto v = numeric(*a);
        if (!v) return wrongType(s, *a);
        char conv = s.conversion;
        if (conv == 'D') conv = 'd';
        if (conv == 'U') conv = 'u';
        if (conv == 'O') conv = 'o';
        if (isSigned) {
            long long n;
            if (a->kind() == Arg::Kind::Unsigned && a->unsignedValue() > static_cast<uint64_t>(INT64_MAX)) {
                out_ += cFormat(printfSpec(s, "ll", 'u').c_str(), static_cast<unsigned long long>(a->unsignedValue()));
                return;
            }
            if (a->kind() == Arg::Kind::Signed) n = a->signedValue();
            else if (a->kind() == Arg::Kind::Unsigned) n = static_cast<long long>(a->unsignedValue());
            else n = saturatingCast<long long>(static_cast<double>(*v));
            out_ += cFormat(printfSpec(s, "ll", conv).c_str(), n);
            return;
        }
        unsigned long long u;
        if (a->kind() == Arg::Kind::Signed) {
            // Two's complement at the argument's own width, as C would print it.
            const int64_t n = a->signedValue();
            u = static_cast<unsigned long long>(n);
            if (a->bytes() < 8) u &= (1ULL << (8 * a->bytes())) - 1;
        } else if (a->kind() == Arg::Kind::Unsigned) {
            u = a->unsignedValue();
        } else {
            const double d = static_cast<double>(*v);
            u = d < 0 ? static_cast<unsigned long long>(saturatingCast<long long>(d)) : saturatingCast<unsigned long long>(d);
        }
        out_ += cFormat(printfSpec(s, "ll", conv).c_str(), u);
    }

    void character(const Spec& s) {
        const Arg* a = next(s);
        const auto v = a ? numeric(*a) : std::nullopt;
        if (a && !v) {
            if (a->kind() == Arg::Kind::Text && a->text().size() == 1) {
                out_ += padText(std::string(a->text()), s);
                return;
            }
            return wrongType(s, *a);
        }
        const int c = v ? saturatingCast<int>(static_cast<double>(*v)) : 0;
        out_ += cFormat(printfSpec(s, "", 'c').c_str(), c);
    }

    void floating(const Spec& s) {
        const Arg* a = next(s);
        const auto v = a ? numeric(*a) : std::optional<long double>(0);
        if (!v) return wrongType(s, *a);
        out_ += cFormat(printfSpec(s, "", s.conversion).c_str(), static_cast<double>(*v));
    }

    std::string_view fmt_;
    const Arg* args_;
    size_t count_;
    size_t used_ = 0;
    std::string out_;
};

}  // namespace

std::string formatWithArgs(std::string_view fmt, const Arg* args, size_t count) {
    return Formatter(fmt, args, count).run();
}

}  // namespace platform::format
