// The registration singleton: the application key in the user defaults,
// across restarts, refusals, and creation from several threads at once.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/foundation/NSClassRegistry.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/testing/PlatformTest.h"
#include "tamarind/TamarindAdRegistration.h"
#include "tamarind/TamarindClasses.h"

class TamarindAdRegistrationTest : public platform::testing::PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        registerTamarindClasses();
    }
};

TEST_F(TamarindAdRegistrationTest, KeyIsStoredUnderItsKeyAndSurvivesARestart) {
    auto registration = TamarindAdRegistration::sharedRegistration();
    EXPECT_EQ(registration->applicationId(), std::nullopt);
    EXPECT_TRUE(registration->setApplicationId("tm-app-key-1"));
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->stringForKey("TamarindAd:ApplicationIdKey"), "tm-app-key-1");

    restartProcessState();
    EXPECT_EQ(TamarindAdRegistration::sharedRegistration()->applicationId(), "tm-app-key-1");
    EXPECT_TRUE(NSClassFromString("TamarindAdRegistration"));
}

TEST_F(TamarindAdRegistrationTest, EmptyOrBlankKeyIsRefusedAndTheStoredOneStays) {
    auto registration = TamarindAdRegistration::sharedRegistration();
    ASSERT_TRUE(registration->setApplicationId("kept"));
    expectLogLine("TamarindAd [Error]: The application ID must not be empty");
    EXPECT_FALSE(registration->setApplicationId(""));
    EXPECT_FALSE(registration->setApplicationId(" \t\n"));
    EXPECT_EQ(registration->applicationId(), "kept");
}

TEST_F(TamarindAdRegistrationTest, StoredValueOfAnotherKindReadsAsNone) {
    NSUserDefaults::standardUserDefaults()->setInteger(42, "TamarindAd:ApplicationIdKey");
    EXPECT_EQ(TamarindAdRegistration::sharedRegistration()->applicationId(), std::nullopt);
}

TEST_F(TamarindAdRegistrationTest, OneInstanceForThreadsRacingToCreateIt) {
    std::vector<Ref<TamarindAdRegistration>> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] {
            seen[i] = TamarindAdRegistration::sharedRegistration();
            seen[i]->setApplicationId("key-" + std::to_string(i));
        });
    for (auto& t : threads) t.join();
    for (const auto& r : seen) EXPECT_EQ(r, seen.front());
    auto stored = seen.front()->applicationId();
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->rfind("key-", 0), 0u);
}
