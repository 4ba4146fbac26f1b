#include <gtest/gtest.h>

#include "platform/foundation/NSClassRegistry.h"

namespace {

class HLSdkProbe : public NSObject {};
class NeedsArgument : public NSObject {
public:
    explicit NeedsArgument(int) {}
};

TEST(NSClassRegistry, RegisteredClassesAreFoundByName) {
    EXPECT_FALSE(NSClassFromString("HLSdkProbe"));
    NSClassRegistry::registerClass<HLSdkProbe>();
    const Class c = NSClassFromString("HLSdkProbe");
    ASSERT_TRUE(c);
    EXPECT_EQ(c.name(), "HLSdkProbe");
    EXPECT_EQ(NSStringFromClass(c), "HLSdkProbe");
    auto instance = c.alloc();
    ASSERT_TRUE(instance);
    EXPECT_TRUE(instance->isMemberOfClass<HLSdkProbe>());
    EXPECT_EQ(NSStringFromClass(instance), "HLSdkProbe");
    EXPECT_EQ(NSStringFromClass(*instance), "HLSdkProbe");
    EXPECT_EQ(NSStringFromClass(Ref<NSObject>()), "");
    EXPECT_EQ(NSStringFromClass(Class()), "");
    EXPECT_TRUE(NSClassFromString("HLSdkProbe") == c);
}

TEST(NSClassRegistry, ClassesWithoutDefaultConstructionAreFoundButNotMade) {
    NSClassRegistry::registerClass<NeedsArgument>();
    const Class c = NSClassFromString("NeedsArgument");
    ASSERT_TRUE(c);
    EXPECT_EQ(c.alloc(), nullptr);
    EXPECT_EQ(Class().alloc(), nullptr);
}

TEST(NSClassRegistry, HiddenClassesAreAbsent) {
    NSClassRegistry::registerClass<HLSdkProbe>();
    NSClassRegistry::hideClassForTesting("HLSdkProbe");
    EXPECT_FALSE(NSClassFromString("HLSdkProbe"));
    EXPECT_FALSE(NSClassFromString(""));
}

}  // namespace
