// The public full-screen ad through the shared cache: one load shared by the
// ads that wait for it, a cached ad taken at once, shown once, the ad rules
// and display outcomes reaching the publisher, the close callbacks, and the
// cache surviving a restart (also one whose preferences cannot be read),
// being cleared and shown as a debug overlay.
#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRATrilliumAd.h"
#include "Trillium/TRAVisualCache.h"
#include "Trillium/tests/TrilliumTestSupport.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/testing/UnreadableFiles.h"

namespace {

using simulator::Answer;
using simulator::TrilliumService;

// A publisher that does not implement didClickAd:.
class CloseOnlyDelegate : public NSObject, public TRADelegateProtocol {
public:
    void didCloseAd(const Ref<TRAAbstractAd>&) override { ++closes; }
    PLATFORM_RESPONDS_TO("didCloseAd:")
    int closes = 0;
};

class TRATrilliumAdTest : public TrilliumTest {
protected:
    void SetUp() override {
        TrilliumTest::SetUp();
        TRADisplayHooks::shared().adScreen = [this](bool video) -> Ref<TRAAdScreen> {
            auto screen = NSObject::alloc<FakeAdScreen>();
            screen->video = video;
            screens.push_back(screen);
            return screen;
        };
    }
    Ref<TRATrilliumAd> loadedAd(const Ref<RecordingAdDelegate>& delegate) {
        auto ad = NSObject::alloc<TRATrilliumAd>()->init();
        ad->loadAd(TRATrilliumAd::AdTypeOverlay, delegate);
        EXPECT_TRUE(waitFor([&] { return !delegate->events.empty(); }));
        return ad;
    }

    Ref<RecordingAdDelegate> publisher = NSObject::alloc<RecordingAdDelegate>();
    std::vector<Ref<FakeAdScreen>> screens;
};

TEST_F(TRATrilliumAdTest, AdsWaitingForOneKeyShareOneLoadAndLaterOnesTakeTheCachedAd) {
    auto second = NSObject::alloc<RecordingAdDelegate>();
    auto first = NSObject::alloc<TRATrilliumAd>()->init();
    auto other = NSObject::alloc<TRATrilliumAd>()->init();
    first->loadAd(TRATrilliumAd::AdTypeOverlay, publisher);
    other->loadAd(TRATrilliumAd::AdTypeAutomatic, second);
    ASSERT_TRUE(waitFor([&] { return !publisher->events.empty() && !second->events.empty(); }));
    EXPECT_EQ(publisher->events, std::vector<std::string>{"didLoadAd"});
    EXPECT_EQ(second->events, std::vector<std::string>{"didLoadAd"});
    EXPECT_EQ(service.requestsTo(TrilliumService::kHtmlAdPath).size(), 1u);
    EXPECT_EQ(first->internalAd(), other->internalAd());

    auto late = NSObject::alloc<RecordingAdDelegate>();
    auto third = NSObject::alloc<TRATrilliumAd>()->init();
    third->loadAd(TRATrilliumAd::AdTypeOverlay, late);
    EXPECT_TRUE(late->events.empty());  // never inside loadAd
    driver().drain();
    EXPECT_EQ(late->events, std::vector<std::string>{"didLoadAd"});
    EXPECT_EQ(service.requestsTo(TrilliumService::kHtmlAdPath).size(), 1u);
    EXPECT_TRUE(third->isReady());
}

TEST_F(TRATrilliumAdTest, AShownAdIsTakenOutOfTheCacheAndItsShowIsCounted) {
    auto ad = loadedAd(publisher);
    auto other = NSObject::alloc<TRATrilliumAd>()->init();
    other->loadAd(TRATrilliumAd::AdTypeOverlay, nullptr);
    driver().drain();
    ASSERT_TRUE(ad->isReady());
    ASSERT_TRUE(other->isReady());

    ad->showAdWithAdTag(std::string("menu"));
    ASSERT_EQ(screens.size(), 1u);
    EXPECT_EQ(screens[0]->shownAd.lock(), ad->internalAd());
    EXPECT_EQ(screens[0]->tag, "menu");
    EXPECT_FALSE(ad->isReady());
    EXPECT_FALSE(other->isReady());  // the same ad is not shown twice

    screens[0]->delegate.lock()->didShowAd();
    EXPECT_EQ(publisher->events.back(), "didShowAd");
    EXPECT_EQ(TRAAdapptManager::numOfAdsDisplayedForKey("INAPP_OVERLAY"), 1);
    EXPECT_EQ(TRAAdapptManager::numOfTotalAdsDisplayedInCurrentSession(), 1);

    // A failure is told on the next main-queue turn, never inside showAd.
    size_t heard = publisher->events.size();
    ad->showAd();
    EXPECT_EQ(publisher->events.size(), heard);
    driver().drain();
    EXPECT_EQ(publisher->events.back(), "failedShowAd");
    EXPECT_EQ(publisher->lastError->localizedDescription(), "Ad is not ready");
    EXPECT_EQ(screens.size(), 1u);
}

TEST_F(TRATrilliumAdTest, AnAdWhoseDisplayIsRefusedGoesBackToTheCache) {
    auto ad = loadedAd(publisher);
    ad->showAd();
    ASSERT_EQ(screens.size(), 1u);
    EXPECT_FALSE(ad->isReady());
    screens[0]->delegate.lock()->failedDisplayAd(NSError::errorWithDomain("screen", 1));
    EXPECT_EQ(publisher->events.back(), "failedShowAd");
    EXPECT_TRUE(ad->isReady());
    // Another ad of the key takes it without a request; a later show works.
    auto other = NSObject::alloc<TRATrilliumAd>()->init();
    other->loadAd(TRATrilliumAd::AdTypeOverlay, nullptr);
    driver().drain();
    EXPECT_EQ(other->internalAd(), ad->internalAd());
    EXPECT_EQ(service.requestsTo(TrilliumService::kHtmlAdPath).size(), 1u);
    ad->showAd();
    ASSERT_EQ(screens.size(), 2u);
    screens[1]->delegate.lock()->didShowAd();
    screens[1]->delegate.lock()->failedDisplayAd(NSError::errorWithDomain("late", 1));
    EXPECT_FALSE(ad->isReady());  // a failure after the display does not bring it back

    // Without any ad screen the refusal comes on the next turn, and the ad stays.
    auto later = NSObject::alloc<RecordingAdDelegate>();
    auto third = loadedAd(later);
    TRADisplayHooks::shared().adScreen = nullptr;
    third->showAd();
    EXPECT_EQ(later->events, std::vector<std::string>{"didLoadAd"});
    driver().drain();
    EXPECT_EQ(later->events.back(), "failedShowAd");
    EXPECT_EQ(later->lastError->localizedDescription(), "Ad screen is not available");
    EXPECT_TRUE(third->isReady());
}

TEST_F(TRATrilliumAdTest, TheAdRulesCanRefuseAShow) {
    ASSERT_TRUE(TRAMetadata::sharedMetadata()->applyMetadataAnswer(NSString::dataUsingEncoding(
        R"({"adPlatformHost": ")" + service.baseUrl() + R"(", "adRules": {"tags": {"menu": [{"maxAds": 0}]}}})")));
    auto ad = loadedAd(publisher);
    ad->showAdWithAdTag(std::string("menu"));
    driver().drain();
    EXPECT_EQ(publisher->events.back(), "failedShowAd");
    EXPECT_TRUE(screens.empty());
    EXPECT_TRUE(ad->isReady());  // still there for an allowed show
    ad->showAd();
    EXPECT_EQ(screens.size(), 1u);
}

TEST_F(TRATrilliumAdTest, ScreenOutcomesReachThePublisher) {
    auto ad = loadedAd(publisher);
    ad->showAd();
    ASSERT_EQ(screens.size(), 1u);
    auto screenDelegate = screens[0]->delegate.lock();
    screenDelegate->failedDisplayAd(NSError::errorWithDomain("d", 1));
    screenDelegate->didCompleteVideo();
    screenDelegate->didCloseAdWithClick(true);
    screenDelegate->didCloseAdWithClick(false);
    ad->didCloseInAppStore();
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didLoadAd", "failedShowAd", "didCompleteVideo",
                                                           "didClickAd", "didCloseAd", "didCloseInAppStore"}));
    TRAAdCache::sharedInstance()->setAllowAutoRotate(false);
    screenDelegate->allowAutoRotate();
    EXPECT_TRUE(TRAAdCache::sharedInstance()->allowAutoRotate());

    auto closeOnly = NSObject::alloc<CloseOnlyDelegate>();
    ad->setTrilliumDelegate(closeOnly);
    ad->didCloseAdWithClick(true);
    EXPECT_EQ(closeOnly->closes, 1);
}

TEST_F(TRATrilliumAdTest, LoadFailuresReachThePublisher) {
    service.setHtmlAdAnswer(Answer::withStatus(204));
    auto ad = NSObject::alloc<TRATrilliumAd>()->init();
    ad->loadAd(TRATrilliumAd::AdTypeOverlay, publisher);
    ASSERT_TRUE(waitFor([&] { return !publisher->events.empty(); }));
    EXPECT_EQ(publisher->events, std::vector<std::string>{"failedLoadAd"});
    EXPECT_EQ(publisher->lastError->localizedDescription(), "No ad available");
    EXPECT_FALSE(ad->isReady());

    ad->loadAd(6, publisher);
    driver().drain();
    EXPECT_EQ(publisher->lastError->localizedDescription(), "Ad type 6 is not supported");

    ad->setEventType(TRATrilliumAd::EventTypeReturn);
    EXPECT_EQ(ad->placement(), "INAPP_RETURN");
    ad->loadAd(TRATrilliumAd::AdTypeOverlay, publisher);  // the test factory gives it no request
    ASSERT_TRUE(waitFor([&] { return publisher->events.size() == 3; }));
    EXPECT_EQ(publisher->lastError->localizedDescription(), "Internal error");

    TRADisplayHooks::shared().fullScreenAd = nullptr;
    auto splash = NSObject::alloc<TRATrilliumAd>()->init();
    splash->setEventType(TRATrilliumAd::EventTypeSplash);
    EXPECT_EQ(splash->placement(), "INAPP_SPLASH");
    splash->loadAd(TRATrilliumAd::AdTypeFullPage, publisher);
    ASSERT_TRUE(waitFor([&] { return publisher->events.size() == 4; }));
    EXPECT_EQ(publisher->lastError->localizedDescription(), "Full-screen ads are not available");
}

TEST_F(TRATrilliumAdTest, TheCacheSurvivesARestartButNotAVideoWhoseFileIsGone) {
    auto ad = loadedAd(publisher);
    auto cache = TRAAdCache::sharedInstance();
    // A splash entry holding a video ad whose file is gone.
    auto video = NSObject::alloc<TRAHtmlAd>()->init();
    video->setVideoPref(TRAAdVideoPreferences::preferencesWithJsonString(R"({"videoUrl": "http://v/a.mp4"})"));
    video->videoPref()->setVideoPath(home() + "/Library/Caches/missing.mp4");
    video->setLoadDate(NSDate::date().timeIntervalSince1970());
    cache->loaderForKey(*NSObject::alloc<TRACacheKey>()->initWithAdType(5, 2), true)->setInternalAd(video);
    cache->saveDBToLocalData();

    restartProcessState();
    auto restored = NSObject::alloc<TRAAdCache>();
    restored->loadDBFromLocalData();
    auto db = restored->getCacheDb();
    ASSERT_EQ(db.size(), 1u);
    EXPECT_EQ(db[0].first->adType(), 5);
    EXPECT_EQ(db[0].first->eventType(), 0);
    ASSERT_NE(db[0].second->internalAd(), nullptr);
    EXPECT_EQ(db[0].second->internalAd()->html(), ad->internalAd()->html());
    EXPECT_EQ(*db[0].second->internalAd()->trackingUrl(), *ad->internalAd()->trackingUrl());

    // With the file present the video ad comes back too.
    ASSERT_TRUE(NSFileManager::defaultManager()->createFileAtPath(*video->videoPref()->videoPath(), NSData()));
    auto again = NSObject::alloc<TRAAdCache>();
    again->loadDBFromLocalData();
    EXPECT_EQ(again->getCacheDb().size(), 2u);
}

TEST_F(TRATrilliumAdTest, CachedAdsExpireAcrossRestarts) {
    loadedAd(publisher);
    auto cache = TRAAdCache::sharedInstance();
    // An ad archived without a load date: of unknown age.
    auto undated = NSObject::alloc<TRAHtmlAd>()->init();
    cache->loaderForKey(*NSObject::alloc<TRACacheKey>()->initWithAdType(1, 0), true)->setInternalAd(undated);
    cache->saveDBToLocalData();
    restartProcessState();
    driver().advance(TRAAdCache::kCachedAdLifetime - 1);
    auto fresh = NSObject::alloc<TRAAdCache>();
    fresh->loadDBFromLocalData();
    ASSERT_EQ(fresh->getCacheDb().size(), 1u);
    EXPECT_EQ(fresh->getCacheDb()[0].first->adType(), 5);

    driver().advance(1);
    auto stale = NSObject::alloc<TRAAdCache>();
    stale->loadDBFromLocalData();
    EXPECT_TRUE(stale->getCacheDb().empty());
}

// The preferences cannot be read at a start (the read seam, or chmod 000
// without root's override): the cache this start saves does not replace the
// stored one. Once they read, the ad cached meanwhile is laid over it, the
// key whose ad was taken meanwhile is gone, and the stored other stays, also
// after a restart.
using TRAAdCacheUnreadableTest = platform::testing::UnreadableFileTest<TRATrilliumAdTest>;

TEST_P(TRAAdCacheUnreadableTest, ACacheSavedWhileThePreferencesCannotBeReadKeepsTheStoredAds) {
    auto key = [](int64_t adType) { return NSObject::alloc<TRACacheKey>()->initWithAdType(adType, 0); };
    auto ad = [](const std::string& html) {
        auto made = NSObject::alloc<TRAHtmlAd>()->init();
        made->setHtml(html);
        made->setLoadDate(NSDate::date().timeIntervalSince1970());
        return made;
    };
    auto earlier = NSObject::alloc<TRAAdCache>();
    earlier->loaderForKey(*key(1), true)->setInternalAd(ad("stored"));
    earlier->loaderForKey(*key(2), true)->setInternalAd(ad("taken"));
    earlier->saveDBToLocalData();
    const std::string file = home() + "/Library/Preferences/com.paranormal.detector.plist";
    ASSERT_TRUE(platform::testing::setUnreadable(file, GetParam(), true));
    restartProcessState();

    auto cache = NSObject::alloc<TRAAdCache>();
    cache->loadDBFromLocalData();
    EXPECT_TRUE(cache->getCacheDb().empty());
    cache->loaderForKey(*key(3), true)->setInternalAd(ad("meanwhile"));
    cache->saveDBToLocalData();
    auto shown = ad("shown");
    cache->loaderForKey(*key(2), true)->setInternalAd(shown);
    cache->removeAd(*key(2), shown);
    ASSERT_TRUE(platform::testing::setUnreadable(file, GetParam(), false));

    auto htmlOf = [&](const Ref<TRAAdCache>& of, int64_t adType) {
        auto loader = of->loaderForKey(*key(adType), false);
        auto held = loader ? loader->internalAd() : nullptr;
        return held ? held->html() : std::string("-");
    };
    EXPECT_EQ(htmlOf(cache, 1), "stored");
    EXPECT_EQ(htmlOf(cache, 2), "-");
    EXPECT_EQ(htmlOf(cache, 3), "meanwhile");
    restartProcessState();
    auto next = NSObject::alloc<TRAAdCache>();
    next->loadDBFromLocalData();
    EXPECT_EQ(htmlOf(next, 1), "stored");
    EXPECT_EQ(htmlOf(next, 2), "-");
    EXPECT_EQ(htmlOf(next, 3), "meanwhile");
}

INSTANTIATE_TEST_SUITE_P(Preferences, TRAAdCacheUnreadableTest,
                         ::testing::Values(platform::testing::Unreadable::ReadsFail,
                                           platform::testing::Unreadable::Chmod000),
                         platform::testing::unreadableTestName);

TEST_F(TRATrilliumAdTest, AnUnreadableStoredCacheIsIgnored) {
    NSUserDefaults::standardUserDefaults()->setObject(NSString::dataUsingEncoding("garbage"), TRAAdCache::kCacheDbKey);
    auto cache = NSObject::alloc<TRAAdCache>();
    cache->loadDBFromLocalData();
    EXPECT_TRUE(cache->getCacheDb().empty());
    NSUserDefaults::standardUserDefaults()->setObject("text", TRAAdCache::kCacheDbKey);
    cache->loadDBFromLocalData();
    EXPECT_TRUE(cache->getCacheDb().empty());
    EXPECT_TRUE(logCapture().contains("Stored ad cache"));
}

TEST_F(TRATrilliumAdTest, ClearingKeepsSplashEntriesAndFailsLoadsUnderWay) {
    auto cache = TRAAdCache::sharedInstance();
    auto splashAd = NSObject::alloc<TRAHtmlAd>()->init();
    cache->loaderForKey(*NSObject::alloc<TRACacheKey>()->initWithAdType(5, 2), true)->setInternalAd(splashAd);
    service.setHtmlAdAnswer(Answer::stall());
    auto ad = NSObject::alloc<TRATrilliumAd>()->init();
    ad->loadAd(TRATrilliumAd::AdTypeOverlay, publisher);
    ASSERT_TRUE(service.server().waitForStalled(1, 5));
    cache->clearCacheDB();
    EXPECT_EQ(publisher->events, std::vector<std::string>{"failedLoadAd"});
    auto db = cache->getCacheDb();
    ASSERT_EQ(db.size(), 1u);
    EXPECT_EQ(db[0].first->eventType(), 2);
    service.server().releaseStalled();
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(publisher->events.size(), 1u);
}

TEST_F(TRATrilliumAdTest, TheDebugOverlayListsTheCacheAndTheVideos) {
    auto store = NSObject::alloc<FakeVideoStore>();
    store->table.set("clip.mp4", Value(true));
    TRADisplayHooks::shared().videoStore = [store] { return store; };
    loadedAd(publisher);
    auto cache = TRAAdCache::sharedInstance();
    cache->showVisualCacheDB();
    auto overlay = cache->visualCache();
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(overlay->superview(), rootViewController()->view());
    EXPECT_EQ(overlay->cacheLines(), std::vector<std::string>{"Overlay (ordinary): loaded"});
    EXPECT_EQ(overlay->videoLines(), std::vector<std::string>{"Video: clip.mp4"});
    EXPECT_EQ(overlay->subviews().size(), 2u);
    cache->hideVisualCacheDB();
    EXPECT_EQ(overlay->superview(), nullptr);
}

}  // namespace
