#include "halcyon/display/HLCloseButton.h"

#include <cmath>

#include "platform/foundation/NSException.h"

namespace {

// The Part's rule for these drawings: products with 0.6 and 0.2 are taken in
// double precision and kept in single precision.
CGFloat hlCloseButtonScaled(double factor, CGFloat length) { return static_cast<CGFloat>(factor * double(length)); }

void hlCloseButtonStrokeSegment(CGContextRef context, CGFloat x0, CGFloat y0, CGFloat x1, CGFloat y1) {
    CGContextMoveToPoint(context, x0, y0);
    CGContextAddLineToPoint(context, x1, y1);
    CGContextStrokePath(context);
}

}  // namespace

Ref<HLCloseButton> HLCloseButton::closeButtonWithStyle(uint32_t style, CGRect frame) {
    if (style == 0) return std::static_pointer_cast<HLCloseButton>(HLCloseButtonClassic::alloc()->initWithFrame(frame));
    return std::static_pointer_cast<HLCloseButton>(HLCloseButtonWhiteGrey::alloc()->initWithFrame(frame));
}

Ref<UIView> HLCloseButton::initWithFrame(CGRect frame) {
    UIView::initWithFrame(frame);
    setBackgroundColor(UIColor::clearColor());
    setOpaque(false);
    setIsAccessibilityElement(true);
    setAccessibilityLabel("Close Advertisement");
    return self<UIView>();
}

void HLCloseButton::drawRect(CGRect) {
    NSException::raise(NSInternalInconsistencyException,
                       "Must use a concrete subclass of HLCloseButton, e.g. HLCloseButtonClassic.");
}

void HLCloseButton::setExtendedClickArea(const Ref<HLCloseButtonExtendedClickArea>& area) {
    if (extendedClickArea_) extendedClickArea_->removeFromSuperview();
    extendedClickArea_ = area;
    if (area) addSubview(area);
}

void HLCloseButtonClassic::drawRect(CGRect rect) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) return;
    const CGFloat W = rect.size.width, H = rect.size.height;
    const CGFloat sixW = hlCloseButtonScaled(0.6, W), sixH = hlCloseButtonScaled(0.6, H);
    const CGFloat t = W / 15;

    CGContextSetFillColorWithColor(context, UIColor::whiteColor()->CGColor());
    CGContextFillEllipseInRect(context, CGRectMake((W - sixW) / 2, (H - sixW) / 2, sixW, sixH));
    CGContextSetFillColorWithColor(context, UIColor::blackColor()->CGColor());
    CGContextFillEllipseInRect(context, CGRectMake((W - sixW) / 2 + t, (H - sixW) / 2 + t, sixW - 2 * t, sixH - 2 * t));

    CGContextSetLineWidth(context, t);
    CGContextSetStrokeColorWithColor(context, UIColor::whiteColor()->CGColor());
    const CGFloat twoW = hlCloseButtonScaled(0.2, W), twoH = hlCloseButtonScaled(0.2, H);
    const CGFloat x0 = (W - twoW) / 2, y0 = (H - twoW) / 2, x1 = x0 + twoW, y1 = y0 + twoH;
    hlCloseButtonStrokeSegment(context, x0, y0, x1, y1);
    hlCloseButtonStrokeSegment(context, x1, y0, x0, y1);
}

CGRect HLCloseButtonWhiteGrey::shrinkFrame(CGRect frame) {
    const CGFloat W = frame.size.width, H = frame.size.height;
    return CGRectMake(frame.origin.x + static_cast<CGFloat>(std::trunc(0.15 * double(W))),
                      frame.origin.y - static_cast<CGFloat>(std::trunc(0.1 * double(H))),
                      static_cast<CGFloat>(0.95 * double(W)), static_cast<CGFloat>(0.95 * double(H)));
}

Ref<UIView> HLCloseButtonWhiteGrey::initWithFrame(CGRect frame) {
    return HLCloseButton::initWithFrame(shrinkFrame(frame));
}

void HLCloseButtonWhiteGrey::drawRect(CGRect rect) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) return;
    const CGFloat W = rect.size.width, H = rect.size.height;
    CGContextSetFillColorWithColor(context, UIColor::colorWithRed(0, 0, 0, 0.25f)->CGColor());
    CGContextFillEllipseInRect(context, CGRectMake(W / 4, (H - W / 2) / 2, W / 2, H / 2));

    CGContextSetLineWidth(context, W / 28);
    CGContextSetStrokeColorWithColor(context, UIColor::whiteColor()->CGColor());
    const CGFloat x0 = (W - W / 4) / 2, y0 = (H - W / 4) / 2, x1 = x0 + W / 4, y1 = y0 + H / 4;
    hlCloseButtonStrokeSegment(context, x0, y0, x1, y1);
    hlCloseButtonStrokeSegment(context, x1, y0, x0, y1);
}

Ref<HLCloseButtonExtendedClickArea> HLCloseButtonExtendedClickArea::extendedClickAreaForCloseButton(
    const Ref<HLCloseButton>& button, uint64_t size) {
    CGRect frame = button ? button->frame() : CGRectZero;
    const CGFloat grow = static_cast<CGFloat>(size);
    auto area = alloc();
    area->initWithFrame(CGRectMake(frame.origin.x, frame.origin.y, frame.size.width + grow, frame.size.height + grow));
    area->setBackgroundColor(UIColor::clearColor());
    return area;
}
