// The report sender base: the task window, retransmission after a success
// (not in the background, not after a failure), didCompleteAllTasks when the
// last task goes, and retransmission when the network comes back, driven by
// reachability changes through "OrreryNetworkStatusChangedNotification".
#include <atomic>
#include <mutex>
#include <vector>

#include "analytics/OrreryApplicationState.h"
#include "analytics/OrreryDataSenderBase.h"
#include "analytics/OrreryNetworkUtil.h"
#include "analytics/tests/OrreryTestSupport.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/net/NetworkConditions.h"

namespace {

class CountingSender : public OrreryDataSenderBase {
public:
    void retransmitNotSentBlocks() override { ++retransmits; }
    void didCompleteAllTasks() override { ++completions; }
    std::atomic<int> retransmits{0};
    std::atomic<int> completions{0};
};

class OrreryDataSenderBaseTest : public OrreryTest {
protected:
    void SetUp() override {
        OrreryTest::SetUp();
        queue = dispatch_queue_create("test.sender", DISPATCH_QUEUE_SERIAL);
        sender = std::static_pointer_cast<CountingSender>(NSObject::alloc<CountingSender>()->initWithQueue(queue));
    }
    static Ref<OrreryHttpAsyncTask> unstartedTask() {
        return OrreryHttpAsyncTask::sendMethod("POST", NSURL::URLWithString("http://127.0.0.1:9/"), std::nullopt,
                                               Value(), nullptr, false);
    }
    void onQueue(const Block& block) { dispatch_sync(queue, block); }

    dispatch_queue_t queue;
    Ref<CountingSender> sender;
};

TEST_F(OrreryDataSenderBaseTest, TheWindowClosesAtNineTasks) {
    std::vector<Ref<OrreryHttpAsyncTask>> tasks;
    for (int i = 0; i < 8; ++i) {
        tasks.push_back(unstartedTask());
        sender->registerNewTask(tasks.back());
    }
    EXPECT_TRUE(sender->hasOngoingTasksWindow());
    tasks.push_back(unstartedTask());
    sender->registerNewTask(tasks.back());
    sender->registerNewTask(tasks.back());  // once only
    EXPECT_EQ(sender->runningTasks().size(), 9u);
    EXPECT_FALSE(sender->hasOngoingTasksWindow());
    onQueue([&] { sender->unregisterTask(tasks[0], false); });
    EXPECT_TRUE(sender->hasOngoingTasksWindow());
}

TEST_F(OrreryDataSenderBaseTest, ASuccessRetransmitsAndTheLastTaskCompletes) {
    auto first = unstartedTask();
    auto second = unstartedTask();
    sender->registerNewTask(first);
    sender->registerNewTask(second);

    onQueue([&] { sender->unregisterTask(first, false); });
    EXPECT_EQ(sender->retransmits.load(), 0);
    EXPECT_EQ(sender->completions.load(), 0);

    onQueue([&] { sender->unregisterTask(second, true); });
    EXPECT_EQ(sender->retransmits.load(), 1);
    EXPECT_EQ(sender->completions.load(), 1);
}

TEST_F(OrreryDataSenderBaseTest, NoRetransmissionInTheBackground) {
    NSNotificationCenter::defaultCenter()->postNotificationName(OrreryLifecycle::kDidEnterBackground, nullptr);
    auto task = unstartedTask();
    sender->registerNewTask(task);
    onQueue([&] { sender->unregisterTask(task, true); });
    EXPECT_EQ(sender->retransmits.load(), 0);
    EXPECT_EQ(sender->completions.load(), 1);

    NSNotificationCenter::defaultCenter()->postNotificationName(OrreryLifecycle::kWillEnterForeground, nullptr);
    onQueue([&] { sender->performRetransmitNotSentBlocks(); });
    EXPECT_EQ(sender->retransmits.load(), 1);
}

TEST_F(OrreryDataSenderBaseTest, TheNetworkComingBackRetransmitsOnTheQueue) {
    std::mutex mutex;  // posts arrive on the reachability queue
    std::vector<bool> posted;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        OrreryNetworkStatusChangedNotification, nullptr, nullptr, [&](const NSNotification& n) {
            std::lock_guard lock(mutex);
            posted.push_back(n.userInfo[OrreryNetworkUtil::kReachableKey].boolValue());
        });

    EXPECT_TRUE(OrreryNetworkUtil::isNetworkReachable());
    platform::testing::NetworkConditions::set(NetworkState::None);
    ASSERT_TRUE(driver().settle());
    EXPECT_FALSE(OrreryNetworkUtil::isNetworkReachable());
    onQueue([] {});
    EXPECT_EQ(sender->retransmits.load(), 0);

    platform::testing::NetworkConditions::set(NetworkState::Mobile);
    ASSERT_TRUE(driver().settle());
    onQueue([] {});
    EXPECT_TRUE(OrreryNetworkUtil::isNetworkReachable());
    EXPECT_EQ(sender->retransmits.load(), 1);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(posted, (std::vector<bool>{false, true}));
    }
    NSNotificationCenter::defaultCenter()->removeObserver(token.get());
}

TEST_F(OrreryDataSenderBaseTest, AGoneSenderIsNoLongerCalled) {
    Weak<CountingSender> weak = sender;
    sender.reset();
    EXPECT_TRUE(weak.expired());
    platform::testing::NetworkConditions::set(NetworkState::None);
    platform::testing::NetworkConditions::set(NetworkState::WiFi);
    EXPECT_TRUE(driver().settle());
}

}  // namespace
