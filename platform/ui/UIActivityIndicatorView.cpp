#include "platform/ui/UIActivityIndicatorView.h"

#include <cmath>
#include <numbers>

#include "platform/ui/CairoContext.h"

namespace platform {

Ref<UIActivityIndicatorView> UIActivityIndicatorView::initWithActivityIndicatorStyle(UIActivityIndicatorViewStyle style) {
    style_ = (style >= 0 && style <= 2) ? style : UIActivityIndicatorViewStyleWhite;
    CGSize size = styleSize();
    initWithFrame(CGRectMake(0, 0, size.width, size.height));
    return self<UIActivityIndicatorView>();
}

Ref<UIView> UIActivityIndicatorView::initWithFrame(CGRect frame) {
    UIView::initWithFrame(frame);
    color_ = style_ == UIActivityIndicatorViewStyleGray ? UIColor::grayColor() : UIColor::whiteColor();
    setOpaque(false);
    setHidden(hidesWhenStopped_);
    return self<UIView>();
}

CGSize UIActivityIndicatorView::styleSize() const {
    return style_ == UIActivityIndicatorViewStyleWhiteLarge ? CGSize{37, 37} : CGSize{20, 20};
}

void UIActivityIndicatorView::setColor(Ref<UIColor> color) {
    color_ = color ? std::move(color) : UIColor::whiteColor();
    setNeedsDisplay();
}

void UIActivityIndicatorView::startAnimating() {
    animating_ = true;
    setHidden(false);
}

void UIActivityIndicatorView::stopAnimating() {
    animating_ = false;
    if (hidesWhenStopped_) setHidden(true);
}

void UIActivityIndicatorView::setHidesWhenStopped(bool h) {
    hidesWhenStopped_ = h;
    if (!animating_) setHidden(h);
}

CGSize UIActivityIndicatorView::sizeThatFits(CGSize) { return styleSize(); }
CGSize UIActivityIndicatorView::intrinsicContentSize() { return styleSize(); }

void UIActivityIndicatorView::drawSnapshotContent(CGContextRef context) {
    UIView::drawSnapshotContent(context);
    if (!context) return;
    // Twelve spokes, fading round the circle, as the spinner looks at rest.
    cairo_t* cr = context->impl().cairo();
    CGRect b = bounds();
    double cx = CGRectGetMidX(b), cy = CGRectGetMidY(b);
    double outer = std::min(b.size.width, b.size.height) / 2.0, inner = outer * 0.45;
    if (outer <= 0) return;
    CGFloat r = 1, g = 1, bl = 1, a = 1;
    color_->getRed(&r, &g, &bl, &a);
    cairo_save(cr);
    cairo_set_line_width(cr, outer * 0.2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (int i = 0; i < 12; ++i) {
        double angle = i * std::numbers::pi / 6;
        cairo_set_source_rgba(cr, r, g, bl, a * (0.25 + 0.75 * i / 11.0));
        cairo_move_to(cr, cx + inner * std::cos(angle), cy + inner * std::sin(angle));
        cairo_line_to(cr, cx + outer * 0.9 * std::cos(angle), cy + outer * 0.9 * std::sin(angle));
        cairo_stroke(cr);
    }
    cairo_restore(cr);
}

}  // namespace platform
