#include <gtest/gtest.h>

#include <cmath>

#include "platform/foundation/NSJSONSerialization.h"

namespace {

std::optional<Value> parse(const std::string& text, unsigned long options = 0, Ref<NSError>* error = nullptr) {
    return NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(text), options, error);
}

std::string write(const Value& v, unsigned long options = 0) {
    Ref<NSError> error;
    auto data = NSJSONSerialization::dataWithJSONObject(v, options, &error);
    EXPECT_TRUE(data) << (error ? error->description() : "");
    return data ? data->toString() : "";
}

void expectError(const std::string& text, unsigned long options = 0) {
    Ref<NSError> error;
    EXPECT_FALSE(parse(text, options, &error)) << text;
    ASSERT_TRUE(error) << text;
    EXPECT_EQ(error->domain(), "NSCocoaErrorDomain");
    EXPECT_EQ(error->code(), 3840);
}

TEST(JSONReading, NumberKinds) {
    auto v = parse(R"([1, -2, 1.0, 2.5, 1e2, 9223372036854775807, 9223372036854775808, -9223372036854775808, true, false, null])");
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->at(0).isInteger());
    EXPECT_EQ(v->at(1).integerValue(), -2);
    EXPECT_TRUE(v->at(2).isDouble());
    EXPECT_DOUBLE_EQ(v->at(3).doubleValue(), 2.5);
    EXPECT_TRUE(v->at(4).isDouble());
    EXPECT_TRUE(v->at(5).isInteger());
    EXPECT_EQ(v->at(5).integerValue(), INT64_MAX);
    EXPECT_TRUE(v->at(6).isDouble());  // beyond int64
    EXPECT_EQ(v->at(7).integerValue(), INT64_MIN);
    EXPECT_TRUE(v->at(8).isBool());
    EXPECT_TRUE(v->at(8).isNumber());
    EXPECT_FALSE(v->at(9).boolValue());
    EXPECT_TRUE(v->at(10).isNull());
    EXPECT_EQ(v->count(), 11u);
}

TEST(JSONReading, ObjectsKeepDocumentOrder) {
    auto v = parse(R"({"zeta": 1, "alpha": {"y": 1, "x": 2}, "mid": null, "list": []})");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->keys(), (std::vector<std::string>{"zeta", "alpha", "mid", "list"}));
    EXPECT_EQ((*v)["alpha"].keys(), (std::vector<std::string>{"y", "x"}));
    EXPECT_TRUE(v->contains("mid"));
    EXPECT_TRUE((*v)["list"].isArray());
    // Strings: escapes, non-ASCII and "\/".
    auto s = parse(R"(["a\"b\\c\/d\n", "\u00e9\ud83d\ude00", "caf\u00e9"])");
    ASSERT_TRUE(s);
    EXPECT_EQ(*s->at(0).string(), "a\"b\\c/d\n");
    EXPECT_EQ(*s->at(1).string(), "\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(JSONReading, FragmentsNeedTheOption) {
    expectError("\"text\"");
    expectError("12");
    auto v = parse("\"text\"", NSJSONReadingAllowFragments);
    ASSERT_TRUE(v);
    EXPECT_EQ(*v->string(), "text");
    EXPECT_EQ(parse(" 12 ", NSJSONReadingAllowFragments)->integerValue(), 12);
    EXPECT_TRUE(parse("null", NSJSONReadingAllowFragments)->isNull());
}

TEST(JSONReading, MalformedInputIsAnError) {
    for (const char* bad : {"", "   ", "{", "[1,", "{\"a\":}", "{\"a\" 1}", "[1,]", "{'a': 1}", "[1] x", "[01]",
                            "[NaN]", "[Infinity]", "[1e999]", "{\"a\":1,}", "[\"unterminated]", "[\"\\x\"]", "nul",
                            "[\"tab\tinside\"]", "\"\\ud800\""}) {
        expectError(bad, NSJSONReadingAllowFragments);
    }
    // Invalid UTF-8 inside a string or outside one.
    expectError("[\"\xFF\"]");
    expectError("[\"\xC3\"]");
    expectError("[1]\xFF");
    // A missing error pointer is fine.
    EXPECT_FALSE(NSJSONSerialization::JSONObjectWithData(NSData::dataWithString("{"), 0, nullptr));
}

TEST(JSONReading, TruncatedDocumentsAreErrors) {
    const std::string whole = R"({"ads": [{"id": 1, "name": "x\u00e9"}, {"id": 2.5}], "ok": true})";
    ASSERT_TRUE(parse(whole));
    for (size_t cut = 0; cut < whole.size(); ++cut) expectError(whole.substr(0, cut));
}

TEST(JSONReading, DeepNestingIsRefusedNotACrash) {
    const size_t ok = NSJSONSerialization::kMaximumDepth;
    EXPECT_TRUE(parse(std::string(ok, '[') + std::string(ok, ']')));
    expectError(std::string(ok + 1, '[') + std::string(ok + 1, ']'));
    expectError(std::string(1000000, '['));
    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
    expectError(objects);
}

TEST(JSONReading, LargeInputParses) {
    std::string text = "[";
    for (int i = 0; i < 20000; ++i) text += (i ? ",{\"k\":" : "{\"k\":") + std::to_string(i) + "}";
    text += "]";
    auto v = parse(text);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->count(), 20000u);
    EXPECT_EQ(v->at(19999)["k"].integerValue(), 19999);
}

TEST(JSONWriting, NumbersOrderAndEscaping) {
    Value doc = Value::dictionary({{"w", 320.0},
                                   {"ratio", 5.5},
                                   {"tenth", 0.1},
                                   {"big", 1e20},
                                   {"n", -7},
                                   {"t", true},
                                   {"none", Value()},
                                   {"url", "http://a/b"},
                                   {"text", "caf\xC3\xA9 \"q\" \\ \n\x01"},
                                   {"list", Value::array({1, "two"})}});
    EXPECT_EQ(write(doc), R"({"w":320,"ratio":5.5,"tenth":0.1,"big":1e+20,"n":-7,"t":true,"none":null,)"
                          R"("url":"http://a/b","text":"caf)" "\xC3\xA9" R"( \"q\" \\ \n\u0001","list":[1,"two"]})");
    EXPECT_EQ(write(Value::array({-0.0, 9007199254740991.0, 0.30000000000000004})),
              "[0,9007199254740991,0.30000000000000004]");
    EXPECT_EQ(write(Value::dictionary({})), "{}");
    EXPECT_EQ(write(Value::array({})), "[]");
}

TEST(JSONWriting, PrettyPrintingIndentsByTwo) {
    EXPECT_EQ(write(Value::dictionary({{"a", Value::array({1})}}), NSJSONWritingPrettyPrinted),
              "{\n  \"a\": [\n    1\n  ]\n}");
}

TEST(JSONWriting, NonJsonValuesAreErrors) {
    const Value bad[] = {
        Value::array({std::nan("")}),
        Value::array({std::numeric_limits<double>::infinity()}),
        Value::array({NSDate()}),
        Value::dictionary({{"d", NSData::dataWithString("x")}}),
        Value::array({Value(NSObject::alloc())}),
        Value("top-level string"),
        Value(),
    };
    for (const Value& v : bad) {
        Ref<NSError> error;
        EXPECT_FALSE(NSJSONSerialization::dataWithJSONObject(v, 0, &error)) << v.description();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), 3840);
        EXPECT_FALSE(NSJSONSerialization::isValidJSONObject(v));
    }
    EXPECT_EQ(NSJSONSerialization::dataWithJSONObject(Value("s"), NSJSONWritingFragmentsAllowed)->toString(), "\"s\"");
    EXPECT_TRUE(NSJSONSerialization::isValidJSONObject(Value::dictionary({{"a", Value::array({1, "b", Value()})}})));
}

TEST(JSONWriting, InvalidUtf8IsReplacedNotFatal) {
    EXPECT_EQ(write(Value::array({"a\xFF" "b"})), "[\"a\xEF\xBF\xBD" "b\"]");
}

TEST(JSONWriting, DeepValuesAreRefused) {
    Value deep = Value::array({});
    for (int i = 0; i < 600; ++i) deep = Value::array({deep});
    Ref<NSError> error;
    EXPECT_FALSE(NSJSONSerialization::dataWithJSONObject(deep, 0, &error));
    EXPECT_TRUE(error);
}

TEST(JSONRoundTrip, WriteThenReadGivesEqualValues) {
    Value doc = Value::dictionary({{"i", 1}, {"d", 2.25}, {"s", "\xF0\x9F\x98\x80/"}, {"a", Value::array({true, Value()})},
                                   {"o", Value::dictionary({{"k", -1e-7}})}});
    auto back = parse(write(doc));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, doc);
    EXPECT_EQ(back->keys(), doc.keys());
}

}  // namespace
