#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_set>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

namespace {

struct ValueHash {
    size_t operator()(const Value& v) const { return v.hash(); }
};

TEST(Value, KindsAndTypedAccess) {
    EXPECT_TRUE(Value().isNull());
    EXPECT_TRUE(Value(nullptr).isNull());
    EXPECT_TRUE(Value(static_cast<const char*>(nullptr)).isNull());
    EXPECT_TRUE(Value(std::optional<std::string>()).isNull());
    EXPECT_TRUE(Value(Ref<NSObject>()).isNull());
    EXPECT_TRUE(Value(true).isBool());
    EXPECT_TRUE(Value(3).isInteger());
    EXPECT_TRUE(Value(3.5).isDouble());
    EXPECT_TRUE(Value("x").isString());
    EXPECT_TRUE(Value(NSData::dataWithString("x")).isData());
    EXPECT_TRUE(Value(NSDate()).isDate());
    EXPECT_TRUE(Value::array({1}).isArray());
    EXPECT_TRUE(Value::dictionary({{"a", 1}}).isDictionary());
    EXPECT_TRUE(Value(NSObject::alloc()).isObject());
    // A JSON true is a number too.
    EXPECT_TRUE(Value(true).isNumber());
    EXPECT_FALSE(Value("1").isNumber());

    EXPECT_EQ(Value(5).string(), nullptr);
    EXPECT_EQ(Value("a").array(), nullptr);
    EXPECT_EQ(Value("a").dictionary(), nullptr);
    EXPECT_EQ(Value("a").data(), nullptr);
    EXPECT_EQ(Value("a").date(), nullptr);
    EXPECT_EQ(Value("a").object(), nullptr);
    EXPECT_EQ(Value(5).mutableArray(), nullptr);
    auto error = NSError::errorWithDomain("d", 1);
    EXPECT_EQ(Value(error).object<NSError>(), error);
    EXPECT_EQ(Value(NSObject::alloc()).object<NSError>(), nullptr);
    // Values above INT64_MAX saturate instead of wrapping negative.
    EXPECT_EQ(Value(std::numeric_limits<unsigned long long>::max()).integerValue(), INT64_MAX);
}

TEST(Value, NumericConversions) {
    EXPECT_EQ(Value(3.99).intValue(), 3);
    EXPECT_EQ(Value(-3.99).integerValue(), -3);
    EXPECT_EQ(Value(1e300).integerValue(), INT64_MAX);
    EXPECT_EQ(Value(-1e300).intValue(), INT32_MIN);
    EXPECT_EQ(Value(std::nan("")).integerValue(), 0);
    EXPECT_EQ(Value(std::numeric_limits<double>::infinity()).intValue(), INT32_MAX);
    EXPECT_EQ(Value(int64_t{5000000000}).intValue(), INT32_MAX);
    EXPECT_EQ(Value(-1).unsignedIntValue(), 0u);
    EXPECT_EQ(Value(true).integerValue(), 1);
    EXPECT_DOUBLE_EQ(Value(7).doubleValue(), 7.0);
    EXPECT_FLOAT_EQ(Value(2.5).floatValue(), 2.5f);
    // Strings parse by the C-locale string rules.
    EXPECT_EQ(Value("  42abc").intValue(), 42);
    EXPECT_DOUBLE_EQ(Value("1.5e2x").doubleValue(), 150.0);
    EXPECT_TRUE(Value("YES").boolValue());
    EXPECT_TRUE(Value(" 007").boolValue());
    EXPECT_FALSE(Value("000").boolValue());
    EXPECT_FALSE(Value("no").boolValue());
    EXPECT_TRUE(Value(0.5).boolValue());
    EXPECT_FALSE(Value(0).boolValue());
    // Other kinds read as 0.
    EXPECT_EQ(Value::array({1, 2}).integerValue(), 0);
    EXPECT_FALSE(Value::dictionary({{"a", 1}}).boolValue());

    EXPECT_EQ(Value(5).stringValue(), "5");
    EXPECT_EQ(Value(5.5).stringValue(), "5.5");
    EXPECT_EQ(Value(true).stringValue(), "1");
    EXPECT_EQ(Value("s").stringValue(), "s");
    EXPECT_EQ(Value::array({}).stringValue(), "");
}

TEST(Value, DictionaryKeepsInsertionOrderAndTellsAbsentFromNull) {
    Value d;
    d.set("zeta", 1);
    d.set("alpha", 2);
    d.set("mid", Value());
    d.set("alpha", 3);  // replacing keeps the place
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"zeta", "alpha", "mid"}));
    EXPECT_EQ(d["alpha"].integerValue(), 3);
    EXPECT_TRUE(d.contains("mid"));
    EXPECT_TRUE(d["mid"].isNull());
    EXPECT_FALSE(d.contains("absent"));
    EXPECT_TRUE(d["absent"].isNull());
    d.remove("zeta");
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"alpha", "mid"}));
    EXPECT_EQ(d["alpha"].integerValue(), 3);  // the index follows the removal
    d.set("new", 4);
    EXPECT_EQ(d["new"].integerValue(), 4);
    EXPECT_EQ(d.count(), 3u);
    // Other kinds are left alone.
    Value s("text");
    s.set("k", 1);
    EXPECT_TRUE(s.isString());
    EXPECT_TRUE(s["k"].isNull());
}

TEST(Value, LargeDictionaryLookupAndRemoval) {
    Value d = Value::dictionary({});
    for (int i = 0; i < 1000; ++i) d.set("k" + std::to_string(i), i);
    for (int i = 0; i < 1000; i += 2) d.remove("k" + std::to_string(i));
    ASSERT_EQ(d.count(), 500u);
    for (int i = 1; i < 1000; i += 2) ASSERT_EQ(d["k" + std::to_string(i)].integerValue(), i);
    EXPECT_EQ(d.keys().front(), "k1");
    EXPECT_EQ(d.keys().back(), "k999");
    d.set("k0", 0);  // re-added at the end
    EXPECT_EQ(d.keys().back(), "k0");
    EXPECT_EQ(d["k0"].integerValue(), 0);
}

TEST(Value, ArrayAccess) {
    Value a;
    a.append(1);
    a.append("two");
    EXPECT_TRUE(a.isArray());
    EXPECT_EQ(a.count(), 2u);
    EXPECT_EQ(a.at(1).stringValue(), "two");
    EXPECT_TRUE(a.at(2).isNull());
    EXPECT_EQ(Value(3).count(), 0u);
}

TEST(Value, CopiesAreIndependent) {
    Value original = Value::dictionary({{"list", Value::array({1, 2})}, {"n", 1}});
    Value copy = original;
    copy.set("n", 2);
    copy.mutableDictionary()->find("list")->append(3);
    EXPECT_EQ(original["n"].integerValue(), 1);
    EXPECT_EQ(original["list"].count(), 2u);
    EXPECT_EQ(copy["list"].count(), 3u);

    Value array = Value::array({Value::dictionary({{"a", 1}})});
    Value arrayCopy = array;
    (*arrayCopy.mutableArray())[0].set("a", 9);
    EXPECT_EQ(array.at(0)["a"].integerValue(), 1);
    EXPECT_EQ(arrayCopy.at(0)["a"].integerValue(), 9);

    NSData data = NSData::dataWithString("abc");
    NSData dataCopy = data;
    dataCopy.appendBytes("d", 1);
    EXPECT_EQ(data.toString(), "abc");
    EXPECT_EQ(dataCopy.toString(), "abcd");
}

TEST(Value, NumbersEqualAcrossKindsAndHashAlike) {
    EXPECT_EQ(Value(1), Value(1.0));
    EXPECT_EQ(Value(1), Value(true));
    EXPECT_EQ(Value(0.0), Value(false));
    EXPECT_EQ(Value(1).hash(), Value(1.0).hash());
    EXPECT_EQ(Value(1).hash(), Value(true).hash());
    EXPECT_NE(Value(1), Value(1.5));
    EXPECT_EQ(Value(1.5), Value(1.5));
    EXPECT_EQ(Value(1.5).hash(), Value(1.5).hash());
    // 2^63 as a double is not INT64_MAX.
    EXPECT_NE(Value(INT64_MAX), Value(9223372036854775808.0));
    EXPECT_NE(Value(1), Value("1"));
    EXPECT_NE(Value(), Value(0));
    EXPECT_EQ(Value(), Value());

    std::unordered_set<Value, ValueHash> set{Value(320), Value("x")};
    EXPECT_TRUE(set.count(Value(320.0)));
    EXPECT_TRUE(set.count(Value("x")));
}

TEST(Value, CollectionsAndObjectsEquality) {
    Value a = Value::dictionary({{"x", 1}, {"y", Value::array({"a", 2.0})}});
    Value b = Value::dictionary({{"y", Value::array({"a", 2})}, {"x", true}});
    EXPECT_EQ(a, b);  // order ignored, numbers by value
    EXPECT_EQ(a.hash(), b.hash());
    EXPECT_NE(Value::array({1, 2}), Value::array({2, 1}));
    EXPECT_NE(a, Value::dictionary({{"x", 1}}));

    auto e1 = NSError::errorWithDomain("d", 5, Value::dictionary({{"k", "v"}}));
    auto e2 = NSError::errorWithDomain("d", 5, Value::dictionary({{"k", "v"}}));
    EXPECT_EQ(Value(e1), Value(e2));
    EXPECT_EQ(Value(e1).hash(), Value(e2).hash());
    EXPECT_NE(Value(NSObject::alloc()), Value(NSObject::alloc()));

    EXPECT_EQ(Value(NSData::dataWithString("ab")), Value(NSData::dataWithString("ab")));
    EXPECT_EQ(Value(NSDate::dateWithTimeIntervalSince1970(5)), Value(NSDate::dateWithTimeIntervalSince1970(5)));
}

TEST(Value, Description) {
    EXPECT_EQ(Value().description(), "(null)");
    EXPECT_EQ(Value(true).description(), "1");
    EXPECT_EQ(Value(false).description(), "0");
    EXPECT_EQ(Value(-12).description(), "-12");
    EXPECT_EQ(Value(320.0).description(), "320");
    EXPECT_EQ(Value(5.5).description(), "5.5");
    EXPECT_EQ(Value(0.1).description(), "0.1");
    EXPECT_EQ(Value(1e20).description(), "1e+20");
    EXPECT_EQ(Value(1700000000.123).description(), "1700000000.123");
    EXPECT_EQ(Value("plain text").description(), "plain text");
    EXPECT_EQ(Value(NSData(std::vector<uint8_t>{10, 11, 12, 13, 14, 15})).description(), "<0a0b0c0d 0e0f>");
    EXPECT_EQ(Value(NSDate::dateWithTimeIntervalSince1970(1796616062)).description(), "2026-12-07 04:01:02 +0000");
    EXPECT_EQ(Value::array({"a", "b"}).description(), "(\n    a,\n    b\n)");
    EXPECT_EQ(Value::dictionary({{"key", "value"}}).description(), "{\n    key = value;\n}");
    EXPECT_EQ(Value::dictionary({{"a key", "two words"}, {"n", 1}}).description(),
              "{\n    \"a key\" = \"two words\";\n    n = 1;\n}");
    EXPECT_EQ(Value::array({}).description(), "(\n)");
    EXPECT_EQ(Value::dictionary({{"list", Value::array({1})}}).description(),
              "{\n    list = (\n        1\n    );\n}");
}

}  // namespace
