// The dynamic value graph shared by JSON, property lists, user defaults,
// notification user info, archives and script conversion. Value semantics:
// a copy is independent (storage is shared until one side changes it).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/foundation/NSData.h"
#include "platform/runtime/NSDate.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class Value;

// Dictionary with string keys that keeps insertion order (parsing keeps
// document order), with hashed look-up. Setting an existing key keeps its place.
class ValueDictionary {
public:
    using Entry = std::pair<std::string, Value>;
    ValueDictionary();
    ValueDictionary(std::initializer_list<Entry> entries);
    ValueDictionary(const ValueDictionary&);
    ValueDictionary(ValueDictionary&&) noexcept;
    ValueDictionary& operator=(const ValueDictionary&);
    ValueDictionary& operator=(ValueDictionary&&) noexcept;
    ~ValueDictionary();

    const Value* find(std::string_view key) const;  // null when absent
    Value* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    void set(std::string key, Value value);
    bool remove(std::string_view key);
    // This being what a store that could not be read holds once it reads:
    // lays over it what changed meanwhile, as the changes would have done to
    // it. The keys `removed` meanwhile go, and those `set` meanwhile take
    // their values (a key the store lacks comes last, in the order set).
    // Writers that made a value only because its key looked absent (an
    // identifier, a first-launch date) wait for the store instead. True when
    // anything changed meanwhile (the store is then to be written).
    bool takeChangesMadeWhileUnread(const ValueDictionary& set, const std::set<std::string>& removed);
    size_t count() const;
    std::vector<std::string> keys() const;
    const std::vector<Entry>& entries() const;
    void clear();

    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class Value {
public:
    enum class Kind { Null, Bool, Integer, Double, String, Data, Date, Array, Dictionary, Object };
    using Array = std::vector<Value>;
    using Dictionary = ValueDictionary;

    Value();  // Null
    Value(std::nullptr_t);
    Value(bool b);
    Value(int i);
    Value(long i);
    Value(long long i);
    Value(unsigned int i);
    Value(unsigned long i);       // saturates above INT64_MAX
    Value(unsigned long long i);  // saturates above INT64_MAX
    Value(double d);
    Value(float f);
    Value(const char* s);  // null pointer → Null
    Value(std::string s);
    Value(std::string_view s);
    Value(const std::optional<std::string>& s);  // nullopt → Null
    Value(NSData d);
    Value(NSDate d);
    Value(Array a);
    Value(Dictionary d);
    Value(Ref<NSObject> o);  // null → Null
    template <class T, class = std::enable_if_t<std::is_base_of_v<NSObject, T> && !std::is_same_v<T, NSObject>>>
    Value(Ref<T> o) : Value(std::static_pointer_cast<NSObject>(std::move(o))) {}

    Value(const Value&);
    Value(Value&&) noexcept;
    Value& operator=(const Value&);
    Value& operator=(Value&&) noexcept;
    ~Value();

    // Value::array({1, "a"}), Value::dictionary({{"k", 1}}); empty: Value::array({}).
    // (No default arguments: a no-argument call would clash with the accessors.)
    static Value array(std::initializer_list<Value> items);
    static Value dictionary(std::initializer_list<ValueDictionary::Entry> entries);
    static const Value& null();  // a shared Null

    Kind kind() const;
    bool isNull() const { return kind() == Kind::Null; }
    bool isBool() const { return kind() == Kind::Bool; }
    bool isInteger() const { return kind() == Kind::Integer; }
    bool isDouble() const { return kind() == Kind::Double; }
    bool isNumber() const;  // Bool, Integer or Double
    bool isString() const { return kind() == Kind::String; }
    bool isData() const { return kind() == Kind::Data; }
    bool isDate() const { return kind() == Kind::Date; }
    bool isArray() const { return kind() == Kind::Array; }
    bool isDictionary() const { return kind() == Kind::Dictionary; }
    bool isObject() const { return kind() == Kind::Object; }

    // Numeric views. Numbers convert (double → integer truncates toward zero,
    // saturates, NaN → 0); strings parse with the C-locale string rules; any
    // other kind gives 0 / false.
    bool boolValue() const;
    int32_t intValue() const;
    int64_t integerValue() const;
    long long longLongValue() const { return integerValue(); }
    uint32_t unsignedIntValue() const;
    uint64_t unsignedLongLongValue() const;
    double doubleValue() const;
    float floatValue() const;
    // A string as itself; a number as "%@" renders it; anything else "".
    std::string stringValue() const;

    // Typed access: null pointer for another kind.
    const std::string* string() const;
    const NSData* data() const;
    const NSDate* date() const;
    const Array* array() const;
    Array* mutableArray();  // null for another kind
    const Dictionary* dictionary() const;
    Dictionary* mutableDictionary();  // null for another kind
    Ref<NSObject> object() const;     // null for another kind
    template <class T> Ref<T> object() const { return std::dynamic_pointer_cast<T>(object()); }

    // Dictionary access (objectForKey:). Null when absent or not a dictionary.
    const Value& operator[](std::string_view key) const;
    bool contains(std::string_view key) const;  // tells absent from NSNull
    // set/remove: a Null receiver first becomes an empty dictionary; on
    // another kind they do nothing.
    void set(std::string key, Value value);
    void remove(std::string_view key);
    std::vector<std::string> keys() const;

    // Array access. at() is Null out of range or for another kind; append on a
    // Null receiver first makes it an empty array.
    const Value& at(size_t index) const;
    void append(Value value);

    // Element count of an array or dictionary; 0 otherwise.
    size_t count() const;

    // Numbers compare by value across Bool, Integer and Double and hash alike;
    // strings by bytes; dictionaries ignore order; Objects by isEqual.
    bool isEqual(const Value& other) const;
    bool operator==(const Value& other) const { return isEqual(other); }
    size_t hash() const;

    // "%@" rendering: Null "(null)", Bool "1"/"0", Double "%.16g", NSDate and
    // NSData as described, arrays "(\n    a,\n    b\n)", dictionaries
    // "{\n    key = value;\n}".
    std::string description() const;

private:
    struct Rep;
    std::shared_ptr<Rep> rep_;  // null = Null
    Rep& mutableRep();
};

}  // namespace platform

using platform::Value;
using platform::ValueDictionary;
