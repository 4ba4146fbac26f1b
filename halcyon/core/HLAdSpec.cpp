#include "halcyon/core/HLAdSpec.h"

#include "halcyon/core/HLAd.h"
#include "platform/foundation/NSString.h"

namespace {
// Both null, the same object, or equal by the field's own equality.
bool hlSpecFieldsEqual(const Ref<NSObject>& a, const Ref<NSObject>& b) {
    if (a == b) return true;
    return a && b && a->isEqual(*b);
}
}  // namespace

Ref<HLAdSpec> HLAdSpec::specWithSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type) {
    return NSObject::alloc<HLAdSpec>()->initWithSize(size, type);
}

Ref<HLAdSpec> HLAdSpec::specFromAd(const Ref<HLAd>& ad) {
    return ad ? specWithSize(ad->size(), ad->type()) : specWithSize(nullptr, nullptr);
}

Ref<HLAdSpec> HLAdSpec::initWithSize(Ref<HLAdSize> size, Ref<HLAdType> type) {
    size_ = std::move(size);
    type_ = std::move(type);
    return self<HLAdSpec>();
}

bool HLAdSpec::isEqual(const NSObject& other) const {
    if (this == &other) return true;
    if (typeid(other) != typeid(*this)) return false;
    return isEqualToSpec(static_cast<const HLAdSpec&>(other));
}

bool HLAdSpec::isEqualToSpec(const Ref<HLAdSpec>& other) const { return other && isEqualToSpec(*other); }

bool HLAdSpec::isEqualToSpec(const HLAdSpec& other) const {
    return hlSpecFieldsEqual(size_, other.size_) && hlSpecFieldsEqual(type_, other.type_);
}

size_t HLAdSpec::hash() const {
    uint32_t sizeHash = size_ ? static_cast<uint32_t>(size_->hash()) : 0;
    uint32_t typeHash = type_ ? static_cast<uint32_t>(type_->hash()) : 0;
    return sizeHash * 31u + typeHash;
}

Ref<HLAdSpec> HLAdSpec::copy() const { return specWithSize(size_, type_); }

std::string HLAdSpec::description() const {
    return NSString::stringWithFormat("HLAdSpec <size = %@, type = %@>", size_, type_);
}
