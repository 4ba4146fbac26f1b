// Native ad loading through the service against the Halcyon service's "nad"
// path: the request's query decoded into pairs (first and after a native
// fetch), failures passed on, a count of 0 refused, work that a disabled
// client drops still ending once, and the native preload queue (a single-ad
// load answered at once from it without a request, not topped up, larger
// loads always requesting, empty or failed preloads).
// Start-up preloads wait for the virtual clock, which only the preload
// tests move.
#include <gtest/gtest.h>

#include "halcyon/core/HLNativeAdService.h"
#include "halcyon/core/HLPreloadedNativeAdManager.h"
#include "halcyon/core/tests/HLNativeTestSupport.h"

namespace {

using simulator::HalcyonNativeAnswer;
using simulator::QueryFields;

constexpr int64_t kHLLoadTestSlotAutoPreloadNative = 96;

class HLNativeLoadTest : public HalcyonNativeTest {
protected:
    // Settings without the start-up native preload unless asked for.
    Ref<HLInternalSdkSettings> settings(bool preload = false) {
        auto settings = serviceSettings();
        settings->putBool(preload, kHLLoadTestSlotAutoPreloadNative);
        return settings;
    }
    Ref<HLRecordingNativeDelegate> load(const Ref<HLSdk>& sdk, uint64_t count) {
        auto delegate = std::make_shared<HLRecordingNativeDelegate>();
        sdk->nativeAdService()->loadNativeAdGroupOfCount(count, delegate);
        EXPECT_TRUE(settle());
        return delegate;
    }
    static std::vector<std::string> valuesOf(const QueryFields& query, std::string_view key) {
        std::vector<std::string> values;
        for (const auto& [name, value] : query)
            if (name == key) values.push_back(value);
        return values;
    }
    size_t nativeRequests() const { return service.requestsTo(simulator::HalcyonService::kNativeAdPath).size(); }
};

TEST_F(HLNativeLoadTest, RequestCarriesSlotCountAndNativeKeysOnly) {
    Ref<HLSdk> sdk = startSdk(settings());
    auto first = load(sdk, 3);
    EXPECT_EQ(first->journal(), std::vector<std::string>{"loaded 1,2,3"});
    EXPECT_FALSE(first->allOnMainThread());  // reported on task queue 0
    auto second = load(sdk, 2);
    EXPECT_EQ(second->journal(), std::vector<std::string>{"loaded 4,5"});

    auto queries = service.nativeRequestQueries();
    ASSERT_EQ(queries.size(), 2u);
    for (const QueryFields& query : queries) {
        EXPECT_EQ(valuesOf(query, "size"), std::vector<std::string>{"NATIVE"});
        EXPECT_EQ(valuesOf(query, "preloading"), std::vector<std::string>{"false"});
        EXPECT_EQ(valuesOf(query, "format"), std::vector<std::string>{"json"});
        EXPECT_EQ(valuesOf(query, "sdk_key"), std::vector<std::string>{kHLTestSdkKey});
        for (const char* absent : {"require", "etf", "ntf", "etr", "ntr", "fvr"})
            EXPECT_TRUE(valuesOf(query, absent).empty()) << absent;
    }
    EXPECT_EQ(valuesOf(queries[0], "slot_count"), std::vector<std::string>{"3"});
    EXPECT_EQ(valuesOf(queries[1], "slot_count"), std::vector<std::string>{"2"});
    // The timings of the last native request, only once there was one.
    EXPECT_TRUE(valuesOf(queries[0], "etfw").empty());
    EXPECT_TRUE(valuesOf(queries[0], "ntfw").empty());
    auto etfw = valuesOf(queries[1], "etfw");
    ASSERT_EQ(etfw.size(), 1u);
    EXPECT_EQ(etfw[0].find_first_not_of("0123456789"), std::string::npos) << etfw[0];
    EXPECT_EQ(valuesOf(queries[1], "ntfw"), std::vector<std::string>{"wifi"});
}

TEST_F(HLNativeLoadTest, RequestFailuresArePassedOnUnchanged) {
    Ref<HLSdk> sdk = startSdk(settings());
    service.setNativeAnswer(std::nullopt);
    EXPECT_EQ(load(sdk, 2)->journal(), std::vector<std::string>{"failed 204"});
    service.setNativeAnswer(HalcyonNativeAnswer{});
    service.scriptStatuses(simulator::HalcyonService::kNativeAdPath, {404});
    EXPECT_EQ(load(sdk, 1)->journal(), std::vector<std::string>{"failed 404"});
    service.script(simulator::HalcyonService::kNativeAdPath, {simulator::Answer::ok("not json")});
    EXPECT_EQ(load(sdk, 1)->journal().size(), 1u);
    HalcyonNativeAnswer empty;
    empty.ads.emplace();
    service.setNativeAnswer(empty);
    EXPECT_EQ(load(sdk, 4)->journal(), std::vector<std::string>{"failed -701"});
}

TEST_F(HLNativeLoadTest, TheAnswersSettingsApplyBeforeItsAdsAreCached) {
    Ref<HLSdk> sdk = startSdk(settings());
    HalcyonNativeAnswer answer;
    answer.settingsJson = R"({"native_batch_precache_count": 0})";
    service.setNativeAnswer(answer);
    EXPECT_EQ(load(sdk, 2)->journal(), std::vector<std::string>{"loaded 1,2"});
    EXPECT_EQ(sdk->integerForKey(98), 0);
    EXPECT_EQ(service.nativeResourceRequestCount("icon-1.png"), 0u);
}

TEST_F(HLNativeLoadTest, ACountOfZeroIsRefusedWithoutCallback) {
    Ref<HLSdk> sdk = startSdk(settings());
    EXPECT_TRUE(load(sdk, 0)->journal().empty());
    EXPECT_TRUE(listener->contains("Requested to load invalid number (0) of native ads"));
    EXPECT_EQ(nativeRequests(), 0u);
}

TEST_F(HLNativeLoadTest, WorkTheDisabledClientDropsStillEndsOnce) {
    Ref<HLSdk> sdk = startSdk(settings());
    ASSERT_TRUE(settle());
    sdk->markInitialized(false);
    EXPECT_EQ(load(sdk, 2)->journal(), std::vector<std::string>{"failed -1"});
    EXPECT_EQ(nativeRequests(), 0u);
    auto ad = NSObject::alloc<HLNativeAd>()->init();
    ad->setAdIdNumber(Value(9));
    ad->setSourceIconURL(NSURL::URLWithString(service.nativeResourceUrl("dropped.png")));
    ad->setIconURL(ad->sourceIconURL());
    auto delegate = std::make_shared<HLRecordingNativeDelegate>();
    sdk->nativeAdService()->precacheResourcesForNativeAd(ad, delegate);
    ASSERT_TRUE(settle());
    EXPECT_EQ(delegate->journal(), std::vector<std::string>{"images failed 9 -201"});
    EXPECT_EQ(service.nativeResourceRequestCount("dropped.png"), 0u);
}

TEST_F(HLNativeLoadTest, ASingleAdIsAnsweredAtOnceFromThePreloadQueue) {
    HalcyonNativeAnswer withVideo;
    withVideo.generatedAdsHaveVideos = true;
    service.setNativeAnswer(withVideo);
    Ref<HLSdk> sdk = startSdk(settings(/*preload=*/true));
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    auto queries = service.nativeRequestQueries();
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(valuesOf(queries[0], "preloading"), std::vector<std::string>{"true"});
    EXPECT_EQ(valuesOf(queries[0], "slot_count"), std::vector<std::string>{"1"});
    EXPECT_EQ(service.nativeResourceRequestCount("video-1.mp4"), 1u);

    // On the caller's thread, before the call returns, without a request.
    auto delegate = std::make_shared<HLRecordingNativeDelegate>();
    sdk->nativeAdService()->loadNativeAdGroupOfCount(1, delegate);
    EXPECT_EQ(delegate->journal(), std::vector<std::string>{"loaded 1"});
    EXPECT_TRUE(delegate->allOnMainThread());
    ASSERT_EQ(delegate->loaded().size(), 1u);
    EXPECT_TRUE(delegate->loaded()[0]->isImagePrecached());
    EXPECT_TRUE(delegate->loaded()[0]->isVideoPrecached());
    ASSERT_TRUE(settle());
    EXPECT_EQ(nativeRequests(), 1u);
    // Not topped up: the next single ad is requested.
    EXPECT_EQ(load(sdk, 1)->journal(), std::vector<std::string>{"loaded 2"});
    EXPECT_EQ(nativeRequests(), 2u);
}

TEST_F(HLNativeLoadTest, LargerLoadsAlwaysRequest) {
    Ref<HLSdk> sdk = startSdk(settings(/*preload=*/true));
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    ASSERT_TRUE(sdk->preloadedNativeAdManager()->hasPreloadedAdOfSpec(HLNativeAd::specNative()));
    EXPECT_EQ(load(sdk, 2)->journal(), std::vector<std::string>{"loaded 2,3"});
    EXPECT_EQ(nativeRequests(), 2u);
    EXPECT_TRUE(sdk->preloadedNativeAdManager()->hasPreloadedAdOfSpec(HLNativeAd::specNative()));
}

TEST_F(HLNativeLoadTest, EmptyOrUncachablePreloadsLeaveTheQueueEmpty) {
    HalcyonNativeAnswer empty;
    empty.ads.emplace();
    service.setNativeAnswer(empty);
    Ref<HLSdk> sdk = startSdk(settings(/*preload=*/true));
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    EXPECT_EQ(nativeRequests(), 1u);
    EXPECT_TRUE(listener->contains("The native pre-load answer holds no ad"));
    EXPECT_TRUE(listener->contains("Failed to pre-load an ad with code -701"));
    const Ref<HLPreloadedNativeAdManager>& preloads = sdk->preloadedNativeAdManager();
    EXPECT_FALSE(preloads->hasPreloadedAdOfSpec(HLNativeAd::specNative()));
    EXPECT_TRUE(preloads->isInitialPreloadCompletedForSpec(HLNativeAd::specNative()));

    // Images that cannot be cached keep the ad out; a failed video does not.
    service.setNativeAnswer(HalcyonNativeAnswer{});
    service.scriptStatuses("/res/native/icon-1.png", {404});
    preloads->fillPreloadQueueForSpec(HLNativeAd::specNative());
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(listener->contains("Failed to precache images for ad 1"));
    EXPECT_FALSE(preloads->hasPreloadedAdOfSpec(HLNativeAd::specNative()));
    HalcyonNativeAnswer video;
    video.generatedAdsHaveVideos = true;
    service.setNativeAnswer(video);
    service.scriptStatuses("/res/native/video-2.mp4", {500});
    preloads->fillPreloadQueueForSpec(HLNativeAd::specNative());
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(listener->contains("Failed to precache video for but suceeded for images for ad 2"));
    Ref<HLNativeAd> ad = preloads->preloadedAdOfSpec(HLNativeAd::specNative());
    ASSERT_TRUE(ad);
    EXPECT_TRUE(ad->isImagePrecached());
    EXPECT_FALSE(ad->isVideoPrecached());
}

}  // namespace
