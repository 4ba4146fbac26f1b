#include "platform/ui/UIButton.h"

#include <algorithm>

namespace platform {

Ref<UIButton> UIButton::buttonWithType(UIButtonType type) {
    auto b = alloc();
    b->type_ = type;
    b->initWithFrame(CGRectZero);
    return b;
}

Ref<UIView> UIButton::initWithFrame(CGRect frame) {
    UIControl::initWithFrame(frame);
    setOpaque(false);
    return self<UIView>();
}

Ref<UILabel> UIButton::titleLabel() {
    if (!titleLabel_) {
        titleLabel_ = UILabel::alloc();
        titleLabel_->initWithFrame(CGRectZero);
        titleLabel_->setTextAlignment(NSTextAlignmentCenter);
        titleLabel_->setTextColor(type_ == UIButtonTypeSystem ? UIColor::colorWithRed(0, 0.478f, 1, 1)
                                                              : UIColor::whiteColor());
        addSubview(titleLabel_);
    }
    return titleLabel_;
}

Ref<UIImageView> UIButton::imageView() {
    if (!imageView_) {
        imageView_ = UIImageView::alloc();
        imageView_->initWithFrame(CGRectZero);
        imageView_->setContentMode(UIViewContentModeCenter);
        addSubview(imageView_);
    }
    return imageView_;
}

void UIButton::setImage(Ref<UIImage> image, UIControlState state) {
    images_[state] = std::move(image);
    refresh();
}

Ref<UIImage> UIButton::imageForState(UIControlState state) const { return lookup(images_, state); }

void UIButton::setBackgroundImage(Ref<UIImage> image, UIControlState state) {
    backgrounds_[state] = std::move(image);
    refresh();
}

Ref<UIImage> UIButton::backgroundImageForState(UIControlState state) const { return lookup(backgrounds_, state); }

void UIButton::setTitle(std::optional<std::string> title, UIControlState state) {
    titles_[state] = std::move(title);
    refresh();
}

std::optional<std::string> UIButton::titleForState(UIControlState state) const { return lookup(titles_, state); }

void UIButton::setTitleColor(Ref<UIColor> color, UIControlState state) {
    titleColors_[state] = std::move(color);
    refresh();
}

Ref<UIColor> UIButton::titleColorForState(UIControlState state) const { return lookup(titleColors_, state); }

void UIButton::setEnabled(bool e) {
    UIControl::setEnabled(e);
    refresh();
}

void UIButton::setSelected(bool s) {
    UIControl::setSelected(s);
    refresh();
}

void UIButton::setHighlighted(bool h) {
    UIControl::setHighlighted(h);
    refresh();
}

// Shows the current state's content.
void UIButton::refresh() {
    UIControlState s = state();
    if (auto bg = backgroundImageForState(s)) {
        if (!backgroundView_) {
            backgroundView_ = UIImageView::alloc();
            backgroundView_->initWithFrame(bounds());
            insertSubviewAtIndex(backgroundView_, 0);
        }
        backgroundView_->setImage(bg);
    } else if (backgroundView_) {
        backgroundView_->setImage(nullptr);
    }
    if (auto image = imageForState(s); image || imageView_) imageView()->setImage(image);
    auto title = titleForState(s);
    if (title || titleLabel_) {
        titleLabel()->setText(title);
        if (auto color = titleColorForState(s)) titleLabel()->setTextColor(color);
    }
    invalidateIntrinsicContentSize();
    setNeedsLayout();
}

CGSize UIButton::sizeThatFits(CGSize) {
    CGSize image = imageView_ && imageView_->image() ? imageView_->image()->size() : CGSizeZero;
    CGSize title = titleLabel_ ? titleLabel_->sizeThatFits(CGSizeZero) : CGSizeZero;
    CGSize size{image.width + title.width, std::max(image.height, title.height)};
    if (backgroundView_ && backgroundView_->image()) {
        CGSize bg = backgroundView_->image()->size();
        size = {std::max(size.width, bg.width), std::max(size.height, bg.height)};
    }
    return size;
}

CGSize UIButton::intrinsicContentSize() { return sizeThatFits(bounds().size); }

void UIButton::layoutSubviews() {
    CGRect b = bounds();
    if (backgroundView_) backgroundView_->setFrame(b);
    CGSize image = imageView_ && imageView_->image() ? imageView_->image()->size() : CGSizeZero;
    CGSize title = titleLabel_ ? titleLabel_->sizeThatFits(CGSizeZero) : CGSizeZero;
    image = {std::min(image.width, b.size.width), std::min(image.height, b.size.height)};
    title = {std::min(title.width, b.size.width - image.width), std::min(title.height, b.size.height)};
    CGFloat x = b.origin.x + (b.size.width - image.width - title.width) / 2;
    if (imageView_)
        imageView_->setFrame(CGRectMake(x, b.origin.y + (b.size.height - image.height) / 2, image.width, image.height));
    if (titleLabel_)
        titleLabel_->setFrame(CGRectMake(x + image.width, b.origin.y + (b.size.height - title.height) / 2,
                                         std::max<CGFloat>(0, title.width), title.height));
}

}  // namespace platform
