// 2-D affine transforms (rotation, scale, translation) for views and layers.
// Computed in double precision and stored in single precision, so a quarter
// turn leaves the same tiny residue the devices show.
#pragma once

#include "platform/ui/CGGeometry.h"

namespace platform {

// x' = a·x + c·y + tx,  y' = b·x + d·y + ty
struct CGAffineTransform {
    CGFloat a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    bool operator==(const CGAffineTransform& o) const {
        return a == o.a && b == o.b && c == o.c && d == o.d && tx == o.tx && ty == o.ty;
    }
};

extern const CGAffineTransform CGAffineTransformIdentity;

CGAffineTransform CGAffineTransformMake(CGFloat a, CGFloat b, CGFloat c, CGFloat d, CGFloat tx, CGFloat ty);
CGAffineTransform CGAffineTransformMakeRotation(CGFloat angle);
CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy);
CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty);
// t' = (the new operation) then t
CGAffineTransform CGAffineTransformRotate(const CGAffineTransform& t, CGFloat angle);
CGAffineTransform CGAffineTransformScale(const CGAffineTransform& t, CGFloat sx, CGFloat sy);
CGAffineTransform CGAffineTransformTranslate(const CGAffineTransform& t, CGFloat tx, CGFloat ty);
// t1 then t2
CGAffineTransform CGAffineTransformConcat(const CGAffineTransform& t1, const CGAffineTransform& t2);
// The inverse; the transform itself when it cannot be inverted.
CGAffineTransform CGAffineTransformInvert(const CGAffineTransform& t);
bool CGAffineTransformIsIdentity(const CGAffineTransform& t);
bool CGAffineTransformEqualToTransform(const CGAffineTransform& t1, const CGAffineTransform& t2);
CGPoint CGPointApplyAffineTransform(const CGPoint& p, const CGAffineTransform& t);
CGSize CGSizeApplyAffineTransform(const CGSize& s, const CGAffineTransform& t);
// The bounding box of the transformed rectangle.
CGRect CGRectApplyAffineTransform(const CGRect& r, const CGAffineTransform& t);

}  // namespace platform

using platform::CGAffineTransform;
using platform::CGAffineTransformConcat;
using platform::CGAffineTransformEqualToTransform;
using platform::CGAffineTransformIdentity;
using platform::CGAffineTransformInvert;
using platform::CGAffineTransformIsIdentity;
using platform::CGAffineTransformMake;
using platform::CGAffineTransformMakeRotation;
using platform::CGAffineTransformMakeScale;
using platform::CGAffineTransformMakeTranslation;
using platform::CGAffineTransformRotate;
using platform::CGAffineTransformScale;
using platform::CGAffineTransformTranslate;
using platform::CGPointApplyAffineTransform;
using platform::CGRectApplyAffineTransform;
using platform::CGSizeApplyAffineTransform;
