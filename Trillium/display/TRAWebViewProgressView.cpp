#include "Trillium/display/TRAWebViewProgressView.h"

Ref<UIView> TRAWebViewProgressView::initWithFrame(CGRect frame) {
    UIView::initWithFrame(frame);
    configureViews();
    return self<UIView>();
}

void TRAWebViewProgressView::configureViews() {
    setUserInteractionEnabled(false);
    setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    progressBarView_ = UIView::alloc()->initWithFrame(bounds());
    progressBarView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    progressBarView_->setBackgroundColor(UIColor::colorWithRed(22 / 255.0f, 126 / 255.0f, 251 / 255.0f, 1.0f));
    addSubview(progressBarView_);
    barAnimationDuration_ = kBarAnimationDuration;
    fadeAnimationDuration_ = kFadeAnimationDuration;
    fadeOutDelay_ = kFadeOutDelay;
}

void TRAWebViewProgressView::setProgress(float progress, bool animated) {
    Ref<UIView> bar = progressBarView_;
    if (!bar) return;
    CGFloat width = progress * bounds().size.width;
    UIView::animateWithDuration(progress > 0 && animated ? barAnimationDuration_ : 0, 0, 0, [bar, width] {
        CGRect frame = bar->frame();
        frame.size.width = width;
        bar->setFrame(frame);
    }, nullptr);
    if (progress >= 1.0f) {
        UIView::animateWithDuration(
            animated ? fadeAnimationDuration_ : 0, fadeOutDelay_, 0, [bar] { bar->setAlpha(0); },
            [bar](bool) {
                CGRect frame = bar->frame();
                frame.size.width = 0;
                bar->setFrame(frame);
            });
    } else {
        UIView::animateWithDuration(animated ? fadeAnimationDuration_ : 0, 0, 0, [bar] { bar->setAlpha(1); }, nullptr);
    }
}
