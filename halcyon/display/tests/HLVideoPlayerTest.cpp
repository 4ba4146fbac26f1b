// The video player and its video view: one player item per distinct media
// URL, a file that is no video, a missing one, and the click-tracking
// overlay shown and removed from the ad service's queues while the main
// thread runs the clock; the store page: closed once by the user or by a
// product that fails to load, and its rotation answer.
#include <fstream>
#include <thread>

#include "halcyon/core/HLDisplayHooks.h"
#include "halcyon/display/HLStoreKitProductPage.h"
#include "halcyon/display/HLVideoPlayer.h"
#include "halcyon/display/tests/HalcyonDisplayTestSupport.h"
#include "platform/media/TestMp4.h"
#include "platform/runtime/DispatchQueue.h"

namespace {

using HLVideoPlayerTest = HalcyonDisplayTest;

Ref<NSURL> hlTestVideo(const std::string& folder, const std::string& name, double seconds) {
    std::string path = folder + "/" + name;
    EXPECT_TRUE(platform::testing::writeTestMp4(path, seconds, 600, CGSizeMake(320, 180), true));
    return NSURL::fileURLWithPath(path);
}

}  // namespace

TEST_F(HLVideoPlayerTest, PlaysItsFileInAnAspectFitVideoView) {
    auto url = hlTestVideo(home(), "ad.mp4", 10);
    auto player = NSObject::alloc<HLVideoPlayer>()->initWithSdk(sdk, url);
    auto view = player->videoView();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->player(), player->player());
    EXPECT_EQ(view->playerLayer()->videoGravity(), AVLayerVideoGravityResizeAspect);
    EXPECT_EQ(player->playerItem()->asset(), player->playerAsset());
    EXPECT_EQ(view->sdk(), sdk);

    player->playVideo();
    driver().advance(3);
    EXPECT_NEAR(CMTimeGetSeconds(player->player()->currentTime()), 3, 0.01);
    player->stopVideo();
    EXPECT_EQ(player->player()->rate(), 0);
    driver().advance(3);
    EXPECT_NEAR(CMTimeGetSeconds(player->player()->currentTime()), 3, 0.01);
}

TEST_F(HLVideoPlayerTest, TheSameURLTwiceMakesOnePlayerItem) {
    auto first = hlTestVideo(home(), "first.mp4", 5);
    auto player = NSObject::alloc<HLVideoPlayer>()->initWithSdk(sdk, first);
    auto original = player->playerItem();

    auto second = hlTestVideo(home(), "second.mp4", 5);
    player->setMediaSource(second);
    auto replaced = player->playerItem();
    EXPECT_NE(replaced, original);
    EXPECT_EQ(player->player()->currentItem(), replaced);

    // An equal URL (another object of the same text) changes nothing.
    player->setMediaSource(NSURL::URLWithString(second->absoluteString()));
    EXPECT_EQ(player->playerItem(), replaced);
    EXPECT_EQ(player->player()->currentItem(), replaced);
    EXPECT_EQ(player->videoView()->player(), player->player());
}

TEST_F(HLVideoPlayerTest, ABrokenOrMissingFileLeavesNothingToPlay) {
    std::string path = home() + "/broken.mp4";
    std::ofstream(path) << "<html>not a video</html>";
    auto broken = NSObject::alloc<HLVideoPlayer>()->initWithSdk(sdk, NSURL::fileURLWithPath(path));
    broken->playVideo();
    driver().advance(2);
    EXPECT_EQ(broken->playerItem()->status(), platform::AVPlayerItemStatusFailed);
    EXPECT_EQ(CMTimeGetSeconds(broken->player()->currentTime()), 0);

    // A name the cache could not resolve arrives as no URL at all.
    auto missing = NSObject::alloc<HLVideoPlayer>()->initWithSdk(sdk, Ref<NSURL>());
    ASSERT_TRUE(missing->videoView());
    EXPECT_FALSE(missing->playerItem());
    missing->playVideo();
    missing->stopVideo();
    driver().advance(1);
    EXPECT_FALSE(missing->player()->currentItem());
}

TEST_F(HLVideoPlayerTest, OverlayShownAndRemovedFromOtherThreadsAppearsOnceAndFadesAway) {
    auto player = NSObject::alloc<HLVideoPlayer>()->initWithSdk(sdk, hlTestVideo(home(), "ad.mp4", 10));
    auto view = player->videoView();
    view->setFrame(window()->bounds());
    window()->addSubview(view);
    EXPECT_DOUBLE_EQ(view->overlayFadeTime(), 0.5);

    // The ad service calls in from its postback queue, twice.
    auto queue = dispatch_queue_create("test.postbacks", nullptr);
    dispatch_sync(queue, [view] {
        view->showClickTrackingOverlay();
        view->showClickTrackingOverlay();
    });
    EXPECT_FALSE(view->trackingOverlay());  // nothing changes off the main thread
    driver().drain();
    auto overlay = view->trackingOverlay();
    ASSERT_TRUE(overlay);
    size_t overlays = 0;
    for (const auto& subview : view->subviews()) overlays += subview->isKindOfClass<HLClickTrackingOverlayView>();
    EXPECT_EQ(overlays, 1u);
    EXPECT_EQ(overlay->alpha(), 1);
    EXPECT_TRUE(overlay->activityIndicator()->isAnimating());
    driver().advance(0.6);
    EXPECT_TRUE(CGRectEqualToRect(overlay->frame(), view->bounds()));

    dispatch_sync(queue, [view] { view->removeClickTrackingOverlay(); });
    driver().drain();
    EXPECT_EQ(overlay->alpha(), 0);
    EXPECT_EQ(overlay->superview(), view);  // until the fade ends
    driver().advance(0.5);
    EXPECT_FALSE(overlay->superview());
    EXPECT_FALSE(view->trackingOverlay());

    // Removing again, with nothing up, does nothing.
    view->removeClickTrackingOverlay();
    driver().drain();
    EXPECT_FALSE(view->trackingOverlay());
}

// ---- The store page

namespace {

class HLStorePageTestDelegate : public NSObject, public HLStoreKitProductViewControllerDelegate {
public:
    void productViewControllerDidFinish(const Ref<HLStoreKitProductViewController>& page, const Ref<HLAd>& ad,
                                        const Ref<HLAdViewInternalProtocol>&,
                                        const Ref<UIViewController>& interstitialViewController) override {
        ++finishes;
        lastAd = ad;
        lastController = interstitialViewController;
        if (page) page->viewController()->dismissViewControllerAnimated(true, nullptr);
    }
    int finishes = 0;
    Ref<HLAd> lastAd;
    Ref<UIViewController> lastController;
};

}  // namespace

TEST_F(HLVideoPlayerTest, TheStorePageClosesOnceByTheUserOrWhenItsProductFailsToLoad) {
    auto ad = NSObject::alloc<HLAd>()->init();
    auto controller = UIViewController::alloc()->init();
    // The core makes its pages through the hook the library fills.
    auto page = HLDisplayHooks::shared().storeKitProductViewController(ad, nullptr, controller);
    ASSERT_TRUE(std::dynamic_pointer_cast<HLStoreKitProductPage>(page));
    auto delegate = std::make_shared<HLStorePageTestDelegate>();
    page->setStoreViewControllerDelegate(delegate);
    rootViewController()->presentViewController(page->viewController(), true, nullptr);
    EXPECT_TRUE(page->viewController()->prefersStatusBarHidden());

    // The user's close, twice: told once.
    auto sheet = std::dynamic_pointer_cast<SKStoreProductViewController>(page->viewController());
    platform::testing::StoreSheet::simulateUserClose(sheet);
    platform::testing::StoreSheet::simulateUserClose(sheet);
    EXPECT_EQ(delegate->finishes, 1);
    EXPECT_EQ(delegate->lastAd, ad);
    EXPECT_EQ(delegate->lastController, controller);

    // A product that does not load: the completion, then the close.
    auto failing = HLDisplayHooks::shared().storeKitProductViewController(ad, nullptr, nullptr);
    auto failingDelegate = std::make_shared<HLStorePageTestDelegate>();
    failing->setStoreViewControllerDelegate(failingDelegate);
    platform::testing::StoreSheet::setNextResult(platform::testing::StoreSheet::Fails);
    std::vector<std::string> order;
    failing->loadProductWithParameters(Value::dictionary({{"id", Value("123")}}), [&](bool result, Ref<NSError>) {
        order.push_back(result ? "loaded" : "failed");
        order.push_back("finishes " + std::to_string(failingDelegate->finishes));
    });
    driver().drain();
    EXPECT_EQ(order, (std::vector<std::string>{"failed", "finishes 0"}));
    EXPECT_EQ(failingDelegate->finishes, 1);

    // A product that loads leaves the page up.
    auto loading = HLDisplayHooks::shared().storeKitProductViewController(ad, nullptr, nullptr);
    auto loadingDelegate = std::make_shared<HLStorePageTestDelegate>();
    loading->setStoreViewControllerDelegate(loadingDelegate);
    platform::testing::StoreSheet::setNextResult(platform::testing::StoreSheet::Loads);
    loading->loadProductWithParameters(Value::dictionary({{"id", Value("123")}}), nullptr);
    driver().drain();
    EXPECT_EQ(loadingDelegate->finishes, 0);
}

TEST_F(HLVideoPlayerTest, TheStorePageNeverAutorotatesUpToSystemSevenThree) {
    auto page = HLStoreKitProductPage::alloc()->initWithAd(nullptr, nullptr, nullptr);
    EXPECT_TRUE(page->shouldAutorotate());
    profile().systemVersion = "7.3";
    EXPECT_FALSE(page->shouldAutorotate());
}
