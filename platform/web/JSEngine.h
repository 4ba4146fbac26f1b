// Internal to the web module: the JavaScriptCore C API behind JSContext,
// JSValue and the page environment. Context groups (one shared by bare
// contexts, one per web view) and their watchdog, which enforces the time
// limit and the page heap budget; per-context bookkeeping (protected values,
// exported-object wrappers, a page scope's frozen state, a web view's native
// setup), string conversion and native functions. Public headers never
// include this file.
#pragma once

#include <JavaScriptCore/JavaScript.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/web/JSContext.h"
#include "platform/web/PageLog.h"

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
// A text a page supplies as a log line takes it (shortenedForLog): only its
// start is converted, its whole length counted.
std::string toUTF8ForLog(JSStringRef string);

// A property name as the engine takes it. Names recur (an event's fields, a
// method called on every event, a global read each time) and making each
// afresh converts and allocates: the names met last are kept, per thread,
// at most kMaximumNames of at most kMaximumNameBytes; the set starts over
// when full.
class JSPropertyName {
public:
    static constexpr size_t kMaximumNames = 512;
    static constexpr size_t kMaximumNameBytes = 64;

    explicit JSPropertyName(std::string_view utf8);
    ~JSPropertyName();
    JSPropertyName(const JSPropertyName&) = delete;
    JSPropertyName& operator=(const JSPropertyName&) = delete;
    JSStringRef get() const { return ref_; }

private:
    JSStringRef ref_;
};

// Hashes a std::string key and a string_view probe alike, so that a look-up
// copies nothing.
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
};

// The engine's parsed script handle (exported by the library, not in its
// public headers).
typedef struct OpaqueJSScript* JSScriptRef;

// Scripts evaluated again and again in a group (a command's answer, a poll),
// kept parsed with their source URL: each evaluation then skips converting
// and parsing their text and URL anew. A script is kept from its second
// evaluation on, so one that runs once costs nothing more; at most
// kMaximumScripts of at most kMaximumScriptBytes each, the set starting over
// when full. Main thread.
class ScriptCache {
public:
    static constexpr size_t kMaximumScripts = 64;
    static constexpr size_t kMaximumScriptBytes = size_t{16} << 10;

    ScriptCache() = default;
    ~ScriptCache();
    ScriptCache(const ScriptCache&) = delete;
    ScriptCache& operator=(const ScriptCache&) = delete;

    // The parsed script for `source` at `sourceURL` in `group`; null while it
    // is not kept (first seen, too long, or not parsable: evaluated as text,
    // which reports its error).
    JSScriptRef find(JSContextGroupRef group, const std::string& source, const std::optional<std::string>& sourceURL);

private:
    struct Entry {
        std::optional<std::string> sourceURL;
        JSScriptRef script = nullptr;
        bool unparsable = false;
    };
    void clear();
    std::unordered_map<std::string, Entry, TextHash, std::equal_to<>> entries_;
};

// A context group: one engine heap and one watchdog for the time limit.
// Bare contexts share one; each web view has one of its own, so the heap of
// its page is the group's and can be measured. Groups live as long as the
// process (the engine cannot be made to let go of one cleanly): a web
// view's goes back to a pool, collected, when the web view is gone.
struct EngineGroup {
    EngineGroup();
    EngineGroup(const EngineGroup&) = delete;
    EngineGroup& operator=(const EngineGroup&) = delete;
    JSContextGroupRef ref = nullptr;
    // Set by every collection (on whichever thread the engine collects):
    // the heap's measure changed, the page budget is due to be checked.
    std::atomic<bool> collected{false};
    // Main thread: on the way out of calls, the page budget looks at how
    // much the process grew (see ContextCore::overHeapBudgetOnReturn).
    double workSinceLook = 0;    // seconds of calls into the group's pages
    size_t residentAtLook = 0;   // the process's resident bytes at the last measure
    ScriptCache scripts;
};
// The group of bare contexts.
const std::shared_ptr<EngineGroup>& sharedGroup();
// A group for one web view's pages (main thread).
std::shared_ptr<EngineGroup> pageGroup();

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

// The engine side of a JSContext (one global scope), shared with its values.
struct ContextCore : std::enable_shared_from_this<ContextCore> {
    // A new global scope in `group`. A page scope freezes when a script in
    // it is stopped, and has the page heap budget.
    static std::shared_ptr<ContextCore> create(std::shared_ptr<EngineGroup> group, const Weak<JSContext>& owner,
                                               bool page);

    std::shared_ptr<EngineGroup> group;
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
    // What its script writes to the log; the context's later scopes share it.
    std::shared_ptr<PageLog> pageLog;

    // Calls into the engine in progress; a tear-down asked for meanwhile
    // waits for the outermost one to return.
    int entryDepth = 0;
    bool tearDownPending = false;
    double entryBegan = 0;  // the outermost call's start, steady clock seconds

    // A web view's page scope: once a script in it ran into the time limit
    // or over the heap budget, nothing runs in it again (frozen).
    bool page = false;
    bool frozen = false;
    // Called once, when the outermost call into the scope returns after it
    // froze: the web view keeps what it draws of the page, then lets the
    // scope go (main thread).
    std::function<void()> frozenHandler;
    // Admits calls into the frozen scope meanwhile (the drawing's markup
    // runs nothing the page defined).
    bool admitFrozen = false;
    // The web view's first scope while no page was loaded into it: what
    // native code evaluates there is the web view's setup, done again in the
    // fresh scope of each later page.
    bool acceptsSetup = false;

    enum class StopReason { TimeLimit, HeapBudget };
    // A script of this scope was stopped: a page scope freezes (one log line).
    void stopped(StopReason why);
    // Whether a page scope's heap is over the page budget: measured (a walk
    // over the heap) once after each collection, when the engine's measure
    // of what is live changes; false otherwise.
    bool overHeapBudget();
    // The same when the outermost call into the scope returns, after a call
    // of `callSeconds`; and whatever the engine collected meanwhile, also
    // measured, after a collection made for it, when the process grew by a
    // quarter of the budget since the group's last measure, so that one large
    // allocation shows at once. It looks after each millisecond of calls into
    // the group (reading the resident size is a system call).
    bool overHeapBudgetOnReturn(double callSeconds);

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

// A full, synchronous garbage collection of one group, or of every group
// (main thread).
void collectGarbage(const EngineGroup& group);
void collectAllGarbage();
// The same once a scope of the group was let go (a page frozen or left, a
// web view gone). The engine's compilations count as live until it installs
// their code, which it does only when code of the group next runs warm: each
// would keep the scope it compiled for, and all that scope holds. They are
// completed first, and the group's compiled code dropped.
void collectLeftScopes(const EngineGroup& group);
// The group's heap by the engine's own statistics, read through `ctx`: what
// the last collection found live, with the memory its objects own.
size_t liveHeapBytes(JSContextRef ctx);
// Hands memory the engine's allocator keeps after a collection back to the system.
void returnFreedEngineMemory();

// Marks a call into the engine that may run page script. The outermost one
// starts the clock of the time limit; in a frozen (or torn down) scope it is
// not admitted and the caller returns at once. When the outermost call into
// a page scope returns, the heap budget is checked, and a scope that froze
// is handed to its frozenHandler.
class EngineEntry {
public:
    explicit EngineEntry(std::shared_ptr<ContextCore> core);
    ~EngineEntry();
    EngineEntry(const EngineEntry&) = delete;
    EngineEntry& operator=(const EngineEntry&) = delete;
    bool admitted() const { return admitted_; }

private:
    std::shared_ptr<ContextCore> core_;
    bool admitted_;
};

// What native code put into a web view's context, which each later page
// scope gets again: the globals it set by value or exported object (the
// latest per name), then the scripts it evaluated while no page had been
// loaded (its setup), in order.
struct NativeSetup {
    struct Global {
        std::string name;
        Value value;
        Ref<JSExport> object;  // an exported object, else `value`
    };
    struct Script {
        std::string source;
        std::optional<std::string> sourceURL;
    };
    std::vector<Global> globals;
    std::vector<Script> scripts;
    size_t scriptBytes = 0;

    void setGlobal(const std::string& name, Value value, Ref<JSExport> object);
    void forgetGlobal(const std::string& name);
    void addScript(const std::string& source, const std::optional<std::string>& sourceURL);
};

// True while a call into the engine is in progress on this thread.
bool engineCallInProgress();

// Access to the engine side of the public classes.
struct EngineAccess {
    static const std::shared_ptr<ContextCore>& core(const JSContext& context) { return context.core_; }
    static JSValueRef ref(const JSValue& value);
    // The value for a call into `target`'s scope: null when it belongs to
    // another engine heap (another web view's) or its scope is gone.
    static JSValueRef refFor(const JSValue& value, const ContextCore& target);
    static JSValue fromSlot(std::shared_ptr<ValueSlot> slot) { return JSValue(std::move(slot)); }
    static const std::shared_ptr<ValueSlot>& slot(const JSValue& value) { return value.slot_; }

    static void initForPages(JSContext& context) { context.initForPages(); }
    static void renewScope(JSContext& context) { context.renewScope(); }
    static void replaceFrozenScope(JSContext& context) { context.replaceFrozenScope(); }
    static void restoreNativeSetup(JSContext& context) { context.restoreNativeSetup(); }
    // Page script (never kept as native setup).
    static JSValue evaluatePageScript(JSContext& context, const std::string& script,
                                      const std::optional<std::string>& sourceURL) {
        return context.evaluatePageScript(script, sourceURL);
    }
    static std::string evaluateScriptForText(JSContext& context, const std::string& script,
                                             const std::optional<std::string>& sourceURL) {
        return context.evaluateScriptForText(script, sourceURL);
    }
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
// "JS exception: <message> at <url>:<line>", the message and URL by their
// start and length (shortenedForLog).
std::string describeException(JSContextRef ctx, JSValueRef exception, std::string_view fallbackURL);

}  // namespace platform::web
