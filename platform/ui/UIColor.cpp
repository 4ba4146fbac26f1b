#include "platform/ui/UIColor.h"

#include <charconv>
#include <cmath>
#include <functional>

#include "platform/ui/CGContext.h"

namespace platform {

CGColorRef CGColorCreate(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    return std::make_shared<const CGColor>(CGColor{red, green, blue, alpha});
}

bool CGColorEqualToColor(const CGColorRef& a, const CGColorRef& b) {
    if (!a || !b) return a == b;
    return a->red == b->red && a->green == b->green && a->blue == b->blue && a->alpha == b->alpha;
}

CGFloat CGColorGetAlpha(const CGColorRef& color) { return color ? color->alpha : 0; }

Ref<UIColor> UIColor::initWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    color_ = CGColorCreate(red, green, blue, alpha);
    return self<UIColor>();
}

Ref<UIColor> UIColor::initWithWhite(CGFloat white, CGFloat alpha) { return initWithRed(white, white, white, alpha); }

Ref<UIColor> UIColor::colorWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    return std::make_shared<UIColor>()->initWithRed(red, green, blue, alpha);
}

Ref<UIColor> UIColor::colorWithWhite(CGFloat white, CGFloat alpha) { return colorWithRed(white, white, white, alpha); }

Ref<UIColor> UIColor::colorWithCGColor(const CGColorRef& color) {
    if (!color) return nullptr;
    auto c = std::make_shared<UIColor>();
    c->color_ = color;
    return c;
}

Ref<UIColor> UIColor::colorWithAlphaComponent(CGFloat alpha) const {
    return colorWithRed(color_->red, color_->green, color_->blue, alpha);
}

Ref<UIColor> UIColor::blackColor() { return colorWithWhite(0, 1); }
Ref<UIColor> UIColor::darkGrayColor() { return colorWithWhite(CGFloat(1.0 / 3.0), 1); }
Ref<UIColor> UIColor::lightGrayColor() { return colorWithWhite(CGFloat(2.0 / 3.0), 1); }
Ref<UIColor> UIColor::whiteColor() { return colorWithWhite(1, 1); }
Ref<UIColor> UIColor::grayColor() { return colorWithWhite(0.5f, 1); }
Ref<UIColor> UIColor::redColor() { return colorWithRed(1, 0, 0, 1); }
Ref<UIColor> UIColor::greenColor() { return colorWithRed(0, 1, 0, 1); }
Ref<UIColor> UIColor::blueColor() { return colorWithRed(0, 0, 1, 1); }
Ref<UIColor> UIColor::cyanColor() { return colorWithRed(0, 1, 1, 1); }
Ref<UIColor> UIColor::yellowColor() { return colorWithRed(1, 1, 0, 1); }
Ref<UIColor> UIColor::magentaColor() { return colorWithRed(1, 0, 1, 1); }
Ref<UIColor> UIColor::orangeColor() { return colorWithRed(1, 0.5f, 0, 1); }
Ref<UIColor> UIColor::purpleColor() { return colorWithRed(0.5f, 0, 0.5f, 1); }
Ref<UIColor> UIColor::brownColor() { return colorWithRed(0.6f, 0.4f, 0.2f, 1); }
Ref<UIColor> UIColor::clearColor() { return colorWithWhite(0, 0); }

bool UIColor::getRed(CGFloat* red, CGFloat* green, CGFloat* blue, CGFloat* alpha) const {
    if (red) *red = color_->red;
    if (green) *green = color_->green;
    if (blue) *blue = color_->blue;
    if (alpha) *alpha = color_->alpha;
    return true;
}

bool UIColor::getWhite(CGFloat* white, CGFloat* alpha) const {
    if (white) *white = CGFloat((double(color_->red) + color_->green + color_->blue) / 3.0);
    if (alpha) *alpha = color_->alpha;
    return true;
}

void UIColor::set() const {
    setFill();
    setStroke();
}
void UIColor::setFill() const { CGContextSetFillColorWithColor(UIGraphicsGetCurrentContext(), color_); }
void UIColor::setStroke() const { CGContextSetStrokeColorWithColor(UIGraphicsGetCurrentContext(), color_); }

bool UIColor::isEqual(const NSObject& other) const {
    auto* o = dynamic_cast<const UIColor*>(&other);
    return o && CGColorEqualToColor(color_, o->color_);
}

size_t UIColor::hash() const {
    size_t h = 0;
    for (CGFloat v : {color_->red, color_->green, color_->blue, color_->alpha})
        h = h * 31 + std::hash<CGFloat>()(v == 0 ? 0.0f : v);
    return h;
}

std::string UIColor::description() const {
    auto fmt = [](CGFloat v) {
        char buffer[32];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
        return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
    };
    return "UIDeviceRGBColorSpace " + fmt(color_->red) + " " + fmt(color_->green) + " " + fmt(color_->blue) + " " +
           fmt(color_->alpha);
}

}  // namespace platform
