#include "halcyon/core/HLFileManager.h"

Ref<HLFileManager> HLFileManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLFileManager>();
}

void HLFileManager::compactCache() {}
