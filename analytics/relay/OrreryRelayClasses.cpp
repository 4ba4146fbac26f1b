#include "analytics/relay/OrreryRelayClasses.h"

#include "analytics/relay/OrreryRelayAppTemplate.h"
#include "analytics/relay/OrreryRelayCallback.h"
#include "analytics/relay/OrreryRelayCallbackAttemptInfo.h"
#include "analytics/relay/OrreryRelayCallbackReportInfo.h"
#include "analytics/relay/OrreryRelayEventTrigger.h"
#include "analytics/relay/OrreryRelaySettings.h"
#include "analytics/relay/OrreryRelayTriggerInvokeInfo.h"
#include "platform/foundation/NSClassRegistry.h"

void registerOrreryRelayClasses() {
    NSClassRegistry::registerClass<OrreryRelaySettings>();
    NSClassRegistry::registerClass<OrreryRelayCallback>();
    NSClassRegistry::registerClass<OrreryRelayEventTrigger>();
    NSClassRegistry::registerClass<OrreryRelayAppTemplate>();
    NSClassRegistry::registerClass<OrreryRelayTriggerInvokeInfo>();
    NSClassRegistry::registerClass<OrreryRelayCallbackReportInfo>();
    NSClassRegistry::registerClass<OrreryRelayCallbackAttemptInfo>();
}
