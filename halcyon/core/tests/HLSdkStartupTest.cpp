// Start-up of the root object and the task queues: the version check, one
// instance per key under concurrent creation, refused keys and settings,
// missing prerequisites, publisher settings only when slot 0 allows them,
// tasks waiting on queue 1 every 2.0 s while the client initialises, queue
// priorities, delayed hand-overs on the virtual clock and the task timer; a
// start whose preferences cannot be read.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "halcyon/core/HLStatsManager.h"
#include "halcyon/core/HLTargetingData.h"
#include "halcyon/core/HLTaskAPISubmitData.h"
#include "halcyon/core/HLTask.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/HLTaskTimer.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSException.h"
#include "platform/net/NetworkConditions.h"
#include "platform/testing/UnreadableFiles.h"

namespace {

using simulator::HalcyonService;

// Records each run with its name and queue into a shared journal.
class HLJournalTask : public HLTask, public HLTimedTask {
public:
    Ref<HLJournalTask> initWithSdk(const Ref<HLSdk>& sdk, std::string name,
                                   std::shared_ptr<std::vector<std::string>> journal,
                                   std::shared_ptr<std::mutex> mutex) {
        HLTask::initWithSdk(sdk);
        name_ = std::move(name);
        journal_ = std::move(journal);
        mutex_ = std::move(mutex);
        return self<HLJournalTask>();
    }
    void run() override {
        auto queue = NSOperationQueue::currentQueue();
        std::scoped_lock lock(*mutex_);
        journal_->push_back(name_ + "@" + (queue ? queue->name() : "?"));
    }
    bool isTimed() const override { return timed; }
    bool isVideoTask() const override { return true; }
    bool timed = false;

private:
    std::string name_;
    std::shared_ptr<std::vector<std::string>> journal_;
    std::shared_ptr<std::mutex> mutex_;
};

class HLSdkStartupTest : public HalcyonTest {
protected:
    Ref<HLJournalTask> task(const Ref<HLSdk>& sdk, std::string name) {
        return NSObject::alloc<HLJournalTask>()->initWithSdk(sdk, std::move(name), journal, journalMutex);
    }
    std::vector<std::string> entries() {
        std::scoped_lock lock(*journalMutex);
        return *journal;
    }

    std::shared_ptr<std::vector<std::string>> journal = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<std::mutex> journalMutex = std::make_shared<std::mutex>();
    Ref<NSUserDefaults> defaults = NSUserDefaults::standardUserDefaults();
};

TEST_F(HLSdkStartupTest, TheVersionCheckClearsSettingsStoredByOlderVersions) {
    struct Case {
        std::optional<int64_t> stored;
        bool kept;
    };
    for (Case c : {Case{std::nullopt, false}, Case{342, false}, Case{343, true}, Case{-1, true}}) {
        defaults->setObject(Value::dictionary({{"plugin_version", "2.0"}}), kHLTestSettingsKey);
        if (c.stored) defaults->setInteger(*c.stored, HLSdk::lastKnownVersionCodeKey());
        else defaults->removeObjectForKey(HLSdk::lastKnownVersionCodeKey());
        Ref<HLSdk> sdk = restartSdk();
        EXPECT_EQ(sdk->stringForKey(kHLSlotPluginVersion), c.kept ? "2.0" : "") << c.stored.value_or(0);
        EXPECT_EQ(defaults->integerForKey(HLSdk::lastKnownVersionCodeKey()), 343);
    }
    EXPECT_EQ(logCapture().count("[HLTaskInitializeSdk] Handling an SDK update migration..."), 2u);
}

// The preferences cannot be read at a start (the file-system seam): what an
// earlier start stored (the version last run, the first-run mark, settings,
// counters, targeting) is not taken for absent nor written over, and what
// this start changed is laid over it once they read: a setting set, a count
// added to the stored one, a targeting value set beside the stored ones.
TEST_F(HLSdkStartupTest, APreferencesFileUnreadableAtAStartKeepsWhatItHoldsAndTakesWhatChanged) {
    Ref<HLSdk> sdk = startSdkWithoutPreloads();
    sdk->setPluginVersion("unity-5");
    sdk->statsManager()->incrementKey("ad_req");
    sdk->statsManager()->incrementKey("ad_req");
    sdk->targetingData()->setLanguage("en");
    sdk->targetingData()->setGender('f');
    const std::optional<std::string> firstRun = defaults->stringForKey(HLSdk::isFirstRunKey());
    ASSERT_TRUE(firstRun);
    const size_t migrations = logCapture().count("Handling an SDK update migration");  // the new install's

    const std::string file = home() + "/Library/Preferences/com.paranormal.detector.plist";
    platform::testing::FileSystemConditions::setReadsFail(file, EIO);
    const size_t submissions = service.requestsTo(HalcyonService::kDevicePath).size();
    sdk = restartSdk(settingsWithoutPreloads());
    EXPECT_EQ(service.requestsTo(HalcyonService::kDevicePath).size(), submissions);  // it waits for the store
    sdk->settingsManager()->putNumber(Value(45), kHLSlotAdRefreshSeconds);
    sdk->settingsManager()->persistAll();
    sdk->statsManager()->incrementKey("ad_req");
    sdk->targetingData()->setGender('m');
    platform::testing::FileSystemConditions::setReadsFail(file, std::nullopt);

    auto expectKeptAndChanged = [&](const Ref<HLSdk>& current) {
        current->settingsManager()->persistAll();
        EXPECT_EQ(storedSettings()["plugin_version"], Value("unity-5"));
        EXPECT_EQ(storedSettings()[*current->settingsManager()->tagForKey(kHLSlotAdRefreshSeconds)], Value(45));
        EXPECT_EQ(current->statsManager()->valueOfKey("ad_req"), Value(3));
        EXPECT_EQ(current->targetingData()->allData(), Value::dictionary({{"language", "en"}, {"gender", "m"}}));
        EXPECT_EQ(defaults->integerForKey(HLSdk::lastKnownVersionCodeKey()), kHLSdkVersionCode);
        EXPECT_EQ(defaults->stringForKey(HLSdk::isFirstRunKey()), firstRun);
    };
    expectKeptAndChanged(sdk);
    expectKeptAndChanged(restartSdk(settingsWithoutPreloads()));
    EXPECT_EQ(logCapture().count("Handling an SDK update migration"), migrations);
}

// The preferences, and the device identity stored in them, cannot be read
// at a start (through the read seam, or chmod 000 without root's override).
// Asked without the stored token, the service would register the device
// anew, and the new identity would replace the stored one for good: the
// device data waits for preferences that read, then goes with the stored
// token, and the stored device stays the first one, also after a restart.
class HLSdkUnreadableStartTest : public platform::testing::UnreadableFileTest<HalcyonTest> {
protected:
    std::vector<std::string> submissionQueries() {
        std::vector<std::string> queries;
        for (const auto& request : service.requestsTo(HalcyonService::kDevicePath))
            queries.push_back(request.query.value_or(""));
        return queries;
    }
};

TEST_P(HLSdkUnreadableStartTest, TheDeviceDataWaitsForTheStoredIdentity) {
    const simulator::HalcyonDeviceIdentity first{"device-1", "token-1", "publisher", "app", std::nullopt};
    service.setDeviceIdentity(first);
    startSdkWithoutPreloads();
    ASSERT_EQ(storedSettings()["device_token"], Value("token-1"));

    const std::string file = home() + "/Library/Preferences/com.paranormal.detector.plist";
    service.setDeviceIdentity({"device-2", "token-2", "publisher", "app", std::nullopt});
    ASSERT_TRUE(platform::testing::setUnreadable(file, GetParam(), true));
    Ref<HLSdk> sdk = restartSdk(settingsWithoutPreloads());
    for (int i = 0; i < 3; ++i) {
        driver().advance(HLTaskAPISubmitData::kStoreReadWaitSeconds);
        ASSERT_TRUE(settle());
    }
    EXPECT_EQ(submissionQueries().size(), 1u);

    // The service answers a submission that names its device with that device.
    service.setDeviceIdentity(first);
    ASSERT_TRUE(platform::testing::setUnreadable(file, GetParam(), false));
    driver().advance(HLTaskAPISubmitData::kStoreReadWaitSeconds);
    ASSERT_TRUE(settle());
    EXPECT_EQ(submissionQueries(), (std::vector<std::string>{std::string("api_key=") + kHLTestSdkKey, "device_token=token-1"}));
    EXPECT_EQ(storedSettings()["device_id"], Value("device-1"));
    EXPECT_EQ(storedSettings()["device_token"], Value("token-1"));

    restartSdk(settingsWithoutPreloads());
    ASSERT_EQ(submissionQueries().size(), 3u);
    EXPECT_EQ(submissionQueries().back(), "device_token=token-1");
    EXPECT_EQ(storedSettings()["device_id"], Value("device-1"));
}

INSTANTIATE_TEST_SUITE_P(Preferences, HLSdkUnreadableStartTest,
                         ::testing::Values(platform::testing::Unreadable::ReadsFail,
                                           platform::testing::Unreadable::Chmod000),
                         platform::testing::unreadableTestName);

TEST_F(HLSdkStartupTest, ConcurrentCreationYieldsOneInstanceAndOneInitialisation) {
    auto settings = serviceSettings();
    std::vector<Ref<HLSdk>> seen(8);
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            seen[i] = HLSdk::sharedWithKey(std::string(kHLTestSdkKey), settings);
        });
    go = true;
    for (auto& t : threads) t.join();
    for (const auto& sdk : seen) EXPECT_EQ(sdk, seen[0]);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(seen[0]->isEnabledAndInitialized());
    EXPECT_EQ(listener->count("Halcyon SDK initialization complete"), 1u);
    EXPECT_EQ(service.requestsTo(HalcyonService::kDevicePath).size(), 1u);
    EXPECT_EQ(HLSdk::sharedWithKey(std::string(kHLTestSdkKey), settings), seen[0]);
}

TEST_F(HLSdkStartupTest, MissingKeyOrSettingsCreateNothing) {
    EXPECT_FALSE(HLSdk::sharedWithKey(std::string(), serviceSettings()));
    EXPECT_FALSE(HLSdk::sharedWithKey(std::nullopt, serviceSettings()));
    EXPECT_TRUE(logCapture().contains("Halcyon SDK can not be created: no SDK key provided"));
    EXPECT_FALSE(HLSdk::sharedWithKey(std::string(kHLTestSdkKey), nullptr));
    EXPECT_TRUE(logCapture().contains("Halcyon SDK can not be created: no settings provided"));
    EXPECT_FALSE(HLSdk::shared());
    EXPECT_TRUE(logCapture().contains("The property name for the key should be HalcyonSdkKey"));
    EXPECT_TRUE(logCapture().contains("Called with an invalid SDK key from: ("));
    EXPECT_EQ(service.server().requestCount(), 0u);
}

TEST_F(HLSdkStartupTest, TheSharedInstanceTakesItsKeyAndSwitchesFromInfoPlist) {
    platform::testing::NetworkConditions::set(NetworkState::None);  // the default endpoints stay unreached
    NSBundle::mainBundle()->setInfoDictionaryValue("HalcyonSdkKey", "PLISTKEY");
    NSBundle::mainBundle()->setInfoDictionaryValue("HalcyonVerboseLoggingOn", "TRUE");
    NSBundle::mainBundle()->setInfoDictionaryValue("HalcyonAutoPreloadAdTypes", "REWARDED");
    HLSdk::initializeSdk();
    Ref<HLSdk> sdk = HLSdk::shared();
    ASSERT_TRUE(sdk);
    EXPECT_EQ(sdk, HLSdk::sharedWithKey(std::string("PLISTKEY")));
    EXPECT_EQ(sdk->sdkKey(), "PLISTKEY");
    EXPECT_TRUE(sdk->settingsManager()->isVerboseLoggingOn());
    EXPECT_TRUE(sdk->boolForKey(kHLSlotAdAutoPreloadIncent));
    EXPECT_EQ(sdk->stringForKey(kHLSlotAdAutoPreloadSizes), "");
    EXPECT_TRUE(settle());
    EXPECT_TRUE(logCapture().contains("[HalcyonSdk] DEBUG [HLTaskInitializeSdk] Halcyon SDK initialization complete"));
}

TEST_F(HLSdkStartupTest, MissingPrerequisitesDisableTheClient) {
    profile().systemVersion = "5.1";
    Ref<HLSdk> sdk = startSdk();
    EXPECT_FALSE(sdk->isEnabledAndInitialized());
    EXPECT_FALSE(sdk->isInitializing());
    EXPECT_TRUE(logCapture().contains(
        "[HalcyonSdk] USER [HLTaskInitializeSdk] Couldn't initialize the Halcyon SDK due to missing prerequisites"));
    EXPECT_FALSE(listener->contains("Halcyon SDK initialization complete"));
    EXPECT_EQ(service.server().requestCount(), 0u);
    EXPECT_TRUE(defaults->objectForKey(HLSdk::isFirstRunKey()).isNull());

    sdk->taskManager()->execute(task(sdk, "late"), 0);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(entries().empty());
    EXPECT_TRUE(listener->contains("WARN [HLJournalTask] Task not executed, self.sdk is disabled"));
}

TEST_F(HLSdkStartupTest, PublisherSettingsApplyOnlyWhileSlotZeroAllows) {
    platform::testing::NetworkConditions::set(NetworkState::None);
    defaults->setInteger(343, HLSdk::lastKnownVersionCodeKey());
    defaults->setObject(Value::dictionary({{"honor_publisher_settings", false}}), kHLTestSettingsKey);
    auto settings = serviceSettings();
    settings->setIsVerboseLogging(true);
    Ref<HLSdk> sdk = startSdk(settings);
    EXPECT_FALSE(sdk->settingsManager()->isVerboseLoggingOn());
    EXPECT_EQ(sdk->stringForKey(kHLSlotApiEndpoint), kHLDefaultApiEndpoint);
    EXPECT_FALSE(listener->contains("Loading Halcyon settings from user settings"));
}

TEST_F(HLSdkStartupTest, TasksWaitOnQueueOneEveryTwoSecondsWhileInitialising) {
    Ref<HLSdk> sdk = startSdk();
    auto blocker = std::make_unique<HLQueueBlocker>(sdk->taskManager()->mainQueue());
    sdk->attemptInitialize();  // its task waits behind the blocker
    EXPECT_TRUE(sdk->isInitializing());
    auto waiting = task(sdk, "waiting");
    sdk->taskManager()->execute(waiting, 2);
    // Re-scheduled n times, and its hand-over timer armed on the main thread.
    auto rescheduled = [&](size_t n) {
        bool done = driver().runUntil(
            [&] { return listener->count("INFO [HLJournalTask] Task re-scheduled...") >= n && waiting->isFinished(); },
            10);
        driver().drain();
        return done;
    };
    ASSERT_TRUE(rescheduled(1));
    driver().advance(1.9);
    EXPECT_EQ(listener->count("Task re-scheduled..."), 1u);
    driver().advance(0.1);
    ASSERT_TRUE(rescheduled(2));
    EXPECT_TRUE(listener->contains("Scheduling task execution of HLJournalTask on queue 1..."));
    blocker->release();
    ASSERT_TRUE(driver().runUntil([&] { return !sdk->isInitializing(); }, 10));
    ASSERT_TRUE(settle());
    EXPECT_TRUE(entries().empty());
    driver().advance(2.0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(entries(), (std::vector<std::string>{"waiting@HLTaskManager.background"}));
}

TEST_F(HLSdkStartupTest, HigherPriorityTasksOvertakeWaitingOnes) {
    Ref<HLSdk> sdk = startSdk();
    {
        HLQueueBlocker blocker(sdk->taskManager()->mainQueue());
        sdk->taskManager()->execute(task(sdk, "normal"), 0);
        sdk->taskManager()->execute(task(sdk, "high"), 0, NSOperationQueuePriorityHigh);
        sdk->taskManager()->execute(task(sdk, "low"), 0, NSOperationQueuePriorityLow);
        EXPECT_EQ(sdk->taskManager()->pendingOperationsInQueue(0), 4u);
    }
    ASSERT_TRUE(settle());
    EXPECT_EQ(entries(), (std::vector<std::string>{"high@HLTaskManager.main", "normal@HLTaskManager.main",
                                                   "low@HLTaskManager.main"}));
    EXPECT_EQ(sdk->taskManager()->pendingOperationsInQueue(7), 0u);
}

TEST_F(HLSdkStartupTest, DelayedHandOversRunOnTheVirtualClock) {
    Ref<HLSdk> sdk = startSdk();
    sdk->taskManager()->execute(task(sdk, "now"), 1, 0.0);
    sdk->taskManager()->execute(task(sdk, "later"), 2, 0.5);
    ASSERT_TRUE(settle());
    EXPECT_EQ(entries(), (std::vector<std::string>{"now@HLTaskManager.background"}));
    EXPECT_TRUE(listener->contains("INFO [HLJournalTask] Scheduling task execution in 0..."));
    driver().advance(0.49);
    ASSERT_TRUE(settle());
    EXPECT_EQ(entries().size(), 1u);
    driver().advance(0.01);
    ASSERT_TRUE(settle());
    EXPECT_EQ(entries().back(), "later@HLTaskManager.postback");

    try {
        sdk->taskManager()->execute(task(sdk, "nowhere"), 3);
        ADD_FAILURE() << "queue 3 was accepted";
    } catch (const NSException& e) {
        EXPECT_EQ(e.reason(), "Unknown queue type: 3");
    }
    EXPECT_THROW(sdk->taskManager()->execute(task(sdk, "nowhere"), 3, 1.0), NSException);
}

TEST_F(HLSdkStartupTest, TimedTasksReportTheirDurationOnce) {
    Ref<HLSdk> sdk = startSdk();
    auto timed = task(sdk, "timed");
    timed->timed = true;
    sdk->taskManager()->execute(timed, 0);
    sdk->taskManager()->execute(task(sdk, "untimed"), 0);
    ASSERT_TRUE(settle());
    auto timer = HLTaskTimer::sharedTimer();
    Ref<HLTimedTaskResult> result = timer->lastExecutionResultForType("HLJournalTask");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->networkType(), "wifi");
    EXPECT_TRUE(result->containedVideo());
    EXPECT_EQ(result->executionDuration(), 0);  // the virtual clock stood still
    EXPECT_FALSE(timer->lastExecutionResultForType("HLJournalTask"));
}

TEST_F(HLSdkStartupTest, ANetworkErrorDropsTheTaskAndInitialisesAgain) {
    Ref<HLSdk> sdk = startSdk();
    sdk->markNetworkError();
    sdk->taskManager()->execute(task(sdk, "dropped"), 1);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(entries().empty());
    EXPECT_TRUE(listener->contains("Task not executed because self.sdk has a network error"));
    EXPECT_TRUE(sdk->isEnabledAndInitialized());
    EXPECT_FALSE(sdk->hasNetworkError());
    EXPECT_EQ(listener->count("Halcyon SDK initialization complete"), 2u);
}

TEST_F(HLSdkStartupTest, ResetAndPluginVersionPersistTheTable) {
    Ref<HLSdk> sdk = startSdk();
    sdk->setPluginVersion("unity-5");
    EXPECT_EQ(storedSettings()["plugin_version"], Value("unity-5"));
    sdk->resetSdkState();
    EXPECT_EQ(storedSettings(), Value::dictionary({}));
    EXPECT_EQ(sdk->stringForKey(kHLSlotApiEndpoint), kHLDefaultApiEndpoint);
}

}  // namespace
