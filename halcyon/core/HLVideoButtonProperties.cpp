#include "halcyon/core/HLVideoButtonProperties.h"

#include <cmath>

#include "halcyon/core/HLUtils.h"
#include "halcyon/core/HLValueUtils.h"
#include "platform/foundation/NSString.h"

namespace {
// A layout string must be a string; a number, flag or duration a number or
// a numeric string. A given value of another kind keeps the default.
const Value& hlButtonString(const Value& given, const Value& defaults, const char* key) {
    const Value& value = given[key];
    return value.isString() ? value : defaults[key];
}
const Value& hlButtonNumber(const Value& given, const Value& defaults, const char* key) {
    const Value& value = given[key];
    return value.isNumber() || value.isString() ? value : defaults[key];
}
// Non-finite values (a huge numeric string) count as 0.
double hlFinite(double value) { return std::isfinite(value) ? value : 0; }
uint32_t hlHashDouble(double value) { return static_cast<uint32_t>(Value(value).hash()); }
}  // namespace

Value HLVideoButtonProperties::defaultProperties() {
    return Value::dictionary({
        {"h_constraint", "H:[videoButton(220)]-(5)-|"},
        {"v_constraint", "V:[videoButton(36)]-(5)-|"},
        {"width", 64.0f},
        {"height", 7.0f},
        {"margin", 5.0f},
        {"gravity", 72u},
        {"tap_to_fade", false},
        {"tap_to_fade_duration_milliseconds", 500},
        {"fade_in_duration_milliseconds", 500},
        {"fade_out_duration_milliseconds", 500},
        {"fade_in_delay_seconds", 1},
        {"fade_out_delay_seconds", 6},
    });
}

Ref<HLVideoButtonProperties> HLVideoButtonProperties::initWithSdk(const Ref<HLSdk>& sdk, const Value& properties) {
    sdk_ = sdk;
    // Each key from the given properties, else from the defaults (made once:
    // one set of properties is read per rendered ad).
    // Never destroyed: other threads may use it during exit.
    static const Value& defaults = *new Value(defaultProperties());
    const Value& given = properties.isDictionary() ? properties : Value::null();
    auto text = [&](const char* key) -> const std::string& { return *hlButtonString(given, defaults, key).string(); };
    auto number = [&](const char* key) -> const Value& { return hlButtonNumber(given, defaults, key); };
    auto milliseconds = [&](const char* key) {
        return hlFinite(HLUtils::hl_timeIntervalValue(HLUtils::timeInSecondsFromMilliseconds(number(key))));
    };
    auto seconds = [&](const char* key) { return hlFinite(HLUtils::hl_timeIntervalValue(number(key))); };
    horizontalConstraint_ = text("h_constraint");
    verticalConstraint_ = text("v_constraint");
    widthPercentOfScreen_ = number("width").floatValue();
    heightPercentOfScreen_ = number("height").floatValue();
    margin_ = number("margin").floatValue();
    gravity_ = number("gravity").unsignedIntValue();
    tapToFade_ = number("tap_to_fade").boolValue();
    tapToFadeDuration_ = milliseconds("tap_to_fade_duration_milliseconds");
    fadeInDuration_ = milliseconds("fade_in_duration_milliseconds");
    fadeOutDuration_ = milliseconds("fade_out_duration_milliseconds");
    fadeInDelay_ = seconds("fade_in_delay_seconds");
    fadeOutDelay_ = seconds("fade_out_delay_seconds");
    return self<HLVideoButtonProperties>();
}

Ref<HLVideoButtonProperties> HLVideoButtonProperties::copy() const {
    auto copy = NSObject::alloc<HLVideoButtonProperties>();
    copy->sdk_ = sdk_;
    copy->horizontalConstraint_ = horizontalConstraint_;
    copy->verticalConstraint_ = verticalConstraint_;
    copy->widthPercentOfScreen_ = widthPercentOfScreen_;
    copy->heightPercentOfScreen_ = heightPercentOfScreen_;
    copy->margin_ = margin_;
    copy->gravity_ = gravity_;
    copy->tapToFade_ = tapToFade_;
    copy->tapToFadeDuration_ = tapToFadeDuration_;
    copy->fadeInDuration_ = fadeInDuration_;
    copy->fadeOutDuration_ = fadeOutDuration_;
    copy->fadeInDelay_ = fadeInDelay_;
    copy->fadeOutDelay_ = fadeOutDelay_;
    return copy;
}

bool HLVideoButtonProperties::isEqual(const NSObject& other) const {
    if (this == &other) return true;
    if (typeid(other) != typeid(*this)) return false;
    const auto& o = static_cast<const HLVideoButtonProperties&>(other);
    return horizontalConstraint_ == o.horizontalConstraint_ && verticalConstraint_ == o.verticalConstraint_ &&
           widthPercentOfScreen_ == o.widthPercentOfScreen_ && heightPercentOfScreen_ == o.heightPercentOfScreen_ &&
           margin_ == o.margin_ && gravity_ == o.gravity_ && tapToFade_ == o.tapToFade_ &&
           tapToFadeDuration_ == o.tapToFadeDuration_ && fadeInDuration_ == o.fadeInDuration_ &&
           fadeOutDuration_ == o.fadeOutDuration_ && fadeInDelay_ == o.fadeInDelay_ &&
           fadeOutDelay_ == o.fadeOutDelay_;
}

size_t HLVideoButtonProperties::hash() const {
    uint32_t h = static_cast<uint32_t>(NSString::hash(horizontalConstraint_));
    for (uint32_t item : {static_cast<uint32_t>(NSString::hash(verticalConstraint_)), hlHashDouble(widthPercentOfScreen_),
                          hlHashDouble(heightPercentOfScreen_), hlHashDouble(margin_), gravity_,
                          static_cast<uint32_t>(tapToFade_), hlHashDouble(tapToFadeDuration_),
                          hlHashDouble(fadeInDuration_), hlHashDouble(fadeOutDuration_), hlHashDouble(fadeInDelay_),
                          hlHashDouble(fadeOutDelay_)})
        h = h * 31u + item;
    return h;
}
