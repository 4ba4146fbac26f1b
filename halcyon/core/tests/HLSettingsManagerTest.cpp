// The settings table: the stored dictionary across a restart, the server's
// and the publisher's updates with their odd cases (shared tags, number
// texts, kinds refused), slot bounds, a non-number in the verbose slot, a
// malformed layout format falling back, and the table used from several
// threads at once.
#include <gtest/gtest.h>

#include <thread>

#include "halcyon/core/HLDataCollector.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/NSException.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIView.h"

namespace {

class HLSettingsManagerTest : public HalcyonTest {
protected:
    void SetUp() override {
        HalcyonTest::SetUp();
        sdk = startSdk();
        table = sdk->settingsManager();
    }
    Ref<HLSdk> sdk;
    Ref<HLSettingsManager> table;
};

TEST_F(HLSettingsManagerTest, TheTableSurvivesARestart) {
    table->putString("unity-5", kHLSlotPluginVersion);
    table->putLong(1234, kHLSlotGetRetryDelay);
    table->persistAll();
    table->putString("lost", 63);  // never persisted
    Ref<HLSdk> next = restartSdk();
    EXPECT_EQ(next->stringForKey(kHLSlotPluginVersion), "unity-5");
    EXPECT_EQ(next->integerForKey(kHLSlotGetRetryDelay), 1234);
    EXPECT_EQ(next->stringForKey(63), "AVFoundation");
    EXPECT_EQ(next->stringForKey(kHLSlotDeviceToken), "hl-token-1");

    // Whatever else is stored under the key is ignored, and the defaults hold.
    NSUserDefaults::standardUserDefaults()->setObject(Value::array({1, 2}), kHLTestSettingsKey);
    next->settingsManager()->loadAll();
    EXPECT_EQ(next->integerForKey(kHLSlotGetRetryDelay), 1234);

    table->clearAll();
    table->persistAll();
    EXPECT_EQ(storedSettings(), Value::dictionary({}));
    EXPECT_EQ(restartSdk()->integerForKey(kHLSlotGetRetryDelay), 10000);
}

TEST_F(HLSettingsManagerTest, ServerValuesFollowTheSlotsType) {
    table->loadFromServer(Value::dictionary({
        {"get_retry_delay", "abc"},
        {"hash_algorithm", 5},
        {"ios_inter_h_constraint", "H:|-(1)-[interstitial]-(1)-|"},
        {"lhs_close_button_graphic", true},
        {"lhs_close_button_video", "1"},
        {"short_hash_size", "12"},
        {"text_incent_prompt_title", Value::dictionary({})},
        {"device_id", Value()},
        {"qq", Value::array({})},
    }));
    EXPECT_EQ(table->integerForKey(kHLSlotGetRetryDelay), 10000);
    EXPECT_EQ(table->stringForKey(kHLSlotHashAlgorithm), "5");
    EXPECT_EQ(table->stringForKey(127), "H:|-(1)-[interstitial]-(1)-|");
    EXPECT_EQ(table->stringForKey(131), "H:|-(0)-[adView]-(0)-|");
    EXPECT_TRUE(table->boolForKey(82));
    EXPECT_TRUE(table->boolForKey(83));
    EXPECT_EQ(table->intForKey(kHLSlotShortHashSize), 12);
    EXPECT_EQ(table->stringForKey(37), "Earn a Reward");
    EXPECT_EQ(table->stringForKey(kHLSlotDeviceId), "hl-device-1");
    EXPECT_FALSE(table->boolForKey(kHLSlotQq));
    EXPECT_EQ(listener->count("is not a string or a number, ignoring"), 2u);
    EXPECT_TRUE(listener->contains("Setting \"qq\" is not a number or a string, ignoring"));

    // Slot 131 has no value of its own: its shared tag leaves the stored form.
    table->persistAll();
    EXPECT_FALSE(storedSettings().contains("ios_inter_h_constraint"));
    table->putString("H:|[adView]|", 131);
    table->persistAll();
    EXPECT_EQ(storedSettings()["ios_inter_h_constraint"], Value("H:|[adView]|"));
    EXPECT_EQ(table->indexOfTag("ios_inter_h_constraint"), 127);
    EXPECT_EQ(table->indexOfTag("nothing"), -1);
}

TEST_F(HLSettingsManagerTest, PublisherTypesNameWhatIsPreloaded) {
    struct Case {
        const char* sizes;
        const char* types;
        const char* slot27;
        bool incent, native;
    };
    for (const Case& c : {Case{"INTER,BANNER", "NONE", "", false, false},
                          Case{"INTER,BANNER", "REGULAR", "INTER,BANNER", false, false},
                          Case{"", "MY_REWARDED", "", true, false},
                          Case{"MREC", "REGULAR,INCENTIVE,NATIVE", "MREC", true, true},
                          Case{"MREC", " REGULAR", "", false, false},
                          Case{"MREC", "", "MREC", true, true}}) {
        table->clearAll();
        auto settings = NSObject::alloc<HLSdkSettings>()->init();
        settings->setAutoPreloadAdSizes(c.sizes);
        settings->setAutoPreloadAdTypes(c.types);
        table->loadFromUserSettings(settings);
        EXPECT_EQ(table->stringForKey(kHLSlotAdAutoPreloadSizes), c.slot27) << c.types;
        EXPECT_EQ(table->boolForKey(kHLSlotAdAutoPreloadIncent), c.incent) << c.types;
        EXPECT_EQ(table->boolForKey(kHLSlotAdAutoPreloadNative), c.native) << c.types;
    }
}

TEST_F(HLSettingsManagerTest, SlotsOutsideTheTableAreRefused) {
    for (int64_t slot : {158, 1000, -1}) {
        try {
            table->stringForKey(slot);
            ADD_FAILURE() << slot;
        } catch (const NSException& e) {
            EXPECT_EQ(e.name(), NSInvalidArgumentException);
            EXPECT_EQ(e.reason(), "Invalid setting index: " + std::to_string(slot));
        }
        EXPECT_THROW(table->putBool(true, slot), NSException);
        EXPECT_THROW(table->clear(slot), NSException);
    }
    EXPECT_THROW(table->putString(std::nullopt, 3), NSException);
    // Tagless slots: no default, never stored, refused by the server.
    EXPECT_EQ(table->tagForKey(66), std::nullopt);
    EXPECT_EQ(table->stringForKey(150), std::nullopt);
    auto settings = serviceSettings();
    settings->putString("kept in memory", 150);
    settings->putInt(1, 158);
    settings->overriddenSettings()[12] = Value::array({});
    table->loadFromUserSettings(settings);
    table->persistAll();
    EXPECT_EQ(table->stringForKey(150), "kept in memory");
    for (const std::string& key : storedSettings().keys()) EXPECT_GE(table->indexOfTag(key), 0) << key;
    EXPECT_TRUE(listener->contains("Override of setting 158 refused: no such slot"));
    EXPECT_TRUE(listener->contains("Override of setting 12 refused: not a string or a number"));
}

TEST_F(HLSettingsManagerTest, ANonNumberInTheVerboseSlotNeitherRecursesNorTurnsLoggingOn) {
    auto settings = serviceSettings();
    settings->putString("loud", kHLSlotIsVerboseLogging);
    Ref<HLSdk> next = restartSdk(settings);
    EXPECT_TRUE(next->isEnabledAndInitialized());
    EXPECT_FALSE(next->settingsManager()->isVerboseLoggingOn());
    EXPECT_FALSE(logCapture().contains("[HalcyonSdk] DEBUG"));
    EXPECT_FALSE(next->boolForKey(kHLSlotIsVerboseLogging));
    EXPECT_TRUE(listener->contains("ERROR [HLSettingsManager] is_verbose_logging is not a number"));
    next->settingsManager()->putInt(2, kHLSlotIsVerboseLogging);
    EXPECT_TRUE(next->settingsManager()->isVerboseLoggingOn());
}

TEST_F(HLSettingsManagerTest, AMalformedLayoutFormatFallsBackToTheSlotsDefault) {
    table->loadFromServer(Value::dictionary({{"ios_close_h_constraint", "H:[closeButton(50"}}));
    auto container = UIView::alloc()->initWithFrame(CGRectMake(0, 0, 320, 480));
    auto button = UIView::alloc()->init();
    container->addSubview(button);
    auto constraints = table->constraintsForKeys({129, 130}, {{"closeButton", button}});
    EXPECT_FALSE(button->translatesAutoresizingMaskIntoConstraints());
    auto expected = NSLayoutConstraint::constraintsWithVisualFormat("H:[closeButton(50)]-(6)-|", 0, Value(),
                                                                   {{"closeButton", button}});
    auto vertical = NSLayoutConstraint::constraintsWithVisualFormat("V:|-(6)-[closeButton(50)]", 0, Value(),
                                                                   {{"closeButton", button}});
    ASSERT_EQ(constraints.size(), expected.size() + vertical.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(constraints[i]->description(), expected[i]->description());
    EXPECT_TRUE(listener->contains("ERROR [HLSettingsManager] Layout format \"H:[closeButton(50\" of setting "
                                   "ios_close_h_constraint cannot be used"));
    expectLogLine("H:[closeButton(50");  // the platform's own report of the format
}

TEST_F(HLSettingsManagerTest, TheTableIsSharedSafelyBetweenThreads) {
    auto collector = sdk->dataCollector();
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < 200; ++i) {
                switch ((t + i) % 5) {
                    case 0: table->loadFromServer(Value::dictionary({{"get_retry_delay", i}, {"qq", i % 2 == 0}})); break;
                    case 1: (void)table->integerForKey(kHLSlotGetRetryDelay); break;
                    case 2: table->persistAll(); break;
                    case 3: (void)collector->deviceInformation(); break;
                    default: (void)table->allSettings(); (void)sdk->isEnabledAndInitialized(); break;
                }
            }
        });
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(storedSettings()["get_retry_delay"].isNumber());
}

}  // namespace
