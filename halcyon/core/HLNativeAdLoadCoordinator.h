// One native ad load, from request to report: it queues the native ad
// request on task queue 0, receives the rendered ads, has the first slot 98
// + 1 of them cached (images in one task, then videos in another, both on
// queue 0) and reports exactly once to the load delegate (held strongly):
// all the ads the server returned, or the first failure (the request's code,
// -700 from the render, -701 for an empty answer, -201 or -202 when the
// images or a video could not be cached, whatever code the cache task gave). Results that arrive after the
// report are logged and ignored. With slot 98 below 1 the ads are reported
// at once, uncached.
//
// Nothing holds a coordinator but the tasks that call it back (each holds
// it as its delegate) and its caller while executeNativeAdLoad runs. Its
// state is guarded by its own lock; delegates are called without it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "halcyon/core/HLNativeAd.h"
#include "halcyon/core/HLNativeAdLoadDelegate.h"

class HLLogManager;
class HLNativeAdService;
class HLSdk;

class HLNativeAdLoadCoordinator : public NSObject, public HLNativeAdLoadDelegate, public HLNativeAdPrecacheDelegate {
public:
    Ref<HLNativeAdLoadCoordinator> initWithNativeAdService(const Ref<HLNativeAdService>& service,
                                                           uint64_t adsToLoadCount);

    const Ref<HLNativeAdLoadDelegate>& loadDelegate() const { return loadDelegate_; }
    void setLoadDelegate(Ref<HLNativeAdLoadDelegate> delegate) { loadDelegate_ = std::move(delegate); }

    // Queues the native ad request for adsToLoadCount ads.
    void executeNativeAdLoad();

    // From the request and render tasks.
    void nativeAdServiceDidLoadAds(const Ref<HLNativeAdService>& service,
                                   const std::vector<Ref<HLNativeAd>>& ads) override;
    void nativeAdServiceDidFailToLoadAdsWithError(const Ref<HLNativeAdService>& service, int32_t code) override;
    // From the cache tasks.
    void nativeAdServiceDidPrecacheImagesForAd(const Ref<HLNativeAdService>& service, const Ref<HLNativeAd>& ad) override;
    void nativeAdServiceDidPrecacheVideoForAd(const Ref<HLNativeAdService>& service, const Ref<HLNativeAd>& ad) override;
    void nativeAdServiceDidFailToPrecacheImagesForAdWithError(const Ref<HLNativeAdService>& service,
                                                              const Ref<HLNativeAd>& ad, int32_t code) override;
    void nativeAdServiceDidFailToPrecacheVideoForAdWithError(const Ref<HLNativeAdService>& service,
                                                             const Ref<HLNativeAd>& ad, int32_t code) override;
    PLATFORM_RESPONDS_TO(kHLSelDidLoadAds, kHLSelDidFailToLoadAds, kHLSelDidPrecacheImages, kHLSelDidPrecacheVideo,
                         kHLSelDidFailToPrecacheImages, kHLSelDidFailToPrecacheVideo)

private:
    Ref<HLSdk> sdk() const;
    Ref<HLLogManager> logger() const { return logger_.lock(); }
    void batchPrecacheImages(std::vector<Ref<HLNativeAd>> ads);
    void batchPrecacheVideos();
    // True once: the caller reports. With `precaching`, logs the counts.
    bool claimReportLocked(bool precaching);
    void reportSuccess();
    void reportFailure(int32_t code);
    void precacheFailed(const Ref<HLNativeAd>& ad, int32_t code, const char* which);

    std::string tag_ = "HLNativeAdLoadCoordinator";
    Weak<HLNativeAdService> nativeAdService_;
    Weak<HLLogManager> logger_;
    Ref<HLNativeAdLoadDelegate> loadDelegate_;
    uint64_t adsToLoadCount_ = 0;
    std::mutex mutex_;  // guards the fields below
    std::vector<Ref<HLNativeAd>> allAds_;
    std::vector<Ref<HLNativeAd>> precachedAds_;
    bool precacheFinished_ = false;
    uint64_t pendingImagePrecachesCount_ = 0;
    uint64_t pendingVideoPrecachesCount_ = 0;
};
