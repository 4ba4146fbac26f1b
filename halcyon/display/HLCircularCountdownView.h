// The circular countdown clock of the video screens: the seconds left in the
// middle and an arc from the top whose end follows the elapsed share of the
// time; a full white ring while no time has passed, and a fade-out once it
// reaches zero. Main thread.
#pragma once

#include <cstdint>

#include "platform/foundation/NSCoder.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"

class HLCircularCountdownView : public UIView {
public:
    static Ref<HLCircularCountdownView> alloc() { return std::make_shared<HLCircularCountdownView>(); }
    // Font size 12, stroke 4, a total of 0 seconds.
    Ref<HLCircularCountdownView> init();
    Ref<HLCircularCountdownView> initWithCoder(const Ref<NSCoder>& coder);
    Ref<UIView> initWithFrame(CGRect frame) override;
    Ref<HLCircularCountdownView> initWithFrame(CGRect frame, CGFloat fontSize, CGFloat strokeSize,
                                               uint32_t totalSeconds);
    // The common set-up; leaves totalSeconds as it is.
    void baseInitWithFontSize(CGFloat fontSize, CGFloat strokeSize, uint32_t totalSeconds);

    void layoutSubviews() override;
    // The arc from the top to endDegrees (nothing when that is not a number).
    void drawRect(CGRect rect) override;

    // (total − remaining) / total × 360 − 90, in single precision.
    float endDegrees() const;

    bool hideWhenZeroRemainingTime() const { return hideWhenZeroRemainingTime_; }
    void setHideWhenZeroRemainingTime(bool hide) { hideWhenZeroRemainingTime_ = hide; }
    float hideDelaySeconds() const { return hideDelaySeconds_; }
    void setHideDelaySeconds(float seconds) { hideDelaySeconds_ = seconds; }
    uint32_t remainingSeconds() const { return remainingSeconds_; }
    // More than totalSeconds is ignored; 0 fades the clock out after the hide
    // delay; at totalSeconds the clock shows a full ring border.
    void setRemainingSeconds(uint32_t seconds);
    uint32_t totalSeconds() const { return totalSeconds_; }
    void setTotalSeconds(uint32_t seconds) { totalSeconds_ = seconds; }
    Ref<UIColor> countdownColor() const { return countdownColor_; }
    // Also the label's text colour.
    void setCountdownColor(const Ref<UIColor>& color);
    CGFloat strokeWidth() const { return strokeWidth_; }
    void setStrokeWidth(CGFloat width);
    Ref<UIFont> font() const { return font_; }
    // Also the label's font.
    void setFont(const Ref<UIFont>& font);
    Ref<UILabel> secondsLabel() const { return secondsLabel_; }

private:
    bool hideWhenZeroRemainingTime_ = true;
    float hideDelaySeconds_ = 1.0f;
    uint32_t remainingSeconds_ = 0;
    uint32_t totalSeconds_ = 0;
    Ref<UIColor> countdownColor_;
    CGFloat strokeWidth_ = 4;
    Ref<UIFont> font_;
    Ref<UILabel> secondsLabel_;
};
