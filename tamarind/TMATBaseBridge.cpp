#include "tamarind/TMATBaseBridge.h"

#include <algorithm>

#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Log.h"
#include "platform/web/JSVirtualMachine.h"
#include "tamarind/TMATBaseAdContainer.h"
#include "tamarind/TMLog.h"

Ref<TMATBaseBridge> TMATBaseBridge::defaultBridge(const Ref<TMATBaseAdController>& adController) {
    return NSObject::alloc<TMATBaseBridge>()->initWithAdController(adController);
}

Ref<TMATBaseBridge> TMATBaseBridge::initWithAdController(const Ref<TMATBaseAdController>& adController) {
    adController_ = adController;
    return self<TMATBaseBridge>();
}

// ---- what subclasses answer -------------------------------------------------------------------------

std::string TMATBaseBridge::bridgePrefix() const {
    TMLog::logWarn("Bridge subclass did not implement %@", "bridgePrefix");
    return "N/A";
}

std::string TMATBaseBridge::bridgeAPIVersion() const {
    TMLog::logWarn("Bridge subclass did not implement %@", "bridgeAPIVersion");
    return "N/A";
}

void TMATBaseBridge::insertEventsInContext() {
    TMLog::logWarn("Bridge subclass did not implement %@", "insertEventsInContext");
}

// ---- the user -------------------------------------------------------------------------------------------

bool TMATBaseBridge::consumeUserActivation(const std::string& call, const std::string& refusal) {
    if (auto container = adContainer()) return container->consumeUserActivation(call, refusal);
    writePageLine(TMLogLevel::Error, call, call + ": " + platform::shortenedForLog(refusal));
    return false;
}

// ---- state ---------------------------------------------------------------------------------------------

Ref<JSContext> TMATBaseBridge::jsContext() const {
    auto container = adContainer_.lock();
    return container ? container->jsContext() : nullptr;
}

Ref<NSUserDefaults> TMATBaseBridge::userDefaults() {
    std::scoped_lock lock(mutex_);
    if (!userDefaults_) userDefaults_ = NSUserDefaults::standardUserDefaults();
    return userDefaults_;
}

void TMATBaseBridge::makeListenersLocked() {
    if (listenersMade_) return;
    listenersMade_ = true;
    for (const auto& event : supportedJSEvents()) listeners_[event];
}

std::map<std::string, std::vector<Ref<JSManagedValue>>> TMATBaseBridge::listeners() {
    std::scoped_lock lock(mutex_);
    makeListenersLocked();
    return listeners_;
}

// ---- registration --------------------------------------------------------------------------------------

void TMATBaseBridge::registerBridge(const Ref<TMATBaseAdContainer>& container) {
    adContainer_ = container;
    auto context = jsContext();
    std::string prefix = bridgePrefix();
    if (!context) {
        TMLog::logError("The ad container has no script context; the \"%@\" bridge is not registered.", prefix);
        return;
    }
    if (auto exported = std::dynamic_pointer_cast<JSExport>(shared_from_this()))
        context->setObject(exported, prefix);
    else
        TMLog::logWarn("%@ exports no methods; the page gets no \"%@\" global.", className(), prefix);
    insertEventsInContext();
}

// ---- listeners -----------------------------------------------------------------------------------------

std::string TMATBaseBridge::typeOfValue(const JSValue& value) {
    if (value.isUndefined()) return "undefined";
    if (value.isNull()) return "null";
    if (value.isBoolean()) return "boolean";
    if (value.isNumber()) return "number";
    if (value.isString()) return "string";
    if (value.isArray()) return "array";
    return "object";
}

bool TMATBaseBridge::isFunction(const JSValue& value) {
    if (!value.isObject()) return false;
    auto context = value.context();
    if (!context) return false;
    if (functionProbe_.context() != context)
        functionProbe_ = context->evaluateScript("(function (f) { return typeof f === 'function'; })");
    return functionProbe_.callWithArguments({value}).toBool();
}

bool TMATBaseBridge::addEvent(const std::string& event, const JSValue& listener) {
    {
        std::scoped_lock lock(mutex_);
        makeListenersLocked();
        if (!listeners_.count(event)) {
            logPageLine(TMLogLevel::Warn, "Attempted to add an event listener for event '%@' which does not exist",
                        platform::shortenedForLog(event));
            return false;
        }
    }
    // Asked outside the lock: the probe runs page script.
    if (!isFunction(listener)) {
        logPageLine(TMLogLevel::Warn, "%@.addEventListener: the listener for '%@' is a %@, not a function; ignored.",
                    bridgePrefix(), platform::shortenedForLog(event), typeOfValue(listener));
        return false;
    }
    auto managed = JSManagedValue::managedValueWithValue(listener);
    if (auto context = listener.context()) context->virtualMachine()->addManagedReference(managed, this);
    std::scoped_lock lock(mutex_);
    listeners_[event].push_back(managed);
    return true;
}

Ref<JSManagedValue> TMATBaseBridge::findExistingListener(const JSValue& listener, const std::string& event) {
    std::scoped_lock lock(mutex_);
    makeListenersLocked();
    auto it = listeners_.find(event);
    if (it == listeners_.end()) return nullptr;
    for (const auto& managed : it->second)
        if (managed->value().isEqualToObject(listener)) return managed;
    return nullptr;
}

bool TMATBaseBridge::removeEvent(const std::string& event, const JSValue& listener) {
    Ref<JSManagedValue> found;
    {
        std::scoped_lock lock(mutex_);
        makeListenersLocked();
        auto it = listeners_.find(event);
        if (it == listeners_.end()) {
            logPageLine(TMLogLevel::Warn, "Attempted to remove an event listener for event '%@' which does not exist",
                        platform::shortenedForLog(event));
            return false;
        }
        auto& list = it->second;
        auto match = std::find_if(list.begin(), list.end(),
                                  [&](const Ref<JSManagedValue>& m) { return m->value().isEqualToObject(listener); });
        if (match == list.end()) return false;
        found = *match;
        list.erase(match);
    }
    JSVirtualMachine::sharedVirtualMachine()->removeManagedReference(found, this);
    return true;
}

// ---- events ----------------------------------------------------------------------------------------------

void TMATBaseBridge::fireEventListeners(const std::string& event, std::vector<Value> arguments) {
    if (pendingEvents_.fetch_add(1) >= kMaximumPendingEvents) {
        pendingEvents_.fetch_sub(1);
        if (droppingEvents_.exchange(true)) return;
        // A page may overflow the queue again at every turn: folded.
        logPageLine(TMLogLevel::Warn, "%@: %@ events wait for the page already; later ones are dropped until it catches up.",
                    bridgePrefix(), static_cast<int64_t>(kMaximumPendingEvents));
        return;
    }
    Weak<TMATBaseBridge> weak = self<TMATBaseBridge>();
    dispatch_async(dispatch_get_main_queue(), [weak, event, arguments = std::move(arguments)] {
        auto bridge = weak.lock();
        if (!bridge) return;
        if (bridge->pendingEvents_.fetch_sub(1) == 1) bridge->droppingEvents_.store(false);
        bridge->deliverEvent(event, arguments);
    });
}

void TMATBaseBridge::deliverEvent(const std::string& event, const std::vector<Value>& arguments) {
    std::vector<Ref<JSManagedValue>> list;
    {
        std::scoped_lock lock(mutex_);
        makeListenersLocked();
        auto it = listeners_.find(event);
        if (it == listeners_.end()) return;
        // A copy: a page's own setTimeout may add or remove listeners.
        list = it->second;
    }
    Ref<JSContext> context;
    JSValue setTimeout;
    std::vector<JSValue> pageArguments;
    for (const auto& managed : list) {
        JSValue listener = managed->value();
        if (listener.isNull() || !listener.isObject()) continue;
        auto listenerContext = listener.context();
        if (!listenerContext) continue;
        if (listenerContext != context) {
            context = listenerContext;
            setTimeout = context->objectForKeyedSubscript("setTimeout");
            pageArguments.clear();
            for (const auto& argument : arguments) pageArguments.push_back(JSValue::valueWithObject(argument, context));
        }
        std::vector<JSValue> call{listener, JSValue::valueWithInt32(0, context)};
        call.insert(call.end(), pageArguments.begin(), pageArguments.end());
        setTimeout.callWithArguments(call);
    }
}

// ---- page methods shared by the bridges with events -----------------------------------------------------

JSExportMethod TMATBaseBridge::exportedAddEventListener(TMATBaseBridge* bridge) {
    // The context's wrapper holds the bridge while one of its methods runs.
    return {"addEvent:Listener:", [bridge](JSContext&, const std::vector<JSValue>& args) {
                if (!args[0].isString()) {
                    bridge->logPageLine(TMLogLevel::Warn, "%@.addEventListener: the event name is a %@, not a string; ignored.",
                                        bridge->bridgePrefix(), typeOfValue(args[0]));
                    return JSValue();
                }
                bridge->addEvent(*args[0].toString(), args[1]);
                return JSValue();
            }};
}

JSExportMethod TMATBaseBridge::exportedRemoveEventListener(TMATBaseBridge* bridge) {
    return {"removeEvent:Listener:", [bridge](JSContext&, const std::vector<JSValue>& args) {
                if (!args[0].isString()) {
                    bridge->logPageLine(TMLogLevel::Warn,
                                        "%@.removeEventListener: the event name is a %@, not a string; ignored.",
                                        bridge->bridgePrefix(), typeOfValue(args[0]));
                    return JSValue();
                }
                bridge->removeEvent(*args[0].toString(), args[1]);
                return JSValue();
            }};
}
