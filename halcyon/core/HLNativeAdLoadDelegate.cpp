#include "halcyon/core/HLNativeAdLoadDelegate.h"

void HLNotifyNativeAdsLoaded(const Ref<HLNativeAdLoadDelegate>& delegate, const Ref<HLNativeAdService>& service,
                             const std::vector<Ref<HLNativeAd>>& ads) {
    if (delegate && delegate->respondsToSelector(kHLSelDidLoadAds)) delegate->nativeAdServiceDidLoadAds(service, ads);
}

void HLNotifyNativeAdsFailed(const Ref<HLNativeAdLoadDelegate>& delegate, const Ref<HLNativeAdService>& service,
                             int32_t code) {
    if (delegate && delegate->respondsToSelector(kHLSelDidFailToLoadAds))
        delegate->nativeAdServiceDidFailToLoadAdsWithError(service, code);
}

void HLNotifyImagesPrecached(const Ref<HLNativeAdPrecacheDelegate>& delegate, const Ref<HLNativeAdService>& service,
                             const Ref<HLNativeAd>& ad) {
    if (delegate && delegate->respondsToSelector(kHLSelDidPrecacheImages))
        delegate->nativeAdServiceDidPrecacheImagesForAd(service, ad);
}

void HLNotifyVideoPrecached(const Ref<HLNativeAdPrecacheDelegate>& delegate, const Ref<HLNativeAdService>& service,
                            const Ref<HLNativeAd>& ad) {
    if (delegate && delegate->respondsToSelector(kHLSelDidPrecacheVideo))
        delegate->nativeAdServiceDidPrecacheVideoForAd(service, ad);
}

void HLNotifyImagesPrecacheFailed(const Ref<HLNativeAdPrecacheDelegate>& delegate,
                                  const Ref<HLNativeAdService>& service, const Ref<HLNativeAd>& ad, int32_t code) {
    if (delegate && delegate->respondsToSelector(kHLSelDidFailToPrecacheImages))
        delegate->nativeAdServiceDidFailToPrecacheImagesForAdWithError(service, ad, code);
}

void HLNotifyVideoPrecacheFailed(const Ref<HLNativeAdPrecacheDelegate>& delegate,
                                 const Ref<HLNativeAdService>& service, const Ref<HLNativeAd>& ad, int32_t code) {
    if (delegate && delegate->respondsToSelector(kHLSelDidFailToPrecacheVideo))
        delegate->nativeAdServiceDidFailToPrecacheVideoForAdWithError(service, ad, code);
}
