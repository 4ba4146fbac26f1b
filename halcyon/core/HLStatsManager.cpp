#include "halcyon/core/HLStatsManager.h"

Ref<HLStatsManager> HLStatsManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLStatsManager>();
}

void HLStatsManager::loadAll() {}
void HLStatsManager::clearKey(const std::string&) {}
void HLStatsManager::clearAll() {}
void HLStatsManager::persistAll() {}
Value HLStatsManager::stats() const { return Value::dictionary({}); }
