#include <gtest/gtest.h>

#include <limits>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"

namespace {

// U+1F600 (4 UTF-8 bytes, a UTF-16 surrogate pair), é (2 bytes, 1 unit), € (3 bytes, 1 unit).
const std::string kGrin = "\xF0\x9F\x98\x80";
const std::string kEacute = "\xC3\xA9";
const std::string kEuro = "\xE2\x82\xAC";

TEST(NSStringUtf16, LengthCountsUtf16Units) {
    EXPECT_EQ(NSString::length(""), 0u);
    EXPECT_EQ(NSString::length("abc"), 3u);
    EXPECT_EQ(NSString::length(kEacute + kEuro), 2u);
    EXPECT_EQ(NSString::length("a" + kGrin + "b"), 4u);
    // Invalid bytes count one unit each and are never an error.
    EXPECT_EQ(NSString::length("a\xFF\xFE" "b"), 4u);
    EXPECT_EQ(NSString::length("\xE2\x82"), 2u);          // truncated sequence
    EXPECT_EQ(NSString::length("\xC0\xAF"), 2u);          // overlong form
    EXPECT_EQ(NSString::length("\xED\xA0\x80"), 3u);      // an encoded surrogate is invalid
}

TEST(NSStringUtf16, CharacterAtIndexGivesSurrogateHalves) {
    const std::string s = "a" + kGrin + kEacute;
    EXPECT_EQ(NSString::characterAtIndex(s, 0), u'a');
    EXPECT_EQ(NSString::characterAtIndex(s, 1), 0xD83D);
    EXPECT_EQ(NSString::characterAtIndex(s, 2), 0xDE00);
    EXPECT_EQ(NSString::characterAtIndex(s, 3), 0x00E9);
    EXPECT_EQ(NSString::characterAtIndex("\xFF", 0), 0xFFFD);
    EXPECT_THROW(NSString::characterAtIndex(s, 4), NSException);
}

TEST(NSStringUtf16, SubstringToIndexNeverSplitsAPair) {
    const std::string s = "ab" + kGrin + "c";
    EXPECT_EQ(NSString::substringToIndex(s, 0), "");
    EXPECT_EQ(NSString::substringToIndex(s, 2), "ab");
    EXPECT_EQ(NSString::substringToIndex(s, 3), "ab");  // would split the pair: cut before it
    EXPECT_EQ(NSString::substringToIndex(s, 4), "ab" + kGrin);
    EXPECT_EQ(NSString::substringToIndex(s, 5), s);
    EXPECT_EQ(NSString::substringToIndex(s, 500), s);
    // A 255-unit cut of a long text of 2-unit characters keeps 127 of them.
    std::string many;
    for (int i = 0; i < 200; ++i) many += kGrin;
    const std::string cut = NSString::substringToIndex(many, 255);
    EXPECT_EQ(NSString::length(cut), 254u);
    EXPECT_TRUE(NSString::isValidUTF8(cut));
    // Invalid bytes are kept, one unit each.
    EXPECT_EQ(NSString::substringToIndex("a\xFF" "bc", 2), "a\xFF");
}

TEST(NSStringSearch, EmptyNeedleIsNeverFound) {
    EXPECT_FALSE(NSString::hasPrefix("abc", ""));
    EXPECT_FALSE(NSString::hasSuffix("abc", ""));
    EXPECT_FALSE(NSString::containsString("abc", ""));
    EXPECT_FALSE(NSString::hasPrefix("", ""));
    EXPECT_EQ(NSString::rangeOfString("abc", "").location, NSNotFound);
    EXPECT_EQ(NSString::rangeOfString("", "a").location, NSNotFound);
    EXPECT_TRUE(NSString::hasPrefix("abc", "ab"));
    EXPECT_TRUE(NSString::hasSuffix("abc", "bc"));
    EXPECT_FALSE(NSString::hasPrefix("ab", "abc"));
}

TEST(NSStringSearch, RangeOfStringWithOptions) {
    const std::string s = "Hello hello HELLO";
    EXPECT_EQ(NSString::rangeOfString(s, "hello"), NSMakeRange(6, 5));
    EXPECT_EQ(NSString::rangeOfString(s, "hello", NSCaseInsensitiveSearch), NSMakeRange(0, 5));
    EXPECT_EQ(NSString::rangeOfString(s, "hello", NSCaseInsensitiveSearch | NSBackwardsSearch), NSMakeRange(12, 5));
    EXPECT_EQ(NSString::rangeOfString(s, "hello", NSBackwardsSearch), NSMakeRange(6, 5));
    EXPECT_EQ(NSString::rangeOfString(s, "hello", NSAnchoredSearch).location, NSNotFound);
    EXPECT_EQ(NSString::rangeOfString(s, "Hello", NSAnchoredSearch), NSMakeRange(0, 5));
    EXPECT_EQ(NSString::rangeOfString(s, "HELLO", NSAnchoredSearch | NSBackwardsSearch), NSMakeRange(12, 5));
    // Byte offsets past multi-byte characters.
    EXPECT_EQ(NSString::rangeOfString(kEuro + "x", "x"), NSMakeRange(3, 1));
}

TEST(NSStringPieces, ComponentsReplaceJoin) {
    using V = std::vector<std::string>;
    EXPECT_EQ(NSString::componentsSeparatedByString("a,b,,c", ","), (V{"a", "b", "", "c"}));
    EXPECT_EQ(NSString::componentsSeparatedByString("a,", ","), (V{"a", ""}));
    EXPECT_EQ(NSString::componentsSeparatedByString("", ","), (V{""}));
    EXPECT_EQ(NSString::componentsSeparatedByString("abc", ""), (V{"abc"}));
    EXPECT_EQ(NSString::componentsSeparatedByString("a::b", "::"), (V{"a", "b"}));
    EXPECT_EQ(NSString::componentsJoinedByString({"a", "b"}, "&"), "a&b");

    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("say %s and %s", "%s", "%@"), "say %@ and %@");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("abc", "", "x"), "abc");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("abc", "b", ""), "ac");
}

TEST(NSStringPieces, TrimAndCase) {
    const auto ws = NSCharacterSet::whitespaceCharacterSet();
    const auto wsnl = NSCharacterSet::whitespaceAndNewlineCharacterSet();
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("  a b \t", ws), "a b");
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("\n a \n", ws), "\n a \n");
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("\n a \r\n", wsnl), "a");
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("\xC2\xA0x\xE2\x80\x83", ws), "x");  // no-break and em space
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("   ", ws), "");
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet(" \xFF ", ws), "\xFF");
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("xxaxx", NSCharacterSet::characterSetWithCharactersInString("x")), "a");
    EXPECT_EQ(NSString::lowercaseString("ABC-" + kEacute + "Z"), "abc-" + kEacute + "z");
    EXPECT_EQ(NSString::uppercaseString("abc1"), "ABC1");
}

TEST(NSStringCompare, NumericSearchComparesDigitRunsAsNumbers) {
    using R = NSComparisonResult;
    EXPECT_EQ(NSString::compare("10.0", "9.0", NSNumericSearch), R::OrderedDescending);
    EXPECT_EQ(NSString::compare("9.0", "9.0", NSNumericSearch), R::OrderedSame);
    EXPECT_EQ(NSString::compare("8.4.1", "8.10", NSNumericSearch), R::OrderedAscending);
    EXPECT_EQ(NSString::compare("7.0", "7.0.1", NSNumericSearch), R::OrderedAscending);
    EXPECT_EQ(NSString::compare("007", "7", NSNumericSearch), R::OrderedSame);
    EXPECT_EQ(NSString::compare("99999999999999999999999", "100000000000000000000000", NSNumericSearch),
              R::OrderedAscending);
    EXPECT_EQ(NSString::compare("10.0", "9.0"), R::OrderedAscending);  // plain: by characters
    EXPECT_EQ(NSString::compare("abc", "abd"), R::OrderedAscending);
    EXPECT_EQ(NSString::compare("abc", "ab"), R::OrderedDescending);
    EXPECT_EQ(NSString::caseInsensitiveCompare("HeLLo", "hello"), R::OrderedSame);
    EXPECT_EQ(NSString::caseInsensitiveCompare("a", "B"), R::OrderedAscending);
    EXPECT_TRUE(NSString::isEqualToString("x", "x"));
}

TEST(NSStringNumbers, IntegerParsing) {
    EXPECT_EQ(NSString::intValue("  42px"), 42);
    EXPECT_EQ(NSString::intValue("-17"), -17);
    EXPECT_EQ(NSString::intValue("+5"), 5);
    EXPECT_EQ(NSString::intValue("abc"), 0);
    EXPECT_EQ(NSString::intValue(""), 0);
    EXPECT_EQ(NSString::intValue("- 5"), 0);
    EXPECT_EQ(NSString::intValue("3.9"), 3);
    EXPECT_EQ(NSString::intValue("99999999999"), INT32_MAX);
    EXPECT_EQ(NSString::intValue("-99999999999"), INT32_MIN);
    EXPECT_EQ(NSString::integerValue("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(NSString::integerValue("9223372036854775808"), INT64_MAX);
    EXPECT_EQ(NSString::integerValue("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(NSString::longLongValue("-99999999999999999999999"), INT64_MIN);
    EXPECT_EQ(NSString::integerValue("index=12"), 0);
}

TEST(NSStringNumbers, FloatingParsing) {
    EXPECT_DOUBLE_EQ(NSString::doubleValue(" 3.25abc"), 3.25);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("-.5"), -0.5);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("1e3"), 1000);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("1e"), 1);     // exponent without digits is not used
    EXPECT_DOUBLE_EQ(NSString::doubleValue("2.5E-1x"), 0.25);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("0x1A"), 0);   // no hex
    EXPECT_DOUBLE_EQ(NSString::doubleValue("inf"), 0);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("."), 0);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("@width@"), 0);
    EXPECT_EQ(NSString::doubleValue("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_FLOAT_EQ(NSString::floatValue("0.1"), 0.1f);
    EXPECT_EQ(NSString::floatValue("1e300"), std::numeric_limits<float>::infinity());
}

TEST(NSStringNumbers, BoolParsing) {
    for (const char* yes : {"YES", "yes", "true", "T", "1", " +0009", "-1", "y"}) EXPECT_TRUE(NSString::boolValue(yes)) << yes;
    for (const char* no : {"NO", "false", "0", "", "  ", "000", "x1", "-0"}) EXPECT_FALSE(NSString::boolValue(no)) << no;
}

TEST(NSStringHash, IsFnv1a64) {
    EXPECT_EQ(NSString::hash(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(NSString::hash("a"), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(NSString::hash("foobar"), 0x85944171f73967e8ULL);
}

TEST(NSStringEncoding, ValidatesUtf8) {
    EXPECT_TRUE(NSString::isValidUTF8("plain " + kGrin + kEuro));
    EXPECT_FALSE(NSString::isValidUTF8("\xC3"));
    EXPECT_EQ(NSString::initWithData(NSData::dataWithString(kEacute)), kEacute);
    EXPECT_FALSE(NSString::initWithData(NSData::dataWithString("\xFF")));
    EXPECT_FALSE(NSString::initWithData(NSData::dataWithString(kEacute), NSASCIIStringEncoding));
    EXPECT_EQ(NSString::dataUsingEncoding("ab").toString(), "ab");
}

TEST(NSCharacterSet, UrlSetsAndMutation) {
    const auto query = NSCharacterSet::URLQueryAllowedCharacterSet();
    for (char c : std::string("aZ09-._~!$&'()*+,;=:@/?")) EXPECT_TRUE(query->characterIsMember(static_cast<unsigned char>(c))) << c;
    for (char c : std::string(" \"#%<>[\\]^`{|}")) EXPECT_FALSE(query->characterIsMember(static_cast<unsigned char>(c))) << c;
    EXPECT_FALSE(query->characterIsMember(0xE9));
    EXPECT_FALSE(NSCharacterSet::URLPathAllowedCharacterSet()->characterIsMember('?'));
    EXPECT_TRUE(NSCharacterSet::URLHostAllowedCharacterSet()->characterIsMember('['));
    EXPECT_FALSE(NSCharacterSet::URLHostAllowedCharacterSet()->characterIsMember('/'));

    auto custom = query->mutableCopy();
    custom->removeCharactersInString("&=+");
    EXPECT_FALSE(custom->characterIsMember('&'));
    EXPECT_TRUE(query->characterIsMember('&'));  // the shared set is untouched
    auto inverted = NSCharacterSet::alphanumericCharacterSet()->invertedSet();
    EXPECT_FALSE(inverted->characterIsMember('a'));
    EXPECT_TRUE(inverted->characterIsMember('-'));
    EXPECT_TRUE(inverted->characterIsMember(0x1F600));
    auto fromString = NSCharacterSet::characterSetWithCharactersInString("x" + kEuro);
    EXPECT_TRUE(fromString->characterIsMember(0x20AC));
    fromString->removeCharactersInString(kEuro);
    EXPECT_FALSE(fromString->characterIsMember(0x20AC));
}

}  // namespace
