#include <gtest/gtest.h>

#include <cmath>

#include "platform/foundation/NSNumberFormatter.h"

namespace {

Ref<NSNumberFormatter> make(NSNumberFormatterStyle style) {
    auto f = NSNumberFormatter::alloc<NSNumberFormatter>()->init();
    f->setNumberStyle(style);
    return f;
}

std::string text(const Ref<NSNumberFormatter>& f, const Value& v) { return f->stringFromNumber(v).value_or("<nil>"); }

TEST(NSNumberFormatterParsing, WholeTextCLocaleDecimal) {
    auto f = make(NSNumberFormatterNoStyle);
    EXPECT_TRUE(f->numberFromString("42")->isInteger());
    EXPECT_EQ(f->numberFromString(" -42 ")->integerValue(), -42);
    EXPECT_EQ(f->numberFromString("+7")->integerValue(), 7);
    EXPECT_TRUE(f->numberFromString("1.5")->isDouble());
    EXPECT_DOUBLE_EQ(f->numberFromString(".5")->doubleValue(), 0.5);
    EXPECT_DOUBLE_EQ(f->numberFromString("5.")->doubleValue(), 5.0);
    EXPECT_DOUBLE_EQ(f->numberFromString("1e3")->doubleValue(), 1000.0);
    EXPECT_DOUBLE_EQ(f->numberFromString("-2.5E-1")->doubleValue(), -0.25);
    EXPECT_TRUE(f->numberFromString("99999999999999999999")->isDouble());  // beyond int64
    for (const char* bad : {"abc", "", " ", "12abc", "1.2.3", "1e", "e5", "--1", "0x10", "1,000", "nan", "inf", "1e999", "."})
        EXPECT_FALSE(f->numberFromString(bad)) << bad;
}

TEST(NSNumberFormatterFormatting, StylesWithEnUsConventions) {
    EXPECT_EQ(text(make(NSNumberFormatterNoStyle), 1234.5), "1234");   // half-even: 1234
    EXPECT_EQ(text(make(NSNumberFormatterNoStyle), 1235.5), "1236");
    EXPECT_EQ(text(make(NSNumberFormatterDecimalStyle), 1234567.891), "1,234,567.891");
    EXPECT_EQ(text(make(NSNumberFormatterDecimalStyle), 1234.56789), "1,234.568");
    EXPECT_EQ(text(make(NSNumberFormatterDecimalStyle), -1000), "-1,000");
    EXPECT_EQ(text(make(NSNumberFormatterDecimalStyle), 0), "0");
    EXPECT_EQ(text(make(NSNumberFormatterCurrencyStyle), 1234.5), "$1,234.50");
    EXPECT_EQ(text(make(NSNumberFormatterCurrencyStyle), -0.5), "-$0.50");
    EXPECT_EQ(text(make(NSNumberFormatterCurrencyStyle), 0.125), "$0.12");
    EXPECT_EQ(text(make(NSNumberFormatterPercentStyle), 0.256), "26%");
    EXPECT_EQ(text(make(NSNumberFormatterPercentStyle), 0.145), "14%");  // 14.5 as a decimal, to even
    EXPECT_EQ(text(make(NSNumberFormatterPercentStyle), 12.5), "1,250%");
    EXPECT_EQ(text(make(NSNumberFormatterDecimalStyle), INT64_MIN), "-9,223,372,036,854,775,808");
    EXPECT_EQ(text(make(NSNumberFormatterDecimalStyle), true), "1");
    EXPECT_EQ(text(make(NSNumberFormatterDecimalStyle), std::nan("")), "NaN");
    EXPECT_FALSE(make(NSNumberFormatterDecimalStyle)->stringFromNumber(Value("12")));
    EXPECT_FALSE(make(NSNumberFormatterDecimalStyle)->stringFromNumber(Value()));
}

TEST(NSNumberFormatterFormatting, HalfEvenRoundingOnTheShortestDecimal) {
    auto f = make(NSNumberFormatterDecimalStyle);
    f->setMaximumFractionDigits(2);
    EXPECT_EQ(text(f, 2.675), "2.68");   // the decimal 2.675, to even
    EXPECT_EQ(text(f, 2.665), "2.66");
    EXPECT_EQ(text(f, 0.125), "0.12");
    EXPECT_EQ(text(f, 0.375), "0.38");
    EXPECT_EQ(text(f, 0.1251), "0.13");
    EXPECT_EQ(text(f, 9.999), "10");
    EXPECT_EQ(text(f, 999.995), "1,000");
    EXPECT_EQ(text(f, -0.001), "0");     // no negative zero
    EXPECT_EQ(text(f, 1e-10), "0");
    EXPECT_EQ(text(f, 1.5e20), "150,000,000,000,000,000,000");
    f->setMaximumFractionDigits(0);
    EXPECT_EQ(text(f, 0.5), "0");
    EXPECT_EQ(text(f, 1.5), "2");
    EXPECT_EQ(text(f, 2.5), "2");
    EXPECT_EQ(text(f, -2.5), "-2");
}

TEST(NSNumberFormatterFormatting, FractionDigitsAndGrouping) {
    auto f = make(NSNumberFormatterDecimalStyle);
    f->setMinimumFractionDigits(4);
    EXPECT_EQ(f->maximumFractionDigits(), 4u);  // raised to the minimum
    EXPECT_EQ(text(f, 1.5), "1.5000");
    f->setMaximumFractionDigits(6);
    f->setMinimumFractionDigits(2);
    EXPECT_EQ(text(f, 1.123456789), "1.123457");
    EXPECT_EQ(text(f, 3), "3.00");
    f->setUsesGroupingSeparator(false);
    EXPECT_EQ(text(f, 1234567), "1234567.00");
    f->setMaximumFractionDigits(1);
    EXPECT_EQ(f->minimumFractionDigits(), 1u);  // lowered to the maximum
    // Setting the style again restores its defaults.
    f->setNumberStyle(NSNumberFormatterCurrencyStyle);
    EXPECT_EQ(text(f, 1234567), "$1,234,567.00");
}

}  // namespace
