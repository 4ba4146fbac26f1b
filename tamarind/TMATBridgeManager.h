// The script bridges one template ad is given, made from its bridge switches,
// and their registration in the ad's container before its page loads. Main
// thread.
#pragma once

#include "tamarind/TMAJSBridgesEnabled.h"
#include "tamarind/TMATMraidBridge.h"
#include "tamarind/TMATTamarindBridge.h"
#include "tamarind/TMATViewabilityBridge.h"

class TMATBridgeManager : public NSObject {
public:
    static Ref<TMATBridgeManager> bridgeManager(const Ref<TMAJSBridgesEnabled>& bridgesEnabled,
                                                const Ref<TMATBaseAdController>& adController);
    // The MRAID, tamarind and viewability bridges for their switches (null
    // switches: none).
    Ref<TMATBridgeManager> initWithBridgesEnabled(const Ref<TMAJSBridgesEnabled>& bridgesEnabled,
                                                  const Ref<TMATBaseAdController>& adController);

    // Registers the MRAID, tamarind and viewability bridges, in that order,
    // each when present.
    void insertSDKBridgesInAd(const Ref<TMATBaseAdContainer>& container);
    // The switches of the bridges this manager has.
    Ref<TMAJSBridgesEnabled> bridgesEnabled() const;

    Ref<TMATMraidBridge> mraidBridge() const { return mraidBridge_; }
    void setMraidBridge(const Ref<TMATMraidBridge>& bridge) { mraidBridge_ = bridge; }
    Ref<TMATTamarindBridge> tamarindBridge() const { return tamarindBridge_; }
    void setTamarindBridge(const Ref<TMATTamarindBridge>& bridge) { tamarindBridge_ = bridge; }
    Ref<TMATViewabilityBridge> viewabilityBridge() const { return viewabilityBridge_; }
    void setViewabilityBridge(const Ref<TMATViewabilityBridge>& bridge) { viewabilityBridge_ = bridge; }

private:
    Ref<TMATMraidBridge> mraidBridge_;
    Ref<TMATTamarindBridge> tamarindBridge_;
    Ref<TMATViewabilityBridge> viewabilityBridge_;
};
