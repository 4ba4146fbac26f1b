#include "analytics/OrreryClasses.h"

#include "analytics/OrreryDataSenderBlockInfo.h"
#include "analytics/OrreryDataSenderIndex.h"
#include "platform/foundation/NSClassRegistry.h"

void registerOrreryClasses() {
    NSClassRegistry::registerClass<OrreryDataSenderIndex>();
    NSClassRegistry::registerClass<OrreryDataSenderBlockInfo>();
}
