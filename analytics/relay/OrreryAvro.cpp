#include "analytics/relay/OrreryAvro.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace OrreryAvro {

std::string lastError() {
    const char* text = avro_strerror();
    return text ? std::string(text) : std::string();
}

// ---------------------------------------------------------------- Schema

Schema Schema::parse(std::string_view json) {
    avro_schema_t schema = nullptr;
    if (avro_schema_from_json_length(json.data(), json.size(), &schema) != 0) return Schema();
    return Schema(schema);
}

Schema::Schema(const Schema& other) : schema_(other.schema_ ? avro_schema_incref(other.schema_) : nullptr) {}

Schema& Schema::operator=(const Schema& other) {
    if (this != &other) {
        Schema copy(other);
        std::swap(schema_, copy.schema_);
    }
    return *this;
}

Schema::Schema(Schema&& other) noexcept : schema_(std::exchange(other.schema_, nullptr)) {}

Schema& Schema::operator=(Schema&& other) noexcept {
    if (this != &other) {
        reset();
        schema_ = std::exchange(other.schema_, nullptr);
    }
    return *this;
}

Schema::~Schema() { reset(); }

void Schema::reset() {
    if (schema_) avro_schema_decref(std::exchange(schema_, nullptr));
}

// ---------------------------------------------------------------- Datum

Datum Datum::create(const Schema& schema) {
    Datum datum;
    if (!schema) return datum;
    avro_value_iface_t* iface = avro_generic_class_from_schema(schema.get());
    if (!iface) return datum;
    if (avro_generic_value_new(iface, &datum.value_) != 0) {
        avro_value_iface_decref(iface);
        return datum;
    }
    datum.iface_ = iface;
    return datum;
}

Datum::Datum(Datum&& other) noexcept
    : iface_(std::exchange(other.iface_, nullptr)), value_(std::exchange(other.value_, avro_value_t{})) {}

Datum& Datum::operator=(Datum&& other) noexcept {
    if (this != &other) {
        reset();
        iface_ = std::exchange(other.iface_, nullptr);
        value_ = std::exchange(other.value_, avro_value_t{});
    }
    return *this;
}

Datum::~Datum() { reset(); }

void Datum::reset() {
    if (!iface_) return;
    avro_value_decref(&value_);
    avro_value_iface_decref(iface_);
    iface_ = nullptr;
    value_ = avro_value_t{};
}

// ---------------------------------------------------------------- JSON and encoding

std::optional<std::string> toJson(const avro_value_t* value) {
    char* json = nullptr;
    if (!value || !value->iface || avro_value_to_json(value, 1, &json) != 0 || !json) return std::nullopt;
    std::string text(json);
    free(json);
    return text;
}

std::optional<std::vector<uint8_t>> encode(const avro_value_t* value) {
    if (!value || !value->iface) return std::nullopt;
    // The library's writer takes a mutable value but does not change it.
    avro_value_t* source = const_cast<avro_value_t*>(value);
    size_t size = 0;
    if (avro_value_sizeof(source, &size) != 0) return std::nullopt;
    std::vector<uint8_t> bytes(size);
    // A writer over an empty buffer still needs a valid pointer.
    static char empty = 0;
    char* buffer = size ? reinterpret_cast<char*>(bytes.data()) : &empty;
    avro_writer_t writer = avro_writer_memory(buffer, static_cast<int64_t>(size));
    if (!writer) return std::nullopt;
    int rc = avro_value_write(writer, source);
    int64_t written = avro_writer_tell(writer);
    avro_writer_free(writer);
    if (rc != 0 || written < 0 || static_cast<size_t>(written) != size) return std::nullopt;
    return bytes;
}

// ---------------------------------------------------------------- checking untrusted bytes

namespace {

class EncodingChecker {
public:
    EncodingChecker(const uint8_t* bytes, size_t length, const DecodeLimits& limits)
        : p_(bytes), end_(bytes + length), limits_(limits) {}

    bool check(avro_schema_t schema) {
        if (!value(schema, 0)) return false;
        if (p_ != end_) return fail("trailing bytes after the value");
        return true;
    }
    const std::string& error() const { return error_; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    const DecodeLimits& limits_;
    size_t elements_ = 0;
    std::string error_;

    bool fail(std::string message) {
        if (error_.empty()) error_ = std::move(message);
        return false;
    }
    size_t remaining() const { return static_cast<size_t>(end_ - p_); }

    bool varint(uint64_t& out) {
        uint64_t result = 0;
        for (int i = 0; i < 10; ++i) {
            if (p_ == end_) return fail("truncated number");
            uint8_t b = *p_++;
            if (i == 9 && b > 1) return fail("number too long");
            result |= static_cast<uint64_t>(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) {
                out = result;
                return true;
            }
        }
        return fail("number too long");
    }
    bool readLong(int64_t& out) {
        uint64_t raw = 0;
        if (!varint(raw)) return false;
        out = static_cast<int64_t>(raw >> 1) ^ -static_cast<int64_t>(raw & 1);
        return true;
    }
    bool readInt(int32_t& out) {
        int64_t wide = 0;
        if (!readLong(wide)) return false;
        if (wide < std::numeric_limits<int32_t>::min() || wide > std::numeric_limits<int32_t>::max())
            return fail("int out of range");
        out = static_cast<int32_t>(wide);
        return true;
    }
    bool skip(size_t count) {
        if (count > remaining()) return fail("truncated value");
        p_ += count;
        return true;
    }
    bool lengthPrefixed() {
        int64_t length = 0;
        if (!readLong(length)) return false;
        if (length < 0) return fail("negative length");
        if (static_cast<uint64_t>(length) > remaining()) return fail("length beyond the end of the data");
        p_ += length;
        return true;
    }

    // Array and map blocks: a count, negative counts followed by a byte size.
    template <class Item>
    bool blocks(Item item) {
        for (;;) {
            int64_t count = 0;
            if (!readLong(count)) return false;
            if (count == 0) return true;
            const uint8_t* blockStart = nullptr;
            int64_t blockSize = -1;
            if (count < 0) {
                if (count == std::numeric_limits<int64_t>::min()) return fail("bad block count");
                count = -count;
                if (!readLong(blockSize)) return false;
                if (blockSize < 0 || static_cast<uint64_t>(blockSize) > remaining()) return fail("bad block size");
                blockStart = p_;
            }
            if (static_cast<uint64_t>(count) > limits_.maxElements - elements_) return fail("too many elements");
            elements_ += static_cast<size_t>(count);
            for (int64_t i = 0; i < count; ++i)
                if (!item()) return false;
            if (blockStart && p_ - blockStart != blockSize) return fail("block size does not match its items");
        }
    }

    bool value(avro_schema_t schema, int depth) {
        if (!schema) return fail("incomplete schema");
        if (depth > limits_.maxDepth) return fail("nesting too deep");
        switch (avro_typeof(schema)) {
        case AVRO_NULL:
            return true;
        case AVRO_BOOLEAN:
            if (p_ == end_) return fail("truncated boolean");
            if (*p_ > 1) return fail("boolean neither 0 nor 1");
            ++p_;
            return true;
        case AVRO_INT32: {
            int32_t ignored = 0;
            return readInt(ignored);
        }
        case AVRO_INT64: {
            int64_t ignored = 0;
            return readLong(ignored);
        }
        case AVRO_FLOAT:
            return skip(4);
        case AVRO_DOUBLE:
            return skip(8);
        case AVRO_STRING:
        case AVRO_BYTES:
            return lengthPrefixed();
        case AVRO_FIXED: {
            int64_t size = avro_schema_fixed_size(schema);
            if (size < 0) return fail("bad fixed size");
            return skip(static_cast<size_t>(size));
        }
        case AVRO_ENUM: {
            int32_t index = 0;
            if (!readInt(index)) return false;
            if (index < 0 || index >= avro_schema_enum_number_of_symbols(schema)) return fail("enum symbol out of range");
            return true;
        }
        case AVRO_UNION: {
            int64_t index = 0;
            if (!readLong(index)) return false;
            if (index < 0 || static_cast<uint64_t>(index) >= avro_schema_union_size(schema))
                return fail("union branch out of range");
            return value(avro_schema_union_branch(schema, static_cast<int>(index)), depth + 1);
        }
        case AVRO_RECORD: {
            size_t fields = avro_schema_record_size(schema);
            for (size_t i = 0; i < fields; ++i)
                if (!value(avro_schema_record_field_get_by_index(schema, static_cast<int>(i)), depth + 1)) return false;
            return true;
        }
        case AVRO_ARRAY: {
            avro_schema_t items = avro_schema_array_items(schema);
            return blocks([&] { return value(items, depth + 1); });
        }
        case AVRO_MAP: {
            avro_schema_t values = avro_schema_map_values(schema);
            return blocks([&] { return lengthPrefixed() && value(values, depth + 1); });
        }
        case AVRO_LINK:
            return value(avro_schema_link_target(schema), depth + 1);
        }
        return fail("unknown schema type");
    }
};

}  // namespace

bool checkEncoding(const Schema& schema, const uint8_t* bytes, size_t length, const DecodeLimits& limits,
                   std::string* error) {
    auto report = [&](std::string message) {
        if (error) *error = std::move(message);
        return false;
    };
    if (!schema) return report("no schema");
    if (length > limits.maxBytes) return report("data too long");
    static const uint8_t none = 0;
    EncodingChecker checker(length ? bytes : &none, length, limits);
    if (!checker.check(schema.get())) return report(checker.error());
    return true;
}

Datum decode(const Schema& schema, const uint8_t* bytes, size_t length, std::string* error,
             const DecodeLimits& limits) {
    if (!checkEncoding(schema, bytes, length, limits, error)) return Datum();
    Datum datum = Datum::create(schema);
    if (!datum) {
        if (error) *error = lastError();
        return Datum();
    }
    static const char none = 0;
    const char* buffer = length ? reinterpret_cast<const char*>(bytes) : &none;
    avro_reader_t reader = avro_reader_memory(buffer, static_cast<int64_t>(length));
    if (!reader) {
        if (error) *error = lastError();
        return Datum();
    }
    int rc = avro_value_read(reader, datum.get());
    avro_reader_free(reader);
    if (rc != 0) {
        if (error) *error = lastError();
        return Datum();
    }
    return datum;
}

// ---------------------------------------------------------------- reading

namespace {
bool hasType(const avro_value_t* value, avro_type_t type) {
    return value && value->iface && avro_value_get_type(value) == type;
}
}  // namespace

std::optional<avro_value_t> field(const avro_value_t* record, const char* name) {
    if (!hasType(record, AVRO_RECORD)) return std::nullopt;
    avro_value_t child{};
    if (avro_value_get_by_name(record, name, &child, nullptr) != 0 || !child.iface) return std::nullopt;
    return child;
}

std::optional<std::string> stringValue(const avro_value_t* value) {
    if (!hasType(value, AVRO_STRING)) return std::nullopt;
    const char* text = nullptr;
    size_t size = 0;
    if (avro_value_get_string(value, &text, &size) != 0) return std::nullopt;
    // The size counts the terminating NUL.
    if (!text || size == 0) return std::string();
    return std::string(text, size - 1);
}

std::optional<std::vector<uint8_t>> bytesValue(const avro_value_t* value) {
    if (!hasType(value, AVRO_BYTES)) return std::nullopt;
    const void* data = nullptr;
    size_t size = 0;
    if (avro_value_get_bytes(value, &data, &size) != 0) return std::nullopt;
    const auto* begin = static_cast<const uint8_t*>(data);
    return size && begin ? std::vector<uint8_t>(begin, begin + size) : std::vector<uint8_t>();
}

std::optional<int32_t> intValue(const avro_value_t* value) {
    int32_t out = 0;
    if (!hasType(value, AVRO_INT32) || avro_value_get_int(value, &out) != 0) return std::nullopt;
    return out;
}

std::optional<int64_t> longValue(const avro_value_t* value) {
    int64_t out = 0;
    if (!hasType(value, AVRO_INT64) || avro_value_get_long(value, &out) != 0) return std::nullopt;
    return out;
}

std::optional<bool> boolValue(const avro_value_t* value) {
    int out = 0;
    if (!hasType(value, AVRO_BOOLEAN) || avro_value_get_boolean(value, &out) != 0) return std::nullopt;
    return out != 0;
}

std::optional<double> doubleValue(const avro_value_t* value) {
    double out = 0;
    if (!hasType(value, AVRO_DOUBLE) || avro_value_get_double(value, &out) != 0) return std::nullopt;
    return out;
}

std::optional<float> floatValue(const avro_value_t* value) {
    float out = 0;
    if (!hasType(value, AVRO_FLOAT) || avro_value_get_float(value, &out) != 0) return std::nullopt;
    return out;
}

std::optional<std::string> enumSymbol(const avro_value_t* value) {
    int index = 0;
    if (!hasType(value, AVRO_ENUM) || avro_value_get_enum(value, &index) != 0) return std::nullopt;
    avro_schema_t schema = avro_value_get_schema(value);
    if (!schema || index < 0 || index >= avro_schema_enum_number_of_symbols(schema)) return std::nullopt;
    const char* symbol = avro_schema_enum_get(schema, index);
    if (!symbol) return std::nullopt;
    return std::string(symbol);
}

std::optional<avro_value_t> branch(const avro_value_t* unionValue, int* index) {
    if (!hasType(unionValue, AVRO_UNION)) return std::nullopt;
    int discriminant = -1;
    avro_value_t current{};
    if (avro_value_get_discriminant(unionValue, &discriminant) != 0 || discriminant < 0) return std::nullopt;
    if (avro_value_get_current_branch(unionValue, &current) != 0 || !current.iface) return std::nullopt;
    if (index) *index = discriminant;
    return current;
}

std::optional<size_t> elementCount(const avro_value_t* value) {
    if (!hasType(value, AVRO_ARRAY) && !hasType(value, AVRO_MAP)) return std::nullopt;
    size_t size = 0;
    if (avro_value_get_size(value, &size) != 0) return std::nullopt;
    return size;
}

std::optional<avro_value_t> element(const avro_value_t* value, size_t index, std::string* mapKey) {
    if (!hasType(value, AVRO_ARRAY) && !hasType(value, AVRO_MAP)) return std::nullopt;
    avro_value_t child{};
    const char* key = nullptr;
    if (avro_value_get_by_index(value, index, &child, &key) != 0 || !child.iface) return std::nullopt;
    if (mapKey) *mapKey = key ? key : "";
    return child;
}

// ---------------------------------------------------------------- building

bool setString(avro_value_t* value, std::string_view text) {
    // The library wants the length with the terminating NUL, which a
    // std::string provides.
    std::string copy(text);
    return avro_value_set_string_len(value, copy.c_str(), copy.size() + 1) == 0;
}

bool fieldForWriting(avro_value_t* record, const char* name, avro_value_t* out) {
    return record && record->iface && avro_value_get_by_name(record, name, out, nullptr) == 0 && out->iface;
}

namespace {
// Hands a field's value to `set`.
template <class Set>
bool setFieldWith(avro_value_t* record, const char* name, Set set) {
    avro_value_t child{};
    return fieldForWriting(record, name, &child) && set(&child);
}
}  // namespace

bool setField(avro_value_t* record, const char* name, std::string_view text) {
    return setFieldWith(record, name, [&](avro_value_t* v) { return setString(v, text); });
}
bool setFieldInt(avro_value_t* record, const char* name, int32_t number) {
    return setFieldWith(record, name, [&](avro_value_t* v) { return avro_value_set_int(v, number) == 0; });
}
bool setFieldLong(avro_value_t* record, const char* name, int64_t number) {
    return setFieldWith(record, name, [&](avro_value_t* v) { return avro_value_set_long(v, number) == 0; });
}
bool setFieldBool(avro_value_t* record, const char* name, bool flag) {
    return setFieldWith(record, name, [&](avro_value_t* v) { return avro_value_set_boolean(v, flag ? 1 : 0) == 0; });
}
bool setFieldDouble(avro_value_t* record, const char* name, double number) {
    return setFieldWith(record, name, [&](avro_value_t* v) { return avro_value_set_double(v, number) == 0; });
}
bool setFieldFloat(avro_value_t* record, const char* name, float number) {
    return setFieldWith(record, name, [&](avro_value_t* v) { return avro_value_set_float(v, number) == 0; });
}
bool setFieldBytes(avro_value_t* record, const char* name, const void* bytes, size_t length) {
    static char empty = 0;
    void* buffer = length ? const_cast<void*>(bytes) : &empty;  // the library copies the bytes
    return setFieldWith(record, name, [&](avro_value_t* v) { return avro_value_set_bytes(v, buffer, length) == 0; });
}

bool selectBranch(avro_value_t* record, const char* name, int index, avro_value_t* branchOut) {
    avro_value_t target{};
    if (name) {
        if (!fieldForWriting(record, name, &target)) return false;
    } else {
        if (!record || !record->iface) return false;
        target = *record;
    }
    return avro_value_set_branch(&target, index, branchOut) == 0 && branchOut->iface;
}

}  // namespace OrreryAvro
