// The layout and fade timing of the HTML button a video ad may show over its
// video: made once per ad from the answer's "video_button_properties" object,
// over fixed defaults, when the ad is rendered; read by the video
// controllers. Immutable after creation, so any thread may read it. Two
// objects are equal when their twelve values are (the owner is not compared).
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLSdk;

class HLVideoButtonProperties : public NSObject {
public:
    // The defaults, then each key of `properties` (a dictionary; anything else
    // gives the defaults) over them. A value of another JSON kind than its
    // key takes (null, an array, an object; a number for a layout string)
    // keeps the default.
    Ref<HLVideoButtonProperties> initWithSdk(const Ref<HLSdk>& sdk, const Value& properties);
    // The twelve keys with their defaults.
    static Value defaultProperties();

    Ref<HLSdk> sdk() const { return sdk_.lock(); }
    const std::string& horizontalConstraint() const { return horizontalConstraint_; }  // over "videoButton"
    const std::string& verticalConstraint() const { return verticalConstraint_; }
    float widthPercentOfScreen() const { return widthPercentOfScreen_; }
    float heightPercentOfScreen() const { return heightPercentOfScreen_; }
    float margin() const { return margin_; }
    uint32_t gravity() const { return gravity_; }  // placement flags the video controllers read
    bool tapToFade() const { return tapToFade_; }
    // Seconds.
    double tapToFadeDuration() const { return tapToFadeDuration_; }
    double fadeInDuration() const { return fadeInDuration_; }
    double fadeOutDuration() const { return fadeOutDuration_; }
    double fadeInDelay() const { return fadeInDelay_; }
    double fadeOutDelay() const { return fadeOutDelay_; }

    Ref<HLVideoButtonProperties> copy() const;
    bool isEqual(const NSObject& other) const override;
    size_t hash() const override;

private:
    Weak<HLSdk> sdk_;
    std::string horizontalConstraint_;
    std::string verticalConstraint_;
    float widthPercentOfScreen_ = 0;
    float heightPercentOfScreen_ = 0;
    float margin_ = 0;
    uint32_t gravity_ = 0;
    bool tapToFade_ = false;
    double tapToFadeDuration_ = 0;
    double fadeInDuration_ = 0;
    double fadeOutDuration_ = 0;
    double fadeInDelay_ = 0;
    double fadeOutDelay_ = 0;
};
