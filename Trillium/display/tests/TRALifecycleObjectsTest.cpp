// The small objects around the lifecycle placements: the three requests, the
// full-screen ad's choice of request, the one-call basic ad, the store sheet,
// the non-owning arrays and the class registration.
#include "Trillium/TRAPlacementRequest.h"
#include "Trillium/NSMutableArrayWeakReferences.h"
#include "Trillium/display/TRAFullScreenAd.h"
#include "Trillium/display/TRALifecycleAdRequests.h"
#include "Trillium/display/TRASKStoreProductViewController.h"
#include "Trillium/display/TRATrilliumAdBasic.h"
#include "Trillium/display/tests/TrilliumDisplayTestSupport.h"
#include "platform/net/NetworkConditions.h"

using simulator::TrilliumService;

namespace {

class RecordingLoadDelegate : public NSObject, public TRAAdDelegate {
public:
    void didFinishLoadAd() override { ++loaded; }
    void finishLoadAdWithError(const Ref<NSError>& error) override { errors.push_back(error); }
    int loaded = 0;
    std::vector<Ref<NSError>> errors;
};

template <class Request>
std::string queryOf() {
    auto request = NSObject::alloc<Request>()->init();
    request->fillApplicationDetails(std::string(kTestAppId), std::string(kTestDevId));
    return request->getQueryString();
}

}  // namespace

class TRALifecycleObjectsTest : public TrilliumDisplayTest {};

TEST_F(TRALifecycleObjectsTest, EachRequestEndsWithItsPlacement) {
    auto base = NSObject::alloc<TRABaseRequest>()->init();
    base->fillApplicationDetails(std::string(kTestAppId), std::string(kTestDevId));
    const std::string baseQuery = base->getQueryString();
    EXPECT_EQ(queryOf<TRAFirstDownloadRequest>(), baseQuery + "&placement=INAPP_DOWNLOAD");
    EXPECT_EQ(queryOf<TRAReturnAdRequest>(), baseQuery + "&placement=INAPP_RETURN");
    EXPECT_EQ(queryOf<TRASplashAdRequest>(), baseQuery + "&placement=INAPP_SPLASH");
    EXPECT_EQ(queryOf<TRAOverlayAdRequest>(), baseQuery + "&placement=INAPP_OVERLAY");
    // The placement is set with the application details, not before.
    EXPECT_FALSE(NSObject::alloc<TRAReturnAdRequest>()->init()->placement().has_value());
}

TEST_F(TRALifecycleObjectsTest, FullScreenAdPicksItsRequestByEventType) {
    auto make = [](int64_t eventType) { return NSObject::alloc<TRAFullScreenAd>()->initWithAdType(5, eventType); };
    EXPECT_EQ(make(0)->adType(), 5);
    EXPECT_TRUE(std::dynamic_pointer_cast<TRAOverlayAdRequest>(make(0)->adRequest()));
    EXPECT_TRUE(std::dynamic_pointer_cast<TRAReturnAdRequest>(make(1)->adRequest()));
    EXPECT_TRUE(std::dynamic_pointer_cast<TRASplashAdRequest>(make(2)->adRequest()));
    EXPECT_EQ(NSObject::alloc<TRAFullScreenAd>()->initWithAdType(1, 0)->adType(), 1);
}

TEST_F(TRALifecycleObjectsTest, FullScreenAdOfUnknownEventTypeHasNoRequestAndFailsAtOnce) {
    auto ad = NSObject::alloc<TRAFullScreenAd>()->initWithAdType(5, 7);
    EXPECT_FALSE(ad->adRequest());
    auto delegate = NSObject::alloc<RecordingLoadDelegate>();
    ad->setAdLoadDelegate(delegate);
    ad->loadAd(std::string(kTestAppId), std::string(kTestDevId), Value(), Value(), false);
    settle();
    ASSERT_EQ(delegate->errors.size(), 1u);
    ASSERT_TRUE(delegate->errors[0]);
    EXPECT_EQ(delegate->errors[0]->localizedDescription(), "Internal error");
    EXPECT_EQ(delegate->loaded, 0);
    EXPECT_EQ(service.requests().size(), 0u);
}

TEST_F(TRALifecycleObjectsTest, CacheLoadsRealFullScreenAdsForTheReturnPlacement) {
    auto ad = NSObject::alloc<TRATrilliumAd>()->init();
    ad->setEventType(1);
    auto delegate = NSObject::alloc<RecordingAdDelegate>();
    ad->loadAd(5, delegate);
    settle();
    EXPECT_EQ(delegate->events, std::vector<std::string>{"didLoadAd"});
    ASSERT_EQ(htmlAdRequestsFor("INAPP_RETURN").size(), 1u);
    EXPECT_TRUE(std::dynamic_pointer_cast<TRAFullScreenAd>(ad->internalAd()));
}

TEST_F(TRALifecycleObjectsTest, BasicAdLoadsOnceOnItsFirstCallAndShowsWhenReady) {
    EXPECT_FALSE(TRATrilliumAdBasic::showAd());
    settle();
    EXPECT_EQ(service.requestsTo(TrilliumService::kHtmlAdPath).size(), 1u);
    ASSERT_TRUE(TRATrilliumAdBasic::sharedAd());
    ASSERT_TRUE(TRATrilliumAdBasic::sharedAd()->isReady());

    EXPECT_TRUE(TRATrilliumAdBasic::showAd());
    ASSERT_EQ(screens.size(), 1u);
    // Shown, so no longer ready: the next call loads again and answers NO.
    EXPECT_FALSE(TRATrilliumAdBasic::showAd());
    settle();
    EXPECT_EQ(service.requestsTo(TrilliumService::kHtmlAdPath).size(), 2u);
}

TEST_F(TRALifecycleObjectsTest, BasicAdThatMayNotBeShownNowAnswersNoWithoutReloading) {
    EXPECT_FALSE(TRATrilliumAdBasic::showAd());
    settle();
    ASSERT_TRUE(TRATrilliumAdBasic::sharedAd()->isReady());
    platform::testing::NetworkConditions::set(NetworkState::None);
    EXPECT_FALSE(TRATrilliumAdBasic::showAd());
    settle();
    EXPECT_TRUE(screens.empty());
    EXPECT_EQ(service.requestsTo(TrilliumService::kHtmlAdPath).size(), 1u);
    EXPECT_TRUE(TRATrilliumAdBasic::sharedAd()->isReady());
}

TEST_F(TRALifecycleObjectsTest, BasicAdAnswersNoWhileNoAdScreenExists) {
    TRADisplayHooks::shared().adScreen = nullptr;
    EXPECT_FALSE(TRATrilliumAdBasic::showAd());
    settle();
    ASSERT_TRUE(TRATrilliumAdBasic::sharedAd()->isReady());
    EXPECT_FALSE(TRATrilliumAdBasic::showAd());
    EXPECT_TRUE(TRATrilliumAdBasic::sharedAd()->isReady());
    EXPECT_TRUE(logCapture().contains("no full-screen ad screen is available"));
}

TEST_F(TRALifecycleObjectsTest, StoreSheetKeepsStillButAcceptsEveryOrientation) {
    auto sheet = TRASKStoreProductViewController::alloc()->init();
    EXPECT_FALSE(sheet->shouldAutorotate());
    EXPECT_EQ(sheet->supportedInterfaceOrientations(), 30u);
    EXPECT_EQ(sheet->className(), "TRASKStoreProductViewController");
}

TEST_F(TRALifecycleObjectsTest, WeakArrayNeitherRetainsNorHandsOutDeadElements) {
    auto array = WeakReferences::mutableArrayUsingWeakReferences<NSObject>();
    auto kept = NSObject::alloc<NSObject>();
    auto dropped = NSObject::alloc<NSObject>();
    long before = kept.use_count();
    ASSERT_TRUE(array.addObject(kept));
    ASSERT_TRUE(array.addObject(dropped));
    ASSERT_TRUE(array.addObject(kept));
    EXPECT_EQ(kept.use_count(), before);
    EXPECT_EQ(array.count(), 3u);

    dropped.reset();
    EXPECT_EQ(array.count(), 2u);
    for (const auto& object : array.allObjects()) EXPECT_EQ(object, kept);
    EXPECT_EQ(array.objectAtIndex(1), kept);
    EXPECT_EQ(array.objectAtIndex(2), nullptr);

    array.removeObject(kept);
    EXPECT_EQ(array.count(), 0u);
    EXPECT_FALSE(array.containsObject(kept));
}

TEST_F(TRALifecycleObjectsTest, BoundedWeakArrayRefusesWhenFullAndNullAlways) {
    auto array = WeakReferences::mutableArrayUsingWeakReferencesWithCapacity<NSObject>(2);
    auto a = NSObject::alloc<NSObject>();
    auto b = NSObject::alloc<NSObject>();
    auto c = NSObject::alloc<NSObject>();
    EXPECT_FALSE(array.addObject(nullptr));
    EXPECT_TRUE(array.addObject(a));
    EXPECT_TRUE(array.addObject(b));
    EXPECT_FALSE(array.addObject(c));
    // A place freed by an element that went away can be taken again.
    b.reset();
    EXPECT_TRUE(array.addObject(c));
    EXPECT_TRUE(array.containsObject(c));
}

TEST_F(TRALifecycleObjectsTest, DisplayClassesAreRegistered) {
    for (const char* name : {"TRAEventAdManager", "TRAFirstDownloadRequest", "TRAReturnAdRequest", "TRASplashAdRequest",
                             "TRAFullScreenAd", "TRATrilliumAdBasic", "TRASKStoreProductViewController",
                             "TRATrilliumSDK"})
        EXPECT_TRUE(NSClassFromString(name)) << name;
}
