#include "platform/foundation/NSJSONSerialization.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace platform {

namespace {

using ordered_json = nlohmann::ordered_json;

Ref<NSError> jsonError(const std::string& message) {
    return NSError::errorWithDomain(NSCocoaErrorDomain, NSPropertyListReadCorruptError,
                                    Value::dictionary({{"NSDebugDescription", message}}));
}

// Builds the Value directly from parse events: document order is kept, the
// nesting lives on an explicit stack and its depth is bounded.
class Builder : public nlohmann::json_sax<ordered_json> {
public:
    std::optional<Value> root;
    std::string failure;

    bool null() override { return add(Value()); }
    bool boolean(bool v) override { return add(Value(v)); }
    bool number_integer(number_integer_t v) override { return add(Value(static_cast<int64_t>(v))); }
    bool number_unsigned(number_unsigned_t v) override {
        if (v > static_cast<uint64_t>(INT64_MAX)) return add(Value(static_cast<double>(v)));
        return add(Value(static_cast<int64_t>(v)));
    }
    bool number_float(number_float_t v, const string_t&) override {
        if (!std::isfinite(v)) return fail("Number out of range.");
        return add(Value(v));
    }
    bool string(string_t& v) override { return add(Value(std::move(v))); }
    bool binary(binary_t&) override { return fail("Unexpected binary value."); }
    bool start_object(std::size_t) override { return open(Value(Value::Dictionary())); }
    bool key(string_t& k) override {
        stack_.back().key = std::move(k);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Value(Value::Array())); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) override {
        if (failure.empty()) failure = "JSON text is malformed around byte " + std::to_string(position) + ": " + e.what();
        return false;
    }

private:
    struct Frame {
        Value container;
        std::string key;
    };

    bool fail(std::string message) {
        failure = std::move(message);
        return false;
    }
    bool open(Value container) {
        if (stack_.size() >= NSJSONSerialization::kMaximumDepth) return fail("JSON text is nested too deeply.");
        stack_.push_back(Frame{std::move(container), {}});
        return true;
    }
    bool close() {
        Value done = std::move(stack_.back().container);
        stack_.pop_back();
        return add(std::move(done));
    }
    bool add(Value v) {
        if (stack_.empty()) {
            root = std::move(v);
            return true;
        }
        Frame& top = stack_.back();
        if (top.container.isArray()) top.container.append(std::move(v));
        else top.container.set(std::move(top.key), std::move(v));
        return true;
    }
    std::vector<Frame> stack_;
};

// Converts for writing; false with a message for anything JSON cannot hold.
bool toJson(const Value& v, ordered_json& out, size_t depth, std::string& failure) {
    if (depth > NSJSONSerialization::kMaximumDepth) {
        failure = "Value is nested too deeply for JSON.";
        return false;
    }
    switch (v.kind()) {
    case Value::Kind::Null: out = nullptr; return true;
    case Value::Kind::Bool: out = v.boolValue(); return true;
    case Value::Kind::Integer: out = v.integerValue(); return true;
    case Value::Kind::Double: {
        const double d = v.doubleValue();
        if (!std::isfinite(d)) {
            failure = "Invalid number value (NaN or infinity) in JSON write.";
            return false;
        }
        // Integral values below 2^53 are written as integers ("320", not "320.0").
        if (std::trunc(d) == d && std::fabs(d) < 9007199254740992.0) out = static_cast<int64_t>(d);
        else out = d;
        return true;
    }
    case Value::Kind::String: out = *v.string(); return true;
    case Value::Kind::Array: {
        out = ordered_json::array();
        for (const Value& item : *v.array()) {
            ordered_json j;
            if (!toJson(item, j, depth + 1, failure)) return false;
            out.push_back(std::move(j));
        }
        return true;
    }
    case Value::Kind::Dictionary: {
        out = ordered_json::object();
        // Keys are unique already: append to the ordered map's storage
        // directly (its own insert searches linearly for duplicates).
        auto& entries = static_cast<std::vector<std::pair<const std::string, ordered_json>>&>(
            out.get_ref<ordered_json::object_t&>());
        entries.reserve(v.count());
        for (const auto& [key, item] : *v.dictionary()) {
            ordered_json j;
            if (!toJson(item, j, depth + 1, failure)) return false;
            entries.emplace_back(key, std::move(j));
        }
        return true;
    }
    case Value::Kind::Data: failure = "Invalid type in JSON write (data)."; return false;
    case Value::Kind::Date: failure = "Invalid type in JSON write (date)."; return false;
    case Value::Kind::Object:
        failure = "Invalid type in JSON write (" + v.object()->className() + ").";
        return false;
    }
    return false;
}

}  // namespace

std::optional<Value> NSJSONSerialization::JSONObjectWithData(const NSData& data, unsigned long options,
                                                             Ref<NSError>* error) {
    auto failWith = [&](const std::string& message) -> std::optional<Value> {
        if (error) *error = jsonError(message);
        return std::nullopt;
    };
    if (data.length() == 0) return failWith("No JSON text: the data is empty.");
    Builder builder;
    const std::string_view text = data.stringView();
    bool ok = false;
    try {
        ok = ordered_json::sax_parse(text.begin(), text.end(), &builder);
    } catch (const std::exception& e) {
        // Not expected with a SAX handler, but hostile input must never escape as an exception.
        return failWith(std::string("JSON text is malformed: ") + e.what());
    }
    if (!ok || !builder.root) return failWith(builder.failure.empty() ? "JSON text is malformed." : builder.failure);
    if (!(options & NSJSONReadingAllowFragments) && !builder.root->isArray() && !builder.root->isDictionary())
        return failWith("JSON text did not start with array or object and option to allow fragments not set.");
    return std::move(builder.root);
}

std::optional<NSData> NSJSONSerialization::dataWithJSONObject(const Value& object, unsigned long options,
                                                              Ref<NSError>* error) {
    auto failWith = [&](const std::string& message) -> std::optional<NSData> {
        if (error) *error = jsonError(message);
        return std::nullopt;
    };
    if (!(options & NSJSONWritingFragmentsAllowed) && !object.isArray() && !object.isDictionary())
        return failWith("Invalid top-level type in JSON write.");
    ordered_json j;
    std::string failure;
    if (!toJson(object, j, 0, failure)) return failWith(failure);
    try {
        // Invalid UTF-8 in a string becomes U+FFFD rather than losing the whole document.
        const std::string text = j.dump((options & NSJSONWritingPrettyPrinted) ? 2 : -1, ' ', false,
                                        ordered_json::error_handler_t::replace);
        return NSData::dataWithString(text);
    } catch (const std::exception& e) {
        return failWith(std::string("JSON write failed: ") + e.what());
    }
}

bool NSJSONSerialization::isValidJSONObject(const Value& object) {
    if (!object.isArray() && !object.isDictionary()) return false;
    ordered_json j;
    std::string failure;
    return toJson(object, j, 0, failure);
}

}  // namespace platform
