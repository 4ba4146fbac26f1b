#include <gtest/gtest.h>

#include <clocale>

#include "platform/foundation/LogCapture.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSString.h"

using NSString::stringWithFormat;

namespace {

enum class Mode { A = 3 };

TEST(StringWithFormat, IntegerConversions) {
    EXPECT_EQ(stringWithFormat("%d|%i|%u", 42, -7, 7u), "42|-7|7");
    EXPECT_EQ(stringWithFormat("%ld %lu %lld %llu", -1L, 2UL, -3LL, 4ULL), "-1 2 -3 4");
    EXPECT_EQ(stringWithFormat("%zd %zu", static_cast<ssize_t>(-5), size_t{5}), "-5 5");
    EXPECT_EQ(stringWithFormat("%lld", INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(stringWithFormat("%llu", UINT64_MAX), "18446744073709551615");
    EXPECT_EQ(stringWithFormat("%x %X %o", 255, 255, 8), "ff FF 10");
    EXPECT_EQ(stringWithFormat("%x", -1), "ffffffff");  // two's complement at the argument's width
    EXPECT_EQ(stringWithFormat("%llx", int64_t{-1}), "ffffffffffffffff");
    EXPECT_EQ(stringWithFormat("%05d|%-4d|%+d|% d|%4d", 42, 7, 5, 5, 12), "00042|7   |+5| 5|  12");
    EXPECT_EQ(stringWithFormat("%#x %#o", 255, 8), "0xff 010");
    EXPECT_EQ(stringWithFormat("%.3d", 7), "007");
    EXPECT_EQ(stringWithFormat("%*d|%-*d|%.*f", 4, 1, 3, 2, 2, 3.14159), "   1|2  |3.14");
    EXPECT_EQ(stringWithFormat("%d %d", true, Mode::A), "1 3");
    EXPECT_EQ(stringWithFormat("%d", UINT64_MAX), "18446744073709551615");  // never a negative wrap
}

TEST(StringWithFormat, FloatingConversionsUseTheCLocale) {
    EXPECT_EQ(stringWithFormat("%f", 1.5), "1.500000");
    EXPECT_EQ(stringWithFormat("%.3f", 2.0 / 3.0), "0.667");
    EXPECT_EQ(stringWithFormat("%e", 12345.678), "1.234568e+04");
    EXPECT_EQ(stringWithFormat("%g|%g|%g", 100000.0, 1e-5, 0.5), "100000|1e-05|0.5");
    EXPECT_EQ(stringWithFormat("%.2f", 1.005f), "1.00");
    EXPECT_EQ(stringWithFormat("%8.2f|%-8.2f|", 3.14159, 3.14159), "    3.14|3.14    |");
    // Another arithmetic type is converted.
    EXPECT_EQ(stringWithFormat("%f", 3), "3.000000");
    EXPECT_EQ(stringWithFormat("%d", 3.9), "3");
    EXPECT_EQ(stringWithFormat("%d", -1e300), "-9223372036854775808");
    EXPECT_EQ(stringWithFormat("%lld", Value(12)), "12");
    EXPECT_EQ(stringWithFormat("%f", Value(0.25)), "0.250000");
    // The process locale does not leak in.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
        EXPECT_EQ(stringWithFormat("%.1f", 1.5), "1.5");
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(StringWithFormat, TextAndCharacterConversions) {
    const std::string s = "std";
    const char* cs = "c";
    const char* none = nullptr;
    EXPECT_EQ(stringWithFormat("%s|%s|%s", s, cs, none), "std|c|(null)");
    EXPECT_EQ(stringWithFormat("%5s|%-5s|%.2s", "ab", "ab", "abcdef"), "   ab|ab   |ab");
    EXPECT_EQ(stringWithFormat("%c%c", 'o', 107), "ok");
    EXPECT_EQ(stringWithFormat("100%%"), "100%");
    EXPECT_EQ(stringWithFormat("no conversions"), "no conversions");
    EXPECT_EQ(stringWithFormat(""), "");
}

TEST(StringWithFormat, ObjectConversionRendersEachKind) {
    const std::optional<std::string> absent;
    const std::optional<std::string> present = "here";
    const Ref<NSError> noError;
    auto error = NSError::errorWithDomain("D", 2);
    EXPECT_EQ(stringWithFormat("Video failed:%@", noError), "Video failed:(null)");
    EXPECT_EQ(stringWithFormat("%@|%@", absent, present), "(null)|here");
    EXPECT_EQ(stringWithFormat("%@", std::string("str")), "str");
    EXPECT_EQ(stringWithFormat("%@", "literal"), "literal");
    EXPECT_EQ(stringWithFormat("%@", nullptr), "(null)");
    EXPECT_EQ(stringWithFormat("%@|%@|%@|%@", Value(320.0), Value(5.5), Value(true), Value()), "320|5.5|1|(null)");
    EXPECT_EQ(stringWithFormat("%@", Value::array({"a"})), "(\n    a\n)");
    EXPECT_EQ(stringWithFormat("%@", NSData(std::vector<uint8_t>{1, 2})), "<0102>");
    EXPECT_EQ(stringWithFormat("%@", NSDate()), "2001-01-01 00:00:00 +0000");
    EXPECT_EQ(stringWithFormat("%@", error), error->description());
    EXPECT_EQ(stringWithFormat("%@", *error), error->description());
    EXPECT_EQ(stringWithFormat("%@ %@", 12, 2.5), "12 2.5");  // numbers as their description
    EXPECT_EQ(stringWithFormat("[%6@]", "ab"), "[    ab]");
    auto object = NSObject::alloc();
    EXPECT_EQ(stringWithFormat("%@", object), object->description());
}

TEST(StringWithFormat, BadFormatsAreCopiedAndLogged) {
    platform::testing::LogCapture capture(false);
    // An unknown conversion is copied unchanged and does not take an argument.
    EXPECT_EQ(stringWithFormat("%l is %d", 5), "%l is 5");
    EXPECT_EQ(stringWithFormat("end %"), "end %");
    EXPECT_EQ(stringWithFormat("%k%d", 1), "%k1");
    EXPECT_EQ(stringWithFormat("%l is %d", 6), "%l is 6");
    EXPECT_EQ(capture.count("unknown conversion in \"%l is %d\""), 1u);  // logged once
    // A wrong-type argument is logged and shown as its description.
    EXPECT_EQ(stringWithFormat("%d", "seven"), "seven");
    EXPECT_EQ(stringWithFormat("%f", Value("x")), "x");
    EXPECT_EQ(stringWithFormat("%s", 5), "5");
    EXPECT_TRUE(capture.contains("does not fit %d"));
    // A missing argument is logged; numbers read 0, text (null).
    EXPECT_EQ(stringWithFormat("%d and %@"), "0 and (null)");
    EXPECT_TRUE(capture.contains("missing argument"));
    // Extra arguments are ignored.
    EXPECT_EQ(stringWithFormat("%d", 1, 2, 3), "1");
}

TEST(StringWithFormat, HugeWidthIsBounded) {
    const std::string out = stringWithFormat("%999999999d", 1);
    EXPECT_LE(out.size(), 100001u);
    EXPECT_EQ(out.back(), '1');
}

}  // namespace
