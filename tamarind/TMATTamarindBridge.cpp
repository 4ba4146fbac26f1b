#include "tamarind/TMATTamarindBridge.h"

#include "platform/foundation/NSURL.h"
#include "platform/runtime/Log.h"
#include "tamarind/TMATBaseAdContainer.h"
#include "tamarind/TMATBaseAdController.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMLog.h"

Ref<TMATTamarindBridge> TMATTamarindBridge::defaultBridge(const Ref<TMATBaseAdController>& adController) {
    auto bridge = NSObject::alloc<TMATTamarindBridge>();
    bridge->initWithAdController(adController);
    return bridge;
}

std::string TMATTamarindBridge::bridgePrefix() const { return TMAWire::kTamarindBridgeName; }

std::string TMATTamarindBridge::bridgeAPIVersion() const { return TMAWire::kTamarindBridgeVersion; }

void TMATTamarindBridge::enableCloseButton(bool enable) {
    logPageLine(TMLogLevel::Debug, "%@.enableCloseButton: executed", bridgePrefix());
    if (auto container = adContainer()) container->setAllowsCloseButton(enable);
}

void TMATTamarindBridge::openInExternalBrowser(const std::string& url) {
    logPageLine(TMLogLevel::Debug, "%@.openInExternalBrowser: executed", bridgePrefix());
    auto controller = adController();
    if (!controller) return;
    // Whatever it opens leaves the app (the system browser, another app, a
    // call, the store) or covers the ad (a store sheet): one per tap, so a
    // creative calling on its own cannot take the user away or keep the close
    // button covered. A refused call goes nowhere: no intent is counted, nothing is sent.
    if (!consumeUserActivation("tamarind.openInExternalBrowser",
                               TMATBaseAdContainer::userTapRefusal("open " + platform::urlForLog(url))))
        return;
    controller->openUrlLink(NSURL::URLWithString(url), true);
}

std::vector<JSExportMethod> TMATTamarindBridgeExport::exportedMethods() const {
    // The context's wrapper holds the bridge while one of its methods runs.
    auto* bridge = dynamic_cast<TMATTamarindBridge*>(const_cast<TMATTamarindBridgeExport*>(this));
    if (!bridge) return {};
    auto text = [](JSContext& context, const std::string& value) {
        return JSValue::valueWithString(value, context.self<JSContext>());
    };
    return {
        {"getVersion", [bridge, text](JSContext& c, const std::vector<JSValue>&) { return text(c, bridge->getVersion()); }},
        {"getSDKVersion",
         [bridge, text](JSContext& c, const std::vector<JSValue>&) { return text(c, bridge->getSDKVersion()); }},
        {"enableCloseButton:",
         [bridge](JSContext&, const std::vector<JSValue>& args) {
             if (!args[0].isBoolean() && !args[0].isNumber()) {
                 bridge->logPageLine(TMLogLevel::Warn,
                                     "tamarind.enableCloseButton: expects a boolean, was given a %@; ignored.",
                                     TMATBaseBridge::typeOfValue(args[0]));
                 return JSValue();
             }
             bridge->enableCloseButton(args[0].toBool());
             return JSValue();
         }},
        {"openInExternalBrowser:",
         [bridge](JSContext&, const std::vector<JSValue>& args) {
             if (!args[0].isString()) {
                 bridge->logPageLine(TMLogLevel::Warn,
                                     "tamarind.openInExternalBrowser: expects a URL string, was given a %@; ignored.",
                                     TMATBaseBridge::typeOfValue(args[0]));
                 return JSValue();
             }
             bridge->openInExternalBrowser(*args[0].toString());
             return JSValue();
         }},
    };
}
