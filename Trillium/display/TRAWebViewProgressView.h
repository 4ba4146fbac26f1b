// The in-app browser's thin progress bar: an inner bar whose width follows
// the estimate (TRAWebViewProgress) over the view's width, animated on the
// clock, and which fades out once the page is complete. It takes no touches.
// Main thread.
#pragma once

#include "platform/ui/UIView.h"

class TRAWebViewProgressView : public UIView {
public:
    static constexpr double kBarAnimationDuration = 0.27f;
    static constexpr double kFadeAnimationDuration = 0.27f;
    static constexpr double kFadeOutDelay = 0.1f;

    static Ref<TRAWebViewProgressView> alloc() { return NSObject::alloc<TRAWebViewProgressView>(); }
    Ref<UIView> initWithFrame(CGRect frame) override;

    // Not animated.
    void setProgress(float progress) { setProgress(progress, false); }
    // The width goes to progress × the view's width (over barAnimationDuration
    // when animated and above 0); at 1.0 the bar fades out after fadeOutDelay
    // and its width then drops to 0; below 1.0 it fades back in.
    void setProgress(float progress, bool animated);

    const Ref<UIView>& progressBarView() const { return progressBarView_; }
    void setProgressBarView(Ref<UIView> view) { progressBarView_ = std::move(view); }
    double barAnimationDuration() const { return barAnimationDuration_; }
    void setBarAnimationDuration(double seconds) { barAnimationDuration_ = seconds; }
    double fadeAnimationDuration() const { return fadeAnimationDuration_; }
    void setFadeAnimationDuration(double seconds) { fadeAnimationDuration_ = seconds; }
    double fadeOutDelay() const { return fadeOutDelay_; }
    void setFadeOutDelay(double seconds) { fadeOutDelay_ = seconds; }

private:
    void configureViews();

    Ref<UIView> progressBarView_;
    double barAnimationDuration_ = 0;
    double fadeAnimationDuration_ = 0;
    double fadeOutDelay_ = 0;
};
