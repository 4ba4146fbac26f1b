#include "halcyon/core/HLNativeAdService.h"

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLNativeAd.h"
#include "halcyon/core/HLNativeAdLoadCoordinator.h"
#include "halcyon/core/HLNativeAdUserBasedPrecacheCoordinator.h"
#include "halcyon/core/HLPreloadedNativeAdManager.h"
#include "halcyon/core/HLSdk.h"

namespace {
constexpr const char* kHLNativeAdServiceTag = "HLNativeAdService";
}  // namespace

Ref<HLNativeAdService> HLNativeAdService::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    logger_ = sdk ? sdk->logManager() : nullptr;
    return self<HLNativeAdService>();
}

void HLNativeAdService::loadNativeAdGroupOfCount(uint64_t count, const Ref<HLNativeAdLoadDelegate>& delegate) {
    if (count == 0) {
        if (logger_)
            logger_->userError(kHLNativeAdServiceTag, "Requested to load invalid number (%lu) of native ads",
                               static_cast<unsigned long>(count));
        return;
    }
    if (count == 1) {
        Ref<HLSdk> sdk = sdk_.lock();
        Ref<HLPreloadedNativeAdManager> preloads = sdk ? sdk->preloadedNativeAdManager() : nullptr;
        if (Ref<HLNativeAd> ad = preloads ? preloads->preloadedAdOfSpec(HLNativeAd::specNative()) : nullptr) {
            if (logger_) logger_->d(kHLNativeAdServiceTag, "Preloaded native ad found");
            HLNotifyNativeAdsLoaded(delegate, self<HLNativeAdService>(), {ad});
            return;
        }
    }
    loadNativeAds(count, delegate);
}

void HLNativeAdService::loadNativeAds(uint64_t count, const Ref<HLNativeAdLoadDelegate>& delegate) {
    // The tasks it queues keep the coordinator alive; this reference ends here.
    auto coordinator = NSObject::alloc<HLNativeAdLoadCoordinator>()->initWithNativeAdService(
        self<HLNativeAdService>(), count);
    coordinator->setLoadDelegate(delegate);
    coordinator->executeNativeAdLoad();
}

void HLNativeAdService::precacheResourcesForNativeAd(const Ref<NSObject>& ad,
                                                     const Ref<HLNativeAdPrecacheDelegate>& delegate) {
    auto nativeAd = std::dynamic_pointer_cast<HLNativeAd>(ad);
    if (!nativeAd) {
        if (logger_) logger_->userError(kHLNativeAdServiceTag, "Attempting to pre-cache with an invalid native ad");
        return;
    }
    auto coordinator =
        NSObject::alloc<HLNativeAdUserBasedPrecacheCoordinator>()->initWithNativeAdService(self<HLNativeAdService>());
    coordinator->setPrecacheDelegate(delegate);
    coordinator->executePrecacheForNativeAd(nativeAd);
}
