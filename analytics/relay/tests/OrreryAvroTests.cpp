// The Avro wrappers: schema texts, encoding, and the check that keeps
// hostile bytes away from the library's allocations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analytics/relay/OrreryAvro.h"
#include "analytics/relay/OrreryRelaySchemas.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Zig-zag varint of a long, as the binary encoding writes it.
void putLong(Bytes& out, int64_t value) {
    uint64_t z = (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
    while (z >= 0x80) {
        out.push_back(static_cast<uint8_t>(z | 0x80));
        z >>= 7;
    }
    out.push_back(static_cast<uint8_t>(z));
}
void putString(Bytes& out, const std::string& s) {
    putLong(out, static_cast<int64_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

const char* kSmall = R"({"type":"record","name":"Small","fields":[
    {"name":"s","type":"string"},
    {"name":"u","type":["null","long"]},
    {"name":"e","type":{"type":"enum","name":"E","symbols":["A","B"]}},
    {"name":"b","type":"boolean"},
    {"name":"i","type":"int"},
    {"name":"a","type":{"type":"array","items":"string"}},
    {"name":"m","type":{"type":"map","values":"int"}}]})";

Bytes smallValue() {
    Bytes b;
    putString(b, "hi");
    putLong(b, 1);  // union branch 1: long
    putLong(b, -5);
    putLong(b, 1);  // enum B
    b.push_back(1);
    putLong(b, 7);
    putLong(b, 2);  // array: one block of two
    putString(b, "x");
    putString(b, "yz");
    putLong(b, 0);
    putLong(b, 1);  // map: one entry
    putString(b, "k");
    putLong(b, 3);
    putLong(b, 0);
    return b;
}

bool check(const OrreryAvro::Schema& schema, const Bytes& bytes, std::string* error = nullptr,
           OrreryAvro::DecodeLimits limits = {}) {
    return OrreryAvro::checkEncoding(schema, bytes.data(), bytes.size(), limits, error);
}

TEST(OrreryAvro, EverySchemaTextParses) {
    for (auto text : {OrreryRelaySchemas::kConfigRequest, OrreryRelaySchemas::kIosTags,
                      OrreryRelaySchemas::kGeolocation, OrreryRelaySchemas::kDeviceId,
                      OrreryRelaySchemas::kConfigResponse}) {
        OrreryAvro::Schema schema = OrreryAvro::Schema::parse(text);
        EXPECT_TRUE(schema) << OrreryAvro::lastError() << "\n" << text;
    }
    EXPECT_FALSE(OrreryAvro::Schema::parse("{\"type\":\"record\""));
}

TEST(OrreryAvro, DecodesAndReadsBackAValidEncoding) {
    auto schema = OrreryAvro::Schema::parse(kSmall);
    ASSERT_TRUE(schema);
    Bytes bytes = smallValue();
    std::string error;
    OrreryAvro::Datum datum = OrreryAvro::decode(schema, bytes.data(), bytes.size(), &error);
    ASSERT_TRUE(datum) << error;
    auto s = OrreryAvro::field(datum.get(), "s");
    EXPECT_EQ(OrreryAvro::stringValue(&*s), "hi");
    int index = -1;
    auto u = OrreryAvro::field(datum.get(), "u");
    auto branch = OrreryAvro::branch(&*u, &index);
    ASSERT_TRUE(branch);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(OrreryAvro::longValue(&*branch), -5);
    auto e = OrreryAvro::field(datum.get(), "e");
    EXPECT_EQ(OrreryAvro::enumSymbol(&*e), "B");
    auto a = OrreryAvro::field(datum.get(), "a");
    ASSERT_EQ(OrreryAvro::elementCount(&*a), 2u);
    auto second = OrreryAvro::element(&*a, 1);
    EXPECT_EQ(OrreryAvro::stringValue(&*second), "yz");
    auto m = OrreryAvro::field(datum.get(), "m");
    std::string key;
    auto entry = OrreryAvro::element(&*m, 0, &key);
    EXPECT_EQ(key, "k");
    EXPECT_EQ(OrreryAvro::intValue(&*entry), 3);
    // Reading a field as another type gives nothing.
    EXPECT_FALSE(OrreryAvro::longValue(&*s));
    EXPECT_FALSE(OrreryAvro::field(datum.get(), "missing"));

    // And it encodes back to the same bytes.
    auto again = OrreryAvro::encode(datum.get());
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, bytes);
}

TEST(OrreryAvro, EveryTruncationIsRejected) {
    auto schema = OrreryAvro::Schema::parse(kSmall);
    Bytes bytes = smallValue();
    for (size_t n = 0; n < bytes.size(); ++n) {
        Bytes cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
        EXPECT_FALSE(check(schema, cut)) << n;
        EXPECT_FALSE(OrreryAvro::decode(schema, cut.data(), cut.size(), nullptr)) << n;
    }
    Bytes longer = bytes;
    longer.push_back(0);
    std::string error;
    EXPECT_FALSE(check(schema, longer, &error));
    EXPECT_EQ(error, "trailing bytes after the value");
}

TEST(OrreryAvro, HostileLengthsCountsAndIndexesAreRejectedBeforeDecoding) {
    auto schema = OrreryAvro::Schema::parse(kSmall);
    std::string error;
    auto withPrefix = [](int64_t stringLength) {
        Bytes b;
        putLong(b, stringLength);
        b.insert(b.end(), 8, 'a');
        return b;
    };
    // A string length of 2^40 would make the library allocate a terabyte.
    Bytes huge = withPrefix(int64_t{1} << 40);
    EXPECT_FALSE(check(schema, huge, &error));
    EXPECT_EQ(error, "length beyond the end of the data");
    EXPECT_FALSE(OrreryAvro::decode(schema, huge.data(), huge.size(), nullptr));
    EXPECT_FALSE(check(schema, withPrefix(-1), &error));
    EXPECT_EQ(error, "negative length");

    auto mutate = [&](size_t at, std::vector<uint8_t> replacement) {
        Bytes b = smallValue();
        b.erase(b.begin() + static_cast<long>(at));
        b.insert(b.begin() + static_cast<long>(at), replacement.begin(), replacement.end());
        return b;
    };
    // Offsets in smallValue(): 0-2 "hi", 3 union index, 4 long, 5 enum, 6 bool, 7 int, 8 array count.
    EXPECT_FALSE(check(schema, mutate(3, {4}), &error));  // branch 2 of two
    EXPECT_EQ(error, "union branch out of range");
    EXPECT_FALSE(check(schema, mutate(5, {4}), &error));  // symbol 2 of two
    EXPECT_EQ(error, "enum symbol out of range");
    EXPECT_FALSE(check(schema, mutate(6, {2}), &error));
    EXPECT_EQ(error, "boolean neither 0 nor 1");
    Bytes bigInt;
    putLong(bigInt, int64_t{1} << 40);
    EXPECT_FALSE(check(schema, mutate(7, bigInt), &error));
    EXPECT_EQ(error, "int out of range");
    EXPECT_FALSE(check(schema, mutate(4, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), &error));
    EXPECT_EQ(error, "number too long");
    Bytes manyItems;
    putLong(manyItems, int64_t{1} << 50);
    EXPECT_FALSE(check(schema, mutate(8, manyItems), &error));
    EXPECT_EQ(error, "too many elements");
    Bytes minCount = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01};  // INT64_MIN
    EXPECT_FALSE(check(schema, mutate(8, minCount), &error));
    EXPECT_EQ(error, "bad block count");
}

TEST(OrreryAvro, NegativeBlockCountsCarryAMatchingByteSize) {
    auto schema = OrreryAvro::Schema::parse(R"({"type":"array","items":"string"})");
    Bytes good;
    putLong(good, -2);
    putLong(good, 4);
    putString(good, "ab");
    putString(good, "");
    putLong(good, 0);
    std::string error;
    EXPECT_TRUE(check(schema, good, &error)) << error;
    OrreryAvro::Datum datum = OrreryAvro::decode(schema, good.data(), good.size(), &error);
    ASSERT_TRUE(datum);
    EXPECT_EQ(OrreryAvro::elementCount(datum.get()), 2u);
    Bytes bad = good;
    bad[1] = 6;  // the block size says 3 bytes, the items take 4
    EXPECT_FALSE(check(schema, bad, &error));
    EXPECT_EQ(error, "block size does not match its items");
}

TEST(OrreryAvro, LimitsBoundInputLengthElementsAndDepth) {
    auto schema = OrreryAvro::Schema::parse(R"({"type":"array","items":"null"})");
    Bytes nulls;
    putLong(nulls, 1000);
    putLong(nulls, 0);
    OrreryAvro::DecodeLimits limits;
    limits.maxElements = 999;
    std::string error;
    EXPECT_FALSE(check(schema, nulls, &error, limits));
    limits.maxElements = 1000;
    EXPECT_TRUE(check(schema, nulls, &error, limits));
    limits.maxBytes = 2;
    EXPECT_FALSE(check(schema, nulls, &error, limits));
    EXPECT_EQ(error, "data too long");

    auto nested = OrreryAvro::Schema::parse(
        R"({"type":"record","name":"N","fields":[{"name":"next","type":["null","N"]}]})");
    ASSERT_TRUE(nested);
    Bytes deep(40, 2);  // forty times branch 1, then the null branch
    deep.push_back(0);
    EXPECT_FALSE(check(nested, deep, &error));
    EXPECT_EQ(error, "nesting too deep");
    Bytes shallow(5, 2);
    shallow.push_back(0);
    EXPECT_TRUE(check(nested, shallow, &error)) << error;
}

TEST(OrreryAvro, BuildingHelpersEncodeFieldsAndBranches) {
    auto schema = OrreryAvro::Schema::parse(OrreryRelaySchemas::kGeolocation);
    OrreryAvro::Datum geo = OrreryAvro::Datum::create(schema);
    ASSERT_TRUE(geo);
    ASSERT_TRUE(OrreryAvro::setFieldDouble(geo.get(), "latitude", 1.5));
    ASSERT_TRUE(OrreryAvro::setFieldDouble(geo.get(), "longitude", -2.0));
    ASSERT_TRUE(OrreryAvro::setFieldFloat(geo.get(), "accuracy", 0.5f));
    EXPECT_FALSE(OrreryAvro::setFieldInt(geo.get(), "latitude", 3));  // wrong type
    EXPECT_FALSE(OrreryAvro::setFieldDouble(geo.get(), "altitude", 3));
    auto bytes = OrreryAvro::encode(geo.get());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, (Bytes{0, 0, 0, 0, 0, 0, 0xF8, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0x3F}));
    EXPECT_EQ(OrreryAvro::toJson(geo.get()), R"({"latitude": 1.5, "longitude": -2.0, "accuracy": 0.5})");

    // A union without a selected branch cannot be rendered or written.
    auto unionSchema = OrreryAvro::Schema::parse(R"(["null","string"])");
    OrreryAvro::Datum u = OrreryAvro::Datum::create(unionSchema);
    EXPECT_FALSE(OrreryAvro::toJson(u.get()));
    EXPECT_FALSE(OrreryAvro::encode(u.get()));
    avro_value_t branch{};
    ASSERT_TRUE(OrreryAvro::selectBranch(u.get(), nullptr, 1, &branch));
    ASSERT_TRUE(OrreryAvro::setString(&branch, std::string("a\0b", 3)));
    EXPECT_EQ(*OrreryAvro::encode(u.get()), (Bytes{2, 6, 'a', 0, 'b'}));
    EXPECT_EQ(OrreryAvro::stringValue(&branch), std::string("a\0b", 3));
}

}  // namespace
