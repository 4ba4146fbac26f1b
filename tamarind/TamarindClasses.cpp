#include "tamarind/TamarindClasses.h"

#include "platform/foundation/NSClassRegistry.h"
#include "tamarind/TamarindAdRegistration.h"

void registerTamarindClasses() { NSClassRegistry::registerClass<TamarindAdRegistration>(); }
