// A view that shows an image by its content mode; its natural size is the
// image's size.
#pragma once

#include "platform/ui/UIImage.h"
#include "platform/ui/UIView.h"

namespace platform {

class UIImageView : public UIView {
public:
    static Ref<UIImageView> alloc() { return std::make_shared<UIImageView>(); }
    Ref<UIView> initWithFrame(CGRect frame) override;
    // Framed at the origin with the image's size.
    Ref<UIImageView> initWithImage(const Ref<UIImage>& image);

    Ref<UIImage> image() const { return image_; }
    void setImage(Ref<UIImage> image);
    Ref<UIImage> highlightedImage() const { return highlightedImage_; }
    void setHighlightedImage(Ref<UIImage> image);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool h);

    CGSize sizeThatFits(CGSize size) override;
    CGSize intrinsicContentSize() override;
    void drawSnapshotContent(CGContextRef context) override;

private:
    Ref<UIImage> image_;
    Ref<UIImage> highlightedImage_;
    bool highlighted_ = false;
};

}  // namespace platform

using platform::UIImageView;
