#include "platform/ui/CAGradientLayer.h"

namespace platform {

void CAGradientLayer::drawInContext(CGContextRef context) {
    if (!context || colors_.empty()) return;
    const CGFloat* locations = nullptr;
    if (locations_ && locations_->size() >= colors_.size()) locations = locations_->data();
    auto gradient = CGGradientCreateWithColors(CGColorSpaceCreateDeviceRGB(), colors_, locations);
    CGRect b = bounds();
    CGPoint start{b.origin.x + startPoint_.x * b.size.width, b.origin.y + startPoint_.y * b.size.height};
    CGPoint end{b.origin.x + endPoint_.x * b.size.width, b.origin.y + endPoint_.y * b.size.height};
    CGContextSaveGState(context);
    CGContextClipToRect(context, b);
    CGContextDrawLinearGradient(context, gradient, start, end,
                                kCGGradientDrawsBeforeStartLocation | kCGGradientDrawsAfterEndLocation);
    CGContextRestoreGState(context);
}

}  // namespace platform
