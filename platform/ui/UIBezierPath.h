// A path object drawn into the current context: lines, rectangles, ovals,
// rounded rectangles and arcs (clockwise: increasing angle, y down), stroked
// with its own line width and cap or filled with the context's colours.
#pragma once

#include <vector>

#include "platform/runtime/NSObject.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/CGGeometry.h"

namespace platform {

class UIBezierPath : public NSObject {
public:
    static Ref<UIBezierPath> alloc() { return std::make_shared<UIBezierPath>(); }
    static Ref<UIBezierPath> bezierPath();
    static Ref<UIBezierPath> bezierPathWithRect(CGRect rect);
    static Ref<UIBezierPath> bezierPathWithOvalInRect(CGRect rect);
    static Ref<UIBezierPath> bezierPathWithRoundedRect(CGRect rect, CGFloat cornerRadius);
    static Ref<UIBezierPath> bezierPathWithArcCenter(CGPoint center, CGFloat radius, CGFloat startAngle,
                                                     CGFloat endAngle, bool clockwise);

    void moveToPoint(CGPoint p);
    void addLineToPoint(CGPoint p);
    void addArcWithCenter(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise);
    void closePath();
    void removeAllPoints() { elements_.clear(); }
    bool isEmpty() const { return elements_.empty(); }

    CGFloat lineWidth() const { return lineWidth_; }
    void setLineWidth(CGFloat w) { lineWidth_ = w; }
    CGLineCap lineCapStyle() const { return lineCap_; }
    void setLineCapStyle(CGLineCap cap) { lineCap_ = cap; }

    // Draw into the current context (nothing without one). Each element is
    // recorded as "UIBezierPath.<method>" with its arguments, then the
    // painting call with the line width.
    void stroke();
    void fill();

private:
    enum class Kind { Move, Line, Arc, Close, Rect, Oval, RoundedRect };
    struct Element {
        Kind kind;
        std::vector<CGFloat> values;
    };
    void draw(bool strokeIt);

    std::vector<Element> elements_;
    CGFloat lineWidth_ = 1;
    CGLineCap lineCap_ = kCGLineCapButt;
};

}  // namespace platform

using platform::UIBezierPath;
