#include "tamarind/TMATMraidBridge.h"

#include "platform/foundation/NSURL.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Log.h"
#include "platform/ui/UIWindow.h"
#include "tamarind/TMAJSONUtil.h"
#include "tamarind/TMATBaseAdContainer.h"
#include "tamarind/TMATBaseAdController.h"
#include "tamarind/TMATMraidExpandViewController.h"
#include "tamarind/TMATMraidPictureManager.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMLog.h"

namespace {

constexpr const char* kTMATMraidStateNames[] = {"loading", "default", "expanded", "resized", "hidden"};

Value tmatExpandDefaults() {
    return Value::dictionary({{"width", 0}, {"height", 0}, {"useCustomClose", false}, {"isModal", true}});
}

Value tmatResizeDefaults() {
    return Value::dictionary({{"width", 0},
                              {"height", 0},
                              {"offsetX", 0},
                              {"offsetY", 0},
                              {"customClosePosition", "top-right"},
                              {"allowOffscreen", true}});
}

Value tmatOrientationDefaults() {
    return Value::dictionary({{"allowOrientationChange", true}, {"forceOrientation", "none"}});
}

// An absolute http or https URL with a host.
bool tmatIsWebURL(const Ref<NSURL>& url) {
    std::string scheme = url ? NSString::lowercaseString(url->scheme()) : std::string();
    return (scheme == "http" || scheme == "https") && !url->host().empty();
}

Value tmatRectRecord(CGRect rect) {
    return Value::dictionary({{"x", static_cast<double>(CGRectGetMinX(rect))},
                              {"y", static_cast<double>(CGRectGetMinY(rect))},
                              {"width", static_cast<double>(rect.size.width)},
                              {"height", static_cast<double>(rect.size.height)}});
}

}  // namespace

Ref<TMATMraidBridge> TMATMraidBridge::defaultBridge(const Ref<TMATBaseAdController>& adController) {
    return NSObject::alloc<TMATMraidBridge>()->initWithAdController(adController);
}

Ref<TMATMraidBridge> TMATMraidBridge::initWithAdController(const Ref<TMATBaseAdController>& adController) {
    TMATBaseBridge::initWithAdController(adController);
    ready_ = false;
    viewable_ = false;
    currentState_ = TMATMraidStateLoading;
    {
        std::scoped_lock lock(tablesMutex_);
        expandProperties_ = tmatExpandDefaults();
        resizeProperties_ = tmatResizeDefaults();
        orientationProperties_ = tmatOrientationDefaults();
    }
    pictureManager_ = NSObject::alloc<TMATMraidPictureManager>()->init();
    expandViewController_ = TMATMraidExpandViewController::alloc()->initWithBridge(self<TMATMraidBridge>());
    return self<TMATMraidBridge>();
}

std::string TMATMraidBridge::bridgePrefix() const { return TMAWire::kMraidBridgeName; }

std::string TMATMraidBridge::bridgeAPIVersion() const { return TMAWire::kMraidBridgeVersion; }

std::vector<std::string> TMATMraidBridge::supportedJSEvents() const {
    return {"error", "info", "ready", "stateChange", "viewableChange", "sizeChange"};
}

std::string TMATMraidBridge::stringForMraidState(int state) {
    return state >= 0 && state <= TMATMraidStateHidden ? kTMATMraidStateNames[state] : "default";
}

std::string TMATMraidBridge::stringForPlacementType(int type) {
    return type == TMATMraidPlacementTypeInterstitial ? "interstitial" : "inline";
}

Ref<UIScreen> TMATMraidBridge::sharedScreen() {
    if (!sharedScreen_) sharedScreen_ = UIScreen::mainScreen();
    return sharedScreen_;
}

Ref<UIApplication> TMATMraidBridge::sharedApplication() {
    if (!sharedApplication_) sharedApplication_ = UIApplication::sharedApplication();
    return sharedApplication_;
}

Ref<UIDevice> TMATMraidBridge::sharedDevice() {
    if (!sharedDevice_) sharedDevice_ = UIDevice::currentDevice();
    return sharedDevice_;
}

// ---- native side -------------------------------------------------------------------------------------

void TMATMraidBridge::sendIsViewable(bool viewable) {
    if (viewable == viewable_) return;
    fireEventListeners("viewableChange", {Value(viewable)});
    viewable_ = viewable;
}

void TMATMraidBridge::setReady(bool ready) {
    if (ready_ || !ready) return;
    ready_ = true;
    fireEventListeners("ready", {});
}

void TMATMraidBridge::setAdSizeRect(CGSize size) {
    if (size.width == adSizeRect_.width && size.height == adSizeRect_.height) return;
    adSizeRect_ = size;
    fireEventListeners("sizeChange", {Value(static_cast<double>(size.width)), Value(static_cast<double>(size.height))});
}

void TMATMraidBridge::setCurrentState(int state) {
    if (state == currentState_) return;
    currentState_ = state;
    fireEventListeners("stateChange", {Value(stringForMraidState(state))});
}

void TMATMraidBridge::displayStateChanged(int state) {
    setCurrentState(state);
    fireEventListeners("stateChange", {Value(stringForMraidState(state))});
}

void TMATMraidBridge::browsingStateChanged(int state) {
    setCurrentState(state);
    fireEventListeners("stateChange", {Value(stringForMraidState(state))});
}

void TMATMraidBridge::fireErrorEventWithMessage(const std::string& message, const std::string& action) {
    // A page calling in a storm is not echoed line by line: folded per action.
    if (TMLog::enabled(TMLogLevel::Error))
        writePageLine(TMLogLevel::Error, "error: " + action,
                      NSString::stringWithFormat("MRAID log: error: %@. action: %@", platform::shortenedForLog(message),
                                                 platform::shortenedForLog(action)));
    fireEventListeners("error", {Value(message), Value(action)});
}

void TMATMraidBridge::refuseWithoutTap(const std::string& what, const std::string& action) {
    fireEventListeners("error", {Value(TMATBaseAdContainer::userTapRefusal(what)), Value(action)});
}

void TMATMraidBridge::updatePositionFromContainer(bool asDefault) {
    auto container = adContainer();
    if (!container) return;
    CGRect frame = container->frame();
    auto parent = container->superview();
    auto window = container->window();
    if (parent && window) frame = parent->convertRectToView(frame, window);
    setCurrentPosition(frame);
    if (asDefault) setDefaultPosition(frame);
    setAdSizeRect(frame.size);
}

void TMATMraidBridge::containerDidFinishLoading() {
    updatePositionFromContainer(true);
    if (currentState_ == TMATMraidStateLoading && !targetState_) setCurrentState(TMATMraidStateDefault);
    setReady(true);
}

// ---- tables --------------------------------------------------------------------------------------------

Value TMATMraidBridge::cachedExpandProperties() {
    std::scoped_lock lock(tablesMutex_);
    return expandProperties_;
}

Value TMATMraidBridge::cachedResizeProperties() {
    std::scoped_lock lock(tablesMutex_);
    return resizeProperties_;
}

Value TMATMraidBridge::cachedOrientationProperties() {
    std::scoped_lock lock(tablesMutex_);
    return orientationProperties_;
}

Value TMATMraidBridge::cachedSupportProperties() {
    std::scoped_lock lock(tablesMutex_);
    if (!supportProperties_.isDictionary()) {
        auto app = sharedApplication();
        supportProperties_ = Value::dictionary({{"sms", app->canOpenURL(NSURL::URLWithString("sms://"))},
                                                {"tel", app->canOpenURL(NSURL::URLWithString("tel://"))},
                                                {"calendar", true},
                                                {"inlineVideo", true},
                                                {"storePicture", true}});
    }
    return supportProperties_;
}

bool TMATMraidBridge::mergeTable(Value& table, const Value& properties, const char* name) {
    bool merged;
    {
        std::scoped_lock lock(tablesMutex_);
        merged = mergeTableLocked(table, properties);
    }
    // Logged outside the lock; a page setting a huge table again and again gets a count.
    if (!merged)
        logPageLine(TMLogLevel::Warn, "MRAID: the %@ properties would pass %@ bytes; they are not set.", name,
                    static_cast<int64_t>(kMaximumPropertiesBytes));
    return merged;
}

bool TMATMraidBridge::mergeTableLocked(Value& table, const Value& properties) {
    Value merged = table;
    if (const auto* entries = properties.dictionary())
        for (const auto& [key, value] : *entries) merged.set(key, value);
    auto json = TMAJSONUtil::jsonStringFromObject(merged);
    if (!json || json->size() > kMaximumPropertiesBytes) return false;
    table = std::move(merged);
    return true;
}

bool TMATMraidBridge::setCachedExpandProperties(const Value& properties) {
    return mergeTable(expandProperties_, properties, "expand");
}

bool TMATMraidBridge::setCachedResizeProperties(const Value& properties) {
    return mergeTable(resizeProperties_, properties, "resize");
}

bool TMATMraidBridge::setCachedOrientationProperties(const Value& properties) {
    return mergeTable(orientationProperties_, properties, "orientation");
}

bool TMATMraidBridge::expandUsesCustomClose() {
    // Only a real true: a creative's "false" string must not hide the button.
    // A copy held here: the flag refers into it.
    Value table = cachedExpandProperties();
    const Value& flag = table["useCustomClose"];
    return flag.isBool() && flag.boolValue();
}

// ---- the page's queries --------------------------------------------------------------------------------

std::string TMATMraidBridge::getPlacementType() { return stringForPlacementType(placementType_); }

std::string TMATMraidBridge::getState() { return stringForMraidState(currentState_); }

Value TMATMraidBridge::getExpandProperties() { return cachedExpandProperties(); }
Value TMATMraidBridge::getResizeProperties() { return cachedResizeProperties(); }
Value TMATMraidBridge::getOrientationProperties() { return cachedOrientationProperties(); }
Value TMATMraidBridge::getCurrentPosition() { return tmatRectRecord(currentPosition_); }
Value TMATMraidBridge::getDefaultPosition() { return tmatRectRecord(defaultPosition_); }

Value TMATMraidBridge::getMaxSize() {
    CGRect bounds = sharedScreen()->bounds();
    CGFloat statusBar = sharedApplication()->statusBarFrame().size.height;
    return Value::dictionary({{"width", static_cast<double>(bounds.size.width)},
                              {"height", static_cast<double>(bounds.size.height - statusBar)}});
}

Value TMATMraidBridge::getScreenSize() {
    CGRect pixels = sharedScreen()->nativeBounds();
    double width = pixels.size.width;
    double height = pixels.size.height;
    // Face up, face down and unknown keep the portrait answer.
    UIDeviceOrientation orientation = sharedDevice()->orientation();
    if (orientation == UIDeviceOrientationLandscapeLeft || orientation == UIDeviceOrientationLandscapeRight)
        std::swap(width, height);
    return Value::dictionary({{"width", width}, {"height", height}});
}

bool TMATMraidBridge::supports(const std::string& feature) {
    Value table = cachedSupportProperties();
    if (!table.contains(feature)) {
        fireErrorEventWithMessage(NSString::stringWithFormat("Support key: %@ doesn't exist", feature), "supports");
        return false;
    }
    return table[feature].boolValue();
}

// ---- the page's commands -------------------------------------------------------------------------------

void TMATMraidBridge::open(const std::string& url) {
    logPageLine(TMLogLevel::Debug, "%@ executed with param: %@", "open:", platform::urlForLog(url));
    // One per tap: a creative calling on its own must neither keep the close
    // button covered nor leave the app.
    if (!consumeUserActivation("mraid.open", TMATBaseAdContainer::userTapRefusal("open " + platform::urlForLog(url))))
        return refuseWithoutTap("open", "open");
    if (auto controller = adController()) controller->openUrlLink(NSURL::URLWithString(url), false);
}

void TMATMraidBridge::resize() { logPageLine(TMLogLevel::Debug, "%@ executed", "resize"); }

void TMATMraidBridge::setExpandProperties(const JSValue& properties) {
    Value dictionary = properties.toDictionary();
    if (!dictionary.isDictionary())
        return fireErrorEventWithMessage("Given expand properties is not an object", "setExpandProperties");
    if (effectiveState() == TMATMraidStateExpanded)
        return fireErrorEventWithMessage("Cannot set expand properties while expanded", "setExpandProperties");
    if (!setCachedExpandProperties(dictionary))
        return fireErrorEventWithMessage("Given expand properties are too large", "setExpandProperties");
    logPageLine(TMLogLevel::Debug, "MRAID Log: Set expand properties to: %@", cachedExpandProperties());
}

void TMATMraidBridge::setOrientationProperties(const JSValue& properties) {
    Value dictionary = properties.toDictionary();
    if (!dictionary.isDictionary()) {
        logPageLine(TMLogLevel::Warn, "%@: given orientation properties is not an object", "setOrientationProperties:");
        return;
    }
    // Kept only: the ad's orientation is the application's.
    if (setCachedOrientationProperties(dictionary))
        logPageLine(TMLogLevel::Debug, "MRAID Log: Set orientation properties to: %@", cachedOrientationProperties());
}

void TMATMraidBridge::setResizeProperties(const JSValue& properties) {
    Value dictionary = properties.toDictionary();
    if (!dictionary.isDictionary()) {
        logPageLine(TMLogLevel::Warn, "%@: given resize properties is not an object", "setResizeProperties:");
        return;
    }
    if (setCachedResizeProperties(dictionary))
        logPageLine(TMLogLevel::Debug, "%@: Set resize properties to: %@", "setResizeProperties:", cachedResizeProperties());
}

void TMATMraidBridge::useCustomClose(bool useCustomClose) {
    if (auto owner = twoPartOwner_.lock()) return owner->useCustomClose(useCustomClose);
    mergeTable(expandProperties_, Value::dictionary({{"useCustomClose", useCustomClose}}), "expand");
    if (placementType_ == TMATMraidPlacementTypeInterstitial) return;
    // The expansion's button follows the flag: hidden only when the creative
    // draws its own close control.
    if (useCustomClose)
        expandViewController_->hideCloseButton();
    else
        expandViewController_->showCloseButton();
}

void TMATMraidBridge::storePicture(const std::string& url) {
    if (!tmatIsWebURL(NSURL::URLWithString(url)))
        return fireErrorEventWithMessage("Given picture URL is not a web URL", "storePicture");
    // One prompt per tap, as for open.
    if (!consumeUserActivation("mraid.storePicture",
                               TMATBaseAdContainer::userTapRefusal("store " + platform::urlForLog(url))))
        return refuseWithoutTap("store the picture", "storePicture");
    auto controller = adController();
    pictureManager_->storePicture(url, controller ? controller->viewControllerForPresentingModalView() : nullptr);
}

// ---- expand and close ----------------------------------------------------------------------------------

Ref<UIViewController> TMATMraidBridge::expansionPresenter(std::string* refusal) {
    if (!adContainer()) {
        *refusal = "the ad has no container";
        return nullptr;
    }
    auto controller = adController();
    auto presenter = controller ? controller->viewControllerForPresentingModalView() : nullptr;
    if (!presenter) {
        *refusal = "there is no view controller to present the expanded ad from";
        return nullptr;
    }
    *refusal = TMATBaseAdController::presenterRefusal(presenter, "the presenting view controller");
    return refusal->empty() ? presenter : nullptr;
}

void TMATMraidBridge::expand(const JSValue& url) {
    // A two-part page still loading leaves the ad reading "default": the
    // refusal says why rather than claiming it is expanded.
    if (effectiveState() == TMATMraidStateExpanded)
        return fireErrorEventWithMessage(twoPartPageLoads() ? "Unable to expand while an expansion is loading"
                                                            : "Unable to expand while expanded",
                                         "expand");
    if (placementType_ == TMATMraidPlacementTypeInterstitial)
        return fireErrorEventWithMessage("Unable to expand an intersitial ad placement", "expand");
    Ref<NSURL> page;
    if (!url.isUndefined() && !url.isNull()) {
        page = NSURL::URLWithString(url.toString().value_or(""));
        if (!tmatIsWebURL(page)) return fireErrorEventWithMessage("Unable to expand to a URL that is not http or https", "expand");
    }
    std::string refusal;
    if (!expansionPresenter(&refusal)) return fireErrorEventWithMessage("Unable to expand: " + refusal, "expand");
    targetState_ = TMATMraidStateExpanded;
    twoPartRequested_ = page != nullptr;
    Weak<TMATMraidBridge> weak = self<TMATMraidBridge>();
    dispatch_async(dispatch_get_main_queue(), [weak, page] {
        if (auto bridge = weak.lock()) bridge->performExpand(page);
    });
}

bool TMATMraidBridge::twoPartPageLoads() const {
    return currentState_ != TMATMraidStateExpanded && targetState_ == TMATMraidStateExpanded &&
           (twoPartRequested_ || expandViewController_->isTwoPart());
}

void TMATMraidBridge::performExpand(const Ref<NSURL>& page) {
    twoPartRequested_ = false;
    std::string refusal;
    auto presenter = expansionPresenter(&refusal);
    if (presenter && page) {
        // Shown, and "expanded", once the page has loaded.
        expandViewController_->twoPartExpand(adContainer(), page, expandUsesCustomClose());
        return;
    }
    if (targetState_ == TMATMraidStateExpanded) targetState_.reset();
    if (presenter) {
        auto container = adContainer();
        bool custom = expandUsesCustomClose();
        expandViewController_->expandAdView(container, custom);
        if (!expandViewController_->expandWithSubview(container, custom, presenter)) {
            expandViewController_->closeExpandedView();
            refusal = "the presentation was refused";
        }
    }
    if (!refusal.empty()) return fireErrorEventWithMessage("Unable to expand: " + refusal, "expand");
    updatePositionFromContainer(false);
    setCurrentState(TMATMraidStateExpanded);
}

void TMATMraidBridge::twoPartPageDidLoad() {
    // A close asked for while the page loaded ends the expansion unseen.
    if (targetState_ != TMATMraidStateExpanded) return;
    targetState_.reset();
    std::string refusal;
    auto presenter = expansionPresenter(&refusal);
    auto page = expandViewController_->twoPartView();
    if (presenter && !expandViewController_->expandWithSubview(page, expandUsesCustomClose(), presenter))
        refusal = "the presentation was refused";
    if (!refusal.empty()) {
        expandViewController_->closeExpandedView();
        return fireErrorEventWithMessage("Unable to expand: " + refusal, "expand");
    }
    page->render();
    setCurrentState(TMATMraidStateExpanded);
}

void TMATMraidBridge::twoPartPageDidFail() {
    if (targetState_ != TMATMraidStateExpanded) return;
    targetState_.reset();
    expandViewController_->closeExpandedView();
    fireErrorEventWithMessage("Unable to expand: the page failed to load", "expand");
}

void TMATMraidBridge::becomeTwoPartPage(const Ref<TMATMraidBridge>& owner) {
    twoPartOwner_ = owner;
    currentState_ = TMATMraidStateExpanded;
}

void TMATMraidBridge::close() {
    if (auto owner = twoPartOwner_.lock()) return owner->close();
    if (effectiveState() != TMATMraidStateExpanded)
        return fireErrorEventWithMessage("The ad is currently not expanded", "close");
    targetState_ = TMATMraidStateDefault;
    Weak<TMATMraidBridge> weak = self<TMATMraidBridge>();
    dispatch_async(dispatch_get_main_queue(), [weak] {
        if (auto bridge = weak.lock()) bridge->performClose();
    });
}

void TMATMraidBridge::performClose() {
    if (targetState_ == TMATMraidStateDefault) targetState_.reset();
    expandViewController_->closeExpandedView();
    updatePositionFromContainer(false);
    setCurrentState(TMATMraidStateDefault);
}

// ---- the page's methods --------------------------------------------------------------------------------

std::vector<JSExportMethod> TMATMraidBridgeExport::exportedMethods() const {
    // The context's wrapper holds the bridge while one of its methods runs.
    auto* bridge = dynamic_cast<TMATMraidBridge*>(const_cast<TMATMraidBridgeExport*>(this));
    if (!bridge) return {};
    using Args = const std::vector<JSValue>&;
    auto text = [](JSContext& c, const std::string& value) { return JSValue::valueWithString(value, c.self<JSContext>()); };
    auto object = [](JSContext& c, const Value& value) { return JSValue::valueWithObject(value, c.self<JSContext>()); };
    auto none = [](JSContext&, Args) { return JSValue(); };
    // A method whose one argument must be a string; anything else is refused.
    auto withText = [bridge](const char* action, const char* refusal, auto call) {
        return [bridge, action, refusal, call](JSContext& c, Args args) {
            if (!args[0].isString()) {
                bridge->fireErrorEventWithMessage(refusal, action);
                return JSValue();
            }
            return call(c, *args[0].toString());
        };
    };
    return {
        TMATBaseBridge::exportedAddEventListener(bridge),
        TMATBaseBridge::exportedRemoveEventListener(bridge),
        {"close", [bridge](JSContext&, Args) { bridge->close(); return JSValue(); }},
        {"expand:", [bridge](JSContext&, Args args) { bridge->expand(args[0]); return JSValue(); }},
        {"getPlacementType", [bridge, text](JSContext& c, Args) { return text(c, bridge->getPlacementType()); }},
        {"getState", [bridge, text](JSContext& c, Args) { return text(c, bridge->getState()); }},
        {"getVersion", [bridge, text](JSContext& c, Args) { return text(c, bridge->getVersion()); }},
        {"isViewable",
         [bridge](JSContext& c, Args) { return JSValue::valueWithBool(bridge->isViewable(), c.self<JSContext>()); }},
        {"open:", withText("open", "Given URL is not a string", [bridge](JSContext&, const std::string& url) {
             bridge->open(url);
             return JSValue();
         })},
        {"resize", [bridge](JSContext&, Args) { bridge->resize(); return JSValue(); }},
        {"setExpandProperties:", [bridge](JSContext&, Args args) { bridge->setExpandProperties(args[0]); return JSValue(); }},
        {"getExpandProperties", [bridge, object](JSContext& c, Args) { return object(c, bridge->getExpandProperties()); }},
        {"setOrientationProperties:",
         [bridge](JSContext&, Args args) { bridge->setOrientationProperties(args[0]); return JSValue(); }},
        {"getOrientationProperties",
         [bridge, object](JSContext& c, Args) { return object(c, bridge->getOrientationProperties()); }},
        {"useCustomClose:",
         [bridge](JSContext&, Args args) {
             if (!args[0].isBoolean() && !args[0].isNumber())
                 bridge->fireErrorEventWithMessage("Given custom close flag is not a boolean", "useCustomClose");
             else
                 bridge->useCustomClose(args[0].toBool());
             return JSValue();
         }},
        {"createCalendarEvent:", none},
        {"getCurrentPosition", [bridge, object](JSContext& c, Args) { return object(c, bridge->getCurrentPosition()); }},
        {"getDefaultPosition", [bridge, object](JSContext& c, Args) { return object(c, bridge->getDefaultPosition()); }},
        {"getMaxSize", [bridge, object](JSContext& c, Args) { return object(c, bridge->getMaxSize()); }},
        {"getResizeProperties", [bridge, object](JSContext& c, Args) { return object(c, bridge->getResizeProperties()); }},
        {"setResizeProperties:", [bridge](JSContext&, Args args) { bridge->setResizeProperties(args[0]); return JSValue(); }},
        {"getScreenSize", [bridge, object](JSContext& c, Args) { return object(c, bridge->getScreenSize()); }},
        {"playVideo:", none},
        {"storePicture:",
         withText("storePicture", "Given picture URL is not a web URL", [bridge](JSContext&, const std::string& url) {
             bridge->storePicture(url);
             return JSValue();
         })},
        {"supports:",
         [bridge](JSContext& c, Args args) {
             // A name that is not a string is looked up by its text, and so refused.
             std::string name = args[0].isString() ? *args[0].toString()
                                                   : args[0].toString().value_or(TMATBaseBridge::typeOfValue(args[0]));
             return JSValue::valueWithBool(bridge->supports(name), c.self<JSContext>());
         }},
    };
}
