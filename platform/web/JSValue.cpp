#include "platform/web/JSValue.h"

#include <cmath>
#include <limits>
#include <optional>

#include "platform/web/JSContext.h"
#include "platform/web/JSEngine.h"

namespace platform {

using web::ContextCore;
using web::EngineAccess;
using web::EngineEntry;
using web::JSString;

namespace {

// The live core of a value and its engine value, or nulls once the context is gone.
struct Live {
    ContextCore* core = nullptr;
    JSValueRef value = nullptr;
    explicit operator bool() const { return value != nullptr; }
    JSContextRef ctx() const { return core->ctx; }
};

Live live(const JSValue& v) {
    JSValueRef ref = EngineAccess::ref(v);
    if (!ref) return {};
    return {EngineAccess::slot(v)->core.get(), ref};
}

std::shared_ptr<ContextCore> liveCore(const Ref<JSContext>& context) {
    if (!context || !context->isValid()) return nullptr;
    return EngineAccess::core(*context);
}

JSValue make(const Ref<JSContext>& context, JSValueRef (*fn)(JSContextRef)) {
    auto core = liveCore(context);
    return core ? core->wrap(fn(core->ctx)) : JSValue();
}

JSValue call(const Live& l, JSObjectRef function, JSObjectRef thisObject, const std::vector<JSValue>& arguments) {
    auto core = l.core->shared_from_this();
    std::vector<JSValueRef> argv;
    argv.reserve(arguments.size());
    for (const JSValue& a : arguments) {
        JSValueRef ref = EngineAccess::refFor(a, *core);
        argv.push_back(ref ? ref : JSValueMakeUndefined(core->ctx));
    }
    EngineEntry entry(core);
    if (!entry.admitted()) return JSValue();
    JSValueRef exception = nullptr;
    JSValueRef result =
        JSObjectCallAsFunction(core->ctx, function, thisObject, argv.size(), argv.data(), &exception);
    if (exception) {
        core->reportException(exception);
        return JSValue();
    }
    return core->wrap(result);
}

}  // namespace

// ---- makers ------------------------------------------------------------------------------------

JSValue JSValue::valueWithBool(bool value, const Ref<JSContext>& context) {
    auto core = liveCore(context);
    return core ? core->wrap(JSValueMakeBoolean(core->ctx, value)) : JSValue();
}

JSValue JSValue::valueWithDouble(double value, const Ref<JSContext>& context) {
    auto core = liveCore(context);
    return core ? core->wrap(JSValueMakeNumber(core->ctx, value)) : JSValue();
}

JSValue JSValue::valueWithInt32(int32_t value, const Ref<JSContext>& context) {
    return valueWithDouble(value, context);
}

JSValue JSValue::valueWithString(const std::string& value, const Ref<JSContext>& context) {
    auto core = liveCore(context);
    return core ? core->wrap(JSValueMakeString(core->ctx, JSString(value).get())) : JSValue();
}

JSValue JSValue::valueWithNullInContext(const Ref<JSContext>& context) { return make(context, JSValueMakeNull); }

JSValue JSValue::valueWithUndefinedInContext(const Ref<JSContext>& context) {
    return make(context, JSValueMakeUndefined);
}

JSValue JSValue::valueWithNewObjectInContext(const Ref<JSContext>& context) {
    auto core = liveCore(context);
    return core ? core->wrap(JSObjectMake(core->ctx, nullptr, nullptr)) : JSValue();
}

JSValue JSValue::valueWithObject(const Value& value, const Ref<JSContext>& context) {
    auto core = liveCore(context);
    if (!core) return JSValue();
    // Setting properties may run page script (setters the page defined).
    EngineEntry entry(core);
    return entry.admitted() ? core->wrap(core->fromValue(value)) : JSValue();
}

// ---- queries -----------------------------------------------------------------------------------

bool JSValue::isUndefined() const {
    Live l = live(*this);
    return !l || JSValueIsUndefined(l.ctx(), l.value);
}

bool JSValue::isNull() const {
    Live l = live(*this);
    return l && JSValueIsNull(l.ctx(), l.value);
}

bool JSValue::isBoolean() const {
    Live l = live(*this);
    return l && JSValueIsBoolean(l.ctx(), l.value);
}

bool JSValue::isNumber() const {
    Live l = live(*this);
    return l && JSValueIsNumber(l.ctx(), l.value);
}

bool JSValue::isString() const {
    Live l = live(*this);
    return l && JSValueIsString(l.ctx(), l.value);
}

bool JSValue::isObject() const {
    Live l = live(*this);
    return l && JSValueIsObject(l.ctx(), l.value);
}

bool JSValue::isArray() const {
    Live l = live(*this);
    return l && JSValueIsArray(l.ctx(), l.value);
}

bool JSValue::toBool() const {
    Live l = live(*this);
    return l && JSValueToBoolean(l.ctx(), l.value);
}

double JSValue::toDouble() const {
    Live l = live(*this);
    if (!l) return std::numeric_limits<double>::quiet_NaN();
    // Only objects may run page script (valueOf) when converted.
    std::optional<EngineEntry> entry;
    if (JSValueIsObject(l.ctx(), l.value)) entry.emplace(l.core->shared_from_this());
    if (entry && !entry->admitted()) return std::numeric_limits<double>::quiet_NaN();
    JSValueRef exception = nullptr;
    double d = JSValueToNumber(l.ctx(), l.value, &exception);
    if (exception) {
        l.core->reportException(exception);
        return std::numeric_limits<double>::quiet_NaN();
    }
    return d;
}

int32_t JSValue::toInt32() const {
    double d = toDouble();
    if (!std::isfinite(d)) return 0;
    // Script ToInt32: truncate, then wrap modulo 2^32 into the signed range.
    double m = std::fmod(std::trunc(d), 4294967296.0);
    if (m < 0) m += 4294967296.0;
    if (m >= 2147483648.0) m -= 4294967296.0;
    return static_cast<int32_t>(m);
}

std::optional<std::string> JSValue::toString() const {
    Live l = live(*this);
    if (!l || JSValueIsUndefined(l.ctx(), l.value) || JSValueIsNull(l.ctx(), l.value)) return std::nullopt;
    // Only objects may run page script (toString) when converted.
    std::optional<EngineEntry> entry;
    if (JSValueIsObject(l.ctx(), l.value)) entry.emplace(l.core->shared_from_this());
    if (entry && !entry->admitted()) return std::nullopt;
    JSValueRef exception = nullptr;
    JSStringRef s = JSValueToStringCopy(l.ctx(), l.value, &exception);
    if (exception || !s) {
        if (s) JSStringRelease(s);
        if (exception) l.core->reportException(exception);
        return std::nullopt;
    }
    std::string out = web::toUTF8(s);
    JSStringRelease(s);
    return out;
}

Value JSValue::toDictionary() const {
    Live l = live(*this);
    if (!l || !JSValueIsObject(l.ctx(), l.value) || JSValueIsArray(l.ctx(), l.value)) return Value();
    Value v = l.core->toValueThroughJSON(l.value);
    return v.isDictionary() ? v : Value();
}

Value JSValue::toArray() const {
    Live l = live(*this);
    if (!l || !JSValueIsArray(l.ctx(), l.value)) return Value();
    Value v = l.core->toValueThroughJSON(l.value);
    return v.isArray() ? v : Value();
}

Ref<JSExport> JSValue::exportedObject() const {
    Live l = live(*this);
    return l ? web::exportedObjectOf(l.ctx(), l.value) : nullptr;
}

bool JSValue::isEqualToObject(const JSValue& other) const {
    Live a = live(*this);
    Live b = live(other);
    return a && b && a.core->group == b.core->group && JSValueIsStrictEqual(a.ctx(), a.value, b.value);
}

JSValue JSValue::callWithArguments(const std::vector<JSValue>& arguments) const {
    Live l = live(*this);
    if (!l) return JSValue();
    // Reporting a value that is no function makes a page's TypeError too.
    EngineEntry entry(l.core->shared_from_this());
    if (!entry.admitted()) return JSValue();
    JSObjectRef function = JSValueIsObject(l.ctx(), l.value) ? JSValueToObject(l.ctx(), l.value, nullptr) : nullptr;
    if (!function || !JSObjectIsFunction(l.ctx(), function)) {
        l.core->reportException(web::makeError(l.ctx(), "value is not a function", "TypeError"));
        return JSValue();
    }
    return call(l, function, nullptr, arguments);
}

JSValue JSValue::invokeMethod(const std::string& name, const std::vector<JSValue>& arguments) const {
    Live l = live(*this);
    if (!l || !JSValueIsObject(l.ctx(), l.value)) return JSValue();
    EngineEntry entry(l.core->shared_from_this());
    if (!entry.admitted()) return JSValue();
    JSObjectRef object = JSValueToObject(l.ctx(), l.value, nullptr);
    JSValueRef exception = nullptr;
    JSValueRef property = JSObjectGetProperty(l.ctx(), object, web::JSPropertyName(name).get(), &exception);
    if (exception) {
        l.core->reportException(exception);
        return JSValue();
    }
    JSObjectRef function = JSValueIsObject(l.ctx(), property) ? JSValueToObject(l.ctx(), property, nullptr) : nullptr;
    if (!function || !JSObjectIsFunction(l.ctx(), function)) {
        l.core->reportException(web::makeError(l.ctx(), name + " is not a function", "TypeError"));
        return JSValue();
    }
    return call(l, function, object, arguments);
}

JSValue JSValue::valueForProperty(const std::string& name) const {
    Live l = live(*this);
    if (!l || JSValueIsUndefined(l.ctx(), l.value) || JSValueIsNull(l.ctx(), l.value)) return JSValue();
    EngineEntry entry(l.core->shared_from_this());
    if (!entry.admitted()) return JSValue();
    JSValueRef exception = nullptr;
    JSObjectRef object = JSValueToObject(l.ctx(), l.value, &exception);
    JSValueRef property = object ? JSObjectGetProperty(l.ctx(), object, web::JSPropertyName(name).get(), &exception) : nullptr;
    if (exception) {
        l.core->reportException(exception);
        return JSValue();
    }
    return l.core->wrap(property);
}

void JSValue::setValue(const JSValue& value, const std::string& property) const {
    Live l = live(*this);
    if (!l || !JSValueIsObject(l.ctx(), l.value)) return;
    EngineEntry entry(l.core->shared_from_this());
    if (!entry.admitted()) return;
    JSValueRef ref = EngineAccess::refFor(value, *l.core);
    JSValueRef exception = nullptr;
    JSObjectSetProperty(l.ctx(), JSValueToObject(l.ctx(), l.value, nullptr), web::JSPropertyName(property).get(),
                        ref ? ref : JSValueMakeUndefined(l.ctx()), kJSPropertyAttributeNone, &exception);
    if (exception) l.core->reportException(exception);
}

void JSValue::setValue(const Value& value, const std::string& property) const {
    Live l = live(*this);
    if (!l || !JSValueIsObject(l.ctx(), l.value)) return;
    EngineEntry entry(l.core->shared_from_this());
    if (!entry.admitted()) return;
    JSValueRef exception = nullptr;
    JSObjectSetProperty(l.ctx(), JSValueToObject(l.ctx(), l.value, nullptr), web::JSPropertyName(property).get(),
                        l.core->fromValue(value), kJSPropertyAttributeNone, &exception);
    if (exception) l.core->reportException(exception);
}

Ref<JSContext> JSValue::context() const {
    Live l = live(*this);
    return l ? l.core->owner.lock() : nullptr;
}

}  // namespace platform
