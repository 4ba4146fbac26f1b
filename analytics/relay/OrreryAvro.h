// Owning wrappers around the Avro library's schemas and generic values, the
// binary encoding in memory, and a bounded check of untrusted encoded bytes
// that runs before the library allocates anything for them.
#pragma once

#include <avro.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace OrreryAvro {

// The library's last error text (never null).
std::string lastError();

// One reference to a parsed schema.
class Schema {
public:
    Schema() = default;
    // Empty when the text does not parse (lastError() says why).
    static Schema parse(std::string_view json);
    Schema(const Schema& other);
    Schema& operator=(const Schema& other);
    Schema(Schema&& other) noexcept;
    Schema& operator=(Schema&& other) noexcept;
    ~Schema();

    explicit operator bool() const { return schema_ != nullptr; }
    avro_schema_t get() const { return schema_; }
    void reset();

private:
    explicit Schema(avro_schema_t owned) : schema_(owned) {}
    avro_schema_t schema_ = nullptr;
};

// A generic value of one schema, owning its value class and its storage.
class Datum {
public:
    Datum() = default;
    // Empty when the library cannot make a value class for the schema.
    static Datum create(const Schema& schema);
    Datum(const Datum&) = delete;
    Datum& operator=(const Datum&) = delete;
    Datum(Datum&& other) noexcept;
    Datum& operator=(Datum&& other) noexcept;
    ~Datum();

    explicit operator bool() const { return iface_ != nullptr; }
    avro_value_t* get() { return &value_; }
    const avro_value_t* get() const { return &value_; }
    void reset();

private:
    avro_value_iface_t* iface_ = nullptr;
    avro_value_t value_{};
};

// The value as one-line JSON text; nullopt when the library cannot render it
// (for instance a union without a selected branch).
std::optional<std::string> toJson(const avro_value_t* value);

// The value in the binary encoding; nullopt when writing fails.
std::optional<std::vector<uint8_t>> encode(const avro_value_t* value);

// Limits applied to untrusted encoded bytes.
struct DecodeLimits {
    size_t maxBytes = 1 << 20;      // longer input is refused outright
    size_t maxElements = 1 << 16;   // array items and map entries, all together
    int maxDepth = 32;              // nesting of records, unions, arrays and maps
};

// Whether the bytes are exactly one value of the schema in the binary
// encoding: every length and count within the bytes that remain, every union
// branch and enum symbol in range, booleans 0 or 1, ints within 32 bits, no
// trailing bytes. On failure `error` says what is wrong.
bool checkEncoding(const Schema& schema, const uint8_t* bytes, size_t length, const DecodeLimits& limits,
                   std::string* error);

// Checks the bytes, then decodes them with the schema as both writer's and
// reader's schema. Empty on any failure, with the reason in `error`.
Datum decode(const Schema& schema, const uint8_t* bytes, size_t length, std::string* error,
             const DecodeLimits& limits = DecodeLimits());

// Reading fields of decoded values. Each gives nullopt when the field is
// missing or of another type.
std::optional<avro_value_t> field(const avro_value_t* record, const char* name);
std::optional<std::string> stringValue(const avro_value_t* value);
std::optional<std::vector<uint8_t>> bytesValue(const avro_value_t* value);
std::optional<int32_t> intValue(const avro_value_t* value);
std::optional<int64_t> longValue(const avro_value_t* value);
std::optional<bool> boolValue(const avro_value_t* value);
std::optional<double> doubleValue(const avro_value_t* value);
std::optional<float> floatValue(const avro_value_t* value);
// The symbol name of an enum value.
std::optional<std::string> enumSymbol(const avro_value_t* value);
// The selected branch of a union and its index.
std::optional<avro_value_t> branch(const avro_value_t* unionValue, int* index = nullptr);
// Element count of an array or map; nullopt for other types.
std::optional<size_t> elementCount(const avro_value_t* value);
std::optional<avro_value_t> element(const avro_value_t* value, size_t index, std::string* mapKey = nullptr);

// Building values. Each returns false when the library refuses (lastError()).
bool setString(avro_value_t* value, std::string_view text);
bool setField(avro_value_t* record, const char* name, std::string_view text);
bool setFieldInt(avro_value_t* record, const char* name, int32_t number);
bool setFieldLong(avro_value_t* record, const char* name, int64_t number);
bool setFieldBool(avro_value_t* record, const char* name, bool flag);
bool setFieldDouble(avro_value_t* record, const char* name, double number);
bool setFieldFloat(avro_value_t* record, const char* name, float number);
bool setFieldBytes(avro_value_t* record, const char* name, const void* bytes, size_t length);
// Selects a union branch of a field (or of the value itself with a null name)
// and hands out the branch value.
bool selectBranch(avro_value_t* record, const char* name, int index, avro_value_t* branchOut);
// Hands out a field's value for filling it in place.
bool fieldForWriting(avro_value_t* record, const char* name, avro_value_t* out);

}  // namespace OrreryAvro
