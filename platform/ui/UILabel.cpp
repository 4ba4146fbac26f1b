#include "platform/ui/UILabel.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "platform/foundation/NSString.h"
#include "platform/ui/CairoContext.h"

namespace platform {

Ref<UIView> UILabel::initWithFrame(CGRect frame) {
    UIView::initWithFrame(frame);
    setOpaque(false);
    setUserInteractionEnabled(false);
    return self<UIView>();
}

void UILabel::textChanged() {
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void UILabel::setText(std::optional<std::string> text) {
    text_ = std::move(text);
    textChanged();
}

void UILabel::setFont(Ref<UIFont> font) {
    font_ = font ? std::move(font) : UIFont::systemFontOfSize(17);
    textChanged();
}

void UILabel::setTextColor(Ref<UIColor> color) {
    textColor_ = color ? std::move(color) : UIColor::blackColor();
    setNeedsDisplay();
}

void UILabel::setTextAlignment(NSTextAlignment a) {
    alignment_ = a;
    setNeedsDisplay();
}

void UILabel::setNumberOfLines(int64_t n) {
    numberOfLines_ = std::max<int64_t>(0, n);
    textChanged();
}

CGSize UILabel::sizeThatFits(CGSize size) {
    if (!text_ || text_->empty()) return {0, 0};
    CGFloat width = numberOfLines_ == 1 ? 0 : size.width;
    return font_->sizeOfText(*text_, width, numberOfLines_);
}

CGSize UILabel::intrinsicContentSize() {
    if (!text_ || text_->empty()) return {0, 0};
    CGFloat width = numberOfLines_ == 1 ? 0 : bounds().size.width;
    return font_->sizeOfText(*text_, width, numberOfLines_);
}

void UILabel::drawSnapshotContent(CGContextRef context) {
    UIView::drawSnapshotContent(context);
    if (!context || !text_ || text_->empty()) return;
    // The label font only: without it no text is drawn (never another font).
    cairo_font_face_t* face = labelFontFace(font_->isBold());
    if (!face) return;
    cairo_t* cr = context->impl().cairo();
    CGRect b = bounds();
    // The lines the label is measured by (sizeThatFits), wrapped to its width.
    auto lines = font_->linesOfText(*text_, numberOfLines_ == 1 ? 0 : b.size.width, numberOfLines_);
    double lineHeight = font_->lineHeight();
    double top = b.origin.y + (b.size.height - lineHeight * double(lines.size())) / 2;  // centred vertically
    cairo_save(cr);
    cairo_rectangle(cr, b.origin.x, b.origin.y, b.size.width, b.size.height);
    cairo_clip(cr);
    cairo_set_font_face(cr, face);
    applyLabelFontOptions(cr);
    cairo_set_font_size(cr, font_->pointSize());
    CGFloat r = 0, g = 0, bl = 0, a = 1;
    textColor_->getRed(&r, &g, &bl, &a);
    cairo_set_source_rgba(cr, r, g, bl, a);
    for (size_t i = 0; i < lines.size(); ++i) {
        double x = b.origin.x;
        if (alignment_ == NSTextAlignmentCenter) x += (b.size.width - lines[i].width) / 2;
        if (alignment_ == NSTextAlignmentRight) x += b.size.width - lines[i].width;
        double baseline = top + lineHeight * double(i) + font_->pointSize();
        cairo_move_to(cr, x, baseline);
        cairo_show_text(cr, labelFontText(lines[i].text).c_str());
    }
    cairo_restore(cr);
}

}  // namespace platform
