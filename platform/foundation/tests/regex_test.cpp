#include <gtest/gtest.h>

#include "platform/foundation/LogCapture.h"
#include "platform/foundation/NSRegularExpression.h"

namespace {

Ref<NSRegularExpression> compile(const std::string& pattern, unsigned long options = 0) {
    Ref<NSError> error;
    auto re = NSRegularExpression::regularExpressionWithPattern(pattern, options, &error);
    EXPECT_TRUE(re) << pattern;
    EXPECT_FALSE(error);
    return re;
}

NSRange all(const std::string& s) { return NSMakeRange(0, s.size()); }

TEST(NSRegularExpression, MacroPatternMatchesWithGroups) {
    auto re = compile(R"(%?\{([A-Za-z0-9_])*\})");
    const std::string s = "http://x/?a={ad_id}&b=%{user}";
    const auto matches = re->matchesInString(s, 0, all(s));
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0]->range(), NSMakeRange(12, 7));
    EXPECT_EQ(matches[1]->range(), NSMakeRange(22, 7));
    EXPECT_EQ(re->numberOfCaptureGroups(), 1u);
    EXPECT_EQ(matches[0]->numberOfRanges(), 2u);
    EXPECT_EQ(matches[0]->rangeAtIndex(1), NSMakeRange(17, 1));  // the last repetition
    EXPECT_EQ(matches[0]->rangeAtIndex(5).location, NSNotFound);
    EXPECT_EQ(re->numberOfMatchesInString(s, 0, all(s)), 2u);
}

TEST(NSRegularExpression, FirstMatchRangesAndOptions) {
    auto re = compile("id(.+)");
    const std::string s = "\xC3\xA9 id42";
    auto m = re->firstMatchInString(s, 0, all(s));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->range(), NSMakeRange(3, 4));  // byte offsets
    EXPECT_EQ(m->rangeAtIndex(1), NSMakeRange(5, 2));
    EXPECT_FALSE(re->firstMatchInString("nothing", 0, NSMakeRange(0, 7)));
    // The range bounds the search and acts as the text's ends.
    auto anchored = compile("^b");
    EXPECT_TRUE(anchored->firstMatchInString("ab", 0, NSMakeRange(1, 1)));
    EXPECT_FALSE(compile("b")->firstMatchInString("abc", 0, NSMakeRange(0, 1)));
    EXPECT_FALSE(compile("b")->firstMatchInString("abc", 0, NSMakeRange(50, 10)));  // clamped, nothing left
    auto ci = compile("hello", NSRegularExpressionCaseInsensitive);
    EXPECT_TRUE(ci->firstMatchInString("Say HELLO", 0, NSMakeRange(0, 9)));
    // Empty matches advance instead of looping.
    EXPECT_EQ(compile("x*")->numberOfMatchesInString("ab", 0, NSMakeRange(0, 2)), 3u);
}

TEST(NSRegularExpression, TemplateReplacement) {
    auto re = compile(R"((\w+)@(\w+))");
    const std::string s = "mail a@b and c@d!";
    EXPECT_EQ(re->stringByReplacingMatchesInString(s, 0, all(s), "$2 at $1"), "mail b at a and d at c!");
    EXPECT_EQ(re->stringByReplacingMatchesInString(s, 0, all(s), "[$0] \\$1 $9"), "mail [a@b] $1  and [c@d] $1 !");
    EXPECT_EQ(re->stringByReplacingMatchesInString(s, 0, NSMakeRange(0, 10), "X"), "mail X and c@d!");
    EXPECT_EQ(re->stringByReplacingMatchesInString("none", 0, NSMakeRange(0, 4), "X"), "none");
}

TEST(NSRegularExpression, BadPatternGivesNullAndError) {
    for (const char* bad : {"(", "[a-", "a{2,1}", "*a", "(?<", "\\"}) {
        Ref<NSError> error;
        EXPECT_FALSE(NSRegularExpression::regularExpressionWithPattern(bad, 0, &error)) << bad;
        ASSERT_TRUE(error) << bad;
        EXPECT_EQ(error->domain(), "NSCocoaErrorDomain");
        EXPECT_EQ(error->code(), 2048);
        EXPECT_EQ(*error->userInfo()["NSInvalidValue"].string(), bad);
    }
    EXPECT_FALSE(NSRegularExpression::regularExpressionWithPattern("(", 0, nullptr));
}

TEST(NSRegularExpression, LongSubjectsDoNotExhaustTheStack) {
    // The standard matcher recurses per character; these would overflow an
    // ordinary stack without the dedicated matching thread.
    const std::string s(100000, 'a');
    EXPECT_FALSE(compile("^(a|b)*c")->firstMatchInString(s, 0, all(s)));
    auto m = compile(".*")->firstMatchInString(s, 0, all(s));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->range().length, s.size());
}

TEST(NSRegularExpression, OversizedSubjectIsRefusedAndLogged) {
    platform::testing::LogCapture capture(false);
    const std::string s(NSRegularExpression::kMaximumSubjectLength + 1, 'a');
    EXPECT_FALSE(compile("a")->firstMatchInString(s, 0, all(s)));
    EXPECT_TRUE(capture.contains("not searched"));
    // A range inside a big string is fine.
    EXPECT_TRUE(compile("a")->firstMatchInString(s, 0, NSMakeRange(10, 5)));
}

}  // namespace
