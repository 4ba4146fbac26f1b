#include "tamarind/TMUtility.h"

#include "platform/ui/CGContext.h"

namespace {
constexpr float kTMCloseButtonSide = 30;
}  // namespace

Ref<TMUtility> TMUtility::sharedUtility() {
    // Never destroyed: other threads may use it during exit.
    static Ref<TMUtility>& shared = *new Ref<TMUtility>(NSObject::alloc<TMUtility>());
    return shared;
}

Ref<UIImage> TMUtility::drawCloseButton(float discGray, float discAlpha) {
    const float side = kTMCloseButtonSide;
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(side, side), false, 0);
    CGContextRef c = UIGraphicsGetCurrentContext();
    CGContextSetRGBFillColor(c, discGray, discGray, discGray, discAlpha);
    CGContextFillEllipseInRect(c, CGRectMake(1, 1, side - 2, side - 2));
    CGContextSetRGBStrokeColor(c, 1, 1, 1, 1);
    CGContextSetLineWidth(c, 2);
    CGContextStrokeEllipseInRect(c, CGRectMake(2, 2, side - 4, side - 4));
    CGContextSetLineWidth(c, 3);
    CGContextSetLineCap(c, kCGLineCapRound);
    const float inset = side * 0.32f;
    CGContextBeginPath(c);
    CGContextMoveToPoint(c, inset, inset);
    CGContextAddLineToPoint(c, side - inset, side - inset);
    CGContextMoveToPoint(c, side - inset, inset);
    CGContextAddLineToPoint(c, inset, side - inset);
    CGContextStrokePath(c);
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

Ref<UIImage> TMUtility::defaultCloseButtonImageNormal() {
    if (!normal_) normal_ = drawCloseButton(0.1f, 0.8f);
    return normal_;
}

Ref<UIImage> TMUtility::defaultCloseButtonImageHighlighted() {
    if (!highlighted_) highlighted_ = drawCloseButton(0.45f, 0.9f);
    return highlighted_;
}
