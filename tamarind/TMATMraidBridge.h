// The MRAID bridge of template creatives (the global "mraid"). So far only
// what the container and the bridge manager call is here: its name, version
// and events, and the viewability it reports to the page. The page
// interface is not offered yet, so the bridge manager does not create it.
// Main thread.
#pragma once

#include "tamarind/TMATBaseBridge.h"

class TMATMraidBridge : public TMATBaseBridge {
public:
    static Ref<TMATMraidBridge> defaultBridge(const Ref<TMATBaseAdController>& adController);

    std::string bridgePrefix() const override;
    std::string bridgeAPIVersion() const override;
    // "error", "info", "ready", "stateChange", "viewableChange", "sizeChange".
    std::vector<std::string> supportedJSEvents() const override;

    // A change fires "viewableChange" with the new value; the same value again
    // fires nothing.
    void sendIsViewable(bool viewable);
    bool isViewable() const { return viewable_; }

private:
    bool viewable_ = false;
};
