#include "halcyon/core/HLTargetingData.h"

Ref<HLTargetingData> HLTargetingData::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLTargetingData>();
}

void HLTargetingData::clearAll() {}
Value HLTargetingData::allData() const { return Value::dictionary({}); }
