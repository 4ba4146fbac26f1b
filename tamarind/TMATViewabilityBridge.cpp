#include "tamarind/TMATViewabilityBridge.h"

#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"
#include "tamarind/TMAJSONUtil.h"
#include "tamarind/TMATBaseAdContainer.h"
#include "tamarind/TMATBaseAdController.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMLog.h"

Ref<TMATViewabilityBridge> TMATViewabilityBridge::defaultBridge(const Ref<TMATBaseAdController>& adController) {
    auto bridge = NSObject::alloc<TMATViewabilityBridge>();
    bridge->initWithAdController(adController);
    return bridge;
}

std::string TMATViewabilityBridge::bridgePrefix() const { return TMAWire::kViewabilityBridgeName; }

std::string TMATViewabilityBridge::bridgeAPIVersion() const { return TMAWire::kViewabilityBridgeVersion; }

std::vector<std::string> TMATViewabilityBridge::supportedJSEvents() const { return {TMAWire::kViewabilityEvent}; }

std::string TMATViewabilityBridge::getSDKVersion() { return TMAWire::kSdkVersion; }

// ---- registration and the stored script ----------------------------------------------------------------

void TMATViewabilityBridge::registerBridge(const Ref<TMATBaseAdContainer>& container) {
    TMATBaseBridge::registerBridge(container);
    initiateViewability();
}

void TMATViewabilityBridge::insertEventsInContext() {
    auto context = jsContext();
    if (!context) return;
    JSValue event = context->objectForKeyedSubscript("Event");
    if (!event.isObject()) {
        TMLog::logWarn("The page has no Event object; Event.%@ is not set.", TMAWire::kViewabilityEvent);
        return;
    }
    event.setValue(Value(TMAWire::kViewabilityEvent), TMAWire::kViewabilityEvent);
}

void TMATViewabilityBridge::initiateViewability() {
    std::string script = viewabilityJS();
    if (script.empty()) {
        TMLog::logError("Viewability JS not present");
        return;
    }
    auto context = jsContext();
    if (!context) return;
    context->setException(JSValue());
    context->evaluateScript(script, "tamarind-viewability.js");
    // A throwing script, or one stopped for running too long, leaves an exception.
    JSValue exception = context->exception();
    if (!exception.isUndefined()) {
        TMLog::logError("Viewability JS failed: %@",
                        platform::shortenedForLog(exception.toString().value_or("(stopped)")));
        context->setException(JSValue());
    }
}

bool TMATViewabilityBridge::verifyProperlyFormattedJS(const std::string& script) {
    return NSString::componentsSeparatedByString(script, TMAWire::kViewabilityPlaceholder).size() == 3;
}

std::string TMATViewabilityBridge::viewabilityJS() {
    auto stored = userDefaults()->stringForKey(TMAWire::kViewabilityScriptKey);
    if (!stored || stored->empty()) return "";
    std::string script = NSString::stringByReplacingOccurrencesOfString(*stored, "%s", TMAWire::kViewabilityPlaceholder);
    if (!verifyProperlyFormattedJS(script)) {
        TMLog::logError("Viewability JS is not formatted properly");
        return "";
    }
    // Spliced, never formatted: any other "%" in the script stays as it is,
    // and both values enter as string literals, whatever they hold.
    auto parts = NSString::componentsSeparatedByString(script, TMAWire::kViewabilityPlaceholder);
    auto container = adContainer();
    auto slot = TMAJSONUtil::scriptStringLiteral(container ? container->slotID() : std::string());
    if (!slot) {
        TMLog::logWarn("The slot id is not UTF-8 text; the viewability script is given an empty one.");
        slot = "\"\"";
    }
    return parts[0] + instrumentationUrlCallback() + parts[1] + *slot + parts[2];
}

std::string TMATViewabilityBridge::instrumentationUrlCallback() {
    auto controller = adController();
    auto pixel = controller ? controller->instrumentationPixelUrl() : std::nullopt;
    std::optional<std::string> literal = pixel ? TMAJSONUtil::scriptStringLiteral(*pixel) : std::nullopt;
    if (pixel && !literal) TMLog::logWarn("The instrumentation pixel URL is not UTF-8 text; the viewability script gets null.");
    return "function(){ return " + literal.value_or("null") + "; }";
}

std::optional<std::string> TMATViewabilityBridge::viewabilityVersion() {
    return userDefaults()->stringForKey(TMAWire::kViewabilityVersionKey);
}

// ---- listeners -----------------------------------------------------------------------------------------

// The count follows the listed "Viewability" listeners only: an unknown event,
// a refused listener or a function never listed leave it as it is.
bool TMATViewabilityBridge::addEvent(const std::string& event, const JSValue& listener) {
    bool added = TMATBaseBridge::addEvent(event, listener);
    if (added && event == TMAWire::kViewabilityEvent) addListener();
    return added;
}

bool TMATViewabilityBridge::removeEvent(const std::string& event, const JSValue& listener) {
    bool removed = TMATBaseBridge::removeEvent(event, listener);
    if (removed && event == TMAWire::kViewabilityEvent) removeListener();
    return removed;
}

void TMATViewabilityBridge::addListener() {
    subscribedListeners_.fetch_add(1);
    setNewRequest(true);
    auto container = adContainer();
    if (container && container->readyToObserveSuperviews()) container->checkViewabilityCalcMethod();
}

void TMATViewabilityBridge::removeListener() {
    unsigned count = subscribedListeners_.load();
    while (count > 0 && !subscribedListeners_.compare_exchange_weak(count, count - 1)) {
    }
    if (auto container = adContainer()) container->checkViewabilityCalcMethod();
}

// ---- measurements --------------------------------------------------------------------------------------

Value TMATViewabilityBridge::constructViewabilityInfo(float percentage, bool viewable, CGRect adFrame) {
    TMLog::logDebug("Viewability: %f%%, On Screen: %@", percentage, viewable ? "YES" : "NO");
    bool null = CGRectIsNull(adFrame);
    return Value::dictionary({
        {"viewablePercentage", static_cast<double>(percentage)},
        {"isAdOnScreen", viewable ? 1 : 0},
        {"x", null ? -1.0 : static_cast<double>(adFrame.origin.x)},
        {"y", null ? -1.0 : static_cast<double>(adFrame.origin.y)},
        {"width", null ? 0.0 : static_cast<double>(adFrame.size.width)},
        {"height", null ? 0.0 : static_cast<double>(adFrame.size.height)},
    });
}

void TMATViewabilityBridge::sendViewabilityPercentage(float percentage, bool viewable, CGRect adFrame) {
    if (!isActive()) return;
    fireEventListeners(TMAWire::kViewabilityEvent, {constructViewabilityInfo(percentage, viewable, adFrame)});
    setNewRequest(false);
}

// ---- the page's methods --------------------------------------------------------------------------------

std::vector<JSExportMethod> TMATViewableBridgeExport::exportedMethods() const {
    // The context's wrapper holds the bridge while one of its methods runs.
    auto* bridge = dynamic_cast<TMATViewabilityBridge*>(const_cast<TMATViewableBridgeExport*>(this));
    if (!bridge) return {};
    auto text = [](JSContext& context, const std::string& value) {
        return JSValue::valueWithString(value, context.self<JSContext>());
    };
    return {
        TMATBaseBridge::exportedAddEventListener(bridge),
        TMATBaseBridge::exportedRemoveEventListener(bridge),
        {"getVersion", [bridge, text](JSContext& c, const std::vector<JSValue>&) { return text(c, bridge->getVersion()); }},
        {"getSDKVersion",
         [bridge, text](JSContext& c, const std::vector<JSValue>&) { return text(c, bridge->getSDKVersion()); }},
    };
}
