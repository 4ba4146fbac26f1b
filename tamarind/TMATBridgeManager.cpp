#include "tamarind/TMATBridgeManager.h"

Ref<TMATBridgeManager> TMATBridgeManager::bridgeManager(const Ref<TMAJSBridgesEnabled>& bridgesEnabled,
                                                        const Ref<TMATBaseAdController>& adController) {
    return NSObject::alloc<TMATBridgeManager>()->initWithBridgesEnabled(bridgesEnabled, adController);
}

Ref<TMATBridgeManager> TMATBridgeManager::initWithBridgesEnabled(const Ref<TMAJSBridgesEnabled>& bridgesEnabled,
                                                                 const Ref<TMATBaseAdController>& adController) {
    if (!bridgesEnabled) return self<TMATBridgeManager>();
    if (bridgesEnabled->mraid()) mraidBridge_ = TMATMraidBridge::defaultBridge(adController);
    if (bridgesEnabled->tamarind()) tamarindBridge_ = TMATTamarindBridge::defaultBridge(adController);
    if (bridgesEnabled->viewability()) viewabilityBridge_ = TMATViewabilityBridge::defaultBridge(adController);
    return self<TMATBridgeManager>();
}

void TMATBridgeManager::insertSDKBridgesInAd(const Ref<TMATBaseAdContainer>& container) {
    if (mraidBridge_) mraidBridge_->registerBridge(container);
    if (tamarindBridge_) tamarindBridge_->registerBridge(container);
    if (viewabilityBridge_) viewabilityBridge_->registerBridge(container);
}

Ref<TMAJSBridgesEnabled> TMATBridgeManager::bridgesEnabled() const {
    auto enabled = TMAJSBridgesEnabled::defaultJSBridgesEnabled();
    enabled->setMraid(mraidBridge_ != nullptr);
    enabled->setTamarind(tamarindBridge_ != nullptr);
    enabled->setViewability(viewabilityBridge_ != nullptr);
    return enabled;
}
