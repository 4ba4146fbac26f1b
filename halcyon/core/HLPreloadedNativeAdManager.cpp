#include "halcyon/core/HLPreloadedNativeAdManager.h"

Ref<HLPreloadedNativeAdManager> HLPreloadedNativeAdManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLPreloadedNativeAdManager>();
}

void HLPreloadedNativeAdManager::fillPreloadQueueForSpec(const Ref<HLAdSpec>&) {}
