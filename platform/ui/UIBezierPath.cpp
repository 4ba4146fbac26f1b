#include "platform/ui/UIBezierPath.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/CairoContext.h"

namespace platform {

Ref<UIBezierPath> UIBezierPath::bezierPath() { return alloc(); }

Ref<UIBezierPath> UIBezierPath::bezierPathWithRect(CGRect r) {
    auto p = alloc();
    p->elements_.push_back({Kind::Rect, {r.origin.x, r.origin.y, r.size.width, r.size.height}});
    return p;
}

Ref<UIBezierPath> UIBezierPath::bezierPathWithOvalInRect(CGRect r) {
    auto p = alloc();
    p->elements_.push_back({Kind::Oval, {r.origin.x, r.origin.y, r.size.width, r.size.height}});
    return p;
}

Ref<UIBezierPath> UIBezierPath::bezierPathWithRoundedRect(CGRect r, CGFloat radius) {
    auto p = alloc();
    p->elements_.push_back({Kind::RoundedRect, {r.origin.x, r.origin.y, r.size.width, r.size.height, radius}});
    return p;
}

Ref<UIBezierPath> UIBezierPath::bezierPathWithArcCenter(CGPoint center, CGFloat radius, CGFloat startAngle,
                                                       CGFloat endAngle, bool clockwise) {
    auto p = alloc();
    p->addArcWithCenter(center, radius, startAngle, endAngle, clockwise);
    return p;
}

void UIBezierPath::moveToPoint(CGPoint p) { elements_.push_back({Kind::Move, {p.x, p.y}}); }
void UIBezierPath::addLineToPoint(CGPoint p) { elements_.push_back({Kind::Line, {p.x, p.y}}); }
void UIBezierPath::closePath() { elements_.push_back({Kind::Close, {}}); }

void UIBezierPath::addArcWithCenter(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle,
                                    bool clockwise) {
    elements_.push_back({Kind::Arc, {center.x, center.y, radius, startAngle, endAngle, CGFloat(clockwise ? 1 : 0)}});
}

void UIBezierPath::stroke() { draw(true); }
void UIBezierPath::fill() { draw(false); }

void UIBezierPath::draw(bool strokeIt) {
    CGContextRef c = UIGraphicsGetCurrentContext();
    if (!c) return;
    auto& impl = c->impl();
    static const char* names[] = {"UIBezierPath.moveToPoint", "UIBezierPath.addLineToPoint",
                                  "UIBezierPath.addArcWithCenter", "UIBezierPath.closePath",
                                  "UIBezierPath.bezierPathWithRect", "UIBezierPath.bezierPathWithOvalInRect",
                                  "UIBezierPath.bezierPathWithRoundedRect"};
    cairo_t* cr = impl.cairo();
    cairo_path_t* saved = cairo_copy_path(cr);
    cairo_new_path(cr);
    for (const Element& e : elements_) {
        impl.operations.push_back({names[int(e.kind)], e.values});
        const auto& v = e.values;
        bool finite = std::all_of(v.begin(), v.end(), [](CGFloat x) { return std::isfinite(x); });
        switch (e.kind) {
            case Kind::Move:
                if (finite) cairo_move_to(cr, v[0], v[1]);
                break;
            case Kind::Line:
                if (finite) cairo_line_to(cr, v[0], v[1]);
                break;
            case Kind::Arc: appendArc(cr, v[0], v[1], v[2], v[3], v[4], v[5] != 0); break;
            case Kind::Close: cairo_close_path(cr); break;
            case Kind::Rect:
                if (finite) cairo_rectangle(cr, v[0], v[1], v[2], v[3]);
                break;
            case Kind::Oval: appendEllipse(cr, CGRectMake(v[0], v[1], v[2], v[3])); break;
            case Kind::RoundedRect: appendRoundedRect(cr, v[0], v[1], v[2], v[3], v[4]); break;
        }
    }
    cairo_save(cr);
    if (strokeIt) {
        impl.record("UIBezierPath.stroke", {lineWidth_});
        cairo_set_line_width(cr, std::isfinite(lineWidth_) ? std::max<CGFloat>(0, lineWidth_) : 1);
        cairo_set_line_cap(cr, lineCap_ == kCGLineCapRound    ? CAIRO_LINE_CAP_ROUND
                               : lineCap_ == kCGLineCapSquare ? CAIRO_LINE_CAP_SQUARE
                                                              : CAIRO_LINE_CAP_BUTT);
        impl.setSource(impl.colours().stroke);
        cairo_stroke(cr);
    } else {
        impl.record("UIBezierPath.fill", {});
        impl.setSource(impl.colours().fill);
        cairo_fill(cr);
    }
    cairo_restore(cr);
    cairo_new_path(cr);
    if (saved->status == CAIRO_STATUS_SUCCESS) cairo_append_path(cr, saved);
    cairo_path_destroy(saved);
}

}  // namespace platform
