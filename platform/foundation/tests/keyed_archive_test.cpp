#include <gtest/gtest.h>

#include <stdexcept>

#include "TempFolder.h"
#include "platform/foundation/LogCapture.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/PropertyList.h"

using platform::PropertyList;
using platform::testing::LogCapture;

// A record as the clients archive them: scalars, nested collections, nested records.
class ArchiveTestRecord : public NSObject, public NSCoding {
public:
    std::string title;
    int64_t count = 0;
    double score = 0;
    bool flag = false;
    Value extras;  // arrays and dictionaries, possibly holding records

    void encodeWithCoder(NSCoder& coder) const override {
        coder.encodeObject(title, "title");
        coder.encodeInteger(count, "count");
        coder.encodeDouble(score, "score");
        coder.encodeBool(flag, "flag");
        coder.encodeObject(extras, "extras");
    }
    void initWithCoder(const NSCoder& coder) override {
        title = coder.decodeObjectForKey("title").stringValue();
        count = coder.decodeIntegerForKey("count");
        score = coder.decodeDoubleForKey("score");
        flag = coder.decodeBoolForKey("flag");
        extras = coder.decodeObjectForKey("extras");
    }
};

// Implements NSCoding but is never registered.
class ArchiveTestUnregistered : public NSObject, public NSCoding {
public:
    void encodeWithCoder(NSCoder& coder) const override { coder.encodeInt32(7, "seven"); }
    void initWithCoder(const NSCoder&) override {}
};

// Registered, but its decoding fails.
class ArchiveTestThrowing : public NSObject, public NSCoding {
public:
    void encodeWithCoder(NSCoder&) const override {}
    void initWithCoder(const NSCoder&) override { throw std::runtime_error("cannot decode"); }
};

// Reads every field by every getter, to check kinds.
class ArchiveTestProbe : public NSObject, public NSCoding {
public:
    Value stored;
    void encodeWithCoder(NSCoder& coder) const override {
        coder.encodeObject("text", "string");
        coder.encodeInt32(-7, "int32");
        coder.encodeInt64(int64_t{1} << 40, "int64");
        coder.encodeFloat(1.5f, "float");
        coder.encodeBool(true, "bool");
        coder.encodeObject(Value(), "null");
    }
    void initWithCoder(const NSCoder& c) override {
        stored = Value::dictionary({
            {"absentObject", c.decodeObjectForKey("nope")},
            {"absentBool", c.decodeBoolForKey("nope")},
            {"absentInteger", c.decodeIntegerForKey("nope")},
            {"stringAsInteger", c.decodeIntegerForKey("string")},
            {"stringAsDouble", c.decodeDoubleForKey("string")},
            {"stringAsBool", c.decodeBoolForKey("string")},
            {"int32", c.decodeInt32ForKey("int32")},
            {"int64AsInt32", c.decodeInt32ForKey("int64")},
            {"int64", c.decodeInt64ForKey("int64")},
            {"float", c.decodeFloatForKey("float")},
            {"boolAsInteger", c.decodeIntegerForKey("bool")},
            {"containsNull", c.containsValueForKey("null")},
            {"containsAbsent", c.containsValueForKey("nope")},
            {"null", c.decodeObjectForKey("null")},
        });
    }
};

class KeyedArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        NSClassRegistry::registerClass<ArchiveTestRecord>();
        NSClassRegistry::registerClass<ArchiveTestThrowing>();
        NSClassRegistry::registerClass<ArchiveTestProbe>();
    }

    static Ref<ArchiveTestRecord> record(std::string title, Value extras = Value()) {
        auto r = NSObject::alloc<ArchiveTestRecord>();
        r->title = std::move(title);
        r->count = -42;
        r->score = 0.125;
        r->flag = true;
        r->extras = std::move(extras);
        return r;
    }

    LogCapture capture_{false};
};

TEST_F(KeyedArchiveTest, RegisteredRecordWithNestedCollectionsRoundTrips) {
    const Value extras = Value::dictionary({
        {"list", Value::array({1, "two", Value::array({3.5, false}), Value(record("inner"))})},
        {"map", Value::dictionary({{"child", Value(record("child", Value::array({Value(record("grandchild"))})))},
                                   {"date", Value(NSDate::dateWithTimeIntervalSinceReferenceDate(1000.5))},
                                   {"data", Value(NSData::dataWithString("bytes"))}})},
        {"nothing", Value()},
    });
    const NSData archive = NSKeyedArchiver::archivedDataWithRootObject(Value::array({Value(record("top", extras))}));
    const Value decoded = NSKeyedUnarchiver::unarchiveObjectWithData(archive);
    ASSERT_EQ(decoded.count(), 1u);
    auto top = decoded.at(0).object<ArchiveTestRecord>();
    ASSERT_TRUE(top);
    EXPECT_EQ(top->title, "top");
    EXPECT_EQ(top->count, -42);
    EXPECT_EQ(top->score, 0.125);
    EXPECT_TRUE(top->flag);
    const Value& list = top->extras["list"];
    ASSERT_EQ(list.count(), 4u);
    EXPECT_TRUE(list.at(2).isEqual(Value::array({3.5, false})));
    EXPECT_EQ(list.at(3).object<ArchiveTestRecord>()->title, "inner");
    auto child = top->extras["map"]["child"].object<ArchiveTestRecord>();
    ASSERT_TRUE(child);
    EXPECT_EQ(child->extras.at(0).object<ArchiveTestRecord>()->title, "grandchild");
    EXPECT_TRUE(top->extras["map"]["date"].isEqual(Value(NSDate::dateWithTimeIntervalSinceReferenceDate(1000.5))));
    EXPECT_TRUE(top->extras["map"]["data"].isEqual(Value(NSData::dataWithString("bytes"))));
    EXPECT_TRUE(top->extras.contains("nothing"));
    EXPECT_TRUE(top->extras["nothing"].isNull());
    EXPECT_TRUE(capture_.lines().empty());
}

TEST_F(KeyedArchiveTest, URLsRoundTripInsideDictionaries) {
    NSClassRegistry::registerClass<NSURL>();
    Value stored = Value::dictionary({
        {"targetURL", Value(NSURL::URLWithString("https://ads.example.com/click?id=7&d=a%20b#top"))},
        {"list", Value::array({Value(NSURL::fileURLWithPath("/tmp/a b.mp4"))})},
    });
    Value back = NSKeyedUnarchiver::unarchiveObjectWithData(NSKeyedArchiver::archivedDataWithRootObject(stored));
    auto url = back["targetURL"].object<NSURL>();
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(url->absoluteString(), "https://ads.example.com/click?id=7&d=a%20b#top");
    EXPECT_EQ(url->host(), "ads.example.com");
    EXPECT_EQ(url->query(), "id=7&d=a%20b");
    EXPECT_TRUE(back.isEqual(stored));
    EXPECT_EQ(back["list"].at(0).object<NSURL>()->path(), "/tmp/a b.mp4");

    // Text that no longer parses as a URL reads as Null, with a log line.
    NSData archive = NSKeyedArchiver::archivedDataWithRootObject(Value(NSURL::URLWithString("http://h/ok")));
    std::string bytes = archive.toString();
    size_t at = bytes.find("http://h/ok");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 4, "ht p");
    EXPECT_TRUE(NSKeyedUnarchiver::unarchiveObjectWithData(NSData::dataWithString(bytes)).isNull());
    EXPECT_TRUE(capture_.contains("does not parse"));
}

TEST_F(KeyedArchiveTest, TheLayoutIsOurOwnInsideABinaryPropertyList) {
    const NSData archive = NSKeyedArchiver::archivedDataWithRootObject(
        Value::dictionary({{"r", Value(record("x"))}, {"n", Value()}, {"a", Value::array({1})}}));
    EXPECT_EQ(std::string(archive.stringView().substr(0, 8)), "bplist00");
    const Value root = *PropertyList::valueWithData(archive);
    EXPECT_EQ(root.keys(), (std::vector<std::string>{"$archiver", "$version", "$top"}));
    EXPECT_EQ(*root["$archiver"].string(), "platform");
    EXPECT_TRUE(root["$version"].isInteger());
    EXPECT_EQ(root["$version"].integerValue(), 1);
    const Value& top = root["$top"]["$dict"];
    EXPECT_TRUE(top["n"].isEqual(Value::dictionary({{"$null", true}})));
    EXPECT_TRUE(top["a"].isEqual(Value::array({1})));
    EXPECT_EQ(*top["r"]["$class"].string(), "ArchiveTestRecord");
    EXPECT_TRUE(top["r"]["$fields"].isEqual(Value::dictionary(
        {{"title", "x"}, {"count", -42}, {"score", 0.125}, {"flag", true}, {"extras", Value::dictionary({{"$null", true}})}})));
}

TEST_F(KeyedArchiveTest, DecodingAnswersAbsentForMissingKeysAndOtherKinds) {
    const Value decoded =
        NSKeyedUnarchiver::unarchiveObjectWithData(NSKeyedArchiver::archivedDataWithRootObject(Value(NSObject::alloc<ArchiveTestProbe>())));
    auto probe = decoded.object<ArchiveTestProbe>();
    ASSERT_TRUE(probe);
    EXPECT_TRUE(probe->stored.isEqual(Value::dictionary({
        {"absentObject", Value()},
        {"absentBool", false},
        {"absentInteger", 0},
        {"stringAsInteger", 0},
        {"stringAsDouble", 0},
        {"stringAsBool", false},
        {"int32", -7},
        {"int64AsInt32", std::numeric_limits<int32_t>::max()},
        {"int64", int64_t{1} << 40},
        {"float", 1.5},
        {"boolAsInteger", 1},
        {"containsNull", true},
        {"containsAbsent", false},
        {"null", Value()},
    }))) << probe->stored.description();
}

TEST_F(KeyedArchiveTest, EveryFailureReadsAsNullWithOneLogLine) {
    const NSData good = NSKeyedArchiver::archivedDataWithRootObject(Value(record("x")));
    const std::vector<std::pair<std::string, NSData>> cases = {
        {"unregistered class", NSKeyedArchiver::archivedDataWithRootObject(Value(NSObject::alloc<ArchiveTestUnregistered>()))},
        {"throwing initWithCoder", NSKeyedArchiver::archivedDataWithRootObject(Value(NSObject::alloc<ArchiveTestThrowing>()))},
        {"truncated", good.subdataWithRange(0, good.length() - 10)},
        {"empty", NSData()},
        {"a plain property list",
         *PropertyList::dataWithValue(Value::array({1, 2}), PropertyList::Format::Binary)},
        {"another archiver",
         *PropertyList::dataWithValue(Value::dictionary({{"$archiver", "NSKeyedArchiver"}, {"$version", 100000}, {"$top", 1}}),
                                      PropertyList::Format::Binary)},
        {"another version",
         *PropertyList::dataWithValue(Value::dictionary({{"$archiver", "platform"}, {"$version", 2}, {"$top", 1}}),
                                      PropertyList::Format::Binary)},
        {"malformed node",
         *PropertyList::dataWithValue(
             Value::dictionary({{"$archiver", "platform"}, {"$version", 1}, {"$top", Value::dictionary({{"x", 1}})}}),
             PropertyList::Format::Binary)},
    };
    for (const auto& [what, data] : cases) {
        capture_.clear();
        EXPECT_TRUE(NSKeyedUnarchiver::unarchiveObjectWithData(data).isNull()) << what;
        EXPECT_EQ(capture_.lines().size(), 1u) << what;
    }
}

TEST_F(KeyedArchiveTest, ABadElementInsideAnArrayIsSkipped) {
    const Value root = Value::array({Value(record("a")), Value(NSObject::alloc<ArchiveTestUnregistered>()), 3,
                                     Value(NSObject::alloc<ArchiveTestThrowing>()), Value(record("b"))});
    const Value decoded = NSKeyedUnarchiver::unarchiveObjectWithData(NSKeyedArchiver::archivedDataWithRootObject(root));
    ASSERT_EQ(decoded.count(), 3u);
    EXPECT_EQ(decoded.at(0).object<ArchiveTestRecord>()->title, "a");
    EXPECT_EQ(decoded.at(1).integerValue(), 3);
    EXPECT_EQ(decoded.at(2).object<ArchiveTestRecord>()->title, "b");
    EXPECT_EQ(capture_.lines().size(), 2u);
}

TEST_F(KeyedArchiveTest, ObjectsWithoutCodingAndSelfContainingRecordsArchiveAsNull) {
    auto loop = record("loop");
    loop->extras = Value::array({Value(loop)});
    const Value decoded = NSKeyedUnarchiver::unarchiveObjectWithData(
        NSKeyedArchiver::archivedDataWithRootObject(Value::array({Value(NSObject::alloc()), Value(loop)})));
    loop->extras = Value();  // break the cycle
    ASSERT_EQ(decoded.count(), 2u);
    EXPECT_TRUE(decoded.at(0).isNull());
    auto copy = decoded.at(1).object<ArchiveTestRecord>();
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->extras.at(0).isNull());
    EXPECT_TRUE(capture_.contains("does not implement NSCoding"));
    EXPECT_TRUE(capture_.contains("contains itself"));
}

TEST_F(KeyedArchiveTest, FilesAreWrittenAtomicallyAndAMissingOneReadsAsNull) {
    TempFolder folder;
    const std::string path = folder / "records.plist";
    ASSERT_TRUE(NSKeyedArchiver::archiveRootObject(Value::array({Value(record("saved"))}), path));
    EXPECT_EQ(NSKeyedUnarchiver::unarchiveObjectWithFile(path).at(0).object<ArchiveTestRecord>()->title, "saved");
    EXPECT_TRUE(capture_.lines().empty());

    EXPECT_TRUE(NSKeyedUnarchiver::unarchiveObjectWithFile(folder / "absent.plist").isNull());
    EXPECT_EQ(capture_.lines().size(), 1u);
    EXPECT_FALSE(NSKeyedArchiver::archiveRootObject(Value(1), folder / "no/such/folder.plist"));
}
