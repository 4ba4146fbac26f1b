#include "Trillium/TRACacheKey.h"

#include "platform/foundation/NSString.h"

Ref<TRACacheKey> TRACacheKey::initWithAdType(int64_t adType, int64_t eventType) {
    adType_ = adType;
    eventType_ = eventType;
    return self<TRACacheKey>();
}

bool TRACacheKey::isEqual(const NSObject& other) const {
    auto key = dynamic_cast<const TRACacheKey*>(&other);
    return key && isEqualToKey(*key);
}

size_t TRACacheKey::hash() const { return static_cast<size_t>(adType_ * 31 + eventType_); }

std::string TRACacheKey::description() const {
    return NSString::stringWithFormat("<TRACacheKey adType=%lld eventType=%lld>", adType_, eventType_);
}

void TRACacheKey::encodeWithCoder(NSCoder& coder) const {
    coder.encodeInteger(adType_, "TRACACHEKEYAdType");
    coder.encodeInteger(eventType_, "TRACACHEKEYEventType");
}

void TRACacheKey::initWithCoder(const NSCoder& coder) {
    adType_ = coder.decodeIntegerForKey("TRACACHEKEYAdType");
    eventType_ = coder.decodeIntegerForKey("TRACACHEKEYEventType");
}
