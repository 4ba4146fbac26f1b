// A script value held for native code: protected from collection while held,
// copyable, tied to its context. Once the context is gone every query answers
// undefined, null or false.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class JSContext;
class JSExport;

namespace web {
struct ValueSlot;
struct EngineAccess;
}  // namespace web

class JSValue {
public:
    // Undefined, in no context.
    JSValue() = default;

    static JSValue valueWithBool(bool value, const Ref<JSContext>& context);
    static JSValue valueWithDouble(double value, const Ref<JSContext>& context);
    static JSValue valueWithInt32(int32_t value, const Ref<JSContext>& context);
    static JSValue valueWithString(const std::string& value, const Ref<JSContext>& context);
    static JSValue valueWithNullInContext(const Ref<JSContext>& context);
    static JSValue valueWithUndefinedInContext(const Ref<JSContext>& context);
    static JSValue valueWithNewObjectInContext(const Ref<JSContext>& context);
    // Dictionary → object (keys in order), array → array, date → Date,
    // string, number, bool, null as such; an exported native object → its
    // wrapper; data and other objects → null.
    static JSValue valueWithObject(const Value& value, const Ref<JSContext>& context);

    bool isUndefined() const;
    bool isNull() const;
    bool isBoolean() const;
    bool isNumber() const;
    bool isString() const;
    bool isObject() const;
    bool isArray() const;

    // Script truthiness.
    bool toBool() const;
    // Script ToNumber (NaN when it fails or the context is gone).
    double toDouble() const;
    // Script ToInt32 (wrapping; NaN and infinities give 0).
    int32_t toInt32() const;
    // Script String(v); nullopt for undefined and null (and when it throws).
    std::optional<std::string> toString() const;
    // Through JSON: functions and undefined dropped. Null when the value is
    // not a (non-array) object / not an array, or cannot be converted.
    Value toDictionary() const;
    Value toArray() const;
    // The native object behind an exported wrapper, or null.
    Ref<JSExport> exportedObject() const;
    template <class T> Ref<T> toObject() const { return std::dynamic_pointer_cast<T>(exportedObject()); }

    // Strict equality (===); false when either context is gone.
    bool isEqualToObject(const JSValue& other) const;
    // Calls the value as a function (this = undefined); undefined after an
    // exception, which goes to the context's exception handler.
    JSValue callWithArguments(const std::vector<JSValue>& arguments) const;
    // Calls the named property with the value as `this`.
    JSValue invokeMethod(const std::string& name, const std::vector<JSValue>& arguments) const;
    JSValue valueForProperty(const std::string& name) const;
    void setValue(const JSValue& value, const std::string& property) const;
    void setValue(const Value& value, const std::string& property) const;

    // Null once the context is gone.
    Ref<JSContext> context() const;

private:
    friend struct web::EngineAccess;
    explicit JSValue(std::shared_ptr<web::ValueSlot> slot) : slot_(std::move(slot)) {}

    std::shared_ptr<web::ValueSlot> slot_;
};

}  // namespace platform

using platform::JSValue;
