#include "halcyon/core/HLPreloadedNativeAdManager.h"

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLNativeAdService.h"
#include "halcyon/core/HLPreloadedAdQueue.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTaskFetchNextNativeAd.h"

namespace {
constexpr const char* kHLNativePreloadTag = "HLPreloadedNativeAdManager";
constexpr int64_t kHLNativePreloadSlotCapacity = 80;     // "preload_capacity_native_ads"
constexpr int64_t kHLNativePreloadSlotAutoCache = 157;   // "native_auto_cache_preload_resources"
constexpr int32_t kHLNativePreloadNothingToPrecache = -701;
}  // namespace

HLBasePreloadManager::QueueTable HLPreloadedNativeAdManager::createPreloadedAdsDictionary() {
    return {{HLNativeAd::specNative(), queueWithCapacityOfSlot(kHLNativePreloadSlotCapacity)}};
}

Ref<HLTask> HLPreloadedNativeAdManager::createPreloadTaskForSpec(const Ref<HLAdSpec>&) {
    auto task = NSObject::alloc<HLTaskFetchNextNativeAd>()->initWithSdk(sdk(), 1, self<HLPreloadedNativeAdManager>());
    task->setIsPreloading(true);
    return task;
}

Ref<HLAdSpec> HLPreloadedNativeAdManager::specForLoadable(const Ref<NSObject>&) { return HLNativeAd::specNative(); }

void HLPreloadedNativeAdManager::notifyDelegateOfSuccessWithLoadable(const Ref<NSObjectProtocol>& delegate,
                                                                     const Ref<NSObject>& loadable) {
    Ref<HLSdk> sdk = this->sdk();
    auto ad = std::dynamic_pointer_cast<HLNativeAd>(loadable);
    if (!sdk || !ad) return;
    HLNotifyNativeAdsLoaded(std::dynamic_pointer_cast<HLNativeAdLoadDelegate>(delegate), sdk->nativeAdService(), {ad});
}

void HLPreloadedNativeAdManager::notifyDelegateOfFailureForSpec(const Ref<NSObjectProtocol>& delegate,
                                                                const Ref<HLAdSpec>&, int32_t code) {
    Ref<HLSdk> sdk = this->sdk();
    if (!sdk) return;
    HLNotifyNativeAdsFailed(std::dynamic_pointer_cast<HLNativeAdLoadDelegate>(delegate), sdk->nativeAdService(), code);
}

// ---- The preload request

void HLPreloadedNativeAdManager::nativeAdServiceDidLoadAds(const Ref<HLNativeAdService>&,
                                                           const std::vector<Ref<HLNativeAd>>& ads) {
    // No first ad: the preload failed (it would otherwise never end, or queue nothing).
    if (ads.empty() || !ads.front()) {
        if (Ref<HLLogManager> log = logger()) log->w(kHLNativePreloadTag, "The native pre-load answer holds no ad");
        didFailToReceiveLoadableWithSpec(HLNativeAd::specNative(), kHLNativePreloadNothingToPrecache);
        return;
    }
    Ref<HLSdk> sdk = this->sdk();
    if (sdk && sdk->boolForKey(kHLNativePreloadSlotAutoCache)) {
        sdk->nativeAdService()->precacheResourcesForNativeAd(ads.front(), self<HLPreloadedNativeAdManager>());
        return;
    }
    didReceiveLoadable(ads.front(), HLNativeAd::specNative());
}

void HLPreloadedNativeAdManager::nativeAdServiceDidFailToLoadAdsWithError(const Ref<HLNativeAdService>&, int32_t code) {
    didFailToReceiveLoadableWithSpec(HLNativeAd::specNative(), code);
}

// ---- Its precache

void HLPreloadedNativeAdManager::nativeAdServiceDidPrecacheImagesForAd(const Ref<HLNativeAdService>&,
                                                                       const Ref<HLNativeAd>&) {}

void HLPreloadedNativeAdManager::nativeAdServiceDidPrecacheVideoForAd(const Ref<HLNativeAdService>&,
                                                                      const Ref<HLNativeAd>& ad) {
    didReceiveLoadable(ad, HLNativeAd::specNative());
}

void HLPreloadedNativeAdManager::nativeAdServiceDidFailToPrecacheImagesForAdWithError(const Ref<HLNativeAdService>&,
                                                                                      const Ref<HLNativeAd>& ad,
                                                                                      int32_t code) {
    if (Ref<HLLogManager> log = logger())
        log->e(kHLNativePreloadTag, "Failed to precache images for ad %@",
               hlValueForLog(ad ? ad->adIdNumber() : Value()));
    didFailToReceiveLoadableWithSpec(HLNativeAd::specNative(), code);
}

void HLPreloadedNativeAdManager::nativeAdServiceDidFailToPrecacheVideoForAdWithError(const Ref<HLNativeAdService>&,
                                                                                     const Ref<HLNativeAd>& ad,
                                                                                     int32_t) {
    if (Ref<HLLogManager> log = logger())
        log->e(kHLNativePreloadTag, "Failed to precache video for but suceeded for images for ad %@",
               hlValueForLog(ad ? ad->adIdNumber() : Value()));
    // Its images are there: the ad still enters the queue.
    didReceiveLoadable(ad, HLNativeAd::specNative());
}
