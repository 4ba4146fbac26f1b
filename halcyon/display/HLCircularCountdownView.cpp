#include "halcyon/display/HLCircularCountdownView.h"

#include <cmath>
#include <numbers>
#include <string>

#include "platform/ui/UIBezierPath.h"

namespace {
constexpr CGFloat kHLCountdownDefaultFontSize = 12;
constexpr CGFloat kHLCountdownDefaultStroke = 4;
}  // namespace

Ref<HLCircularCountdownView> HLCircularCountdownView::init() {
    UIView::initWithFrame(CGRectZero);
    baseInitWithFontSize(kHLCountdownDefaultFontSize, kHLCountdownDefaultStroke, 0);
    return self<HLCircularCountdownView>();
}

Ref<HLCircularCountdownView> HLCircularCountdownView::initWithCoder(const Ref<NSCoder>&) { return init(); }

Ref<UIView> HLCircularCountdownView::initWithFrame(CGRect frame) {
    return initWithFrame(frame, kHLCountdownDefaultFontSize, kHLCountdownDefaultStroke, 0);
}

Ref<HLCircularCountdownView> HLCircularCountdownView::initWithFrame(CGRect frame, CGFloat fontSize, CGFloat strokeSize,
                                                                    uint32_t totalSeconds) {
    UIView::initWithFrame(frame);
    totalSeconds_ = totalSeconds;
    baseInitWithFontSize(fontSize, strokeSize, totalSeconds);
    return self<HLCircularCountdownView>();
}

void HLCircularCountdownView::baseInitWithFontSize(CGFloat fontSize, CGFloat strokeSize, uint32_t) {
    hideWhenZeroRemainingTime_ = true;
    hideDelaySeconds_ = 1.0f;
    setClipsToBounds(true);
    setBackgroundColor(UIColor::clearColor());
    countdownColor_ = UIColor::whiteColor();
    layer()->setMasksToBounds(true);
    strokeWidth_ = strokeSize;
    font_ = UIFont::systemFontOfSize(fontSize);
    secondsLabel_ = UILabel::alloc();
    secondsLabel_->initWithFrame(bounds());
    secondsLabel_->setTextAlignment(NSTextAlignmentCenter);
    secondsLabel_->setBackgroundColor(UIColor::clearColor());
    secondsLabel_->setTextColor(countdownColor_);
    secondsLabel_->setFont(font_);
    secondsLabel_->setText("0");
    addSubview(secondsLabel_);
}

void HLCircularCountdownView::layoutSubviews() {
    UIView::layoutSubviews();
    secondsLabel_->setFrame(bounds());
    layer()->setCornerRadius(bounds().size.height / 2);
}

float HLCircularCountdownView::endDegrees() const {
    // Unsigned difference as written: callers never pass remaining > total.
    const float elapsed = static_cast<float>(totalSeconds_ - remainingSeconds_);
    return elapsed / static_cast<float>(totalSeconds_) * 360.0f - 90.0f;
}

void HLCircularCountdownView::drawRect(CGRect) {
    const CGRect box = frame();
    const double end = double(endDegrees()) * std::numbers::pi / 180;
    auto arc = UIBezierPath::bezierPathWithArcCenter(
        CGPointMake(box.size.width / 2, box.size.height / 2), (box.size.width - strokeWidth_) / 2,
        static_cast<CGFloat>(-std::numbers::pi / 2), static_cast<CGFloat>(end), false);
    arc->setLineWidth(strokeWidth_);
    countdownColor_->setStroke();
    arc->stroke();
}

void HLCircularCountdownView::setRemainingSeconds(uint32_t seconds) {
    if (seconds > totalSeconds_) return;
    remainingSeconds_ = seconds;
    secondsLabel_->setText(std::to_string(seconds));
    if (seconds != 0) setAlpha(1);
    if (seconds == 0 && hideWhenZeroRemainingTime_ && hideDelaySeconds_ >= 0) {
        Weak<HLCircularCountdownView> weak = self<HLCircularCountdownView>();
        UIView::animateWithDuration(
            1.0, hideDelaySeconds_, 0,
            [weak] {
                if (auto clock = weak.lock()) clock->setAlpha(0);
            },
            nullptr);
    }
    if (seconds != totalSeconds_) {
        layer()->setBorderWidth(0);
        layer()->setBorderColor(UIColor::clearColor()->CGColor());
        setNeedsDisplay();
    } else {
        layer()->setBorderWidth(strokeWidth_);
        layer()->setBorderColor(UIColor::whiteColor()->CGColor());
    }
}

void HLCircularCountdownView::setCountdownColor(const Ref<UIColor>& color) {
    countdownColor_ = color ? color : UIColor::whiteColor();
    secondsLabel_->setTextColor(countdownColor_);
}

void HLCircularCountdownView::setStrokeWidth(CGFloat width) {
    strokeWidth_ = width;
    setNeedsDisplay();
}

void HLCircularCountdownView::setFont(const Ref<UIFont>& font) {
    font_ = font;
    if (font) secondsLabel_->setFont(font);
}
