// Sizes, types and specs as dictionary keys: equality and hash agree, labels
// compare case-sensitively, sizes parsed from labels find the shared
// constants, and copies and descriptions keep what the wire needs.
#include <gtest/gtest.h>

#include <unordered_set>

#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/HLSdkSettings.h"

namespace {

Ref<HLAdSize> hlSize(const char* label) { return NSObject::alloc<HLAdSize>()->initWithLabel(label); }
Ref<HLAdType> hlType(const char* label) { return NSObject::alloc<HLAdType>()->initWithLabel(label); }

TEST(HLValueTypesTest, SizesFromLabelsEqualTheSharedConstants) {
    auto banner = hlSize("BANNER");
    EXPECT_TRUE(banner->isEqual(*HLAdSize::sizeBanner()));
    EXPECT_EQ(banner->hash(), HLAdSize::sizeBanner()->hash());
    auto dimensioned = NSObject::alloc<HLAdSize>()->initWithWidth(320, 50);
    EXPECT_EQ(dimensioned->label(), "320x50");
    EXPECT_FALSE(dimensioned->isEqual(*HLAdSize::sizeBanner()));
    EXPECT_FALSE(hlSize("banner")->isEqual(*HLAdSize::sizeBanner()));
    EXPECT_FALSE(HLAdSize::sizeBanner()->isEqualToSize(Ref<HLAdSize>()));
    // (width × 31 + height) × 31 + label hash, wrapping in 32 bits.
    auto big = NSObject::alloc<HLAdSize>()->initWithWidth(0xFFFFFFFF, 7);
    EXPECT_EQ(big->hash(), big->copy()->hash());
    EXPECT_TRUE(big->isEqual(*big->copy()));
    EXPECT_LE(big->hash(), 0xFFFFFFFFu);

    EXPECT_EQ(HLAdSize::sizeWithLabel("inter", nullptr), HLAdSize::sizeInterstitial());
    EXPECT_EQ(HLAdSize::sizeWithLabel("320x50", HLAdSize::sizeMRec()), HLAdSize::sizeMRec());
    EXPECT_EQ(HLAdSize::sizeWithLabel(std::nullopt, nullptr), nullptr);
    ASSERT_EQ(HLAdSize::allSizes().size(), 4u);
    EXPECT_EQ(HLAdSize::allSizes()[3]->description(), "LEADER");
}

TEST(HLValueTypesTest, TypesCompareByExactLabel) {
    for (const char* text : {"videoa", "VIDEOA", "VideoA"})
        EXPECT_EQ(HLAdType::adTypeFromString(std::string(text)), HLAdType::typeIncentivized()) << text;
    for (std::optional<std::string> text : {std::optional<std::string>("NATIVE"), std::optional<std::string>("regular"),
                                            std::optional<std::string>(""), std::optional<std::string>()})
        EXPECT_EQ(HLAdType::adTypeFromString(text), HLAdType::typeRegular());
    auto lower = hlType("regular");
    EXPECT_FALSE(lower->isEqual(*HLAdType::typeRegular()));
    EXPECT_EQ(lower->description(), HLAdType::typeRegular()->description());
    EXPECT_TRUE(hlType("NATIVE")->isEqual(*HLAdType::typeNative()));
    EXPECT_EQ(hlType("NATIVE")->hash(), HLAdType::typeNative()->hash());
    EXPECT_NE(HLAdType::typeNative()->copy(), HLAdType::typeNative());
    EXPECT_TRUE(HLAdType::typeNative()->copy()->isEqual(*HLAdType::typeNative()));
    EXPECT_EQ(HLSdkSettings::defaultAutoPreloadAdTypes(), "VIDEOA,REGULAR,NATIVE");
}

TEST(HLValueTypesTest, SpecsOfEqualPartsAreOneKey) {
    auto a = HLAdSpec::specWithSize(hlSize("INTER"), hlType("VIDEOA"));
    auto b = HLAdSpec::specWithSize(HLAdSize::sizeInterstitial(), HLAdType::typeIncentivized());
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_EQ(a->description(), "HLAdSpec <size = INTER, type = VIDEOA>");

    auto untyped = HLAdSpec::specWithSize(HLAdSize::sizeInterstitial(), nullptr);
    EXPECT_FALSE(untyped->isEqual(*b));
    EXPECT_FALSE(b->isEqual(*untyped));
    EXPECT_TRUE(untyped->isEqual(*HLAdSpec::specWithSize(hlSize("INTER"), nullptr)));
    EXPECT_EQ(untyped->description(), "HLAdSpec <size = INTER, type = (null)>");

    auto copy = a->copy();
    EXPECT_EQ(copy->size(), a->size());  // the same objects, held again
    EXPECT_EQ(copy->type(), a->type());
    EXPECT_FALSE(a->isEqual(*HLAdSize::sizeInterstitial()));  // another class

    struct HLSpecHash {
        size_t operator()(const Ref<HLAdSpec>& s) const { return s->hash(); }
    };
    struct HLSpecEqual {
        bool operator()(const Ref<HLAdSpec>& x, const Ref<HLAdSpec>& y) const { return x->isEqual(*y); }
    };
    std::unordered_set<Ref<HLAdSpec>, HLSpecHash, HLSpecEqual> keys{a, b, copy, untyped};
    EXPECT_EQ(keys.size(), 2u);
}

}  // namespace
