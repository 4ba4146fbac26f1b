#include "halcyon/core/HLEventService.h"

Ref<HLEventService> HLEventService::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLEventService>();
}

void HLEventService::trackEvent(const std::string&) {}
