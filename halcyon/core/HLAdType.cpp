#include "halcyon/core/HLAdType.h"

#include "platform/foundation/NSString.h"

namespace {
// The shared types are made on first use (function-local statics, so once).
Ref<HLAdType> hlMakeAdType(const char* label) { return NSObject::alloc<HLAdType>()->initWithLabel(label); }
}  // namespace

Ref<HLAdType> HLAdType::initWithLabel(std::string label) {
    typeLabel_ = std::move(label);
    return self<HLAdType>();
}

Ref<HLAdType> HLAdType::typeRegular() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<HLAdType>& type = *new Ref<HLAdType>(hlMakeAdType("REGULAR"));
    return type;
}
Ref<HLAdType> HLAdType::typeIncentivized() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<HLAdType>& type = *new Ref<HLAdType>(hlMakeAdType("VIDEOA"));
    return type;
}
Ref<HLAdType> HLAdType::typeNative() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<HLAdType>& type = *new Ref<HLAdType>(hlMakeAdType("NATIVE"));
    return type;
}

std::vector<Ref<HLAdType>> HLAdType::allTypes() { return {typeRegular(), typeIncentivized(), typeNative()}; }

Ref<HLAdType> HLAdType::adTypeFromString(const std::optional<std::string>& text) {
    if (text && NSString::caseInsensitiveCompare(*text, "VIDEOA") == NSComparisonResult::OrderedSame) return typeIncentivized();
    return typeRegular();
}

bool HLAdType::isEqual(const NSObject& other) const {
    if (this == &other) return true;
    if (typeid(other) != typeid(*this)) return false;
    return isEqualToType(static_cast<const HLAdType&>(other));
}

bool HLAdType::isEqualToType(const Ref<HLAdType>& other) const { return other && isEqualToType(*other); }

bool HLAdType::isEqualToType(const HLAdType& other) const {
    return typeLabel_ == other.typeLabel_ && label() == other.label();
}

size_t HLAdType::hash() const {
    uint32_t h = static_cast<uint32_t>(NSString::hash(typeLabel_));
    return h * 31u + static_cast<uint32_t>(NSString::hash(label()));
}

Ref<HLAdType> HLAdType::copy() const { return NSObject::alloc<HLAdType>()->initWithLabel(typeLabel_); }

std::string HLAdType::description() const { return NSString::uppercaseString(typeLabel_); }
