// Threads: renders and load answers arriving on the client's task queues
// while the main thread shows and dismisses interstitials. Only bookkeeping
// may run on the queues; every view change and callback runs on the main
// thread, and no impression or callback is lost or doubled. Run under
// ThreadSanitizer too.
#include <atomic>
#include <cstdlib>

#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLStatsManager.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/display/HLHtmlAdView.h"
#include "halcyon/display/HLInterstitialAd.h"
#include "halcyon/display/tests/HalcyonDisplayTestSupport.h"

#if defined(__SANITIZE_THREAD__)
// The simulator's suppression (its HTTP library is not instrumented), and
// the script engine's and its event library's: their own helper threads
// (collector, thread start-up, wake-ups) are not instrumented either, so
// their hand-offs read as races; every script of ours runs on the main thread.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\n"
           "called_from_lib:libjavascriptcoregtk-4.1.so.0\n"
           "race:libjavascriptcoregtk-4.1.so.0\n"
           "called_from_lib:libglib-2.0.so.0\n"
           "race:libglib-2.0.so.0\n";
}

// The engine's concurrent collector stops the main thread with signals, which
// ThreadSanitizer's signal handling turns into a hang: collect on the main
// thread instead (set before the first script context).
namespace {
const int kHLThreadTestCollectorSetting = ::setenv("JSC_useConcurrentGC", "false", 1);
}
#endif

using HLDisplayThreadTest = HalcyonDisplayTest;

TEST_F(HLDisplayThreadTest, RendersFromTheTaskQueuesWhileTheMainThreadShowsAndDismisses) {
    auto banner = HLHtmlAdView::alloc()->initBannerAdWithSdk(sdk);
    auto bannerDisplay = std::make_shared<HLRecordingDisplayDelegate>("banner");
    auto bannerLoad = std::make_shared<HLRecordingLoadDelegate>("banner-load");
    banner->setAdDisplayDelegate(bannerDisplay);
    banner->setAdLoadDelegate(bannerLoad);
    window()->addSubview(banner);
    auto interstitial = NSObject::alloc<HLInterstitialAd>()->initWithSdk(sdk);
    auto interstitialDisplay = std::make_shared<HLRecordingDisplayDelegate>("interstitial");
    interstitial->setAdDisplayDelegate(interstitialDisplay);

    std::vector<Ref<HLAd>> banners;
    for (int64_t id = 1; id <= 4; ++id) banners.push_back(renderedAd("BANNER", id));
    auto inter = renderedAd("INTER", 100);
    const int64_t before = sdk->statsManager()->valueOfKey("ad_imp").integerValue();

    constexpr int kRendersPerQueue = 25;
    std::atomic<int> finished{0};
    for (uint64_t number : {0u, 1u}) {
        auto queue = number == 0 ? sdk->taskManager()->mainQueue() : sdk->taskManager()->backgroundQueue();
        queue->addOperationWithBlock([&, banner, number] {
            for (int i = 0; i < kRendersPerQueue; ++i) {
                if (i % 5 == 0)
                    banner->adServiceDidLoadAd(sdk->adService(), banners[(i + number) % banners.size()]);
                else
                    banner->render(banners[(i + number) % banners.size()], std::string("p") + std::to_string(i));
            }
            ++finished;
        });
    }
    constexpr int kShows = 6;
    for (int show = 0; show < kShows; ++show) {
        interstitial->showOver(window(), inter);
        driver().drain();
        driver().advance(0.4);
        interstitial->dismiss();
        driver().drain();
    }
    ASSERT_TRUE(driver().runUntil([&] { return finished == 2; }, 20));
    ASSERT_TRUE(settle());
    driver().advance(1);

    // Every render counted once: the queues' and the dialogs' ad views'.
    EXPECT_EQ(sdk->statsManager()->valueOfKey("ad_imp").integerValue(), before + 2 * kRendersPerQueue + kShows);
    EXPECT_EQ(bannerLoad->count(), 10u);
    EXPECT_TRUE(bannerDisplay->onlyMainThread());
    EXPECT_TRUE(interstitialDisplay->onlyMainThread());
    EXPECT_GE(bannerDisplay->count("displayed"), 1u);
    EXPECT_EQ(interstitialDisplay->count("hidden"), static_cast<size_t>(kShows));
    EXPECT_EQ(interstitialDisplay->count("displayed"), static_cast<size_t>(kShows));
    EXPECT_FALSE(banner->isHidden());
}
