// Rectangles, null versus empty, and transforms computed in double and stored in float.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/ui/CGAffineTransform.h"
#include "platform/ui/CGGeometry.h"

namespace {

TEST(Geometry, IntersectionTellsNullFromEmpty) {
    CGRect a = CGRectMake(0, 0, 100, 50);
    EXPECT_EQ(CGRectIntersection(a, CGRectMake(50, 25, 100, 100)), CGRectMake(50, 25, 50, 25));
    // Touching on an edge: an empty rectangle on that edge, not null.
    CGRect touching = CGRectIntersection(a, CGRectMake(100, 10, 20, 20));
    EXPECT_FALSE(CGRectIsNull(touching));
    EXPECT_TRUE(CGRectIsEmpty(touching));
    EXPECT_EQ(touching, CGRectMake(100, 10, 0, 20));
    EXPECT_FALSE(CGRectIntersectsRect(a, CGRectMake(100, 10, 20, 20)));
    // Apart: null.
    EXPECT_TRUE(CGRectIsNull(CGRectIntersection(a, CGRectMake(101, 0, 5, 5))));
    EXPECT_TRUE(CGRectIsNull(CGRectIntersection(CGRectNull, a)));
    EXPECT_TRUE(CGRectIsEmpty(CGRectNull));
}

TEST(Geometry, ContainmentUnionAndInsets) {
    CGRect r = CGRectMake(10, 10, 20, 20);
    EXPECT_TRUE(CGRectContainsPoint(r, CGPointMake(10, 10)));   // min edges in
    EXPECT_FALSE(CGRectContainsPoint(r, CGPointMake(30, 15)));  // max edges out
    EXPECT_FALSE(CGRectContainsPoint(CGRectNull, CGPointMake(0, 0)));
    EXPECT_TRUE(CGRectContainsRect(r, CGRectMake(10, 10, 20, 20)));
    EXPECT_FALSE(CGRectContainsRect(r, CGRectMake(9, 10, 2, 2)));
    EXPECT_EQ(CGRectUnion(CGRectNull, r), r);
    EXPECT_EQ(CGRectUnion(r, CGRectMake(0, 0, 1, 1)), CGRectMake(0, 0, 30, 30));
    EXPECT_EQ(CGRectInset(r, 5, 2), CGRectMake(15, 12, 10, 16));
    EXPECT_TRUE(CGRectIsNull(CGRectInset(r, 11, 0)));
    EXPECT_EQ(CGRectStandardize(CGRectMake(10, 10, -5, -6)), CGRectMake(5, 4, 5, 6));
    EXPECT_EQ(CGRectIntegral(CGRectMake(0.5f, 1.2f, 10.1f, 2.0f)), CGRectMake(0, 1, 11, 3));
    EXPECT_EQ(CGRectGetMaxX(CGRectMake(10, 0, -4, 1)), 10);
    EXPECT_TRUE(CGRectEqualToRect(CGRectNull, CGRectOffset(CGRectNull, 1, 1)));
    EXPECT_EQ(NSStringFromCGRect(CGRectMake(107, 15, 47.5f, 47.5f)), "{{107, 15}, {47.5, 47.5}}");
}

TEST(Geometry, QuarterTurnLeavesTheFloatResidue) {
    CGAffineTransform t = CGAffineTransformMakeRotation(1.5707964f);
    EXPECT_EQ(t.b, 1.0f);
    EXPECT_EQ(t.c, -1.0f);
    EXPECT_NE(t.a, 0.0f);  // cos of the float angle is about -4.4e-8
    EXPECT_NEAR(t.a, -4.371139e-8f, 1e-12f);
    // The box of a rotated 320 × 568 rectangle: sides swapped, the new height
    // not quite whole, so code that truncates it gets 320.
    CGRect box = CGRectApplyAffineTransform(CGRectMake(-160, -284, 320, 568), t);
    EXPECT_FLOAT_EQ(box.size.width, 568);
    EXPECT_GT(box.size.height, 320.0f);
    EXPECT_EQ(std::trunc(box.size.height), 320.0f);
}

TEST(Geometry, TransformsComposeAndInvert) {
    CGAffineTransform t = CGAffineTransformTranslate(CGAffineTransformMakeScale(2, 4), 10, 20);
    CGPoint p = CGPointApplyAffineTransform(CGPointMake(1, 1), t);
    EXPECT_EQ(p, CGPointMake(22, 84));  // translate first, then scale
    CGAffineTransform inv = CGAffineTransformInvert(t);
    EXPECT_EQ(CGPointApplyAffineTransform(p, inv), CGPointMake(1, 1));
    CGAffineTransform singular = CGAffineTransformMakeScale(0, 1);
    EXPECT_EQ(CGAffineTransformInvert(singular), singular);
    EXPECT_TRUE(CGAffineTransformIsIdentity(CGAffineTransformConcat(t, inv)));
    EXPECT_EQ(CGAffineTransformConcat(CGAffineTransformMakeTranslation(1, 0), CGAffineTransformMakeScale(2, 2)),
              CGAffineTransformMake(2, 0, 0, 2, 2, 0));
}

}  // namespace
