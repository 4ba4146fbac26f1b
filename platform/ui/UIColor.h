// Colours: RGBA components in 0…1, the named colours, and the Core Graphics
// colour value (CGColorRef) the drawing functions and layers take.
#pragma once

#include <memory>

#include "platform/runtime/NSObject.h"
#include "platform/ui/CGGeometry.h"

namespace platform {

// A device-RGB colour value; shared and immutable.
struct CGColor {
    CGFloat red = 0, green = 0, blue = 0, alpha = 1;
};
using CGColorRef = std::shared_ptr<const CGColor>;

CGColorRef CGColorCreate(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
inline void CGColorRelease(const CGColorRef&) {}  // values are reference-counted
bool CGColorEqualToColor(const CGColorRef& a, const CGColorRef& b);
CGFloat CGColorGetAlpha(const CGColorRef& color);

class UIColor : public NSObject {
public:
    static Ref<UIColor> colorWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
    static Ref<UIColor> colorWithWhite(CGFloat white, CGFloat alpha);
    // Null for a null colour value.
    static Ref<UIColor> colorWithCGColor(const CGColorRef& color);
    Ref<UIColor> initWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
    Ref<UIColor> initWithWhite(CGFloat white, CGFloat alpha);
    Ref<UIColor> colorWithAlphaComponent(CGFloat alpha) const;

    static Ref<UIColor> blackColor();
    static Ref<UIColor> darkGrayColor();
    static Ref<UIColor> lightGrayColor();
    static Ref<UIColor> whiteColor();
    static Ref<UIColor> grayColor();
    static Ref<UIColor> redColor();
    static Ref<UIColor> greenColor();
    static Ref<UIColor> blueColor();
    static Ref<UIColor> cyanColor();
    static Ref<UIColor> yellowColor();
    static Ref<UIColor> magentaColor();
    static Ref<UIColor> orangeColor();
    static Ref<UIColor> purpleColor();
    static Ref<UIColor> brownColor();
    static Ref<UIColor> clearColor();

    // Always true: every colour has an RGB form. Null pointers are skipped.
    bool getRed(CGFloat* red, CGFloat* green, CGFloat* blue, CGFloat* alpha) const;
    bool getWhite(CGFloat* white, CGFloat* alpha) const;
    CGColorRef CGColor() const { return color_; }
    CGFloat alphaComponent() const { return color_->alpha; }

    // Set the current graphics context's fill and/or stroke colour.
    void set() const;
    void setFill() const;
    void setStroke() const;

    bool isEqual(const NSObject& other) const override;
    size_t hash() const override;
    std::string description() const override;  // "UIDeviceRGBColorSpace r g b a"

private:
    CGColorRef color_ = std::make_shared<const struct CGColor>();
};

}  // namespace platform

using platform::CGColor;
using platform::CGColorCreate;
using platform::CGColorEqualToColor;
using platform::CGColorGetAlpha;
using platform::CGColorRef;
using platform::CGColorRelease;
using platform::UIColor;
