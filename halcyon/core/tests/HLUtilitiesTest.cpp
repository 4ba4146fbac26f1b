// The extensions and the toolbox where their output reaches a wire or a
// screen: digests against published vectors, both escaping tables over every
// printable ASCII byte, query strings, the placement macro, slot-31
// prefixes, colours, number texts, version comparisons and the log
// manager's console rule.
#include <gtest/gtest.h>

#include "halcyon/core/HLColorUtils.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/core/HLStringUtils.h"
#include "halcyon/core/HLSystemVersioning.h"
#include "halcyon/core/HLUtils.h"
#include "halcyon/core/HLValueUtils.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/NSURL.h"

namespace {

class HLUtilitiesTest : public platform::testing::PlatformTest {
protected:
    // A table without an owner: nothing is logged or stored.
    Ref<HLSettingsManager> table = NSObject::alloc<HLSettingsManager>()->initWithSdk(nullptr);
};

const std::string kHLPrintableAscii = [] {
    std::string s;
    for (char c = 0x20; c < 0x7F; ++c) s += c;
    return s;
}();

TEST_F(HLUtilitiesTest, DigestsMatchPublishedVectors) {
    EXPECT_EQ(HLUtils::hl_stringByHashingStringUsingEncoding("abc", HLUtils::kHLHashSHA1), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(HLUtils::hl_stringByHashingStringUsingEncoding("abc", HLUtils::kHLHashMD5), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(HLUtils::hl_stringByHashingStringUsingEncoding("The quick brown fox jumps over the lazy dog", HLUtils::kHLHashSHA1),
              "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12");
    EXPECT_EQ(HLUtils::hl_stringByHashingStringUsingEncoding("", HLUtils::kHLHashSHA1), "");
    EXPECT_EQ(HLUtils::hl_stringByHashingStringUsingEncoding("abc", 2), std::nullopt);
    // The bytes up to the first zero byte.
    EXPECT_EQ(HLUtils::hl_stringByHashingStringUsingEncoding(std::string("abc\0def", 7), HLUtils::kHLHashMD5),
              "900150983cd24fb0d6963f7d28e17f72");

    EXPECT_EQ(HLUtils::shortHashOf("abc", table), "a9993e364706816a");
    EXPECT_EQ(HLUtils::fullHashOf("abc", table), "a9993e364706816aba3e25717850c26c9cd0d89d");
    table->putString("MD5", kHLSlotHashAlgorithm);
    table->putInt(0, kHLSlotShortHashSize);
    EXPECT_EQ(HLUtils::shortHashOf("abc", table), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(HLUtils::hashOf("abc", "MD5", 40), "900150983cd24fb0d6963f7d28e17f72");  // shorter than n: uncut
    EXPECT_EQ(HLUtils::hashOf("abc", "anything", 4), "a999");
}

TEST_F(HLUtilitiesTest, EscapingTablesByteForByte) {
    EXPECT_EQ(HLUtils::hl_stringByURLEncodingString(kHLPrintableAscii),
              "%20%21%22%23%24%25%26%27%28%29%2A%2B,-.%2F0123456789%3A%3B%3C%3D%3E%3F%40"
              "ABCDEFGHIJKLMNOPQRSTUVWXYZ%5B%5C%5D%5E_%60abcdefghijklmnopqrstuvwxyz%7B%7C%7D~");
    EXPECT_EQ(HLUtils::hl_stringByAddingPercentEscapesUsingUTF8Encoding(kHLPrintableAscii),
              "%20!%22%23$%25&'()*+,-./0123456789:;%3C=%3E?@"
              "ABCDEFGHIJKLMNOPQRSTUVWXYZ%5B%5C%5D%5E_%60abcdefghijklmnopqrstuvwxyz%7B%7C%7D~");
    EXPECT_EQ(HLUtils::hl_stringByURLEncodingString("\xC3\xA9\n"), "%C3%A9%0A");

    Value members = Value::dictionary({{"a b", "x&y=z"}, {"n", 5}, {"f", 2.5}, {"k/", "v"}});
    EXPECT_EQ(HLUtils::hl_httpGetQueryStringWithMembers(members), "a%20b=x%26y%3Dz&n=5&f=2.5&k%2F=v");
    EXPECT_EQ(HLUtils::hl_httpGetQueryStringWithMembers(Value::dictionary({})), "");
    EXPECT_EQ(HLUtils::hl_stringBySafeEncodingBase64("a+b/c=="), "a-b_c**");
    EXPECT_EQ(HLUtils::hl_stringBySafeEncodingBase64("plain"), "plain");
}

TEST_F(HLUtilitiesTest, PlacementMacroIsEscapedOnlyWhenAsked) {
    EXPECT_EQ(HLUtils::replacePlacementMacroInString("p={PLACEMENT}&q={PLACEMENT}", "two words", true),
              "p=two%20words&q=two%20words");
    EXPECT_EQ(HLUtils::replacePlacementMacroInString("p={PLACEMENT}", "two words", false), "p=two words");
    EXPECT_EQ(HLUtils::replacePlacementMacroInString("p={PLACEMENT}", std::nullopt, true), "p=");
    // Decoded, replaced unescaped, then escaped whole: the URL keeps its structure.
    auto url = HLUtils::replacePlacementMacroInURL(NSURL::URLWithString("http://h/c?p=%7BPLACEMENT%7D&x=a%20b"), "main menu");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->absoluteString(), "http://h/c?p=main%20menu&x=a%20b");
}

TEST_F(HLUtilitiesTest, AnEmptyPrefixMatchesNothing) {
    table->putString("https://cdn.example/,,http://old.example/a/,", kHLSlotResourceCachePrefix);
    EXPECT_TRUE(HLUtils::isDomainWhitelisted(table, "https://cdn.example/x.png"));
    EXPECT_TRUE(HLUtils::isDomainWhitelisted(table, "http://old.example/a/b"));
    EXPECT_FALSE(HLUtils::isDomainWhitelisted(table, "http://old.example/b"));
    EXPECT_FALSE(HLUtils::isDomainWhitelisted(table, "https://elsewhere.example/"));
    table->putString("", kHLSlotResourceCachePrefix);
    EXPECT_FALSE(HLUtils::isDomainWhitelisted(table, "https://cdn.example/x.png"));
    EXPECT_FALSE(HLUtils::isDomainWhitelisted(table, ""));
}

TEST_F(HLUtilitiesTest, ColoursFromSettingsTexts) {
    auto rgba = [](const Ref<UIColor>& c) {
        CGFloat r = -1, g = -1, b = -1, a = -1;
        if (c) c->getRed(&r, &g, &b, &a);
        return std::vector<float>{r, g, b, a};
    };
    const std::vector<float> white = {1, 1, 1, 1};
    EXPECT_EQ(rgba(HLUtils::hl_colorWithHexString("#FFF")), white);
    EXPECT_EQ(rgba(HLUtils::hl_colorWithHexString("ffffff")), white);
    EXPECT_EQ(rgba(HLUtils::hl_colorWithHexString("80FF0000")), (std::vector<float>{1, 0, 0, 128 / 255.0f}));
    EXPECT_EQ(rgba(HLUtils::hl_colorWithHexString("#C8FFFFFF")), (std::vector<float>{1, 1, 1, 200 / 255.0f}));
    EXPECT_EQ(rgba(HLUtils::hl_colorWithHexString("#8F00")), (std::vector<float>{1, 0, 0, 0x88 / 255.0f}));
    EXPECT_EQ(rgba(HLUtils::hl_colorWithHexString("12345")), white);
    EXPECT_EQ(rgba(HLUtils::hl_colorWithHexString("")), white);

    EXPECT_FALSE(HLUtils::hl_colorWithRGBTemplateString("rgb(1,2)"));
    EXPECT_EQ(rgba(HLUtils::hl_colorWithRGBTemplateString("rgb(255,0,51)")), (std::vector<float>{1, 0, 0.2f, 1}));
    EXPECT_EQ(rgba(HLUtils::hl_colorWithRGBTemplateString("rgba(0, 255, 0, 0.5)")), (std::vector<float>{0, 1, 0, 0.5f}));
    EXPECT_EQ(rgba(HLUtils::hl_lighterColorForColor(UIColor::colorWithRed(0.9f, 0.5f, 0, 0.3f))),
              (std::vector<float>{1, 0.7f, 0.2f, 0.3f}));
    EXPECT_EQ(rgba(HLUtils::hl_darkerColorForColor(UIColor::colorWithRed(0.9f, 0.1f, 0, 1))), (std::vector<float>{0.7f, 0, 0, 1}));
    EXPECT_FALSE(HLUtils::hl_lighterColorForColor(nullptr));
    ASSERT_EQ(HLUtils::hl_stockColorSelectors().size(), 14u);
    EXPECT_EQ(HLUtils::hl_stockColorSelectors().front(), "blackColor");
    EXPECT_EQ(HLUtils::hl_stockColorSelectors().back(), "clearColor");
}

TEST_F(HLUtilitiesTest, NumberTextsAndParsing) {
    const Value n(1234.567);
    const char* expected[] = {"1235", "1234", "1,234.57", "1234.567000", "$1,234.57", "1,234.57", "1,235", ""};
    for (int format = 0; format <= 7; ++format) EXPECT_EQ(HLUtils::hl_stringValueWithFormat(n, format), expected[format]) << format;
    EXPECT_EQ(HLUtils::hl_stringValueWithFormat(Value(-2.5), 0), "-2");
    EXPECT_EQ(HLUtils::hl_stringValueWithFormat(Value(-2.5), 1), "-3");

    EXPECT_TRUE(HLUtils::hl_numberWithString(Value("TRUE")).isBool());
    EXPECT_TRUE(HLUtils::hl_numberWithString(Value("TRUE")).boolValue());
    EXPECT_FALSE(HLUtils::hl_numberWithString(Value("False")).boolValue());
    EXPECT_EQ(HLUtils::hl_numberWithString(Value("9.3")).doubleValue(), 9.3);
    EXPECT_TRUE(HLUtils::hl_numberWithString(Value("42")).isDouble());  // a non-zero double value comes first
    EXPECT_EQ(HLUtils::hl_numberWithString(Value("abc")).integerValue(), 0);
    EXPECT_EQ(HLUtils::hl_numberWithString(Value(7)).integerValue(), 0);  // not a string
    EXPECT_EQ(HLUtils::hl_numberValue("12.5")->doubleValue(), 12.5);
    EXPECT_FALSE(HLUtils::hl_numberValue("12abc"));
    EXPECT_TRUE(HLUtils::hl_isNumeric(""));
    EXPECT_FALSE(HLUtils::hl_isNumeric("1.5"));
    EXPECT_EQ(HLUtils::timeInSecondsFromMilliseconds(Value(2500)).doubleValue(), 2.5);
    EXPECT_EQ(HLUtils::timeInSecondsFromMilliseconds(Value(2500.9)).doubleValue(), 2.5);
}

TEST_F(HLUtilitiesTest, StringsSplitTrimAndCoerce) {
    EXPECT_EQ(HLUtils::hl_trimmedComponentsSeparatedByString(" a , ,\tb\n,", ","), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(HLUtils::hl_trimmedComponentsSeparatedByString("a,b", "").empty());
    EXPECT_EQ(HLUtils::hl_stringByRemovingWhitespace(" a\tb\nc "), "abc");
    EXPECT_EQ(HLUtils::hl_stringByRemovingSpaces(" a\tb "), "a\tb");
    EXPECT_EQ(HLUtils::hl_stringByReplacingOccurrencesOfStringsInDictionary(
                  "{a} and {b}", Value::dictionary({{"{a}", "1"}, {"{b}", 2}, {"and", "&"}})),
              "1 & {b}");
    EXPECT_EQ(HLUtils::hl_stringWithBool(true, true), "YES");
    EXPECT_EQ(HLUtils::hl_stringWithBool(false, false), "false");
    EXPECT_EQ(HLUtils::hl_containingRange("h\xC3\xA9").length, 2u);

    EXPECT_EQ(HLUtils::coerceString(Value("s")), "s");
    EXPECT_EQ(HLUtils::coerceString(Value(5)), "5");
    EXPECT_EQ(HLUtils::coerceString(Value(NSDate::dateWithTimeIntervalSince1970(1.5))), "1500");
    EXPECT_EQ(HLUtils::coerceString(Value(NSData::dataWithString("hi"))), "aGk=");
    EXPECT_EQ(HLUtils::coerceString(Value::array({})), std::nullopt);
    EXPECT_EQ(HLUtils::coerceString(Value()), std::nullopt);
}

TEST_F(HLUtilitiesTest, VersionsReadTheirFirstThreeCharacters) {
    profile().systemVersion = "9.3.1";
    EXPECT_EQ(HLSystemVersioning::currentDeviceVersion(), "9.3");
    EXPECT_TRUE(HLSystemVersioning::currentDeviceVersionIsAtMinimum("9.3"));
    EXPECT_FALSE(HLSystemVersioning::currentDeviceVersionIsAtMinimum("9.4"));
    EXPECT_TRUE(HLSystemVersioning::currentDeviceVersionEquals("9.3.7"));
    EXPECT_TRUE(HLSystemVersioning::currentDeviceVersionFallsBetweenMinVersion("6.0", "9.3"));
    profile().systemVersion = "10.2";
    EXPECT_TRUE(HLSystemVersioning::currentDeviceVersionIsAtMinimum("9.9"));
    EXPECT_TRUE(HLSystemVersioning::currentDeviceVersionIsAtMaximum("10.9"));  // both read as 10
    EXPECT_TRUE(HLSystemVersioning::currentDeviceVersionEquals("10.0"));
    profile().systemVersion = "5.1";
    EXPECT_FALSE(HLSystemVersioning::currentDeviceVersionIsAtMinimum("6.0"));
}

TEST_F(HLUtilitiesTest, OnlyUserErrorsReachTheConsoleWhileVerboseIsOff) {
    auto listener = NSObject::alloc<HLRecordingLogListener>();
    auto log = NSObject::alloc<HLLogManager>()->init();
    log->setSettingsManager(table);
    log->setLogListener(listener);
    log->d("Src", "quiet %i", 1);
    log->e("Src", "failed");
    log->eBecauseOf("Src", "failed", std::string("boom"));
    log->userError("Src", "key %@ refused", "K");
    EXPECT_EQ(listener->lines(), (std::vector<std::string>{"DEBUG [Src] quiet 1", "ERROR [Src] failed",
                                                           "ERROR [Src] failed : boom", "key K refused"}));
    EXPECT_FALSE(logCapture().contains("quiet 1"));
    EXPECT_TRUE(logCapture().contains("[HalcyonSdk] USER [Src] key K refused"));
    table->putBool(true, kHLSlotIsVerboseLogging);
    log->w("Src", "loud");
    EXPECT_TRUE(logCapture().contains("[HalcyonSdk] WARN [Src] loud"));
}

}  // namespace
