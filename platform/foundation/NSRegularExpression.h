// Regular expressions (ECMAScript syntax over UTF-8 bytes) with match ranges
// as byte offsets, and template replacement with $0–$9.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSRange.h"
#include "platform/runtime/NSObject.h"

namespace platform {

enum NSRegularExpressionOptions : unsigned long {
    NSRegularExpressionCaseInsensitive = 1,
};

// Matching options are accepted for the call shape; none changes matching.
enum NSMatchingOptions : unsigned long {
    NSMatchingReportProgress = 1,
    NSMatchingReportCompletion = 2,
};

// Error code for a pattern that does not compile (NSCocoaErrorDomain).
inline constexpr int64_t NSFormattingError = 2048;

class NSTextCheckingResult : public NSObject {
public:
    NSRange range() const { return rangeAtIndex(0); }
    // {NSNotFound, 0} for a group that did not take part, or beyond the groups.
    NSRange rangeAtIndex(size_t index) const;
    size_t numberOfRanges() const { return ranges_.size(); }

private:
    friend class NSRegularExpression;
    std::vector<NSRange> ranges_;  // the whole match, then each group
};

class NSRegularExpression : public NSObject {
public:
    // Null and NSCocoaErrorDomain 2048 in *error for a pattern that does not compile.
    static Ref<NSRegularExpression> regularExpressionWithPattern(const std::string& pattern, unsigned long options,
                                                                 Ref<NSError>* error);

    const std::string& pattern() const { return pattern_; }
    unsigned long options() const { return options_; }
    size_t numberOfCaptureGroups() const;

    // `range` (byte offsets, clamped to the string) bounds the search; its
    // ends act as the ends of the text. A failure inside the matcher (input
    // too complex) is logged and reads as no match.
    Ref<NSTextCheckingResult> firstMatchInString(std::string_view s, unsigned long options, NSRange range) const;
    std::vector<Ref<NSTextCheckingResult>> matchesInString(std::string_view s, unsigned long options,
                                                           NSRange range) const;
    uint64_t numberOfMatchesInString(std::string_view s, unsigned long options, NSRange range) const;
    // "$0"–"$9" insert groups (an absent group inserts nothing); "\\$" and
    // "\\\\" insert the character itself. Text outside `range` is kept.
    std::string stringByReplacingMatchesInString(std::string_view s, unsigned long options, NSRange range,
                                                 std::string_view templ) const;

    // Subjects longer than this are not searched (logged, no match): the
    // matcher's memory grows with the subject.
    static constexpr size_t kMaximumSubjectLength = 256 * 1024;

    struct Compiled;  // opaque

private:
    std::vector<Ref<NSTextCheckingResult>> run(std::string_view s, NSRange range, size_t limit) const;
    std::string pattern_;
    unsigned long options_ = 0;
    std::shared_ptr<const Compiled> compiled_;
};

}  // namespace platform

using platform::NSFormattingError;
using platform::NSMatchingOptions;
using platform::NSRegularExpression;
using platform::NSRegularExpressionCaseInsensitive;
using platform::NSRegularExpressionOptions;
using platform::NSTextCheckingResult;
