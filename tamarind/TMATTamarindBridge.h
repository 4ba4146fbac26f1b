// The "tamarind" script bridge of template creatives: its version, the
// native close button and opening a URL outside the ad. Main thread (page
// script calls it there).
#pragma once

#include <string>

#include "tamarind/TMATBaseBridge.h"

// The methods the page sees on the global "tamarind", in declaration order.
// A call with a missing or wrong-typed argument is logged and ignored.
class TMATTamarindBridgeExport : public JSExport {
public:
    virtual std::string getVersion() = 0;
    virtual std::string getSDKVersion() = 0;
    // A boolean or a number (by truthiness).
    virtual void enableCloseButton(bool enable) = 0;
    // A string; one that is no URL reaches the controller as a null URL.
    virtual void openInExternalBrowser(const std::string& url) = 0;

    std::vector<JSExportMethod> exportedMethods() const override;
};

class TMATTamarindBridge : public TMATBaseBridge, public TMATTamarindBridgeExport {
public:
    static Ref<TMATTamarindBridge> defaultBridge(const Ref<TMATBaseAdController>& adController);

    std::string bridgePrefix() const override;
    std::string bridgeAPIVersion() const override;

    // Both "2.0".
    std::string getVersion() override { return bridgeAPIVersion(); }
    std::string getSDKVersion() override { return bridgeAPIVersion(); }
    // The container's setAllowsCloseButton (shown or removed on a later
    // main-queue turn; a full-screen ad keeps the button's area, tappable).
    void enableCloseButton(bool enable) override;
    // The controller's openUrlLink with useExternal true, only for the user:
    // it uses up the page's activation (consumeUserActivation, one call per
    // tap); without one it is refused (logged, counted) and nothing is
    // routed, shown, opened or sent.
    void openInExternalBrowser(const std::string& url) override;
};
