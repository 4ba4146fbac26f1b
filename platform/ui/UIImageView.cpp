#include "platform/ui/UIImageView.h"

#include <algorithm>

#include "platform/ui/CairoContext.h"

namespace platform {

Ref<UIView> UIImageView::initWithFrame(CGRect frame) {
    UIView::initWithFrame(frame);
    setOpaque(false);
    setUserInteractionEnabled(false);
    return self<UIView>();
}

Ref<UIImageView> UIImageView::initWithImage(const Ref<UIImage>& image) {
    CGSize size = image ? image->size() : CGSizeZero;
    initWithFrame(CGRectMake(0, 0, size.width, size.height));
    image_ = image;
    return self<UIImageView>();
}

void UIImageView::setImage(Ref<UIImage> image) {
    image_ = std::move(image);
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void UIImageView::setHighlightedImage(Ref<UIImage> image) {
    highlightedImage_ = std::move(image);
    setNeedsDisplay();
}

void UIImageView::setHighlighted(bool h) {
    highlighted_ = h;
    setNeedsDisplay();
}

CGSize UIImageView::sizeThatFits(CGSize) { return image_ ? image_->size() : CGSizeZero; }

CGSize UIImageView::intrinsicContentSize() {
    return image_ ? image_->size() : CGSize{UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric};
}

void UIImageView::drawSnapshotContent(CGContextRef context) {
    UIView::drawSnapshotContent(context);
    Ref<UIImage> shown = highlighted_ && highlightedImage_ ? highlightedImage_ : image_;
    if (!context || !shown || !shown->CGImage()) return;
    CGRect b = bounds();
    CGSize s = shown->size();
    if (b.size.width <= 0 || b.size.height <= 0 || s.width <= 0 || s.height <= 0) return;
    CGRect target = b;
    double sx = double(b.size.width) / s.width, sy = double(b.size.height) / s.height;
    switch (contentMode()) {
        case UIViewContentModeScaleToFill:
        case UIViewContentModeRedraw: break;
        case UIViewContentModeScaleAspectFit:
        case UIViewContentModeScaleAspectFill: {
            double k = contentMode() == UIViewContentModeScaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
            CGFloat w = static_cast<CGFloat>(s.width * k), h = static_cast<CGFloat>(s.height * k);
            target = CGRectMake(CGRectGetMidX(b) - w / 2, CGRectGetMidY(b) - h / 2, w, h);
            break;
        }
        default:  // centre and the edge modes: natural size, centred
            target = CGRectMake(CGRectGetMidX(b) - s.width / 2, CGRectGetMidY(b) - s.height / 2, s.width, s.height);
            break;
    }
    paintImage(context->impl().cairo(), *shown->CGImage(), target, 1.0);
}

}  // namespace platform
