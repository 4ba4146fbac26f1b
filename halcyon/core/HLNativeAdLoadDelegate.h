// The two protocols through which the native ad service reports (public).
// Every method is required, yet callers ask respondsToSelector first and skip
// what a delegate does not list (PLATFORM_RESPONDS_TO).
//
// HLNativeAdLoadDelegate hears exactly one outcome per load: on task queue 0,
// or on the caller's thread before loadNativeAdGroupOfCount returns when a
// preloaded ad answers at once. Failure codes: the ad request's HTTP status
// (204: no ad) or negative network code, -700 an answer that is empty or
// that the address templates reject, -701 nothing to precache, -201 or -202
// the images or the video could not be cached.
//
// HLNativeAdPrecacheDelegate hears, per ad, the image success and then the
// video success, or one failure (-201 images, -202 video, -1009 either
// without a network); on task queue 0 for the batches of a load, on queue 1
// for a precache the application asked for.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/runtime/NSObject.h"

class HLNativeAd;
class HLNativeAdService;

class HLNativeAdLoadDelegate : public virtual NSObjectProtocol {
public:
    virtual void nativeAdServiceDidLoadAds(const Ref<HLNativeAdService>& service,
                                           const std::vector<Ref<HLNativeAd>>& ads) = 0;
    virtual void nativeAdServiceDidFailToLoadAdsWithError(const Ref<HLNativeAdService>& service, int32_t code) = 0;
};

class HLNativeAdPrecacheDelegate : public virtual NSObjectProtocol {
public:
    virtual void nativeAdServiceDidPrecacheImagesForAd(const Ref<HLNativeAdService>& service,
                                                       const Ref<HLNativeAd>& ad) = 0;
    virtual void nativeAdServiceDidPrecacheVideoForAd(const Ref<HLNativeAdService>& service,
                                                      const Ref<HLNativeAd>& ad) = 0;
    virtual void nativeAdServiceDidFailToPrecacheImagesForAdWithError(const Ref<HLNativeAdService>& service,
                                                                      const Ref<HLNativeAd>& ad, int32_t code) = 0;
    virtual void nativeAdServiceDidFailToPrecacheVideoForAdWithError(const Ref<HLNativeAdService>& service,
                                                                     const Ref<HLNativeAd>& ad, int32_t code) = 0;
};

// The selectors callers ask for, as the protocols spell them.
inline constexpr const char* kHLSelDidLoadAds = "nativeAdService:didLoadAds:";
inline constexpr const char* kHLSelDidFailToLoadAds = "nativeAdService:didFailToLoadAdsWithError:";
inline constexpr const char* kHLSelDidPrecacheImages = "nativeAdService:didPrecacheImagesForAd:";
inline constexpr const char* kHLSelDidPrecacheVideo = "nativeAdService:didPrecacheVideoForAd:";
inline constexpr const char* kHLSelDidFailToPrecacheImages = "nativeAdService:didFailToPrecacheImagesForAd:withError:";
inline constexpr const char* kHLSelDidFailToPrecacheVideo = "nativeAdService:didFailToPrecacheVideoForAd:withError:";

// The calls, each made only when the delegate is set and responds.
void HLNotifyNativeAdsLoaded(const Ref<HLNativeAdLoadDelegate>& delegate, const Ref<HLNativeAdService>& service,
                             const std::vector<Ref<HLNativeAd>>& ads);
void HLNotifyNativeAdsFailed(const Ref<HLNativeAdLoadDelegate>& delegate, const Ref<HLNativeAdService>& service,
                             int32_t code);
void HLNotifyImagesPrecached(const Ref<HLNativeAdPrecacheDelegate>& delegate, const Ref<HLNativeAdService>& service,
                             const Ref<HLNativeAd>& ad);
void HLNotifyVideoPrecached(const Ref<HLNativeAdPrecacheDelegate>& delegate, const Ref<HLNativeAdService>& service,
                            const Ref<HLNativeAd>& ad);
void HLNotifyImagesPrecacheFailed(const Ref<HLNativeAdPrecacheDelegate>& delegate,
                                  const Ref<HLNativeAdService>& service, const Ref<HLNativeAd>& ad, int32_t code);
void HLNotifyVideoPrecacheFailed(const Ref<HLNativeAdPrecacheDelegate>& delegate,
                                 const Ref<HLNativeAdService>& service, const Ref<HLNativeAd>& ad, int32_t code);
