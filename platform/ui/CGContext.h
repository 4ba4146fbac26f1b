// The drawing context of drawRect and image contexts, drawn with cairo (origin
// top left, y down, in points): state, paths, fills, strokes, arcs, ellipses,
// clipping, gradients and images. Each context records its calls with their
// arguments so tests can check geometry (UIView::lastDrawOperations).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/CGAffineTransform.h"
#include "platform/ui/CGGeometry.h"
#include "platform/ui/UIColor.h"

namespace platform {

// One recorded drawing call: the function's name and its numeric arguments
// in order (colours as their four components, booleans as 0/1).
struct DrawOperation {
    std::string name;
    std::vector<CGFloat> arguments;
    bool operator==(const DrawOperation& o) const { return name == o.name && arguments == o.arguments; }
};

class CGContext;
using CGContextRef = CGContext*;

// Decoded pixels: premultiplied ARGB, one 32-bit word per pixel, row after
// row. A placeholder image (recognised but not decoded) has no pixels and
// draws as a neutral grey.
struct CGImage {
    size_t width = 0;
    size_t height = 0;
    std::vector<uint32_t> pixels;
    bool placeholder = false;
};
using CGImageRef = std::shared_ptr<const CGImage>;
inline size_t CGImageGetWidth(const CGImageRef& image) { return image ? image->width : 0; }
inline size_t CGImageGetHeight(const CGImageRef& image) { return image ? image->height : 0; }
inline void CGImageRelease(const CGImageRef&) {}

struct CGColorSpace {};
using CGColorSpaceRef = std::shared_ptr<const CGColorSpace>;
CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
inline void CGColorSpaceRelease(const CGColorSpaceRef&) {}

struct CGGradient {
    std::vector<CGColor> colors;
    std::vector<CGFloat> locations;
};
using CGGradientRef = std::shared_ptr<const CGGradient>;
// `locations` null: evenly spaced from 0 to 1. Null for an empty colour list.
CGGradientRef CGGradientCreateWithColors(const CGColorSpaceRef& space, const std::vector<CGColorRef>& colors,
                                         const CGFloat* locations);
// `components` holds count × (r, g, b, a).
CGGradientRef CGGradientCreateWithColorComponents(const CGColorSpaceRef& space, const CGFloat* components,
                                                  const CGFloat* locations, size_t count);
inline void CGGradientRelease(const CGGradientRef&) {}

enum : uint32_t {
    kCGGradientDrawsBeforeStartLocation = 1,
    kCGGradientDrawsAfterEndLocation = 2,
};
using CGGradientDrawingOptions = uint32_t;

enum CGLineCap : int32_t { kCGLineCapButt = 0, kCGLineCapRound = 1, kCGLineCapSquare = 2 };

class CGContext {
public:
    struct Impl;
    explicit CGContext(std::unique_ptr<Impl> impl);
    ~CGContext();
    CGContext(const CGContext&) = delete;
    CGContext& operator=(const CGContext&) = delete;

    const std::vector<DrawOperation>& operations() const;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// Graphics state. Unbalanced saves are harmless: a context is dropped whole.
void CGContextSaveGState(CGContextRef c);
void CGContextRestoreGState(CGContextRef c);
void CGContextSetFillColorWithColor(CGContextRef c, const CGColorRef& color);
void CGContextSetStrokeColorWithColor(CGContextRef c, const CGColorRef& color);
void CGContextSetRGBFillColor(CGContextRef c, CGFloat r, CGFloat g, CGFloat b, CGFloat a);
void CGContextSetRGBStrokeColor(CGContextRef c, CGFloat r, CGFloat g, CGFloat b, CGFloat a);
void CGContextSetLineWidth(CGContextRef c, CGFloat width);
void CGContextSetLineCap(CGContextRef c, CGLineCap cap);

// Paths and painting. Filling or stroking consumes the current path.
void CGContextBeginPath(CGContextRef c);
void CGContextMoveToPoint(CGContextRef c, CGFloat x, CGFloat y);
void CGContextAddLineToPoint(CGContextRef c, CGFloat x, CGFloat y);
void CGContextAddRect(CGContextRef c, CGRect rect);
void CGContextAddEllipseInRect(CGContextRef c, CGRect rect);
// clockwise 1 draws with decreasing angle (y-down space), 0 with increasing.
void CGContextAddArc(CGContextRef c, CGFloat x, CGFloat y, CGFloat radius, CGFloat startAngle, CGFloat endAngle,
                     int clockwise);
void CGContextClosePath(CGContextRef c);
void CGContextFillPath(CGContextRef c);
void CGContextStrokePath(CGContextRef c);
void CGContextFillRect(CGContextRef c, CGRect rect);
void CGContextFillEllipseInRect(CGContextRef c, CGRect rect);
void CGContextStrokeEllipseInRect(CGContextRef c, CGRect rect);
void CGContextClipToRect(CGContextRef c, CGRect rect);
void CGContextDrawLinearGradient(CGContextRef c, const CGGradientRef& gradient, CGPoint start, CGPoint end,
                                 CGGradientDrawingOptions options);
void CGContextDrawRadialGradient(CGContextRef c, const CGGradientRef& gradient, CGPoint startCenter,
                                 CGFloat startRadius, CGPoint endCenter, CGFloat endRadius,
                                 CGGradientDrawingOptions options);
// Draws the image scaled into `rect` (upright, as image views show it).
void CGContextDrawImage(CGContextRef c, CGRect rect, const CGImageRef& image);

// The context drawRect and image contexts draw into; null outside them.
CGContextRef UIGraphicsGetCurrentContext();
void UIGraphicsPushContext(CGContextRef c);
void UIGraphicsPopContext();

}  // namespace platform

using platform::CGColorSpaceCreateDeviceRGB;
using platform::CGColorSpaceRef;
using platform::CGColorSpaceRelease;
using platform::CGContextAddArc;
using platform::CGContextAddEllipseInRect;
using platform::CGContextAddLineToPoint;
using platform::CGContextAddRect;
using platform::CGContextBeginPath;
using platform::CGContextClipToRect;
using platform::CGContextClosePath;
using platform::CGContextDrawImage;
using platform::CGContextDrawLinearGradient;
using platform::CGContextDrawRadialGradient;
using platform::CGContextFillEllipseInRect;
using platform::CGContextFillPath;
using platform::CGContextFillRect;
using platform::CGContextMoveToPoint;
using platform::CGContextRef;
using platform::CGContextRestoreGState;
using platform::CGContextSaveGState;
using platform::CGContextSetFillColorWithColor;
using platform::CGContextSetLineCap;
using platform::CGContextSetLineWidth;
using platform::CGContextSetRGBFillColor;
using platform::CGContextSetRGBStrokeColor;
using platform::CGContextSetStrokeColorWithColor;
using platform::CGContextStrokeEllipseInRect;
using platform::CGContextStrokePath;
using platform::CGGradientCreateWithColorComponents;
using platform::CGGradientCreateWithColors;
using platform::CGGradientDrawingOptions;
using platform::CGGradientRef;
using platform::CGGradientRelease;
using platform::CGImageGetHeight;
using platform::CGImageGetWidth;
using platform::CGImageRef;
using platform::CGImageRelease;
using platform::CGLineCap;
using platform::DrawOperation;
using platform::kCGGradientDrawsAfterEndLocation;
using platform::kCGGradientDrawsBeforeStartLocation;
using platform::kCGLineCapButt;
using platform::kCGLineCapRound;
using platform::kCGLineCapSquare;
using platform::UIGraphicsGetCurrentContext;
using platform::UIGraphicsPopContext;
using platform::UIGraphicsPushContext;
