// A script context on the engine: a global object, script evaluation,
// globals put in by native code (values and exported native objects), and
// exception reporting. All script runs on the main thread. Destroying the
// context (or the web view that owns it) tears it down: exported objects are
// released and every JSValue of it reads undefined.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"
#include "platform/web/JSExport.h"
#include "platform/web/JSValue.h"

namespace platform {

class JSVirtualMachine;

namespace web {
struct ContextCore;
struct EngineAccess;
struct NativeSetup;
}  // namespace web

class JSContext : public NSObject {
public:
    using ExceptionHandler = std::function<void(const Ref<JSContext>& context, const JSValue& exception)>;

    static Ref<JSContext> alloc() { return std::make_shared<JSContext>(); }
    // A bare context: the engine's built-ins only.
    Ref<JSContext> init();
    ~JSContext() override;

    // The completion value; undefined after an exception (handed to the
    // exception handler). `sourceURL` names the script in exception reports.
    JSValue evaluateScript(const std::string& script, std::optional<std::string> sourceURL = {});

    JSValue objectForKeyedSubscript(const std::string& name);
    // A global the page sees.
    void setObject(const JSValue& value, const std::string& name);
    void setObject(const Value& value, const std::string& name);
    // One wrapper per native object and context (reused), holding the object
    // strongly until tear-down, with a function property per exported method.
    void setObject(const Ref<JSExport>& object, const std::string& name) { setExportedObject(object, name); }
    template <class T, class = std::enable_if_t<std::is_base_of_v<JSExport, T> && !std::is_same_v<T, JSExport>>>
    void setObject(const Ref<T>& object, const std::string& name) {
        setExportedObject(Ref<JSExport>(object), name);
    }

    JSValue globalObject();

    // The last exception (undefined when none), and setting it (to undefined
    // to clear it).
    JSValue exception() const;
    void setException(const JSValue& exception);
    // Called with every exception after it was stored. Default: logs
    // "JS exception: <message> at <url>:<line>", the message and URL by
    // their start and length, past 20 a second only counted (PageLog).
    // Null restores the default.
    void setExceptionHandler(ExceptionHandler handler);
    ExceptionHandler exceptionHandler() const;

    Ref<JSVirtualMachine> virtualMachine() const;

    // The context whose exported method or native function is running (null
    // outside native calls).
    static Ref<JSContext> currentContext();

    // Tears the context down now (the owner's destructor does it too).
    void invalidate();
    bool isValid() const;

private:
    friend struct web::EngineAccess;
    void setExportedObject(const Ref<JSExport>& object, const std::string& name);
    // A web view's context: a group of its own, page scopes, native setup kept.
    void initForPages();
    // A fresh global scope replaces the current one (torn down).
    void renewScope();
    // A frozen page scope gives way to an empty scope, frozen too, so that
    // its memory can go; the error that stopped it, when text, stays.
    void replaceFrozenScope();
    // Puts the kept native setup into the current scope.
    void restoreNativeSetup();
    // Evaluates without keeping the script as setup.
    JSValue evaluatePageScript(const std::string& script, const std::optional<std::string>& sourceURL);
    // evaluateScript's value in its String() form ("" for undefined, null or
    // an exception), without holding a value for a primitive.
    std::string evaluateScriptForText(const std::string& script, const std::optional<std::string>& sourceURL);

    std::shared_ptr<web::ContextCore> core_;
    std::shared_ptr<web::NativeSetup> setup_;  // web views' contexts only
};

}  // namespace platform

using platform::JSContext;
