#include "halcyon/core/HLAdSize.h"

#include "platform/foundation/NSString.h"

namespace {
// The size class's constants, made once on first use of any of them.
struct HLAdSizeConstants {
    Ref<HLAdSize> banner = NSObject::alloc<HLAdSize>()->initWithLabel("BANNER");
    Ref<HLAdSize> interstitial = NSObject::alloc<HLAdSize>()->initWithLabel("INTER");
    Ref<HLAdSize> mrec = NSObject::alloc<HLAdSize>()->initWithLabel("MREC");
    Ref<HLAdSize> leader = NSObject::alloc<HLAdSize>()->initWithLabel("LEADER");
};
const HLAdSizeConstants& hlAdSizeConstants() {
    // Never destroyed: other threads may use it during exit.
    static const HLAdSizeConstants& constants = *new HLAdSizeConstants();
    return constants;
}
}  // namespace

Ref<HLAdSize> HLAdSize::initWithLabel(std::string label) {
    label_ = std::move(label);
    width_ = height_ = 0;
    return self<HLAdSize>();
}

Ref<HLAdSize> HLAdSize::initWithWidth(uint32_t width, uint32_t height) {
    width_ = width;
    height_ = height;
    label_ = NSString::stringWithFormat("%lux%lu", static_cast<unsigned long>(width), static_cast<unsigned long>(height));
    return self<HLAdSize>();
}

Ref<HLAdSize> HLAdSize::sizeBanner() { return hlAdSizeConstants().banner; }
Ref<HLAdSize> HLAdSize::sizeInterstitial() { return hlAdSizeConstants().interstitial; }
Ref<HLAdSize> HLAdSize::sizeMRec() { return hlAdSizeConstants().mrec; }
Ref<HLAdSize> HLAdSize::sizeLeader() { return hlAdSizeConstants().leader; }

std::vector<Ref<HLAdSize>> HLAdSize::allSizes() {
    const auto& c = hlAdSizeConstants();
    return {c.banner, c.interstitial, c.mrec, c.leader};
}

Ref<HLAdSize> HLAdSize::sizeWithLabel(const std::optional<std::string>& label, const Ref<HLAdSize>& fallback) {
    if (label)
        for (const auto& size : allSizes())
            if (NSString::caseInsensitiveCompare(size->label(), *label) == NSComparisonResult::OrderedSame) return size;
    return fallback;
}

bool HLAdSize::isEqual(const NSObject& other) const {
    if (this == &other) return true;
    if (typeid(other) != typeid(*this)) return false;
    return isEqualToSize(static_cast<const HLAdSize&>(other));
}

bool HLAdSize::isEqualToSize(const Ref<HLAdSize>& other) const { return other && isEqualToSize(*other); }

bool HLAdSize::isEqualToSize(const HLAdSize& other) const {
    return width_ == other.width_ && height_ == other.height_ && label_ == other.label_;
}

size_t HLAdSize::hash() const {
    uint32_t h = width_ * 31u + height_;
    return h * 31u + static_cast<uint32_t>(NSString::hash(label_));
}

Ref<HLAdSize> HLAdSize::copy() const {
    auto size = NSObject::alloc<HLAdSize>()->initWithLabel(label_);
    size->width_ = width_;
    size->height_ = height_;
    return size;
}
