#include "platform/foundation/NSRegularExpression.h"

#include <pthread.h>

#include <exception>
#include <functional>
#include <regex>

#include "platform/runtime/Log.h"

namespace platform {

struct NSRegularExpression::Compiled {
    std::regex regex;
};

NSRange NSTextCheckingResult::rangeAtIndex(size_t index) const {
    return index < ranges_.size() ? ranges_[index] : NSRange{NSNotFound, 0};
}

namespace {

// The standard library's matcher recurses once or more per subject character,
// so a long subject can exhaust an ordinary thread stack. Longer subjects are
// matched on a thread whose (reserved, mostly untouched) stack grows with them.
constexpr size_t kInlineSubjectLength = 2048;

void runWithStack(size_t stackBytes, const std::function<void()>& work) {
    struct Job {
        const std::function<void()>* work;
        std::exception_ptr failure;
    } job{&work, nullptr};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackBytes);
    pthread_t thread;
    const int rc = pthread_create(
        &thread, &attr,
        [](void* arg) -> void* {
            auto* j = static_cast<Job*>(arg);
            try {
                (*j->work)();
            } catch (...) {
                j->failure = std::current_exception();
            }
            return nullptr;
        },
        &job);
    pthread_attr_destroy(&attr);
    if (rc != 0) throw std::runtime_error("cannot start the matching thread");
    pthread_join(thread, nullptr);
    if (job.failure) std::rethrow_exception(job.failure);
}

NSRange clampRange(std::string_view s, NSRange range) {
    const uint64_t size = s.size();
    const uint64_t location = std::min<uint64_t>(range.location, size);
    const uint64_t length = std::min<uint64_t>(range.length, size - location);
    return {location, length};
}

}  // namespace

Ref<NSRegularExpression> NSRegularExpression::regularExpressionWithPattern(const std::string& pattern,
                                                                           unsigned long options, Ref<NSError>* error) {
    auto flags = std::regex::ECMAScript;
    if (options & NSRegularExpressionCaseInsensitive) flags |= std::regex::icase;
    auto compiled = std::make_shared<Compiled>();
    try {
        compiled->regex = std::regex(pattern, flags);
    } catch (const std::exception& e) {
        if (error)
            *error = NSError::errorWithDomain(
                NSCocoaErrorDomain, NSFormattingError,
                Value::dictionary({{"NSInvalidValue", pattern}, {"NSDebugDescription", std::string(e.what())}}));
        return nullptr;
    }
    auto re = alloc<NSRegularExpression>();
    re->pattern_ = pattern;
    re->options_ = options;
    re->compiled_ = std::move(compiled);
    return re;
}

size_t NSRegularExpression::numberOfCaptureGroups() const { return compiled_->regex.mark_count(); }

std::vector<Ref<NSTextCheckingResult>> NSRegularExpression::run(std::string_view s, NSRange range,
                                                                 size_t limit) const {
    std::vector<Ref<NSTextCheckingResult>> results;
    const NSRange r = clampRange(s, range);
    if (r.length > kMaximumSubjectLength) {
        logError("NSRegularExpression: subject of " + std::to_string(r.length) + " bytes not searched (limit " +
                 std::to_string(kMaximumSubjectLength) + ")");
        return results;
    }
    const char* begin = s.data() + r.location;
    const char* end = begin + r.length;
    auto work = [&] {
        for (auto it = std::cregex_iterator(begin, end, compiled_->regex); it != std::cregex_iterator(); ++it) {
            auto result = alloc<NSTextCheckingResult>();
            const std::cmatch& m = *it;
            for (size_t g = 0; g < m.size(); ++g) {
                if (m[g].matched)
                    result->ranges_.push_back({static_cast<uint64_t>(m[g].first - s.data()), static_cast<uint64_t>(m[g].length())});
                else
                    result->ranges_.push_back({NSNotFound, 0});
            }
            results.push_back(std::move(result));
            if (results.size() >= limit) break;
        }
    };
    try {
        if (r.length <= kInlineSubjectLength) work();
        else runWithStack((1u << 20) + r.length * 4096, work);
    } catch (const std::exception& e) {
        logError("NSRegularExpression: matching /" + pattern_ + "/ failed: " + e.what());
        results.clear();
    }
    return results;
}

Ref<NSTextCheckingResult> NSRegularExpression::firstMatchInString(std::string_view s, unsigned long,
                                                                  NSRange range) const {
    auto results = run(s, range, 1);
    return results.empty() ? nullptr : results.front();
}

std::vector<Ref<NSTextCheckingResult>> NSRegularExpression::matchesInString(std::string_view s, unsigned long,
                                                                             NSRange range) const {
    return run(s, range, SIZE_MAX);
}

uint64_t NSRegularExpression::numberOfMatchesInString(std::string_view s, unsigned long, NSRange range) const {
    return run(s, range, SIZE_MAX).size();
}

std::string NSRegularExpression::stringByReplacingMatchesInString(std::string_view s, unsigned long, NSRange range,
                                                                  std::string_view templ) const {
    const auto matches = run(s, range, SIZE_MAX);
    std::string out;
    uint64_t copied = 0;
    for (const auto& m : matches) {
        const NSRange whole = m->range();
        out.append(s.substr(copied, whole.location - copied));
        for (size_t i = 0; i < templ.size(); ++i) {
            const char c = templ[i];
            if (c == '\\' && i + 1 < templ.size()) {
                out += templ[++i];
            } else if (c == '$' && i + 1 < templ.size() && templ[i + 1] >= '0' && templ[i + 1] <= '9') {
                const NSRange g = m->rangeAtIndex(static_cast<size_t>(templ[++i] - '0'));
                if (g.location != NSNotFound) out.append(s.substr(g.location, g.length));
            } else {
                out += c;
            }
        }
        copied = NSMaxRange(whole);
    }
    out.append(s.substr(copied));
    return out;
}

}  // namespace platform
