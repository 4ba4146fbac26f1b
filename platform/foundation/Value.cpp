#include "platform/foundation/Value.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <unordered_map>
#include <variant>

#include "platform/foundation/NSString.h"
#include "platform/runtime/SaturatingCast.h"

namespace platform {

// ---------------------------------------------------------------------------
// ValueDictionary

namespace {
struct KeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view k) const { return std::hash<std::string_view>{}(k); }
};
}  // namespace

struct ValueDictionary::Impl {
    std::vector<Entry> entries;
    // key → position in entries; built only once the dictionary is large
    // enough for hashing to beat a scan (most are small).
    std::unordered_map<std::string, size_t, KeyHash, std::equal_to<>> index;
    static constexpr size_t kIndexThreshold = 8;

    std::optional<size_t> position(std::string_view key) const {
        if (!index.empty()) {
            auto it = index.find(key);
            if (it == index.end()) return std::nullopt;
            return it->second;
        }
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].first == key) return i;
        return std::nullopt;
    }
};

ValueDictionary::ValueDictionary() : impl_(std::make_unique<Impl>()) {}
ValueDictionary::ValueDictionary(std::initializer_list<Entry> entries) : ValueDictionary() {
    for (const auto& e : entries) set(e.first, e.second);
}
ValueDictionary::ValueDictionary(const ValueDictionary& other) : impl_(std::make_unique<Impl>(*other.impl_)) {}
ValueDictionary::ValueDictionary(ValueDictionary&& other) noexcept : impl_(std::move(other.impl_)) {
    other.impl_ = nullptr;
}
ValueDictionary& ValueDictionary::operator=(const ValueDictionary& other) {
    if (this != &other) impl_ = std::make_unique<Impl>(*other.impl_);
    return *this;
}
ValueDictionary& ValueDictionary::operator=(ValueDictionary&& other) noexcept {
    std::swap(impl_, other.impl_);
    return *this;
}
ValueDictionary::~ValueDictionary() = default;

// A moved-from dictionary has no Impl; it behaves as empty and is revived on change.
static const std::vector<ValueDictionary::Entry>& emptyEntries() {
    // Never destroyed: other threads may use it during exit.
    static const std::vector<ValueDictionary::Entry>& empty = *new std::vector<ValueDictionary::Entry>();
    return empty;
}

const Value* ValueDictionary::find(std::string_view key) const {
    if (!impl_) return nullptr;
    const auto pos = impl_->position(key);
    return pos ? &impl_->entries[*pos].second : nullptr;
}

Value* ValueDictionary::find(std::string_view key) {
    return const_cast<Value*>(static_cast<const ValueDictionary*>(this)->find(key));
}

void ValueDictionary::set(std::string key, Value value) {
    if (!impl_) impl_ = std::make_unique<Impl>();
    if (const auto pos = impl_->position(key)) {
        impl_->entries[*pos].second = std::move(value);
        return;
    }
    const size_t at = impl_->entries.size();
    if (!impl_->index.empty()) {
        impl_->index.emplace(key, at);
    } else if (at + 1 > Impl::kIndexThreshold) {
        for (size_t i = 0; i < at; ++i) impl_->index.emplace(impl_->entries[i].first, i);
        impl_->index.emplace(key, at);
    }
    impl_->entries.emplace_back(std::move(key), std::move(value));
}

bool ValueDictionary::remove(std::string_view key) {
    if (!impl_) return false;
    const auto found = impl_->position(key);
    if (!found) return false;
    const size_t pos = *found;
    impl_->entries.erase(impl_->entries.begin() + static_cast<std::ptrdiff_t>(pos));
    if (!impl_->index.empty()) {
        impl_->index.erase(impl_->index.find(key));
        // Shift the later positions by walking the index (no re-hashing).
        for (auto& [k, p] : impl_->index)
            if (p > pos) --p;
    }
    return true;
}

size_t ValueDictionary::count() const { return impl_ ? impl_->entries.size() : 0; }

std::vector<std::string> ValueDictionary::keys() const {
    std::vector<std::string> out;
    out.reserve(count());
    for (const auto& e : entries()) out.push_back(e.first);
    return out;
}

const std::vector<ValueDictionary::Entry>& ValueDictionary::entries() const {
    return impl_ ? impl_->entries : emptyEntries();
}

bool ValueDictionary::takeChangesMadeWhileUnread(const ValueDictionary& set, const std::set<std::string>& removed) {
    for (const std::string& key : removed) remove(key);
    for (const auto& [key, value] : set) this->set(key, value);
    return set.count() > 0 || !removed.empty();
}

void ValueDictionary::clear() {
    if (!impl_) return;
    impl_->entries.clear();
    impl_->index.clear();
}

std::vector<ValueDictionary::Entry>::const_iterator ValueDictionary::begin() const { return entries().begin(); }
std::vector<ValueDictionary::Entry>::const_iterator ValueDictionary::end() const { return entries().end(); }

// ---------------------------------------------------------------------------
// Value

struct Value::Rep {
    template <class T> explicit Rep(T&& x) : v(std::forward<T>(x)) {}
    // Index order matches Kind (Null has no Rep).
    std::variant<std::monostate, bool, int64_t, double, std::string, NSData, NSDate, Array, Dictionary, Ref<NSObject>> v;
};

Value::Value() = default;
Value::Value(std::nullptr_t) {}
Value::Value(bool b) : rep_(std::make_shared<Rep>(b)) {}
Value::Value(int i) : rep_(std::make_shared<Rep>(static_cast<int64_t>(i))) {}
Value::Value(long i) : rep_(std::make_shared<Rep>(static_cast<int64_t>(i))) {}
Value::Value(long long i) : rep_(std::make_shared<Rep>(static_cast<int64_t>(i))) {}
Value::Value(unsigned int i) : rep_(std::make_shared<Rep>(static_cast<int64_t>(i))) {}
Value::Value(unsigned long i) : Value(static_cast<unsigned long long>(i)) {}
Value::Value(unsigned long long i)
    : rep_(std::make_shared<Rep>(i > static_cast<unsigned long long>(std::numeric_limits<int64_t>::max())
                       ? std::numeric_limits<int64_t>::max()
                       : static_cast<int64_t>(i))) {}
Value::Value(double d) : rep_(std::make_shared<Rep>(d)) {}
Value::Value(float f) : rep_(std::make_shared<Rep>(static_cast<double>(f))) {}
Value::Value(const char* s) {
    if (s) rep_ = std::make_shared<Rep>(std::string(s));
}
Value::Value(std::string s) : rep_(std::make_shared<Rep>(std::move(s))) {}
Value::Value(std::string_view s) : rep_(std::make_shared<Rep>(std::string(s))) {}
Value::Value(const std::optional<std::string>& s) {
    if (s) rep_ = std::make_shared<Rep>(*s);
}
Value::Value(NSData d) : rep_(std::make_shared<Rep>(std::move(d))) {}
Value::Value(NSDate d) : rep_(std::make_shared<Rep>(d)) {}
Value::Value(Array a) : rep_(std::make_shared<Rep>(std::move(a))) {}
Value::Value(Dictionary d) : rep_(std::make_shared<Rep>(std::move(d))) {}
Value::Value(Ref<NSObject> o) {
    if (o) rep_ = std::make_shared<Rep>(std::move(o));
}

Value::Value(const Value&) = default;
Value::Value(Value&& other) noexcept = default;
Value& Value::operator=(const Value&) = default;
Value& Value::operator=(Value&&) noexcept = default;
Value::~Value() = default;

Value Value::array(std::initializer_list<Value> items) { return Value(Array(items)); }
Value Value::dictionary(std::initializer_list<ValueDictionary::Entry> entries) { return Value(Dictionary(entries)); }

const Value& Value::null() {
    // Never destroyed: other threads may use it during exit.
    static const Value& n = *new Value();
    return n;
}

Value::Kind Value::kind() const { return rep_ ? static_cast<Kind>(rep_->v.index()) : Kind::Null; }

bool Value::isNumber() const {
    const Kind k = kind();
    return k == Kind::Bool || k == Kind::Integer || k == Kind::Double;
}

Value::Rep& Value::mutableRep() {
    // Copy-on-write: detach before changing storage another Value shares.
    if (rep_.use_count() > 1) rep_ = std::make_shared<Rep>(rep_->v);
    return *rep_;
}

// --- numeric views ---------------------------------------------------------

bool Value::boolValue() const {
    switch (kind()) {
    case Kind::Bool: return std::get<bool>(rep_->v);
    case Kind::Integer: return std::get<int64_t>(rep_->v) != 0;
    case Kind::Double: return std::get<double>(rep_->v) != 0;  // NaN counts as true, as on the platform
    case Kind::String: return NSString::boolValue(std::get<std::string>(rep_->v));
    default: return false;
    }
}

int64_t Value::integerValue() const {
    switch (kind()) {
    case Kind::Bool: return std::get<bool>(rep_->v) ? 1 : 0;
    case Kind::Integer: return std::get<int64_t>(rep_->v);
    case Kind::Double: return saturatingCast<int64_t>(std::get<double>(rep_->v));
    case Kind::String: return NSString::integerValue(std::get<std::string>(rep_->v));
    default: return 0;
    }
}

int32_t Value::intValue() const {
    if (kind() == Kind::Double) return saturatingCast<int32_t>(std::get<double>(rep_->v));
    const int64_t v = integerValue();
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

uint32_t Value::unsignedIntValue() const {
    if (kind() == Kind::Double) return saturatingCast<uint32_t>(std::get<double>(rep_->v));
    const int64_t v = integerValue();
    if (v < 0) return 0;
    if (v > std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(v);
}

uint64_t Value::unsignedLongLongValue() const {
    if (kind() == Kind::Double) return saturatingCast<uint64_t>(std::get<double>(rep_->v));
    const int64_t v = integerValue();
    return v < 0 ? 0 : static_cast<uint64_t>(v);
}

double Value::doubleValue() const {
    switch (kind()) {
    case Kind::Bool: return std::get<bool>(rep_->v) ? 1.0 : 0.0;
    case Kind::Integer: return static_cast<double>(std::get<int64_t>(rep_->v));
    case Kind::Double: return std::get<double>(rep_->v);
    case Kind::String: return NSString::doubleValue(std::get<std::string>(rep_->v));
    default: return 0;
    }
}

float Value::floatValue() const { return static_cast<float>(doubleValue()); }

std::string Value::stringValue() const {
    if (const std::string* s = string()) return *s;
    if (isNumber()) return description();
    return "";
}

// --- typed access ----------------------------------------------------------

const std::string* Value::string() const { return rep_ ? std::get_if<std::string>(&rep_->v) : nullptr; }
const NSData* Value::data() const { return rep_ ? std::get_if<NSData>(&rep_->v) : nullptr; }
const NSDate* Value::date() const { return rep_ ? std::get_if<NSDate>(&rep_->v) : nullptr; }
const Value::Array* Value::array() const { return rep_ ? std::get_if<Array>(&rep_->v) : nullptr; }
const Value::Dictionary* Value::dictionary() const { return rep_ ? std::get_if<Dictionary>(&rep_->v) : nullptr; }

Value::Array* Value::mutableArray() {
    if (kind() != Kind::Array) return nullptr;
    return &std::get<Array>(mutableRep().v);
}

Value::Dictionary* Value::mutableDictionary() {
    if (kind() != Kind::Dictionary) return nullptr;
    return &std::get<Dictionary>(mutableRep().v);
}

Ref<NSObject> Value::object() const {
    if (kind() != Kind::Object) return nullptr;
    return std::get<Ref<NSObject>>(rep_->v);
}

// --- collections -----------------------------------------------------------

const Value& Value::operator[](std::string_view key) const {
    const Dictionary* d = dictionary();
    const Value* v = d ? d->find(key) : nullptr;
    return v ? *v : null();
}

bool Value::contains(std::string_view key) const {
    const Dictionary* d = dictionary();
    return d && d->contains(key);
}

void Value::set(std::string key, Value value) {
    if (isNull()) *this = Value(Dictionary());
    if (Dictionary* d = mutableDictionary()) d->set(std::move(key), std::move(value));
}

void Value::remove(std::string_view key) {
    if (!contains(key)) return;  // no needless copy of shared storage
    mutableDictionary()->remove(key);
}

std::vector<std::string> Value::keys() const {
    const Dictionary* d = dictionary();
    return d ? d->keys() : std::vector<std::string>();
}

const Value& Value::at(size_t index) const {
    const Array* a = array();
    return a && index < a->size() ? (*a)[index] : null();
}

void Value::append(Value value) {
    if (isNull()) *this = Value(Array());
    if (Array* a = mutableArray()) a->push_back(std::move(value));
}

size_t Value::count() const {
    if (const Array* a = array()) return a->size();
    if (const Dictionary* d = dictionary()) return d->count();
    return 0;
}

// --- equality and hash -----------------------------------------------------

namespace {

// A number as an exact integer when it is one (so 1, 1.0 and true agree).
std::optional<int64_t> exactInteger(const Value& v) {
    switch (v.kind()) {
    case Value::Kind::Bool:
    case Value::Kind::Integer: return v.integerValue();
    case Value::Kind::Double: {
        const double d = v.doubleValue();
        // [-2^63, 2^63) holds exactly the doubles that convert without overflow.
        if (std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return static_cast<int64_t>(d);
        return std::nullopt;
    }
    default: return std::nullopt;
    }
}

size_t mix(size_t h) {
    // splitmix64 finaliser: spreads nearby integers over the table.
    uint64_t x = h;
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return static_cast<size_t>(x);
}

}  // namespace

bool Value::isEqual(const Value& other) const {
    if (rep_ == other.rep_) return true;
    const Kind a = kind();
    const Kind b = other.kind();
    if (isNumber() && other.isNumber()) {
        const auto ia = exactInteger(*this);
        const auto ib = exactInteger(other);
        if (ia && ib) return *ia == *ib;
        if (ia || ib) return false;  // an integer never equals a fractional or huge double exactly
        return doubleValue() == other.doubleValue();
    }
    if (a != b) return false;
    switch (a) {
    case Kind::Null: return true;
    case Kind::String: return *string() == *other.string();
    case Kind::Data: return *data() == *other.data();
    case Kind::Date: return *date() == *other.date();
    case Kind::Array: {
        const Array& x = *array();
        const Array& y = *other.array();
        if (x.size() != y.size()) return false;
        for (size_t i = 0; i < x.size(); ++i)
            if (!x[i].isEqual(y[i])) return false;
        return true;
    }
    case Kind::Dictionary: {
        const Dictionary& x = *dictionary();
        const Dictionary& y = *other.dictionary();
        if (x.count() != y.count()) return false;
        for (const auto& [k, v] : x) {
            const Value* w = y.find(k);
            if (!w || !v.isEqual(*w)) return false;
        }
        return true;
    }
    case Kind::Object: return object()->isEqual(*other.object());
    default: return false;
    }
}

size_t Value::hash() const {
    switch (kind()) {
    case Kind::Null: return 0x6e756c6cULL;
    case Kind::Bool:
    case Kind::Integer:
    case Kind::Double: {
        if (const auto i = exactInteger(*this)) return mix(static_cast<size_t>(*i));
        const double d = doubleValue();
        if (std::isnan(d)) return 0x7ff8;
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return mix(bits);
    }
    case Kind::String: return static_cast<size_t>(NSString::hash(*string()));
    case Kind::Data: return static_cast<size_t>(NSString::hash(data()->stringView()));
    case Kind::Date: return Value(date()->timeIntervalSinceReferenceDate()).hash() ^ 0xda7e;
    case Kind::Array: {
        size_t h = 0xa77a;
        for (const Value& v : *array()) h = mix(h ^ v.hash()) + 1;
        return h;
    }
    case Kind::Dictionary: {
        // Order-independent: a sum of per-entry hashes.
        size_t h = 0xd1c7 + count();
        for (const auto& [k, v] : *dictionary()) h += mix(NSString::hash(k) ^ (v.hash() * 31));
        return h;
    }
    case Kind::Object: return object()->hash();
    }
    return 0;
}

// --- description -----------------------------------------------------------

namespace {

std::string formatDouble(double d) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 16);
    return std::string(buf, res.ptr);
}

// Collections quote strings (and keys) unless they are letters, digits and '_' only.
std::string quotedIfNeeded(const std::string& s) {
    bool plain = !s.empty();
    for (char c : s) {
        const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!word) plain = false;
    }
    if (plain) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\', out += c;
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out + "\"";
}

void describe(const Value& v, int level, bool nested, std::string& out) {
    const std::string indent(static_cast<size_t>(level) * 4, ' ');
    const std::string inner(static_cast<size_t>(level + 1) * 4, ' ');
    switch (v.kind()) {
    case Value::Kind::Null: out += "(null)"; return;
    case Value::Kind::Bool: out += v.boolValue() ? "1" : "0"; return;
    case Value::Kind::Integer: out += std::to_string(v.integerValue()); return;
    case Value::Kind::Double: out += formatDouble(v.doubleValue()); return;
    case Value::Kind::String: out += nested ? quotedIfNeeded(*v.string()) : *v.string(); return;
    case Value::Kind::Data: out += v.data()->description(); return;
    case Value::Kind::Date: out += v.date()->description(); return;
    case Value::Kind::Object: out += v.object()->description(); return;
    case Value::Kind::Array: {
        out += "(\n";
        const auto& a = *v.array();
        for (size_t i = 0; i < a.size(); ++i) {
            out += inner;
            describe(a[i], level + 1, true, out);
            out += i + 1 < a.size() ? ",\n" : "\n";
        }
        out += indent + ")";
        return;
    }
    case Value::Kind::Dictionary: {
        out += "{\n";
        for (const auto& [k, e] : *v.dictionary()) {
            out += inner + quotedIfNeeded(k) + " = ";
            describe(e, level + 1, true, out);
            out += ";\n";
        }
        out += indent + "}";
        return;
    }
    }
}

}  // namespace

std::string Value::description() const {
    std::string out;
    describe(*this, 0, false, out);
    return out;
}

}  // namespace platform
