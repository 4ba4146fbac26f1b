// Native precaching against the Halcyon service's resource files: the load
// coordinator's batches (which ads, one report whatever results arrive, its
// lifetime), the cache tasks (only 2xx bodies kept, an icon failure skipping
// the image, no network, force_ssl, shared file names, caching off, files
// outside the allowed prefixes or naming no file, a stalling server within
// the time-out) and the user-based precache's order of reports.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "halcyon/core/HLNativeAdLoadCoordinator.h"
#include "halcyon/core/HLNativeAdService.h"
#include "halcyon/core/HLTaskCacheNativeAdBase.h"
#include "halcyon/core/tests/HLNativeTestSupport.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/net/NetworkConditions.h"

namespace {

using simulator::Answer;
using simulator::HalcyonNativeAd;
using simulator::HalcyonNativeAnswer;

constexpr int64_t kHLPrecacheTestSlotCacheEnabled = 30;
constexpr int64_t kHLPrecacheTestSlotBatchCount = 98;

class HLNativePrecacheTest : public HalcyonNativeTest {
protected:
    static HalcyonNativeAnswer withVideos(int64_t count) {
        HalcyonNativeAnswer answer;
        answer.ads.emplace();
        for (int64_t id = 1; id <= count; ++id) {
            HalcyonNativeAd ad;
            ad.adId = id;
            ad.videoUrl = "{RES}video-" + std::to_string(id) + ".mp4";
            answer.ads->push_back(ad);
        }
        return answer;
    }
    // A load of `text`'s ads through a coordinator nothing else holds; true
    // when the coordinator is gone afterwards.
    bool coordinate(const Ref<HLSdk>& sdk, const std::string& text, const Ref<HLNativeAdLoadDelegate>& delegate) {
        auto coordinator =
            NSObject::alloc<HLNativeAdLoadCoordinator>()->initWithNativeAdService(sdk->nativeAdService(), 5);
        coordinator->setLoadDelegate(delegate);
        Weak<HLNativeAdLoadCoordinator> weak = coordinator;
        renderInto(sdk, text, std::move(coordinator));
        // A finished task is let go just after its queue reports idle.
        driver().runUntil([&] { return weak.expired(); }, 1);
        return weak.expired();
    }
    std::vector<std::string> precache(const Ref<HLSdk>& sdk, const Ref<HLNativeAd>& ad) {
        auto delegate = std::make_shared<HLRecordingNativeDelegate>();
        sdk->nativeAdService()->precacheResourcesForNativeAd(ad, delegate);
        EXPECT_TRUE(settle());
        return delegate->journal();
    }
    // One rendered ad with these addresses ("{RES}" filled).
    Ref<HLNativeAd> adWith(const Ref<HLSdk>& sdk, std::string icon, std::optional<std::string> image,
                           std::optional<std::string> video = std::nullopt) {
        HalcyonNativeAd ad;
        ad.adId = 1;
        ad.iconUrl = std::move(icon);
        ad.imageUrl = image ? std::move(image) : std::optional<std::string>("");
        ad.videoUrl = std::move(video);
        HalcyonNativeAnswer answer;
        answer.ads = {ad};
        auto ads = rendered(sdk, answerText(answer));
        return ads.empty() ? nullptr : ads[0];
    }
    size_t requests(std::string_view name) const { return service.nativeResourceRequestCount(name); }
    std::string cached(const std::string& name) const {
        std::optional<NSData> data = NSData::dataWithContentsOfFile(cacheFolder() + name);
        return data ? data->toString() : std::string("(none)");
    }
    std::string cacheFolder() const { return home() + "/Library/Caches/hl/"; }
};

// ---- The load coordinator

TEST_F(HLNativePrecacheTest, CoordinatorCachesTheFirstTwoOfFiveAndReportsAllFive) {
    Ref<HLSdk> sdk = startSdk();
    auto delegate = std::make_shared<HLRecordingNativeDelegate>();
    EXPECT_TRUE(coordinate(sdk, answerText(withVideos(5)), delegate));
    EXPECT_EQ(delegate->journal(), std::vector<std::string>{"loaded 1,2,3,4,5"});
    for (const char* name : {"icon-1.png", "image-1.png", "video-1.mp4", "icon-2.png", "image-2.png", "video-2.mp4"})
        EXPECT_EQ(requests(name), 1u) << name;
    EXPECT_EQ(requests("icon-3.png") + requests("image-3.png") + requests("video-3.mp4"), 0u);
    auto ads = delegate->loaded();
    EXPECT_TRUE(ads[1]->isImagePrecached() && ads[1]->isVideoPrecached());
    EXPECT_FALSE(ads[2]->isImagePrecached() || ads[2]->isVideoPrecached());
    EXPECT_EQ(ads[1]->videoURL()->path(), cacheFolder() + "video-2.mp4");
    EXPECT_EQ(cached("video-2.mp4"), "native video video-2.mp4");
}

TEST_F(HLNativePrecacheTest, CoordinatorWithoutABatchReportsAtOnceAndEmptyListsFail) {
    auto settings = serviceSettings();
    settings->putInt(0, kHLPrecacheTestSlotBatchCount);
    Ref<HLSdk> sdk = startSdk(settings);
    auto uncached = std::make_shared<HLRecordingNativeDelegate>();
    EXPECT_TRUE(coordinate(sdk, answerText(withVideos(3)), uncached));
    EXPECT_EQ(uncached->journal(), std::vector<std::string>{"loaded 1,2,3"});
    EXPECT_EQ(service.server().requestsTo("/res/native/icon-1.png").size(), 0u);
    EXPECT_TRUE(listener->contains("SDK settings says no native ads to pre-cache"));
    // Off, an empty answer is an empty success; on, nothing to cache is -701.
    auto emptyOff = std::make_shared<HLRecordingNativeDelegate>();
    EXPECT_TRUE(coordinate(sdk, answerText(withVideos(0)), emptyOff));
    EXPECT_EQ(emptyOff->journal(), std::vector<std::string>{"loaded "});
    sdk->settingsManager()->putInt(1, kHLPrecacheTestSlotBatchCount);
    auto emptyOn = std::make_shared<HLRecordingNativeDelegate>();
    EXPECT_TRUE(coordinate(sdk, answerText(withVideos(0)), emptyOn));
    EXPECT_EQ(emptyOn->journal(), std::vector<std::string>{"failed -701"});
}

TEST_F(HLNativePrecacheTest, FirstImageFailureIsReportedOnceAndLaterResultsOnlyLog) {
    Ref<HLSdk> sdk = startSdk();
    service.scriptStatuses("/res/native/icon-1.png", {404});
    auto delegate = std::make_shared<HLRecordingNativeDelegate>();
    EXPECT_TRUE(coordinate(sdk, answerText(withVideos(3)), delegate));
    EXPECT_EQ(delegate->journal(), std::vector<std::string>{"failed -201"});
    EXPECT_TRUE(listener->contains("Got didPrecacheImagesForAd: (2) after preloading has finished"));
    EXPECT_EQ(requests("image-1.png"), 0u);
    EXPECT_EQ(requests("icon-2.png"), 1u);  // the walk goes on
    EXPECT_FALSE(listener->contains("Batch precaching native ad videos"));
}

TEST_F(HLNativePrecacheTest, CoordinatorReportsOnceWhateverResultsArrive) {
    Ref<HLSdk> sdk = startSdk();
    auto ads = rendered(sdk, answerText(withVideos(2)));
    ASSERT_EQ(ads.size(), 2u);
    auto delegate = std::make_shared<HLRecordingNativeDelegate>();
    auto coordinator = NSObject::alloc<HLNativeAdLoadCoordinator>()->initWithNativeAdService(sdk->nativeAdService(), 2);
    coordinator->setLoadDelegate(delegate);
    const Ref<HLNativeAdService>& nativeService = sdk->nativeAdService();
    {
        // The real cache tasks wait behind the blocker; results arrive out of
        // turn, twice, and after the report.
        HLQueueBlocker blocker(sdk->taskManager()->mainQueue());
        coordinator->nativeAdServiceDidLoadAds(nativeService, ads);
        coordinator->nativeAdServiceDidPrecacheVideoForAd(nativeService, ads[0]);
        coordinator->nativeAdServiceDidPrecacheImagesForAd(nativeService, ads[0]);
        coordinator->nativeAdServiceDidPrecacheImagesForAd(nativeService, ads[0]);
        coordinator->nativeAdServiceDidPrecacheImagesForAd(nativeService, ads[1]);
        coordinator->nativeAdServiceDidPrecacheVideoForAd(nativeService, ads[1]);
        coordinator->nativeAdServiceDidPrecacheVideoForAd(nativeService, ads[0]);
        coordinator->nativeAdServiceDidFailToPrecacheVideoForAdWithError(nativeService, ads[0], -202);
        coordinator->nativeAdServiceDidFailToLoadAdsWithError(nativeService, 204);
        coordinator->nativeAdServiceDidLoadAds(nativeService, ads);
    }
    ASSERT_TRUE(settle());
    EXPECT_EQ(delegate->journal(), std::vector<std::string>{"loaded 1,2"});
    EXPECT_TRUE(listener->contains("Got didFailToPrecacheVideoForAd: (1) after preloading has finished"));
}

// ---- The cache tasks

TEST_F(HLNativePrecacheTest, UserPrecacheReportsImagesThenVideoAndSkipsCachedImages) {
    Ref<HLSdk> sdk = startSdk();
    Ref<HLNativeAd> ad = adWith(sdk, "{RES}u-icon.png", "{RES}u-image.png", "{RES}u-video.mp4");
    ASSERT_TRUE(ad);
    EXPECT_EQ(precache(sdk, ad), (std::vector<std::string>{"images 1", "video 1"}));
    EXPECT_TRUE(ad->isImagePrecached());
    EXPECT_TRUE(ad->isVideoPrecached());
    EXPECT_EQ(ad->iconURL()->absoluteString(), "file://" + cacheFolder() + "u-icon.png");
    // Again: nothing downloaded, the same order.
    EXPECT_EQ(precache(sdk, ad), (std::vector<std::string>{"images 1", "video 1"}));
    EXPECT_EQ(requests("u-icon.png") + requests("u-image.png") + requests("u-video.mp4"), 3u);
    EXPECT_TRUE(listener->contains("Natie ad (1) already has its images pre-cached"));
    EXPECT_TRUE(listener->contains("Native ad (1) already has video pre-cached"));
    // No video at all is a video success too.
    Ref<HLNativeAd> still = adWith(sdk, "{RES}s-icon.png", "{RES}s-image.png");
    EXPECT_EQ(precache(sdk, still), (std::vector<std::string>{"images 1", "video 1"}));
}

TEST_F(HLNativePrecacheTest, IconFailureSkipsTheMainImageWithOrWithoutNetwork) {
    Ref<HLSdk> sdk = startSdk();
    service.scriptStatuses("/res/native/f-icon.png", {404});
    Ref<HLNativeAd> ad = adWith(sdk, "{RES}f-icon.png", "{RES}f-image.png", "{RES}f-video.mp4");
    EXPECT_EQ(precache(sdk, ad), std::vector<std::string>{"images failed 1 -201"});
    EXPECT_EQ(requests("f-image.png") + requests("f-video.mp4"), 0u);
    platform::testing::NetworkConditions::set(NetworkState::None);
    EXPECT_EQ(precache(sdk, ad), std::vector<std::string>{"images failed 1 -1009"});
    EXPECT_EQ(requests("f-icon.png"), 1u);
    platform::testing::NetworkConditions::set(NetworkState::WiFi);
    // A video that cannot be had fails after the image success.
    service.scriptStatuses("/res/native/f-video.mp4", {503});
    EXPECT_EQ(precache(sdk, ad), (std::vector<std::string>{"images 1", "video failed 1 -202"}));
}

TEST_F(HLNativePrecacheTest, ErrorPagesAndEmptyBodiesAreNeverCached) {
    Ref<HLSdk> sdk = startSdk();
    service.script("/res/native/e-icon.png",
                   {Answer::withStatus(500, "<html>server error</html>"), Answer::withStatus(404, "not found"),
                    Answer::ok(""), Answer::withStatus(204)});
    Ref<HLNativeAd> ad = adWith(sdk, "{RES}e-icon.png", "{RES}e-image.png");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(precache(sdk, ad), std::vector<std::string>{"images failed 1 -201"}) << i;
    EXPECT_FALSE(std::filesystem::exists(cacheFolder() + "e-icon.png"));
    EXPECT_EQ(precache(sdk, ad), (std::vector<std::string>{"images 1", "video 1"}));
    EXPECT_EQ(requests("e-icon.png"), 5u);
    EXPECT_EQ(cached("e-icon.png").substr(1, 3), "PNG");
}

TEST_F(HLNativePrecacheTest, ForceSslUpgradesPlainAddressesOnly) {
    trustService();
    auto settings = serviceSettings(/*secureApi=*/true);
    settings->putBool(true, kHLSlotForceSsl);
    Ref<HLSdk> sdk = startSdk(settings);
    // Plain http to the https listener: only the upgrade makes it work.
    const std::string plainToSecure = "http://127.0.0.1:" + std::to_string(service.server().httpsPort());
    Ref<HLNativeAd> ad = adWith(sdk, plainToSecure + "/res/native/tls-icon.png",
                                service.nativeResourceUrl("plain.png?via=https://elsewhere"));
    EXPECT_EQ(precache(sdk, ad), (std::vector<std::string>{"images 1", "video 1"}));
    auto icon = service.requestsTo("/res/native/tls-icon.png");
    ASSERT_EQ(icon.size(), 1u);
    EXPECT_TRUE(icon[0].secure);
    auto image = service.requestsTo("/res/native/plain.png");
    ASSERT_EQ(image.size(), 1u);
    EXPECT_FALSE(image[0].secure);
    EXPECT_TRUE(listener->contains("upgrading to HTTPS due to universal SSL setting"));
}

TEST_F(HLNativePrecacheTest, AdsSharingAFileNameShareOneDownload) {
    Ref<HLSdk> sdk = startSdk();
    HalcyonNativeAnswer answer;
    answer.ads = {HalcyonNativeAd{}, HalcyonNativeAd{}};
    (*answer.ads)[0].iconUrl = "{RES}a/shared.png";
    (*answer.ads)[1].iconUrl = "{RES}b/shared.png";
    auto delegate = std::make_shared<HLRecordingNativeDelegate>();
    EXPECT_TRUE(coordinate(sdk, answerText(answer), delegate));
    auto ads = delegate->loaded();
    ASSERT_EQ(ads.size(), 2u);
    EXPECT_TRUE(ads[0]->iconURL()->isEqual(*ads[1]->iconURL()));
    EXPECT_EQ(requests("a/shared.png") + requests("b/shared.png"), 1u);
    EXPECT_TRUE(listener->contains("Cached resource shared.png already exists, returning..."));
}

TEST_F(HLNativePrecacheTest, WithCachingOffEveryAdSucceedsUncached) {
    auto settings = serviceSettings();
    settings->putBool(false, kHLPrecacheTestSlotCacheEnabled);
    Ref<HLSdk> sdk = startSdk(settings);
    Ref<HLNativeAd> ad = adWith(sdk, "{RES}o-icon.png", "{RES}o-image.png", "{RES}o-video.mp4");
    EXPECT_EQ(precache(sdk, ad), (std::vector<std::string>{"images 1", "video 1"}));
    EXPECT_FALSE(ad->isImagePrecached() || ad->isVideoPrecached());
    EXPECT_EQ(service.server().requestsTo("/res/native/o-icon.png").size() + requests("o-video.mp4"), 0u);
}

TEST_F(HLNativePrecacheTest, AddressesOutsideThePrefixesOrNamingNoFileFail) {
    Ref<HLSdk> sdk = startSdk();
    Ref<HLNativeAd> outside = adWith(sdk, "http://192.0.2.1/icon.png", std::nullopt);
    EXPECT_EQ(precache(sdk, outside), std::vector<std::string>{"images failed 1 -201"});
    for (const char* noFile : {"{BASE}", "{RES}..", "{RES}%2e%2e"}) {
        Ref<HLNativeAd> ad = adWith(sdk, noFile, std::nullopt);
        ASSERT_TRUE(ad) << noFile;
        EXPECT_EQ(precache(sdk, ad), std::vector<std::string>{"images failed 1 -201"}) << noFile;
    }
    // Nothing fetched but the start-up's own requests.
    for (const auto& request : service.server().requests())
        EXPECT_TRUE(request.path == simulator::HalcyonService::kDevicePath ||
                    request.path == simulator::HalcyonService::kEventPath)
            << request.path;
    EXPECT_FALSE(std::filesystem::exists(home() + "/Library/Caches/_"));
}

TEST_F(HLNativePrecacheTest, StallingDownloadEndsWithinItsTimeOutAndHoldsOnlyItsQueue) {
    // A time-out in real time (milliseconds) that the other queue's work
    // does not outlast, however late the machine lets it run.
    auto settings = serviceSettings();
    settings->putLong(static_cast<int64_t>(platform::testing::hangGuard(1) * 1000), kHLSlotHttpConnectionTimeout);
    Ref<HLSdk> sdk = startSdk(settings);
    service.script("/res/native/stall.png", {Answer::stall()});
    Ref<HLNativeAd> ad = adWith(sdk, "{RES}stall.png", "{RES}after.png");
    auto delegate = std::make_shared<HLRecordingNativeDelegate>();
    sdk->nativeAdService()->precacheResourcesForNativeAd(ad, delegate);
    ASSERT_TRUE(service.server().waitForStalled(1, 5));
    // Queue 0 goes on while queue 1 waits for the stalled file.
    auto other = std::make_shared<HLRecordingNativeDelegate>();
    auto parsed = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(answerText(withVideos(1))));
    sdk->taskManager()->execute(NSObject::alloc<HLTaskRenderNativeAd>()->initWithSdk(sdk, *parsed, other), 0);
    driver().runUntil([&] { return !other->journal().empty(); }, 1);
    EXPECT_EQ(other->journal(), std::vector<std::string>{"loaded 1"});
    EXPECT_TRUE(delegate->journal().empty());
    ASSERT_TRUE(settle());
    EXPECT_EQ(delegate->journal(), std::vector<std::string>{"images failed 1 -201"});
    EXPECT_EQ(requests("after.png"), 0u);
}

TEST_F(HLNativePrecacheTest, PrecachingSomethingElseIsRefusedWithoutCallback) {
    Ref<HLSdk> sdk = startSdk();
    auto delegate = std::make_shared<HLRecordingNativeDelegate>();
    sdk->nativeAdService()->precacheResourcesForNativeAd(NSObject::alloc<NSObject>(), delegate);
    sdk->nativeAdService()->precacheResourcesForNativeAd(nullptr, delegate);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(delegate->journal().empty());
    EXPECT_EQ(listener->count("Attempting to pre-cache with an invalid native ad"), 2u);
}

}  // namespace
