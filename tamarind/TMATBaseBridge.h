// The base of the template renderer's script bridges: a native object put
// into a creative's script context under a global name (bridgePrefix), with
// lists of page listeners per event and events fired into the page as
// zero-delay page timers. A bridge holds its container and controller weakly
// and the page's functions through managed values it owns, so it keeps
// neither the web view nor its context alive; the context's wrapper holds the
// bridge until the web view goes. Main thread, but fireEventListeners, which
// any thread may call.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/web/JSContext.h"
#include "platform/web/JSExport.h"
#include "platform/web/JSManagedValue.h"
#include "platform/web/RepeatedRefusals.h"
#include "tamarind/TMLog.h"

class TMATBaseAdContainer;
class TMATBaseAdController;

class TMATBaseBridge : public NSObject {
public:
    static Ref<TMATBaseBridge> defaultBridge(const Ref<TMATBaseAdController>& adController);
    // Keeps the controller weakly.
    Ref<TMATBaseBridge> initWithAdController(const Ref<TMATBaseAdController>& adController);

    // Keeps the container weakly, puts the bridge into its script context
    // under bridgePrefix, then insertEventsInContext. Without a context the
    // bridge is not registered (logged).
    virtual void registerBridge(const Ref<TMATBaseAdContainer>& container);
    // The base only logs that the subclass did not implement it.
    virtual void insertEventsInContext();

    // Lists a page function for a supported event (the same function may be
    // listed twice); true when listed. An unknown event or a listener that is
    // not a function is logged and refused.
    virtual bool addEvent(const std::string& event, const JSValue& listener);
    // Drops the first listing of the function; true when one was dropped. An
    // unknown event is logged; a function never listed is ignored.
    virtual bool removeEvent(const std::string& event, const JSValue& listener);
    // The first listing of the function for the event, or null.
    Ref<JSManagedValue> findExistingListener(const JSValue& listener, const std::string& event);
    // Returns at once. On a later main-queue turn each function then listed
    // for the event is handed to the page's setTimeout with delay 0 and the
    // arguments, so it runs after the current script; collected listeners are
    // skipped, and a bridge released meanwhile fires nothing. While
    // kMaximumPendingEvents wait for delivery (a page calling in a storm),
    // further events are dropped, logged once, until the page catches up
    // (on main, folded as the page's lines are).
    void fireEventListeners(const std::string& event, std::vector<Value> arguments);
    static constexpr size_t kMaximumPendingEvents = 256;
    bool droppingEvents() const { return droppingEvents_.load(); }

    // ---- what subclasses answer ----
    virtual std::vector<std::string> supportedJSEvents() const { return {}; }
    // The base logs that the subclass did not implement them and answers "N/A".
    virtual std::string bridgePrefix() const;
    virtual std::string bridgeAPIVersion() const;

    // ---- state ----
    // The container's script context (null without a container).
    Ref<JSContext> jsContext() const;
    Ref<TMATBaseAdContainer> adContainer() const { return adContainer_.lock(); }
    Ref<TMATBaseAdController> adController() const { return adController_.lock(); }
    // Made on first read (the standard user defaults).
    Ref<NSUserDefaults> userDefaults();
    // A copy of the lists, made on first read with an empty list per supported event.
    std::map<std::string, std::vector<Ref<JSManagedValue>>> listeners();

    // The page methods "addEvent:Listener:" and "removeEvent:Listener:" for a
    // bridge's export list: a name that is not a string is logged and ignored.
    static JSExportMethod exportedAddEventListener(TMATBaseBridge* bridge);
    static JSExportMethod exportedRemoveEventListener(TMATBaseBridge* bridge);
    // The type of a page value for log lines ("undefined", "string", …).
    static std::string typeOfValue(const JSValue& value);

    // Every way out of the ad only for the user: the container's
    // consumeUserActivation (one call per tap of the user on the ad; a
    // refusal logged as "<call>: <refusal>", the first at once, then a count
    // while they go on). False without a container.
    bool consumeUserActivation(const std::string& call, const std::string& refusal);

    // A log line the page's call gives, folded per kind (its format, or
    // `kind`) with this bridge's earlier ones: the first at once, then a
    // count every TMLog::kFoldedLinePeriod seconds while they go on. Written
    // at once off the main thread (not the page's).
    template <class... Args>
    void logPageLine(TMLogLevel level, std::string_view format, const Args&... args) {
        TMLog::logFolded(pageLines_, level, format, args...);
    }
    void writePageLine(TMLogLevel level, const std::string& kind, std::string line) {
        TMLog::writeFolded(pageLines_, level, kind, std::move(line));
    }

private:
    // On main: hands each listed function of the event to the page's setTimeout.
    void deliverEvent(const std::string& event, const std::vector<Value>& arguments);
    // Whether the page value is a function (JSValue offers no typeof).
    bool isFunction(const JSValue& value);
    void makeListenersLocked();

    Weak<TMATBaseAdContainer> adContainer_;
    Weak<TMATBaseAdController> adController_;
    JSValue functionProbe_;  // (f) => typeof f === 'function', in the listeners' context
    platform::web::RepeatedRefusals pageLines_{TMLog::kFoldedLinePeriod};

    std::atomic<size_t> pendingEvents_{0};
    std::atomic<bool> droppingEvents_{false};

    std::mutex mutex_;  // guards the three fields below
    Ref<NSUserDefaults> userDefaults_;
    bool listenersMade_ = false;
    std::map<std::string, std::vector<Ref<JSManagedValue>>> listeners_;
};
