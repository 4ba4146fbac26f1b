#include "halcyon/core/HLPreloadedAdManager.h"

Ref<HLPreloadedAdManager> HLPreloadedAdManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLPreloadedAdManager>();
}
