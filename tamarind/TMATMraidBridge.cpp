#include "tamarind/TMATMraidBridge.h"

#include "tamarind/TMAWireContract.h"

Ref<TMATMraidBridge> TMATMraidBridge::defaultBridge(const Ref<TMATBaseAdController>& adController) {
    auto bridge = NSObject::alloc<TMATMraidBridge>();
    bridge->initWithAdController(adController);
    return bridge;
}

std::string TMATMraidBridge::bridgePrefix() const { return TMAWire::kMraidBridgeName; }

std::string TMATMraidBridge::bridgeAPIVersion() const { return "2.0"; }

std::vector<std::string> TMATMraidBridge::supportedJSEvents() const {
    return {"error", "info", "ready", "stateChange", "viewableChange", "sizeChange"};
}

void TMATMraidBridge::sendIsViewable(bool viewable) {
    if (viewable == viewable_) return;
    fireEventListeners("viewableChange", {Value(viewable)});
    viewable_ = viewable;
}
