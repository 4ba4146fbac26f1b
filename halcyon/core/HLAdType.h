// What kind of ad is asked for: regular, incentivized video ("VIDEOA") or
// native. Immutable and shareable between threads; types compare by label,
// so two threads building the shared constants at once is harmless.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/runtime/NSObject.h"

class HLAdType : public NSObject {
public:
    Ref<HLAdType> initWithLabel(std::string label);

    static Ref<HLAdType> typeRegular();       // "REGULAR"
    static Ref<HLAdType> typeIncentivized();  // "VIDEOA"
    static Ref<HLAdType> typeNative();        // "NATIVE"
    // Regular, incentivized, native.
    static std::vector<Ref<HLAdType>> allTypes();
    // The incentivized type for "VIDEOA" in any case; the regular type for
    // every other string, "NATIVE" and nullopt included.
    static Ref<HLAdType> adTypeFromString(const std::optional<std::string>& text);

    const std::string& typeLabel() const { return typeLabel_; }
    // A fresh copy of the type label.
    std::string label() const { return typeLabel_; }

    bool isEqual(const NSObject& other) const override;
    // Type label and label equal (case-sensitive); null is unequal.
    bool isEqualToType(const Ref<HLAdType>& other) const;
    bool isEqualToType(const HLAdType& other) const;
    // hash(typeLabel) × 31 + hash(label), 32-bit, wrapping.
    size_t hash() const override;
    Ref<HLAdType> copy() const;
    // The type label in upper case.
    std::string description() const override;
    std::string debugDescription() const { return description(); }

private:
    std::string typeLabel_;
};
