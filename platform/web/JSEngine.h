// Internal to the web module: the JavaScriptCore C API behind JSContext,
// JSValue and the page environment. Per-context bookkeeping (protected
// values, exported-object wrappers), string conversion and native functions.
// Public headers never include this file.
#pragma once

#include <JavaScriptCore/JavaScript.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/web/JSContext.h"

namespace platform::web {

// The engine's weak object handle (exported by the library, not in its
// public headers).
typedef const struct OpaqueJSWeak* JSWeakRef;

// An owned engine string.
class JSString {
public:
    explicit JSString(std::string_view utf8);  // invalid bytes become U+FFFD
    ~JSString();
    JSString(const JSString&) = delete;
    JSString& operator=(const JSString&) = delete;
    JSStringRef get() const { return ref_; }

private:
    JSStringRef ref_;
};

std::string toUTF8(JSStringRef string);  // lone surrogates become U+FFFD

// The engine's shared context group (created on first use, never released).
JSContextGroupRef contextGroup();
// Counts scripts stopped by the execution time limit (read on main).
uint64_t terminationCount();

// A native function callable from script. `thisObject` may be null.
using NativeFunction = std::function<JSValueRef(JSContextRef ctx, JSObjectRef thisObject, size_t argc,
                                                const JSValueRef argv[], JSValueRef* exception)>;

// What an exported native object's wrapper holds; detached at tear-down.
struct ExportedObjectState {
    Ref<JSExport> object;
    std::vector<JSExportMethod> methods;
};

// One protected engine value, listed in its context so tear-down can
// release it before the engine context goes.
struct ValueSlot {
    std::shared_ptr<struct ContextCore> core;
    JSValueRef value = nullptr;  // null once detached
    ValueSlot* prev = nullptr;
    ValueSlot* next = nullptr;
    ~ValueSlot();
};

// The engine side of a JSContext, shared with its values.
struct ContextCore : std::enable_shared_from_this<ContextCore> {
    JSGlobalContextRef ctx = nullptr;  // null after tear-down
    Weak<JSContext> owner;

    std::mutex mutex;  // guards the slot list (slots may die on any thread)
    ValueSlot* slots = nullptr;
    std::vector<JSValueRef> pendingRelease;  // let go of off the main thread

    // One wrapper per exported native object (protected until tear-down).
    std::unordered_map<const JSExport*, JSObjectRef> wrappers;
    JSObjectRef functionPrototype = nullptr;  // protected

    JSValue exception;
    JSContext::ExceptionHandler exceptionHandler;

    // Calls into the engine in progress; a tear-down asked for meanwhile
    // waits for the outermost one to return.
    int entryDepth = 0;
    bool tearDownPending = false;

    bool alive() const { return ctx != nullptr; }

    // A public value for an engine value of this context (protects it).
    JSValue wrap(JSValueRef value);
    // Hands an engine exception to the context: stored, then the handler.
    void reportException(JSValueRef exception, std::string_view fallbackURL = {});
    // Makes a callable object running `fn`, with Function.prototype.
    JSObjectRef makeFunction(NativeFunction fn);
    // The wrapper of an exported object in this context (made once).
    JSObjectRef wrapperFor(const Ref<JSExport>& object);
    // Value graph → engine value (depth-limited; data and plain objects → null).
    JSValueRef fromValue(const Value& value, int depth = 0);
    // Engine value → Value through JSON (functions and undefined dropped).
    Value toValueThroughJSON(JSValueRef value);

    // Detaches wrappers, releases every protected value, then the engine context.
    void tearDown();

    void link(ValueSlot* slot);
    void unlink(ValueSlot* slot);
};

// A weak reference to an object of a context: it does not keep the object
// alive. Any thread may drop it.
struct WeakSlot {
    static std::shared_ptr<WeakSlot> make(std::shared_ptr<ContextCore> core, JSObjectRef object);
    ~WeakSlot();
    // A protected value for the object; undefined once it was collected or
    // its context is gone (main thread).
    JSValue get() const;

    std::shared_ptr<ContextCore> core;
    JSWeakRef weak = nullptr;
};

// A full, synchronous garbage collection of the engine (main thread).
void collectGarbage();

// Marks a call into the engine (script evaluation, function calls).
class EngineEntry {
public:
    explicit EngineEntry(std::shared_ptr<ContextCore> core) : core_(std::move(core)) { ++core_->entryDepth; }
    ~EngineEntry() {
        if (--core_->entryDepth == 0 && core_->tearDownPending) core_->tearDown();
    }
    EngineEntry(const EngineEntry&) = delete;
    EngineEntry& operator=(const EngineEntry&) = delete;

private:
    std::shared_ptr<ContextCore> core_;
};

// Access to the engine side of the public classes.
struct EngineAccess {
    static const std::shared_ptr<ContextCore>& core(const JSContext& context) { return context.core_; }
    static JSValueRef ref(const JSValue& value);
    static JSValue fromSlot(std::shared_ptr<ValueSlot> slot) { return JSValue(std::move(slot)); }
    static const std::shared_ptr<ValueSlot>& slot(const JSValue& value) { return value.slot_; }
};

// While a native function runs, JSContext::currentContext() answers its context.
class CurrentContextScope {
public:
    explicit CurrentContextScope(const Weak<JSContext>& context);
    ~CurrentContextScope();
    CurrentContextScope(const CurrentContextScope&) = delete;
    CurrentContextScope& operator=(const CurrentContextScope&) = delete;
};

// A new engine error object (of the global constructor named) with `message`.
JSObjectRef makeError(JSContextRef ctx, std::string_view message, const char* constructor = "Error");
// The native object behind an exported wrapper, or null.
Ref<JSExport> exportedObjectOf(JSContextRef ctx, JSValueRef value);
// "JS exception: <message> at <url>:<line>".
std::string describeException(JSContextRef ctx, JSValueRef exception, std::string_view fallbackURL);

}  // namespace platform::web
