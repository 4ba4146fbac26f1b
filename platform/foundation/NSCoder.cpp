#include "platform/foundation/NSCoder.h"

#include <algorithm>

#include "platform/foundation/NSClassRegistry.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"

namespace platform {

namespace {

const char* const kNullKey = "$null";
const char* const kDictKey = "$dict";
const char* const kClassKey = "$class";
const char* const kFieldsKey = "$fields";

Value nullNode() { return Value::dictionary({{kNullKey, true}}); }

void logDecodeFailure(const std::string& why) { log(LogLevel::Error, "NSKeyedUnarchiver: " + why); }

}  // namespace

// ---- archive nodes -------------------------------------------------------------

Value NSCoder::encodeNode(const Value& value, std::vector<const NSObject*>& encoding) {
    switch (value.kind()) {
    case Value::Kind::Null:
        return nullNode();
    case Value::Kind::Array: {
        Value::Array nodes;
        nodes.reserve(value.count());
        for (const Value& item : *value.array()) nodes.push_back(encodeNode(item, encoding));
        return Value(std::move(nodes));
    }
    case Value::Kind::Dictionary: {
        ValueDictionary nodes;
        for (const auto& [key, item] : *value.dictionary()) nodes.set(key, encodeNode(item, encoding));
        return Value::dictionary({{kDictKey, Value(std::move(nodes))}});
    }
    case Value::Kind::Object: {
        const Ref<NSObject> object = value.object();
        const auto* coding = dynamic_cast<const NSCoding*>(object.get());
        if (!coding) {
            log(LogLevel::Error, "NSKeyedArchiver: " + object->className() + " does not implement NSCoding; archived as null");
            return nullNode();
        }
        if (std::find(encoding.begin(), encoding.end(), object.get()) != encoding.end()) {
            log(LogLevel::Error, "NSKeyedArchiver: " + object->className() + " contains itself; the inner reference is archived as null");
            return nullNode();
        }
        encoding.push_back(object.get());
        NSCoder coder;
        coder.encoding_ = &encoding;
        runtime::callAtBoundary([&] { coding->encodeWithCoder(coder); },
                                "NSKeyedArchiver: encodeWithCoder of " + object->className());
        encoding.pop_back();
        return Value::dictionary({{kClassKey, object->className()}, {kFieldsKey, Value(std::move(coder.fields_))}});
    }
    default:  // property-list scalars stand for themselves
        return value;
    }
}

std::optional<Value> NSCoder::decodeNode(const Value& node) {
    switch (node.kind()) {
    case Value::Kind::Array: {
        Value::Array items;
        for (const Value& element : *node.array()) {
            // A bad element is skipped; the rest of the array stands.
            if (std::optional<Value> item = decodeNode(element)) items.push_back(std::move(*item));
        }
        return Value(std::move(items));
    }
    case Value::Kind::Dictionary:
        break;
    case Value::Kind::Null:
    case Value::Kind::Object:
        logDecodeFailure("unexpected node");
        return std::nullopt;
    default:
        return node;
    }
    if (node[kNullKey].isBool() && node.count() == 1) return Value();
    if (const ValueDictionary* entries = node[kDictKey].dictionary(); entries && node.count() == 1) {
        ValueDictionary dict;
        for (const auto& [key, element] : *entries) {
            if (std::optional<Value> item = decodeNode(element)) dict.set(key, std::move(*item));
        }
        return Value(std::move(dict));
    }
    const std::string* name = node[kClassKey].string();
    const ValueDictionary* fields = node[kFieldsKey].dictionary();
    if (!name || !fields || node.count() != 2) {
        logDecodeFailure("malformed node");
        return std::nullopt;
    }
    Class cls = NSClassFromString(*name);
    if (!cls) {
        logDecodeFailure("class \"" + shortenedForLog(*name) + "\" is not registered");
        return std::nullopt;
    }
    Ref<NSObject> object = cls.alloc();
    auto coding = std::dynamic_pointer_cast<NSCoding>(object);
    if (!coding) {
        logDecodeFailure("class \"" + shortenedForLog(*name) + "\" does not implement NSCoding");
        return std::nullopt;
    }
    NSCoder coder;
    coder.fields_ = *fields;
    if (std::optional<std::string> what = runtime::callCatching([&] { coding->initWithCoder(coder); })) {
        logDecodeFailure("initWithCoder of " + shortenedForLog(*name) +
                         ": uncaught exception: " + shortenedForLog(*what));
        return std::nullopt;
    }
    return Value(std::move(object));
}

// ---- encoding ------------------------------------------------------------------

void NSCoder::encodeObject(const Value& value, const std::string& key) {
    std::vector<const NSObject*> local;
    fields_.set(key, encodeNode(value, encoding_ ? *encoding_ : local));
}

void NSCoder::encodeBool(bool value, const std::string& key) { fields_.set(key, Value(value)); }
void NSCoder::encodeInt32(int32_t value, const std::string& key) { fields_.set(key, Value(value)); }
void NSCoder::encodeInt64(int64_t value, const std::string& key) { fields_.set(key, Value(static_cast<long long>(value))); }
void NSCoder::encodeInteger(int64_t value, const std::string& key) { encodeInt64(value, key); }
void NSCoder::encodeDouble(double value, const std::string& key) { fields_.set(key, Value(value)); }
void NSCoder::encodeFloat(float value, const std::string& key) { fields_.set(key, Value(value)); }

// ---- decoding ------------------------------------------------------------------

Value NSCoder::decodeObjectForKey(const std::string& key) const {
    const Value* node = fields_.find(key);
    if (!node) return Value();
    return decodeNode(*node).value_or(Value());
}

const Value* NSCoder::numberField(const std::string& key) const {
    const Value* node = fields_.find(key);
    return node && node->isNumber() ? node : nullptr;
}

bool NSCoder::decodeBoolForKey(const std::string& key) const {
    const Value* v = numberField(key);
    return v && v->boolValue();
}

int32_t NSCoder::decodeInt32ForKey(const std::string& key) const {
    const Value* v = numberField(key);
    return v ? v->intValue() : 0;
}

int64_t NSCoder::decodeInt64ForKey(const std::string& key) const {
    const Value* v = numberField(key);
    return v ? v->integerValue() : 0;
}

int64_t NSCoder::decodeIntegerForKey(const std::string& key) const { return decodeInt64ForKey(key); }

double NSCoder::decodeDoubleForKey(const std::string& key) const {
    const Value* v = numberField(key);
    return v ? v->doubleValue() : 0;
}

float NSCoder::decodeFloatForKey(const std::string& key) const {
    const Value* v = numberField(key);
    return v ? v->floatValue() : 0;
}

bool NSCoder::containsValueForKey(const std::string& key) const { return fields_.contains(key); }

}  // namespace platform
