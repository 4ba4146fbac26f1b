#include "halcyon/core/HLAdService.h"

Ref<HLAdService> HLAdService::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLAdService>();
}

void HLAdService::scheduleAdPreload() {}
