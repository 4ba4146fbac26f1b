// Reachability flags from the network state, and change callbacks on their
// queue or the main run loop.
#include <netinet/in.h>

#include <atomic>

#include "platform/net/NetworkConditions.h"
#include "platform/net/SCNetworkReachability.h"
#include "platform/runtime/NSThread.h"
#include "platform/testing/PlatformTest.h"

using platform::testing::NetworkConditions;

namespace {

class ReachabilityTest : public platform::testing::PlatformTest {
protected:
    static SCNetworkReachabilityFlags flagsOf(const SCNetworkReachabilityRef& target) {
        SCNetworkReachabilityFlags flags = 0xFFFFFFFF;
        EXPECT_TRUE(SCNetworkReachabilityGetFlags(target, &flags));
        return flags;
    }
    static SCNetworkReachabilityRef zeroAddress() {
        sockaddr_in zero{};
        zero.sin_family = AF_INET;
        return SCNetworkReachabilityCreateWithAddress(reinterpret_cast<sockaddr*>(&zero));
    }
};

TEST_F(ReachabilityTest, FlagsFollowTheState) {
    auto host = SCNetworkReachabilityCreateWithName("example.com");
    auto address = zeroAddress();
    EXPECT_EQ(flagsOf(host), kSCNetworkReachabilityFlagsReachable);  // Wi-Fi at launch, never unknown
    EXPECT_EQ(flagsOf(address), kSCNetworkReachabilityFlagsReachable);
    NetworkConditions::set(NetworkState::Mobile);
    EXPECT_EQ(flagsOf(host), kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsWWAN);
    NetworkConditions::set(NetworkState::None);
    EXPECT_EQ(flagsOf(address), 0u);
    EXPECT_EQ(NetworkConditions::current(), NetworkState::None);

    EXPECT_EQ(SCNetworkReachabilityCreateWithName(""), nullptr);
    EXPECT_EQ(SCNetworkReachabilityCreateWithAddress(nullptr), nullptr);
    SCNetworkReachabilityFlags flags = 7;
    EXPECT_FALSE(SCNetworkReachabilityGetFlags(nullptr, &flags));
}

TEST_F(ReachabilityTest, TheProfileGivesTheStateAtLaunch) {
    profile().networkState = NetworkState::None;
    EXPECT_EQ(flagsOf(SCNetworkReachabilityCreateWithName("h")), 0u);
}

TEST_F(ReachabilityTest, ChangesCallScheduledCallbacksOnTheMainRunLoop) {
    auto target = SCNetworkReachabilityCreateWithName("example.com");
    auto unscheduled = SCNetworkReachabilityCreateWithName("example.com");
    std::vector<SCNetworkReachabilityFlags> seen;
    bool onMain = true;
    int unscheduledCalls = 0;
    ASSERT_TRUE(SCNetworkReachabilitySetCallback(target, [&](SCNetworkReachabilityFlags f) {
        seen.push_back(f);
        onMain = onMain && NSThread::isMainThread();
    }));
    SCNetworkReachabilitySetCallback(unscheduled, [&](SCNetworkReachabilityFlags) { ++unscheduledCalls; });
    ASSERT_TRUE(SCNetworkReachabilityScheduleWithRunLoop(target, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode));

    NetworkConditions::set(NetworkState::None);
    EXPECT_TRUE(seen.empty());  // never inline
    driver().drain();
    NetworkConditions::set(NetworkState::None);  // unchanged: no call
    NetworkConditions::set(NetworkState::Mobile);
    NetworkConditions::set(NetworkState::WiFi);
    driver().drain();
    EXPECT_EQ(seen, (std::vector<SCNetworkReachabilityFlags>{
                        0, kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsWWAN,
                        kSCNetworkReachabilityFlagsReachable}));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(unscheduledCalls, 0);

    SCNetworkReachabilityUnscheduleFromRunLoop(target, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode);
    NetworkConditions::set(NetworkState::None);
    driver().drain();
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(ReachabilityTest, ChangesGoToTheDispatchQueue) {
    auto target = SCNetworkReachabilityCreateWithName("example.com");
    std::atomic<int> calls{0};
    std::atomic<bool> onMain{false};
    std::atomic<SCNetworkReachabilityFlags> last{99};
    SCNetworkReachabilitySetCallback(target, [&](SCNetworkReachabilityFlags f) {
        last = f;
        onMain = onMain || NSThread::isMainThread();
        ++calls;
    });
    SCNetworkReachabilitySetDispatchQueue(target, dispatch_queue_create("reachability", DISPATCH_QUEUE_SERIAL));
    NetworkConditions::set(NetworkState::Mobile);
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(last.load(), kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsWWAN);
    EXPECT_FALSE(onMain.load());

    // A target nobody holds any more is simply forgotten.
    target.reset();
    NetworkConditions::set(NetworkState::None);
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(calls.load(), 1);
}

}  // namespace
