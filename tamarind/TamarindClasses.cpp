#include "tamarind/TamarindClasses.h"

#include "platform/foundation/NSClassRegistry.h"
#include "tamarind/TMAdConfiguration.h"
#include "tamarind/TMATAdModel.h"
#include "tamarind/TMATBaseAdController.h"
#include "tamarind/TMATBrowsingController.h"
#include "tamarind/TMATModalInterstitialController.h"
#include "tamarind/TMATModelessInterstitialController.h"
#include "tamarind/TMMPAdBrowserController.h"
#include "tamarind/TamarindAdOptions.h"
#include "tamarind/TamarindAdRegistration.h"

void registerTamarindClasses() {
    NSClassRegistry::registerClass<TamarindAdRegistration>();
    NSClassRegistry::registerClass<TamarindAdOptions>();
    NSClassRegistry::registerClass<TMAdConfiguration>();
    NSClassRegistry::registerClass<TMATAdModel>();
    NSClassRegistry::registerClass<TMATBaseAdController>();
    NSClassRegistry::registerClass<TMATBrowsingController>();
    NSClassRegistry::registerClass<TMATModalInterstitialController>();
    NSClassRegistry::registerClass<TMATModelessInterstitialController>();
    NSClassRegistry::registerClass<TMMPAdBrowserController>();
}
