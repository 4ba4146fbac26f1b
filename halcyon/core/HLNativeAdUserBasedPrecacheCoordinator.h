// Precaches one native ad on request (the application's, or the native
// preload queue's): its images, unless already cached, then its video, each
// by a cache task on task queue 1. The precache delegate (held strongly)
// hears the image success and then the video success (also when the ad has
// no video or it is cached already), or at most the image success and then
// one failure: an image failure ends the precache. Calls arrive on queue 1,
// or on the caller's thread for what is known at once.
//
// Nothing holds the coordinator but the cache task it queued (its precache
// delegate) and its caller while executePrecacheForNativeAd runs.
#pragma once

#include <string>

#include "halcyon/core/HLNativeAd.h"
#include "halcyon/core/HLNativeAdLoadDelegate.h"

class HLLogManager;
class HLNativeAdService;
class HLSdk;

class HLNativeAdUserBasedPrecacheCoordinator : public NSObject, public HLNativeAdPrecacheDelegate {
public:
    Ref<HLNativeAdUserBasedPrecacheCoordinator> initWithNativeAdService(const Ref<HLNativeAdService>& service);

    const Ref<HLNativeAdPrecacheDelegate>& precacheDelegate() const { return precacheDelegate_; }
    void setPrecacheDelegate(Ref<HLNativeAdPrecacheDelegate> delegate) { precacheDelegate_ = std::move(delegate); }

    void executePrecacheForNativeAd(const Ref<HLNativeAd>& ad);

    // The cache tasks' results.
    void nativeAdServiceDidPrecacheImagesForAd(const Ref<HLNativeAdService>& service, const Ref<HLNativeAd>& ad) override;
    void nativeAdServiceDidPrecacheVideoForAd(const Ref<HLNativeAdService>& service, const Ref<HLNativeAd>& ad) override;
    void nativeAdServiceDidFailToPrecacheImagesForAdWithError(const Ref<HLNativeAdService>& service,
                                                              const Ref<HLNativeAd>& ad, int32_t code) override;
    void nativeAdServiceDidFailToPrecacheVideoForAdWithError(const Ref<HLNativeAdService>& service,
                                                             const Ref<HLNativeAd>& ad, int32_t code) override;
    PLATFORM_RESPONDS_TO(kHLSelDidPrecacheImages, kHLSelDidPrecacheVideo, kHLSelDidFailToPrecacheImages,
                         kHLSelDidFailToPrecacheVideo)

private:
    // A cache task for the ad, this coordinator its delegate, on queue 1.
    template <class Task>
    void queueCacheTask(const Ref<HLSdk>& sdk, const Ref<HLNativeAd>& ad);
    void precacheVideoIfNeeded(const Ref<HLNativeAd>& ad);
    void reportVideoSuccess(const Ref<HLNativeAd>& ad);
    void logPendingPrecache(const Ref<HLNativeAd>& ad);
    Ref<HLLogManager> logger() const { return logger_.lock(); }

    std::string tag_ = "HLNativeAdUserBasedPrecacheCoordinator";
    Weak<HLNativeAdService> nativeAdService_;
    Weak<HLLogManager> logger_;
    Ref<HLNativeAdPrecacheDelegate> precacheDelegate_;
};
