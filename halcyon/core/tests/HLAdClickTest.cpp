// Clicks through the ad service, with test doubles of the display side's ad
// view, video view, presenter, video controller and store page: the
// click-tracking request and what follows its success or failure (slot 156
// on and off), a click invalidated before the answer, ads without a tracking
// URL, background clicks, the store page shown once and the kept ad expired
// only after the page closed, and video clicks. The tracking requests reach
// the Halcyon service on loopback; time runs on the virtual clock.
#include <gtest/gtest.h>

#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLDisplayHooks.h"
#include "halcyon/core/HLStoreKitProductViewController.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/NSException.h"
#include "platform/store/SKStoreProductViewController.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIView.h"

namespace {

using simulator::Answer;
using simulator::HalcyonAd;
using simulator::HalcyonService;

class HLClickTestDisplayDelegate : public NSObject, public HLAdDisplayDelegate {
public:
    void adWasDisplayedIn(const Ref<HLAd>&, const Ref<UIView>&) override {}
    void adWasHiddenIn(const Ref<HLAd>&, const Ref<UIView>&) override {}
    void adWasClickedIn(const Ref<HLAd>&, const Ref<UIView>& view) override {
        ++clicks;
        lastView = view;
    }
    int clicks = 0;
    Weak<UIView> lastView;
};

class HLClickTestPresenter : public NSObject, public HLInterstitialAdDismissProxy {
public:
    void dismissWithCompletionHandler(Block) override { ++dismissals; }
    bool dismissesOnClick() const override { return dismisses; }
    void setDismissesOnClick(bool value) override { dismisses = value; }
    int dismissals = 0;
    bool dismisses = true;
};

// The HTML ad view as the click path sees it; records where its overlay went.
class HLClickTestAdView : public UIView, public HLAdViewInternalProtocol {
public:
    void removeClickTrackingOverlay() override {
        ++overlayRemovals;
        removedOnMainThread = removedOnMainThread && NSThread::isMainThread();
    }
    bool foregroundClickInvalidated() const override { return invalidated.load(); }
    Ref<HLAdDisplayDelegate> adDisplayDelegate() const override { return strongDelegate; }
    Ref<HLAdDisplayDelegate> weakAdDisplayDelegate() const override { return weakDelegate.lock(); }
    Ref<HLInterstitialAdDismissProxy> weakInterstitialDismissalDelegate() const override { return presenter.lock(); }

    std::atomic<int> overlayRemovals{0};
    std::atomic<bool> removedOnMainThread{true};
    std::atomic<bool> invalidated{false};
    Ref<HLAdDisplayDelegate> strongDelegate;
    Weak<HLAdDisplayDelegate> weakDelegate;
    Weak<HLInterstitialAdDismissProxy> presenter;
};

class HLClickTestVideoView : public NSObject, public HLAdViewForegroundClickTrackingProtocol {
public:
    void removeClickTrackingOverlay() override {
        ++overlayRemovals;
        removedOnMainThread = removedOnMainThread && NSThread::isMainThread();
    }
    bool foregroundClickInvalidated() const override { return invalidated.load(); }
    void showClickTrackingOverlay() override { ++overlayShows; }
    std::atomic<int> overlayRemovals{0}, overlayShows{0};
    std::atomic<bool> removedOnMainThread{true};
    std::atomic<bool> invalidated{false};
};

class HLClickTestVideoController : public UIViewController, public HLApplicationControlProtocol {
public:
    void appPaused(const Ref<NSObject>&) override { ++paused; }
    void appResumed(const Ref<NSObject>&) override { ++resumed; }
    int paused = 0, resumed = 0;
};

// The store page the display library would supply: the platform's store
// sheet, telling the ad service when the user closes it.
class HLClickTestStorePage : public SKStoreProductViewController,
                             public HLStoreKitProductViewController,
                             public SKStoreProductViewControllerDelegate {
public:
    Ref<HLClickTestStorePage> initWithAd(Ref<HLAd> ad, Ref<HLAdViewInternalProtocol> adView,
                                         Ref<UIViewController> controller) {
        ad_ = std::move(ad);
        adView_ = std::move(adView);
        controller_ = std::move(controller);
        setDelegate(self<HLClickTestStorePage>());
        return self<HLClickTestStorePage>();
    }
    Ref<UIViewController> viewController() override { return self<UIViewController>(); }
    void setStoreViewControllerDelegate(const Ref<HLStoreKitProductViewControllerDelegate>& delegate) override {
        storeDelegate_ = delegate;
    }
    void loadProductWithParameters(const Value& parameters, HLStoreKitProductViewController::LoadCompletion completion) override {
        SKStoreProductViewController::loadProductWithParameters(parameters, std::move(completion));
    }
    Ref<HLAd> ad() const override { return ad_; }
    Ref<HLAdViewInternalProtocol> adView() const override { return adView_; }
    Ref<UIViewController> interstitialViewController() const override { return controller_; }
    void productViewControllerDidFinish(Ref<SKStoreProductViewController>) override {
        if (auto delegate = storeDelegate_.lock())
            delegate->productViewControllerDidFinish(self<HLClickTestStorePage>(), ad_, adView_, controller_);
    }

private:
    Ref<HLAd> ad_;
    Ref<HLAdViewInternalProtocol> adView_;
    Ref<UIViewController> controller_;
    Weak<HLStoreKitProductViewControllerDelegate> storeDelegate_;
};

class HLAdClickTest : public HalcyonTest {
protected:
    void SetUp() override {
        HalcyonTest::SetUp();
        sdk = startSdkWithoutPreloads();
        adService = sdk->adService();
        adView = std::make_shared<HLClickTestAdView>();
        adView->initWithFrame(CGRectMake(0, 0, 320, 50));
        adView->strongDelegate = strongDelegate;
        adView->weakDelegate = weakDelegate;
        adView->presenter = presenter;
        HLDisplayHooks::shared().storeKitProductViewController =
            [this](const Ref<HLAd>& ad, const Ref<HLAdViewInternalProtocol>& view, const Ref<UIViewController>& vc) {
                pages.push_back(NSObject::alloc<HLClickTestStorePage>()->initWithAd(ad, view, vc));
                return pages.back();
            };
    }
    void TearDown() override {
        HLDisplayHooks::shared().storeKitProductViewController = nullptr;
        pages.clear();
        HalcyonTest::TearDown();
    }
    // A banner through the service (kept for 120 s).
    Ref<HLAd> banner(HalcyonAd answer = HalcyonAd{}) {
        service.setAd(answer);
        auto delegate = std::make_shared<HLRecordingLoadDelegate>();
        adService->loadNextAd(HLAdSize::sizeBanner(), delegate);
        EXPECT_TRUE(settle());
        return delegate->only().ad;
    }
    Ref<HLAd> keptBanner() {
        auto delegate = std::make_shared<HLRecordingLoadDelegate>();
        adService->loadNextAd(HLAdSize::sizeBanner(), delegate);
        EXPECT_TRUE(settle());
        return delegate->only().ad;
    }
    std::vector<std::string> opened() {
        std::vector<std::string> urls;
        for (const auto& url : UIApplication::sharedApplication()->openedURLs()) urls.push_back(url->absoluteString());
        return urls;
    }
    Ref<NSURL> landing() { return NSURL::URLWithString(service.server().url(HalcyonService::kLandingPath)); }
    // Tracking requests fail `attempts` times (the first try and slot 123's three retries).
    void failTracking(int attempts = 4) {
        service.script(HalcyonService::postbackPath("click"), std::vector<Answer>(attempts, Answer::withStatus(500)));
    }
    void runRetries() {
        for (int i = 0; i < 4; ++i) {
            driver().advance(2);
            ASSERT_TRUE(settle());
        }
    }

    Ref<HLSdk> sdk;
    Ref<HLAdService> adService;
    Ref<HLClickTestAdView> adView;
    Ref<HLClickTestDisplayDelegate> strongDelegate = std::make_shared<HLClickTestDisplayDelegate>();
    Ref<HLClickTestDisplayDelegate> weakDelegate = std::make_shared<HLClickTestDisplayDelegate>();
    Ref<HLClickTestPresenter> presenter = std::make_shared<HLClickTestPresenter>();
    std::vector<Ref<HLClickTestStorePage>> pages;
};

TEST_F(HLAdClickTest, AForegroundClickLeavesOnceTheTrackingRequestSucceeded) {
    Ref<HLAd> ad = banner();
    ASSERT_TRUE(ad);
    adService->trackForegroundClickOn(ad, std::string("home screen"), adView, landing());
    EXPECT_TRUE(opened().empty());
    ASSERT_TRUE(settle());
    auto tracked = service.postbacksTo("click");
    ASSERT_EQ(tracked.size(), 1u);
    EXPECT_EQ(tracked[0].field("clcode"), "cl-1");
    EXPECT_EQ(tracked[0].field("p"), "home screen");
    EXPECT_EQ(opened(), std::vector<std::string>{landing()->absoluteString()});
    EXPECT_EQ(adView->overlayRemovals.load(), 1);
    EXPECT_TRUE(adView->removedOnMainThread.load());
    EXPECT_EQ(strongDelegate->clicks, 1);
    EXPECT_EQ(weakDelegate->clicks, 1);
    EXPECT_EQ(strongDelegate->lastView.lock(), adView);
    EXPECT_EQ(presenter->dismissals, 1);
    // The clicked banner is no longer handed out.
    EXPECT_NE(keptBanner(), ad);
}

TEST_F(HLAdClickTest, AFailedTrackingRequestLeadsOnOnlyWhileSlot156IsOn) {
    Ref<HLAd> ad = banner();
    failTracking();
    adService->trackForegroundClickOn(ad, std::nullopt, adView, landing());
    ASSERT_TRUE(settle());
    runRetries();
    EXPECT_EQ(service.postbacksTo("click").size(), 4u);
    EXPECT_EQ(opened().size(), 1u);
    EXPECT_EQ(presenter->dismissals, 1);

    sdk->settingsManager()->putBool(false, 156);
    failTracking();
    adService->trackForegroundClickOn(ad, std::nullopt, adView, landing());
    ASSERT_TRUE(settle());
    runRetries();
    EXPECT_EQ(opened().size(), 1u);
    EXPECT_EQ(presenter->dismissals, 1);
    EXPECT_EQ(adView->overlayRemovals.load(), 2);
}

TEST_F(HLAdClickTest, AClickInvalidatedBeforeTheAnswerNeverLeaves) {
    Ref<HLAd> ad = banner();
    service.script(HalcyonService::postbackPath("click"), {Answer::stall()});
    adService->trackForegroundClickOn(ad, std::nullopt, adView, landing());
    ASSERT_TRUE(service.server().waitForStalled(1, 10));
    adView->invalidated = true;  // the interstitial went away meanwhile
    service.server().releaseStalled();
    ASSERT_TRUE(settle());
    // Also when the request fails with slot 156 on.
    failTracking();
    adService->trackForegroundClickOn(ad, std::nullopt, adView, landing());
    ASSERT_TRUE(settle());
    runRetries();
    EXPECT_TRUE(opened().empty());
    EXPECT_EQ(presenter->dismissals, 0);
    EXPECT_EQ(strongDelegate->clicks, 0);
    EXPECT_EQ(adView->overlayRemovals.load(), 2);
    EXPECT_EQ(keptBanner(), ad);
}

TEST_F(HLAdClickTest, AnAdWithoutTrackingUrlEndsWaitingClicksAtOnce) {
    HalcyonAd untracked;
    untracked.clickTrackingUrl.reset();
    Ref<HLAd> ad = banner(untracked);
    ASSERT_TRUE(ad);
    ASSERT_FALSE(ad->clickTrackingURL());
    adService->trackForegroundClickOn(ad, std::nullopt, adView, landing());
    EXPECT_EQ(adView->overlayRemovals.load(), 1);
    auto video = std::make_shared<HLClickTestVideoView>();
    adService->trackVideoClickOn(ad, std::nullopt, video, nullptr, nullptr);
    EXPECT_EQ(video->overlayShows.load(), 1);
    EXPECT_EQ(video->overlayRemovals.load(), 1);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(opened().empty());
    EXPECT_TRUE(listener->contains("Unable to submit postback for AD #1"));

    // A background click does not wait: it leaves at once, unrecorded.
    adService->trackClickOn(ad, std::nullopt, adView, landing());
    EXPECT_EQ(opened().size(), 1u);
    EXPECT_TRUE(listener->contains("Unable to submit persistent postback for AD #1"));
    ASSERT_TRUE(settle());
    EXPECT_TRUE(service.postbacksTo("click").empty());
}

TEST_F(HLAdClickTest, ABackgroundClickIsPersistedAndLeavesAtOnce) {
    Ref<HLAd> ad = banner();
    adService->trackClickOn(ad, std::string("menu"), adView, landing());
    EXPECT_EQ(opened().size(), 1u);
    EXPECT_EQ(strongDelegate->clicks, 1);
    EXPECT_EQ(presenter->dismissals, 1);
    ASSERT_TRUE(settle());
    auto tracked = service.postbacksTo("click");
    ASSERT_EQ(tracked.size(), 1u);
    EXPECT_EQ(tracked[0].field("p"), "menu");
    EXPECT_THROW(adService->trackClickOn(nullptr, std::nullopt, adView, landing()), NSException);
}

TEST_F(HLAdClickTest, AStoreClickShowsOnePageAndExpiresTheAdOnlyWhenItCloses) {
    HalcyonAd store;
    store.storekitInfoJson = R"({"id": "42"})";
    Ref<HLAd> ad = banner(store);
    ASSERT_TRUE(ad && ad->opensInStoreKit());
    adService->trackForegroundClickOn(ad, std::nullopt, adView, landing());
    ASSERT_TRUE(settle());
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(rootViewController()->presentedViewController(), pages[0]);
    EXPECT_EQ(platform::testing::StoreSheet::loadedParameters().back(), Value::dictionary({{"id", "42"}}));
    EXPECT_FALSE(presenter->dismisses);
    EXPECT_EQ(strongDelegate->clicks, 1);
    EXPECT_EQ(adView->overlayRemovals.load(), 1);
    EXPECT_TRUE(opened().empty());
    EXPECT_EQ(keptBanner(), ad);

    // A second click while the page is up presents nothing more.
    adService->trackClickOn(ad, std::nullopt, adView, landing());
    ASSERT_TRUE(settle());
    EXPECT_EQ(rootViewController()->presentedViewController(), pages[0]);
    EXPECT_FALSE(pages.back()->presentingViewController());
    EXPECT_EQ(strongDelegate->clicks, 1);

    platform::testing::StoreSheet::simulateUserClose(pages[0]);
    EXPECT_EQ(keptBanner(), ad);
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    EXPECT_FALSE(rootViewController()->presentedViewController());
    EXPECT_NE(keptBanner(), ad);
}

TEST_F(HLAdClickTest, WithoutAStorePageAStoreClickEndsWithTheOverlayRemoved) {
    HLDisplayHooks::shared().storeKitProductViewController = nullptr;
    HalcyonAd store;
    store.storekitInfoJson = R"({"id": "42"})";
    Ref<HLAd> ad = banner(store);
    adService->trackForegroundClickOn(ad, std::nullopt, adView, landing());
    ASSERT_TRUE(settle());
    EXPECT_EQ(adView->overlayRemovals.load(), 1);
    EXPECT_FALSE(rootViewController()->presentedViewController());
    EXPECT_TRUE(opened().empty());
    EXPECT_TRUE(listener->contains("no store page is available"));
}

TEST_F(HLAdClickTest, VideoClicksLeadToTheClickDestinationOrTheStorePage) {
    Ref<HLAd> ad = banner();
    auto controller = std::make_shared<HLClickTestVideoController>();
    rootViewController()->presentViewController(controller, false, nullptr);
    ASSERT_TRUE(settle());
    auto video = std::make_shared<HLClickTestVideoView>();
    adService->trackVideoClickOn(ad, std::nullopt, video, NSURL::URLWithString("http://not.used/"), controller);
    EXPECT_EQ(video->overlayShows.load(), 1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(opened(), std::vector<std::string>{ad->clickDestinationURL()->absoluteString()});
    EXPECT_EQ(video->overlayRemovals.load(), 1);
    EXPECT_TRUE(video->removedOnMainThread.load());

    // Slot 156 off: a failed request removes the overlay and stays in the video.
    sdk->settingsManager()->putBool(false, 156);
    failTracking();
    adService->trackVideoClickOn(ad, std::nullopt, video, nullptr, controller);
    ASSERT_TRUE(settle());
    runRetries();
    EXPECT_EQ(video->overlayRemovals.load(), 2);
    EXPECT_EQ(opened().size(), 1u);

    // A store ad: recorded, the page over the paused video, resumed on close.
    adService->expireLoadStateForAd(ad);
    HalcyonAd store;
    store.storekitInfoJson = R"({"id": 7})";
    Ref<HLAd> storeAd = banner(store);
    adService->trackVideoClickOn(storeAd, std::nullopt, video, nullptr, controller);
    ASSERT_TRUE(settle());
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(controller->presentedViewController(), pages[0]);
    EXPECT_EQ(controller->paused, 1);
    platform::testing::StoreSheet::simulateUserClose(pages[0]);
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    EXPECT_EQ(controller->resumed, 1);
    EXPECT_FALSE(controller->presentedViewController());
    EXPECT_EQ(service.postbacksTo("click").size(), 1u + 4u + 1u);
}

}  // namespace
