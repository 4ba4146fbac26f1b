// CMTime construction, rounding, comparison order and overflow-safe arithmetic.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/media/CMTime.h"

namespace {

void expectTime(const CMTime& t, int64_t value, int32_t timescale) {
    EXPECT_TRUE(CMTIME_IS_NUMERIC(t));
    EXPECT_EQ(t.value, value);
    EXPECT_EQ(t.timescale, timescale);
}

TEST(CMTime, MakeWithSecondsRoundsToTheNearestTick) {
    expectTime(CMTimeMakeWithSeconds(0.01f, 600), 6, 600);  // a single-precision 0.01 lies below 0.01
    expectTime(CMTimeMakeWithSeconds(1.0049, 100), 100, 100);
    expectTime(CMTimeMakeWithSeconds(1.005001, 100), 101, 100);
    expectTime(CMTimeMakeWithSeconds(2.5, 1), 3, 1);
    expectTime(CMTimeMakeWithSeconds(-2.5, 1), -3, 1);
    expectTime(CMTimeMakeWithSeconds(0.1f, 1000), 100, 1000);
    expectTime(CMTimeMakeWithSeconds(1.0, 1000000000), 1000000000, 1000000000);
}

TEST(CMTime, MakeWithSecondsSpecialValues) {
    EXPECT_FALSE(CMTIME_IS_VALID(CMTimeMakeWithSeconds(NAN, 600)));
    EXPECT_FALSE(CMTIME_IS_VALID(CMTimeMakeWithSeconds(1.0, 0)));
    EXPECT_TRUE(CMTIME_IS_POSITIVE_INFINITY(CMTimeMakeWithSeconds(INFINITY, 600)));
    EXPECT_TRUE(CMTIME_IS_NEGATIVE_INFINITY(CMTimeMakeWithSeconds(-INFINITY, 600)));
    // Too many ticks for the preferred timescale: a coarser one keeps the seconds.
    CMTime big = CMTimeMakeWithSeconds(1e12, 1000000000);
    EXPECT_TRUE(CMTIME_IS_NUMERIC(big));
    EXPECT_LT(big.timescale, 1000000000);
    EXPECT_NEAR(CMTimeGetSeconds(big), 1e12, 1.0);
    EXPECT_TRUE(CMTIME_IS_POSITIVE_INFINITY(CMTimeMakeWithSeconds(1e300, 600)));
}

TEST(CMTime, MakeAndSeconds) {
    expectTime(CMTimeMake(3, 4), 3, 4);
    EXPECT_FALSE(CMTIME_IS_VALID(CMTimeMake(3, 0)));
    EXPECT_FALSE(CMTIME_IS_VALID(CMTimeMake(3, -1)));
    EXPECT_DOUBLE_EQ(CMTimeGetSeconds(CMTimeMake(3, 4)), 0.75);
    EXPECT_TRUE(std::isnan(CMTimeGetSeconds(kCMTimeInvalid)));
    EXPECT_TRUE(std::isnan(CMTimeGetSeconds(kCMTimeIndefinite)));
    EXPECT_EQ(CMTimeGetSeconds(kCMTimePositiveInfinity), INFINITY);
    EXPECT_EQ(CMTimeGetSeconds(kCMTimeNegativeInfinity), -INFINITY);
    EXPECT_TRUE(CMTIME_IS_INDEFINITE(kCMTimeIndefinite));
    EXPECT_FALSE(CMTIME_IS_NUMERIC(kCMTimeIndefinite));
    EXPECT_TRUE(CMTIME_IS_NUMERIC(kCMTimeZero));
}

TEST(CMTime, CompareOrdersAcrossKindsAndTimescales) {
    EXPECT_EQ(CMTimeCompare(CMTimeMake(1, 2), CMTimeMake(300, 600)), 0);
    EXPECT_EQ(CMTimeCompare(CMTimeMake(1, 3), CMTimeMake(1, 2)), -1);
    EXPECT_EQ(CMTimeCompare(CMTimeMake(INT64_MAX, 1), CMTimeMake(INT64_MAX, 2)), 1);  // no overflow
    EXPECT_EQ(CMTimeCompare(CMTimeMake(-1, 1), kCMTimeZero), -1);
    const CMTime order[] = {kCMTimeNegativeInfinity, CMTimeMake(-5, 1), CMTimeMake(7, 1), kCMTimeIndefinite,
                            kCMTimePositiveInfinity, kCMTimeInvalid};
    for (size_t i = 0; i < std::size(order); ++i)
        for (size_t j = 0; j < std::size(order); ++j)
            EXPECT_EQ(CMTimeCompare(order[i], order[j]), i < j ? -1 : (i > j ? 1 : 0)) << i << " " << j;
}

TEST(CMTime, AddAndSubtract) {
    expectTime(CMTimeAdd(CMTimeMake(1, 3), CMTimeMake(1, 2)), 5, 6);
    expectTime(CMTimeSubtract(CMTimeMake(1, 2), CMTimeMake(1, 3)), 1, 6);
    expectTime(CMTimeAdd(CMTimeMake(10, 600), CMTimeMake(20, 600)), 30, 600);
    // Timescales whose common multiple does not fit: the larger one, rounded.
    CMTime odd = CMTimeAdd(CMTimeMake(1, 2147483647), CMTimeMake(1, 2147483646));
    EXPECT_TRUE(CMTIME_IS_NUMERIC(odd));
    EXPECT_EQ(odd.timescale, 2147483647);
    EXPECT_TRUE(CMTIME_IS_POSITIVE_INFINITY(CMTimeAdd(CMTimeMake(INT64_MAX, 1), CMTimeMake(1, 1))));
    EXPECT_TRUE(CMTIME_IS_NEGATIVE_INFINITY(CMTimeSubtract(CMTimeMake(INT64_MIN, 1), CMTimeMake(1, 1))));
    expectTime(CMTimeSubtract(kCMTimeZero, CMTimeMake(INT64_MIN + 1, 1)), INT64_MAX, 1);
    EXPECT_FALSE(CMTIME_IS_VALID(CMTimeAdd(kCMTimeInvalid, kCMTimeZero)));
    EXPECT_FALSE(CMTIME_IS_VALID(CMTimeAdd(kCMTimePositiveInfinity, kCMTimeNegativeInfinity)));
    EXPECT_TRUE(CMTIME_IS_POSITIVE_INFINITY(CMTimeSubtract(kCMTimeZero, kCMTimeNegativeInfinity)));
    EXPECT_FALSE(CMTIME_IS_VALID(CMTimeSubtract(kCMTimePositiveInfinity, kCMTimePositiveInfinity)));
    EXPECT_TRUE(CMTIME_IS_INDEFINITE(CMTimeAdd(kCMTimeIndefinite, CMTimeMake(1, 1))));
    CMTime otherEpoch = CMTimeMake(1, 1);
    otherEpoch.epoch = 1;
    EXPECT_FALSE(CMTIME_IS_VALID(CMTimeAdd(otherEpoch, CMTimeMake(1, 1))));
}

}  // namespace
