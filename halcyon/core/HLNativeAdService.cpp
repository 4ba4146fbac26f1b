#include "halcyon/core/HLNativeAdService.h"

Ref<HLNativeAdService> HLNativeAdService::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLNativeAdService>();
}
