// The key of the full-screen ad cache: the internal ad type and the event
// type (0 ordinary, 1 return ad, 2 splash) of the ads it holds.
#pragma once

#include <cstdint>

#include "platform/foundation/NSCoder.h"
#include "platform/runtime/NSObject.h"

class TRACacheKey : public NSObject, public NSCoding {
public:
    Ref<TRACacheKey> initWithAdType(int64_t adType, int64_t eventType);

    int64_t adType() const { return adType_; }
    int64_t eventType() const { return eventType_; }
    bool isEqualToKey(const TRACacheKey& other) const {
        return adType_ == other.adType_ && eventType_ == other.eventType_;
    }
    bool isEqual(const NSObject& other) const override;
    size_t hash() const override;
    std::string description() const override;

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

private:
    int64_t adType_ = 0;
    int64_t eventType_ = 0;
};
