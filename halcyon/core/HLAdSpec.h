// A size and a type together: the key of the preload queues. Holds the very
// objects it was given (either may be null); immutable.
#pragma once

#include <string>

#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdType.h"
#include "platform/runtime/NSObject.h"

class HLAd;

class HLAdSpec : public NSObject {
public:
    static Ref<HLAdSpec> specWithSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type);
    Ref<HLAdSpec> initWithSize(Ref<HLAdSize> size, Ref<HLAdType> type);
    // The ad's parsed size and type (both null for a null ad).
    static Ref<HLAdSpec> specFromAd(const Ref<HLAd>& ad);

    const Ref<HLAdSize>& size() const { return size_; }
    const Ref<HLAdType>& type() const { return type_; }

    bool isEqual(const NSObject& other) const override;
    // Sizes equal and types equal, each by identity (null with null) or isEqual.
    bool isEqualToSpec(const Ref<HLAdSpec>& other) const;
    bool isEqualToSpec(const HLAdSpec& other) const;
    // hash(size) × 31 + hash(type), 32-bit, wrapping; a null field hashes as 0.
    size_t hash() const override;
    // A new spec holding the same size and type objects.
    Ref<HLAdSpec> copy() const;
    // "HLAdSpec <size = %@, type = %@>".
    std::string description() const override;

private:
    Ref<HLAdSize> size_;
    Ref<HLAdType> type_;
};
