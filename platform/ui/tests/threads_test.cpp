// The few UI calls allowed on any thread: opening URLs, the application
// state and the device orientation, read and used from several threads.
#include <atomic>
#include <thread>

#include "platform/testing/PlatformTest.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"

namespace platform::testing {
namespace {

using AnyThreadTest = PlatformTest;

TEST_F(AnyThreadTest, URLsOpenFromManyThreadsWhileTheMainThreadChangesState) {
    auto app = UIApplication::sharedApplication();
    std::atomic<bool> stop{false};
    std::atomic<int> badStates{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                EXPECT_TRUE(app->openURL(NSURL::URLWithString("https://t" + std::to_string(t) + ".test/" + std::to_string(i))));
                EXPECT_FALSE(app->canOpenURL(NSURL::URLWithString("nope://x")));
                UIApplicationState s = app->applicationState();
                if (s < UIApplicationStateActive || s > UIApplicationStateBackground) ++badStates;
                (void)UIDevice::currentDevice()->orientation();
            }
        });
    }
    threads.emplace_back([&] {
        while (!stop) app->setCanOpenScheme("custom", true);
    });
    for (int i = 0; i < 20; ++i) {
        app->simulateEnterBackground();
        app->simulateEnterForeground();
        app->simulateBecomeActive();
        UIDevice::currentDevice()->simulateOrientation(i % 2 ? UIDeviceOrientationFaceUp : UIDeviceOrientationPortrait);
    }
    for (size_t i = 0; i + 1 < threads.size(); ++i) threads[i].join();
    stop = true;
    threads.back().join();
    EXPECT_EQ(app->openedURLs().size(), 200u);
    EXPECT_EQ(badStates.load(), 0);
}

}  // namespace
}  // namespace platform::testing
