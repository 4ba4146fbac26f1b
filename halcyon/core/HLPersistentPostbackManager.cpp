#include "halcyon/core/HLPersistentPostbackManager.h"

Ref<HLPersistentPostbackManager> HLPersistentPostbackManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLPersistentPostbackManager>();
}

void HLPersistentPostbackManager::flushPostbackQueue() {}
