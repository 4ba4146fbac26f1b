#include "platform/web/JSEngine.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Utf8.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/runtime/NSThread.h"
#include "platform/web/JSVirtualMachine.h"

// The engine exports its execution time limit, but the package ships no
// header for it: the declaration, as the engine's C API defines it.
extern "C" {
typedef bool (*JSShouldTerminateCallback)(JSContextRef ctx, void* context);
void JSContextGroupSetExecutionTimeLimit(JSContextGroupRef group, double limit, JSShouldTerminateCallback callback,
                                         void* context);
}

namespace platform::web {

// ---- strings ---------------------------------------------------------------------------------

JSString::JSString(std::string_view utf8) {
    std::u16string units;
    units.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        utf8::Decoded d = utf8::decode(utf8, i);
        i += d.size;
        char32_t cp = d.codePoint;
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
    }
    ref_ = JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(units.data()), units.size());
}

JSString::~JSString() { JSStringRelease(ref_); }

std::string toUTF8(JSStringRef string) {
    std::string out;
    if (!string) return out;
    const JSChar* units = JSStringGetCharactersPtr(string);
    size_t length = JSStringGetLength(string);
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        char32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < length && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
        }
        utf8::append(out, u);
    }
    return out;
}

// ---- the context group and its time limit ------------------------------------------------------

namespace {

std::atomic<uint64_t> gTerminations{0};
std::atomic<double> gTimeLimit{2.0};

bool shouldTerminate(JSContextRef, void*) {
    gTerminations.fetch_add(1);
    log(LogLevel::Error, "JS execution time limit exceeded: script stopped after " +
                             NSString::stringWithFormat("%g", gTimeLimit.load()) + " s");
    return true;
}

JSContextGroupRef makeGroup() {
    // Deterministic and sanitizer-friendly under test: the interpreter only.
    if (Clock::current()->isVirtual()) ::setenv("JSC_useJIT", "false", 0);
    JSContextGroupRef group = JSContextGroupCreate();
    JSContextGroupSetExecutionTimeLimit(group, gTimeLimit.load(), shouldTerminate, nullptr);
    return group;
}

}  // namespace

JSContextGroupRef contextGroup() {
    static JSContextGroupRef group = makeGroup();  // lives as long as the process
    return group;
}

uint64_t terminationCount() { return gTerminations.load(); }

}  // namespace platform::web

namespace platform {

void JSVirtualMachine::setExecutionTimeLimit(double seconds) {
    if (!(seconds > 0)) seconds = 2.0;
    web::gTimeLimit.store(seconds);
    JSContextGroupSetExecutionTimeLimit(web::contextGroup(), seconds, web::shouldTerminate, nullptr);
}

double JSVirtualMachine::executionTimeLimit() { return web::gTimeLimit.load(); }

}  // namespace platform

namespace platform::web {

// ---- native functions and exported-object wrappers ---------------------------------------------

namespace {

JSValueRef callNativeFunction(JSContextRef ctx, JSObjectRef function, JSObjectRef thisObject, size_t argc,
                              const JSValueRef argv[], JSValueRef* exception) {
    auto* fn = static_cast<NativeFunction*>(JSObjectGetPrivate(function));
    JSValueRef result = nullptr;
    if (fn && *fn) {
        auto what = runtime::callCatching([&] { result = (*fn)(ctx, thisObject, argc, argv, exception); });
        if (what) {
            logError("native JS function: uncaught exception: " + *what);
            *exception = makeError(ctx, *what);
            result = nullptr;
        }
    }
    return result ? result : JSValueMakeUndefined(ctx);
}

void finalizeNativeFunction(JSObjectRef object) { delete static_cast<NativeFunction*>(JSObjectGetPrivate(object)); }

JSClassRef nativeFunctionClass() {
    static JSClassRef cls = [] {
        JSClassDefinition def = kJSClassDefinitionEmpty;
        def.className = "NativeFunction";
        def.callAsFunction = callNativeFunction;
        def.finalize = finalizeNativeFunction;
        return JSClassCreate(&def);
    }();
    return cls;
}

using StateHolder = std::shared_ptr<ExportedObjectState>;

void finalizeExportedObject(JSObjectRef object) { delete static_cast<StateHolder*>(JSObjectGetPrivate(object)); }

JSClassRef exportedObjectClass() {
    static JSClassRef cls = [] {
        JSClassDefinition def = kJSClassDefinitionEmpty;
        def.className = "NativeObject";
        def.finalize = finalizeExportedObject;
        return JSClassCreate(&def);
    }();
    return cls;
}

size_t arityOf(const std::string& selector) {
    size_t n = 0;
    for (char c : selector) n += c == ':';
    return n;
}

thread_local std::vector<Weak<JSContext>> tCurrentContexts;

}  // namespace

JSObjectRef makeError(JSContextRef ctx, std::string_view message, const char* constructor) {
    JSValueRef arg = JSValueMakeString(ctx, JSString(message).get());
    JSValueRef type = JSObjectGetProperty(ctx, JSContextGetGlobalObject(ctx), JSString(constructor).get(), nullptr);
    if (type && JSValueIsObject(ctx, type)) {
        JSObjectRef made = JSObjectCallAsConstructor(ctx, JSValueToObject(ctx, type, nullptr), 1, &arg, nullptr);
        if (made) return made;
    }
    return JSObjectMakeError(ctx, 1, &arg, nullptr);
}

CurrentContextScope::CurrentContextScope(const Weak<JSContext>& context) { tCurrentContexts.push_back(context); }
CurrentContextScope::~CurrentContextScope() { tCurrentContexts.pop_back(); }

}  // namespace platform::web

Ref<platform::JSContext> platform::JSContext::currentContext() {
    return web::tCurrentContexts.empty() ? nullptr : web::tCurrentContexts.back().lock();
}

namespace platform::web {

Ref<JSExport> exportedObjectOf(JSContextRef ctx, JSValueRef value) {
    if (!JSValueIsObjectOfClass(ctx, value, exportedObjectClass())) return nullptr;
    auto* holder = static_cast<StateHolder*>(JSObjectGetPrivate(const_cast<JSObjectRef>(value)));
    return holder && *holder ? (*holder)->object : nullptr;
}

// ---- weak references and collection --------------------------------------------------------

extern "C" {
JSWeakRef JSWeakCreate(JSContextGroupRef group, JSObjectRef object);
void JSWeakRelease(JSContextGroupRef group, JSWeakRef weak);
JSObjectRef JSWeakGetObject(JSWeakRef weak);
void JSSynchronousGarbageCollectForDebugging(JSContextRef ctx);
}

std::shared_ptr<WeakSlot> WeakSlot::make(std::shared_ptr<ContextCore> core, JSObjectRef object) {
    auto slot = std::make_shared<WeakSlot>();
    slot->core = std::move(core);
    slot->weak = JSWeakCreate(contextGroup(), object);
    return slot;
}

WeakSlot::~WeakSlot() {
    if (!weak) return;
    if (NSThread::isMainThread()) {
        JSWeakRelease(contextGroup(), weak);
        return;
    }
    // Off the main thread the engine may be busy: the main thread lets go of it.
    JSWeakRef handle = weak;
    runtime::postToMainThread([handle] { JSWeakRelease(contextGroup(), handle); });
}

JSValue WeakSlot::get() const {
    if (!core || !core->alive() || !weak) return JSValue();
    JSObjectRef object = JSWeakGetObject(weak);
    return object ? core->wrap(object) : JSValue();
}

namespace {

// The collector scans the native stack conservatively: stale engine
// pointers left in dead stack memory below the caller would keep their
// objects alive. Clearing it first makes a collection show what is really
// referenced.
__attribute__((noinline)) void clearDeadStackBeforeCollection() {
    volatile char scratch[32 * 1024];
    for (size_t i = 0; i < sizeof scratch; ++i) scratch[i] = 0;
}

}  // namespace

void collectGarbage() {
    clearDeadStackBeforeCollection();
    JSGlobalContextRef ctx = JSGlobalContextCreateInGroup(contextGroup(), nullptr);
    JSSynchronousGarbageCollectForDebugging(ctx);
    JSGlobalContextRelease(ctx);
}

// ---- values ------------------------------------------------------------------------------------

ValueSlot::~ValueSlot() {
    if (!core) return;
    JSValueRef release = nullptr;
    {
        std::scoped_lock lock(core->mutex);
        if (!value) return;
        core->unlink(this);
        release = value;
        value = nullptr;
        // Off the main thread the engine may be busy: the main thread releases it later.
        if (!NSThread::isMainThread()) {
            core->pendingRelease.push_back(release);
            return;
        }
    }
    JSValueUnprotect(core->ctx, release);
}

void ContextCore::link(ValueSlot* slot) {
    slot->next = slots;
    if (slots) slots->prev = slot;
    slots = slot;
}

void ContextCore::unlink(ValueSlot* slot) {
    if (slot->prev) slot->prev->next = slot->next;
    else if (slots == slot) slots = slot->next;
    if (slot->next) slot->next->prev = slot->prev;
    slot->prev = slot->next = nullptr;
}

JSValue ContextCore::wrap(JSValueRef value) {
    if (!alive() || !value) return JSValue();
    JSValueProtect(ctx, value);
    auto slot = std::make_shared<ValueSlot>();
    slot->core = shared_from_this();
    slot->value = value;
    std::vector<JSValueRef> pending;
    {
        std::scoped_lock lock(mutex);
        link(slot.get());
        pending.swap(pendingRelease);
    }
    for (JSValueRef v : pending) JSValueUnprotect(ctx, v);
    return EngineAccess::fromSlot(std::move(slot));
}

JSValueRef EngineAccess::ref(const JSValue& value) {
    const auto& slot = value.slot_;
    if (!slot || !slot->core || !slot->core->alive()) return nullptr;
    return slot->value;
}

std::string describeException(JSContextRef ctx, JSValueRef exception, std::string_view fallbackURL) {
    std::string message = "(no message)";
    if (JSStringRef s = JSValueToStringCopy(ctx, exception, nullptr)) {
        message = toUTF8(s);
        JSStringRelease(s);
    }
    std::string url(fallbackURL);
    double line = 0;
    if (JSValueIsObject(ctx, exception)) {
        JSObjectRef object = JSValueToObject(ctx, exception, nullptr);
        JSValueRef u = JSObjectGetProperty(ctx, object, JSString("sourceURL").get(), nullptr);
        if (u && JSValueIsString(ctx, u)) {
            JSStringRef s = JSValueToStringCopy(ctx, u, nullptr);
            url = toUTF8(s);
            JSStringRelease(s);
        }
        JSValueRef l = JSObjectGetProperty(ctx, object, JSString("line").get(), nullptr);
        if (l && JSValueIsNumber(ctx, l)) line = JSValueToNumber(ctx, l, nullptr);
    }
    if (url.empty()) url = "<anonymous>";
    return "JS exception: " + message + " at " + url + ":" + NSString::stringWithFormat("%.0f", line);
}

void ContextCore::reportException(JSValueRef exceptionRef, std::string_view fallbackURL) {
    if (!alive() || !exceptionRef) return;
    JSValue value = wrap(exceptionRef);
    exception = value;
    JSContext::ExceptionHandler handler = exceptionHandler;
    if (!handler) {
        logError(describeException(ctx, exceptionRef, fallbackURL));
        return;
    }
    Ref<JSContext> context = owner.lock();
    runtime::callAtBoundary([&] { handler(context, value); }, "JS exception handler");
}

JSObjectRef ContextCore::makeFunction(NativeFunction fn) {
    JSObjectRef object = JSObjectMake(ctx, nativeFunctionClass(), new NativeFunction(std::move(fn)));
    if (functionPrototype) JSObjectSetPrototype(ctx, object, functionPrototype);
    return object;
}

JSObjectRef ContextCore::wrapperFor(const Ref<JSExport>& object) {
    if (auto it = wrappers.find(object.get()); it != wrappers.end()) return it->second;
    auto state = std::make_shared<ExportedObjectState>();
    state->object = object;
    runtime::callAtBoundary([&] { state->methods = object->exportedMethods(); }, "exported JS methods");
    JSObjectRef wrapper = JSObjectMake(ctx, exportedObjectClass(), new StateHolder(state));
    JSValueProtect(ctx, wrapper);
    wrappers.emplace(object.get(), wrapper);

    Weak<ContextCore> weakCore = weak_from_this();
    for (size_t index = 0; index < state->methods.size(); ++index) {
        const std::string& selector = state->methods[index].selector;
        std::string name = jsNameForSelector(selector);
        size_t arity = arityOf(selector);
        JSObjectRef fn = makeFunction([state, index, name, arity, weakCore](JSContextRef c, JSObjectRef, size_t argc,
                                                                            const JSValueRef argv[],
                                                                            JSValueRef* exception) -> JSValueRef {
            auto core = weakCore.lock();
            Ref<JSContext> context = core ? core->owner.lock() : nullptr;
            if (!core || !core->alive() || !context || !state->object || index >= state->methods.size()) {
                *exception = makeError(c, name + ": the native object is gone");
                return nullptr;
            }
            std::vector<JSValue> args;
            args.reserve(std::max(argc, arity));
            for (size_t i = 0; i < std::max(argc, arity); ++i)
                args.push_back(core->wrap(i < argc ? argv[i] : JSValueMakeUndefined(c)));
            // Copies: the call may tear the context down (and detach the method).
            Ref<JSExport> keep = state->object;
            auto call = state->methods[index].call;
            if (!call) return nullptr;
            JSValue result;
            CurrentContextScope scope(core->owner);
            auto what = runtime::callCatching([&] { result = call(*context, args); });
            if (what) {
                logError("exported JS method " + name + ": uncaught exception: " + *what);
                *exception = makeError(c, *what);
                return nullptr;
            }
            return EngineAccess::ref(result);
        });
        JSObjectSetProperty(ctx, wrapper, JSString(name).get(), fn, kJSPropertyAttributeNone, nullptr);
    }
    return wrapper;
}

JSValueRef ContextCore::fromValue(const Value& value, int depth) {
    if (depth > 256) return JSValueMakeNull(ctx);
    switch (value.kind()) {
        case Value::Kind::Null: return JSValueMakeNull(ctx);
        case Value::Kind::Bool: return JSValueMakeBoolean(ctx, value.boolValue());
        case Value::Kind::Integer:
        case Value::Kind::Double: return JSValueMakeNumber(ctx, value.doubleValue());
        case Value::Kind::String: return JSValueMakeString(ctx, JSString(*value.string()).get());
        case Value::Kind::Date: {
            JSValueRef ms = JSValueMakeNumber(ctx, std::floor(value.date()->timeIntervalSince1970() * 1000.0));
            return JSObjectMakeDate(ctx, 1, &ms, nullptr);
        }
        case Value::Kind::Array: {
            // Elements go in one at a time so each is reachable from the array at once.
            JSObjectRef array = JSObjectMakeArray(ctx, 0, nullptr, nullptr);
            unsigned index = 0;
            for (const Value& item : *value.array())
                JSObjectSetPropertyAtIndex(ctx, array, index++, fromValue(item, depth + 1), nullptr);
            return array;
        }
        case Value::Kind::Dictionary: {
            JSObjectRef object = JSObjectMake(ctx, nullptr, nullptr);
            for (const auto& [key, item] : *value.dictionary())
                JSObjectSetProperty(ctx, object, JSString(key).get(), fromValue(item, depth + 1),
                                    kJSPropertyAttributeNone, nullptr);
            return object;
        }
        case Value::Kind::Object:
            if (auto exported = std::dynamic_pointer_cast<JSExport>(value.object())) return wrapperFor(exported);
            return JSValueMakeNull(ctx);
        case Value::Kind::Data: return JSValueMakeNull(ctx);
    }
    return JSValueMakeNull(ctx);
}

Value ContextCore::toValueThroughJSON(JSValueRef value) {
    JSValueRef exceptionRef = nullptr;
    JSStringRef json = JSValueCreateJSONString(ctx, value, 0, &exceptionRef);
    if (exceptionRef) reportException(exceptionRef);
    if (!json) return Value();
    std::string text = toUTF8(json);
    JSStringRelease(json);
    auto parsed = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(text), NSJSONReadingAllowFragments);
    return parsed ? *parsed : Value();
}

void ContextCore::tearDown() {
    if (!ctx) return;
    if (entryDepth > 0) {
        tearDownPending = true;
        return;
    }
    tearDownPending = false;
    JSGlobalContextRef context = ctx;

    // Wrappers let go of their native objects (released below, once the
    // context reads as gone to them).
    std::vector<StateHolder> detached;
    for (auto& [native, wrapper] : wrappers) {
        if (auto* holder = static_cast<StateHolder*>(JSObjectGetPrivate(wrapper)); holder && *holder)
            detached.push_back(*holder);
        JSValueUnprotect(context, wrapper);
    }
    wrappers.clear();
    if (functionPrototype) JSValueUnprotect(context, functionPrototype);
    functionPrototype = nullptr;

    // Every value still held by native code now reads undefined.
    {
        std::scoped_lock lock(mutex);
        for (ValueSlot* slot = slots; slot;) {
            ValueSlot* next = slot->next;
            JSValueUnprotect(context, slot->value);
            slot->value = nullptr;
            slot->prev = slot->next = nullptr;
            slot = next;
        }
        slots = nullptr;
        for (JSValueRef v : pendingRelease) JSValueUnprotect(context, v);
        pendingRelease.clear();
    }
    ctx = nullptr;

    exception = JSValue();
    JSContext::ExceptionHandler handler = std::move(exceptionHandler);
    exceptionHandler = nullptr;
    std::vector<Ref<JSExport>> objects;
    std::vector<std::vector<JSExportMethod>> methods;
    for (auto& state : detached) {
        objects.push_back(std::move(state->object));
        methods.push_back(std::move(state->methods));
        state->object = nullptr;
        state->methods.clear();
    }
    runtime::callAtBoundary(
        [&] {
            methods.clear();
            objects.clear();
            handler = nullptr;
        },
        "JS context tear-down");

    JSGlobalContextRelease(context);
}

}  // namespace platform::web

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLATFORM_WEB_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(PLATFORM_WEB_ADDRESS_SANITIZER)
// The engine keeps some process-lifetime allocations it never frees (its
// context group lives as long as the process): not leaks of ours.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() {
    return "leak:libjavascriptcoregtk-4.1.so\n";
}
#endif
