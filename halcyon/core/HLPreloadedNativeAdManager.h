// The native preload queue (owned by HLSdk as preloadedNativeAdManager): one
// queue under the native spec, of slot 80's capacity (capped at 10), filled
// at start-up when slot 96 is on. A preload is a native ad request for one
// ad marked "preloading=true"; with slot 157 on, its ad enters the queue only
// once its resources are cached (an ad whose video failed still enters; one
// whose images failed does not). An empty answer fails the preload (-701). A
// load that takes the ad does not top the queue up. Any thread; see
// HLBasePreloadManager for the locks.
#pragma once

#include "halcyon/core/HLBasePreloadManager.h"
#include "halcyon/core/HLNativeAd.h"
#include "halcyon/core/HLNativeAdLoadDelegate.h"

class HLPreloadedNativeAdManager : public HLBasePreloadManager,
                                   public HLNativeAdLoadDelegate,
                                   public HLNativeAdPrecacheDelegate {
public:
    Ref<HLPreloadedNativeAdManager> initWithSdk(const Ref<HLSdk>& sdk) {
        HLBasePreloadManager::initWithSdk(sdk);
        return self<HLPreloadedNativeAdManager>();
    }

    // The oldest ready native ad, taken out of the queue, or null.
    Ref<HLNativeAd> preloadedAdOfSpec(const Ref<HLAdSpec>& spec) {
        return std::dynamic_pointer_cast<HLNativeAd>(preloadedLoadableOfSpec(spec));
    }

    // The preload request's outcome.
    void nativeAdServiceDidLoadAds(const Ref<HLNativeAdService>& service,
                                   const std::vector<Ref<HLNativeAd>>& ads) override;
    void nativeAdServiceDidFailToLoadAdsWithError(const Ref<HLNativeAdService>& service, int32_t code) override;
    // The precache of the preloaded ad.
    void nativeAdServiceDidPrecacheImagesForAd(const Ref<HLNativeAdService>& service, const Ref<HLNativeAd>& ad) override;
    void nativeAdServiceDidPrecacheVideoForAd(const Ref<HLNativeAdService>& service, const Ref<HLNativeAd>& ad) override;
    void nativeAdServiceDidFailToPrecacheImagesForAdWithError(const Ref<HLNativeAdService>& service,
                                                              const Ref<HLNativeAd>& ad, int32_t code) override;
    void nativeAdServiceDidFailToPrecacheVideoForAdWithError(const Ref<HLNativeAdService>& service,
                                                             const Ref<HLNativeAd>& ad, int32_t code) override;
    PLATFORM_RESPONDS_TO(kHLSelDidLoadAds, kHLSelDidFailToLoadAds, kHLSelDidPrecacheImages, kHLSelDidPrecacheVideo,
                         kHLSelDidFailToPrecacheImages, kHLSelDidFailToPrecacheVideo)

protected:
    QueueTable createPreloadedAdsDictionary() override;
    Ref<HLTask> createPreloadTaskForSpec(const Ref<HLAdSpec>& spec) override;
    Ref<HLAdSpec> specForLoadable(const Ref<NSObject>& loadable) override;
    void notifyDelegateOfSuccessWithLoadable(const Ref<NSObjectProtocol>& delegate,
                                             const Ref<NSObject>& loadable) override;
    void notifyDelegateOfFailureForSpec(const Ref<NSObjectProtocol>& delegate, const Ref<HLAdSpec>& spec,
                                        int32_t code) override;
};
