// The placement format an ad is asked for and filed under: banner,
// interstitial, medium rectangle or leaderboard. Immutable; the four shared
// sizes are made once. Sizes are keys of the ad service's load states, so
// equality and hash follow the rules below and may be used from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/runtime/NSObject.h"

class HLAdSize : public NSObject {
public:
    // Width and height 0.
    Ref<HLAdSize> initWithLabel(std::string label);
    // The label "<width>x<height>" ("320x50").
    Ref<HLAdSize> initWithWidth(uint32_t width, uint32_t height);

    static Ref<HLAdSize> sizeBanner();        // "BANNER"
    static Ref<HLAdSize> sizeInterstitial();  // "INTER"
    static Ref<HLAdSize> sizeMRec();          // "MREC"
    static Ref<HLAdSize> sizeLeader();        // "LEADER"
    // Banner, interstitial, medium rectangle, leaderboard.
    static std::vector<Ref<HLAdSize>> allSizes();
    // The shared size whose label equals `label` ignoring case, else `fallback`
    // (which may be null).
    static Ref<HLAdSize> sizeWithLabel(const std::optional<std::string>& label, const Ref<HLAdSize>& fallback);

    const std::string& label() const { return label_; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }

    // Same object, or an HLAdSize of exactly this class with equal fields.
    bool isEqual(const NSObject& other) const override;
    // Width, height and label (case-sensitive); null is unequal.
    bool isEqualToSize(const Ref<HLAdSize>& other) const;
    bool isEqualToSize(const HLAdSize& other) const;
    // (width × 31 + height) × 31 + hash of the label, 32-bit, wrapping.
    size_t hash() const override;
    Ref<HLAdSize> copy() const;
    std::string description() const override { return label_; }
    std::string debugDescription() const { return description(); }

private:
    std::string label_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};
