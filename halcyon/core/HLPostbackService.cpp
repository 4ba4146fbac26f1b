#include "halcyon/core/HLPostbackService.h"

Ref<HLPostbackService> HLPostbackService::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLPostbackService>();
}
