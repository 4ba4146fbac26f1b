#include "halcyon/core/HLNativeAdService.h"

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLNativeAd.h"
#include "halcyon/core/HLNativeAdUserBasedPrecacheCoordinator.h"
#include "halcyon/core/HLSdk.h"

namespace {
constexpr const char* kHLNativeAdServiceTag = "HLNativeAdService";
}  // namespace

Ref<HLNativeAdService> HLNativeAdService::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    logger_ = sdk ? sdk->logManager() : nullptr;
    return self<HLNativeAdService>();
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
