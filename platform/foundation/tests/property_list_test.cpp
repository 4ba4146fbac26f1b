#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "TempFolder.h"
#include "platform/foundation/LogCapture.h"
#include "platform/foundation/PropertyList.h"

using platform::PropertyList;
using platform::testing::LogCapture;

namespace {

NSDate referenceDate(double seconds) { return NSDate::dateWithTimeIntervalSinceReferenceDate(seconds); }

Value everyKind() {
    return Value::dictionary({
        {"zeta", "first key stays first"},
        {"bool", true},
        {"negative", -5},
        {"min", Value(std::numeric_limits<long long>::min())},
        {"max", Value(std::numeric_limits<long long>::max())},
        {"real", 5.5},
        {"text", "h\xC3\xA9llo \xF0\x9F\x91\xBB"},
        {"data", Value(NSData("\x00\x01\xFE\xFF", 4))},
        {"date", Value(referenceDate(800000000.123456))},
        {"list", Value::array({1, "two", Value::array({3.25}), Value::dictionary({{"k", false}})})},
        {"empty", Value(ValueDictionary())},
    });
}

NSData listOf(int count, PropertyList::Format format) {
    Value::Array items;
    for (int i = 0; i < count; ++i) items.push_back(Value(i));
    return *PropertyList::dataWithValue(Value(std::move(items)), format);
}

std::string run(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return out;
    std::array<char, 4096> buffer{};
    while (size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) out.append(buffer.data(), n);
    return out;
}

}  // namespace

TEST(PropertyListTest, BinaryRoundTripKeepsEveryKindAndTheKeyOrder) {
    const Value original = everyKind();
    std::optional<NSData> bytes = PropertyList::dataWithValue(original, PropertyList::Format::Binary);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->stringView().substr(0, 8)), "bplist00");
    std::optional<Value> read = PropertyList::valueWithData(*bytes);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->isEqual(original)) << read->description();
    EXPECT_EQ(read->keys(), original.keys());
    EXPECT_TRUE((*read)["negative"].isInteger());
    EXPECT_EQ((*read)["min"].integerValue(), std::numeric_limits<int64_t>::min());
    EXPECT_TRUE((*read)["real"].isDouble());
    EXPECT_TRUE((*read)["bool"].isBool());
}

TEST(PropertyListTest, XmlRoundTripKeepsEverythingButFractionsOfSeconds) {
    Value original = everyKind();
    original.set("date", Value(referenceDate(800000000)));
    std::optional<NSData> bytes = PropertyList::dataWithValue(original, PropertyList::Format::XML);
    ASSERT_TRUE(bytes);
    EXPECT_NE(bytes->stringView().find("<plist"), std::string_view::npos);
    std::optional<Value> read = PropertyList::valueWithData(*bytes);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->isEqual(original)) << read->description();
}

TEST(PropertyListTest, DatesComeBackExactlyIncludingBefore2001) {
    // The format library alone loses a microsecond on many of these, and the
    // last bit of most wall-clock times (whole milliseconds since 1970).
    Value::Array dates;
    std::vector<double> seconds;
    for (int i = 0; i < 200; ++i) {
        const double whole = (i % 2 ? 1 : -1) * (i * 7919.0);
        const double micros = (i * 104729) % 1000000;
        seconds.push_back(whole + micros / 1e6);
        const double wallMillis = 1765000000000.0 + i * 7777777.0;
        seconds.push_back(NSDate::dateWithTimeIntervalSince1970(wallMillis / 1000.0).timeIntervalSinceReferenceDate());
        seconds.push_back(whole + 1.0 / 3.0);
    }
    seconds.push_back(-0.25);
    for (double s : seconds) dates.push_back(Value(referenceDate(s)));
    std::optional<NSData> bytes = PropertyList::dataWithValue(Value(dates), PropertyList::Format::Binary);
    ASSERT_TRUE(bytes);
    // Each date object is 0x33 and the big-endian double itself.
    uint64_t bits;
    std::memcpy(&bits, &seconds[1], sizeof bits);
    std::string object(1, '\x33');
    for (int k = 7; k >= 0; --k) object.push_back(static_cast<char>(bits >> (8 * k)));
    EXPECT_NE(bytes->stringView().find(object), std::string_view::npos);
    std::optional<Value> read = PropertyList::valueWithData(*bytes);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->count(), seconds.size());
    for (size_t i = 0; i < seconds.size(); ++i) {
        const NSDate* date = read->at(i).date();
        ASSERT_NE(date, nullptr);
        EXPECT_EQ(date->timeIntervalSinceReferenceDate(), seconds[i]) << "date " << i;
    }
}

TEST(PropertyListTest, DatesOutsideTheCarriedRangeAreClampedAndLogged) {
    LogCapture capture(false);
    std::optional<NSData> bytes =
        PropertyList::dataWithValue(Value::array({Value(NSDate::distantFuture())}), PropertyList::Format::Binary);
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(capture.contains("outside 1933"));
    const Value read = *PropertyList::valueWithData(*bytes);
    const NSDate* date = read.at(0).date();
    ASSERT_NE(date, nullptr);
    EXPECT_GT(date->timeIntervalSinceReferenceDate(), 2.1e9);  // still far in the future
}

TEST(PropertyListTest, NullAndObjectHaveNoPropertyListForm) {
    std::string error;
    EXPECT_FALSE(PropertyList::dataWithValue(Value::dictionary({{"a", Value::array({1, Value()})}}),
                                             PropertyList::Format::Binary, &error));
    EXPECT_NE(error.find("/a[1]"), std::string::npos) << error;
    EXPECT_FALSE(PropertyList::dataWithValue(Value(NSObject::alloc()), PropertyList::Format::XML, &error));
    EXPECT_NE(error.find("NSObject"), std::string::npos) << error;
}

TEST(PropertyListTest, StringsThatAreNotUtf8OrHoldNulAreRepairedAndLogged) {
    LogCapture capture(false);
    const Value original = Value::dictionary({{"bad", "a\xFF" "b"}, {"nul", std::string("ab\0cd", 5)}});
    std::optional<Value> read =
        PropertyList::valueWithData(*PropertyList::dataWithValue(original, PropertyList::Format::Binary));
    ASSERT_TRUE(read);
    EXPECT_EQ(*(*read)["bad"].string(), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(*(*read)["nul"].string(), "ab");
    EXPECT_EQ(capture.count("stored repaired"), 2u);
}

TEST(PropertyListTest, CorruptTruncatedAndEmptyInputGiveNothingAndOneLogLine) {
    const NSData valid = *PropertyList::dataWithValue(everyKind(), PropertyList::Format::Binary);
    const NSData xml = *PropertyList::dataWithValue(everyKind(), PropertyList::Format::XML);
    LogCapture capture(false);
    const std::vector<NSData> bad = {
        NSData(),
        NSData::dataWithString("not a property list at all"),
        NSData::dataWithString("bplist00"),
        valid.subdataWithRange(0, valid.length() - 1),
        xml.subdataWithRange(0, xml.length() / 2),
    };
    for (const NSData& data : bad) {
        capture.clear();
        EXPECT_FALSE(PropertyList::valueWithData(data, "sample")) << data.length();
        EXPECT_EQ(capture.count("property list: sample"), 1u) << data.length();
    }
    // Every shorter prefix of a binary list lacks its trailer.
    for (size_t n = 0; n < valid.length(); ++n) EXPECT_FALSE(PropertyList::valueWithData(valid.subdataWithRange(0, n)));
}

TEST(PropertyListTest, RandomDamageNeverCrashes) {
    const NSData valid = *PropertyList::dataWithValue(everyKind(), PropertyList::Format::Binary);
    LogCapture capture(false);
    std::mt19937 random(12345);
    for (int round = 0; round < 2000; ++round) {
        NSData damaged = valid;
        const int flips = 1 + round % 4;
        for (int k = 0; k < flips; ++k)
            damaged.mutableBytes()[random() % damaged.length()] = static_cast<uint8_t>(random());
        PropertyList::valueWithData(damaged);  // either a value or nullopt; never a crash
    }
}

TEST(PropertyListTest, HostileNestingAndExpansionAreRefused) {
    LogCapture capture(false);
    // 100000 nested arrays: the library would overflow its stack.
    std::string deepXml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 100000; ++i) deepXml += "<array>";
    for (int i = 0; i < 100000; ++i) deepXml += "</array>";
    deepXml += "</plist>";
    EXPECT_FALSE(PropertyList::valueWithData(NSData::dataWithString(deepXml)));
    EXPECT_TRUE(capture.contains("nested too deeply"));

    // Binary: 60 arrays each holding the next twice: 2^60 nodes once expanded.
    std::string bin = "bplist00";
    std::vector<uint64_t> offsets;
    for (int i = 0; i < 60; ++i) {
        offsets.push_back(bin.size());
        bin += static_cast<char>(0xA2);
        bin += static_cast<char>(i + 1);
        bin += static_cast<char>(i + 1);
    }
    offsets.push_back(bin.size());
    bin += static_cast<char>(0x09);  // true
    const size_t table = bin.size();
    for (uint64_t o : offsets) bin += static_cast<char>(o);
    std::string trailer(32, '\0');
    trailer[6] = 1;  // offset size
    trailer[7] = 1;  // reference size
    trailer[15] = static_cast<char>(offsets.size());
    trailer[31] = static_cast<char>(table);
    bin += trailer;
    capture.clear();
    EXPECT_FALSE(PropertyList::valueWithData(NSData::dataWithString(bin)));
    EXPECT_TRUE(capture.contains("too many objects")) << capture.messages().front();

    // 4 KB that expand to a million values: 1023 references to one array of
    // 1024 values. A list of the same shape under the bound still reads.
    const auto sharedArrays = [](uint16_t outer, uint16_t inner) {
        const auto big16 = [](std::string& out, uint16_t v) {
            out += static_cast<char>(v >> 8);
            out += static_cast<char>(v & 0xFF);
        };
        const auto array = [&](std::string& out, uint16_t count, uint16_t ref) {
            out += static_cast<char>(0xAF);  // an array whose count follows as an integer
            out += static_cast<char>(0x11);
            big16(out, count);
            for (uint16_t i = 0; i < count; ++i) big16(out, ref);
        };
        std::string list = "bplist00";
        std::vector<uint16_t> at;
        at.push_back(static_cast<uint16_t>(list.size()));
        array(list, outer, 1);
        at.push_back(static_cast<uint16_t>(list.size()));
        array(list, inner, 2);
        at.push_back(static_cast<uint16_t>(list.size()));
        list += static_cast<char>(0x09);
        const size_t table = list.size();
        for (uint16_t o : at) big16(list, o);
        std::string trailer(32, '\0');
        trailer[6] = 2;  // offset size
        trailer[7] = 2;  // reference size
        trailer[15] = static_cast<char>(at.size());
        trailer[30] = static_cast<char>(table >> 8);
        trailer[31] = static_cast<char>(table & 0xFF);
        return NSData::dataWithString(list + trailer);
    };
    capture.clear();
    const NSData expanding = sharedArrays(1023, 1024);
    EXPECT_LT(expanding.length(), 4200u);
    EXPECT_FALSE(PropertyList::valueWithData(expanding));
    EXPECT_TRUE(capture.contains("too many objects"));
    std::optional<Value> fits = PropertyList::valueWithData(sharedArrays(63, 1000));
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->count(), 63u);
    EXPECT_EQ(fits->at(62).count(), 1000u);

    // A value nested deeper than readers accept is not written either.
    Value deep = Value::array({1});
    for (int i = 0; i < 600; ++i) deep = Value::array({deep});
    std::string error;
    EXPECT_FALSE(PropertyList::dataWithValue(deep, PropertyList::Format::Binary, &error));
    EXPECT_NE(error.find("nesting"), std::string::npos);
}

// Up to 65,536 values in all (the array counts too) read in either format;
// one more is refused before the library parses it.
TEST(PropertyListTest, BinaryAndXmlListsHaveTheSameBoundOnValues) {
    LogCapture capture(false);
    for (PropertyList::Format format : {PropertyList::Format::Binary, PropertyList::Format::XML}) {
        std::optional<Value> fits = PropertyList::valueWithData(listOf(65535, format));
        ASSERT_TRUE(fits);
        EXPECT_EQ(fits->count(), 65535u);
        capture.clear();
        EXPECT_FALSE(PropertyList::valueWithData(listOf(65536, format), "long list"));
        EXPECT_TRUE(capture.contains("property list: long list: too many objects")) << capture.lines().size();
    }
    // Keys are values too, as they are in a binary list.
    Value dictionary = Value::dictionary({});
    for (int i = 0; i < 32768; ++i) dictionary.set("k" + std::to_string(i), Value(i));
    EXPECT_FALSE(PropertyList::valueWithData(*PropertyList::dataWithValue(dictionary, PropertyList::Format::XML)));
}

// The items of a binary list's array were fetched by index, each found by
// walking the array from its head: 60,000 items took seconds. They are read
// in one pass now (bench_property_list_read holds the time to its target).
TEST(PropertyListTest, LongBinaryArraysReadWhole) {
    const NSData longer = listOf(64000, PropertyList::Format::Binary);
    const Value read = *PropertyList::valueWithData(longer);
    ASSERT_EQ(read.count(), 64000u);
    EXPECT_EQ(read.at(0).integerValue(), 0);
    EXPECT_EQ(read.at(63999).integerValue(), 63999);
}

TEST(PropertyListTest, FilesWrittenHereAreReadByTheLibraryToolAndByPython) {
    TempFolder folder;
    const std::string path = folder / "sample.plist";
    ASSERT_TRUE(PropertyList::writeToFile(everyKind(), path));

    const std::string xml = run("plistutil -i '" + path + "' -o -");
    EXPECT_NE(xml.find("<integer>-5</integer>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<integer>-9223372036854775808</integer>"), std::string::npos);
    EXPECT_NE(xml.find("<string>h\xC3\xA9llo \xF0\x9F\x91\xBB</string>"), std::string::npos);
    EXPECT_NE(xml.find("<date>2026-05-09T06:13:20Z</date>"), std::string::npos);
    EXPECT_NE(xml.find("<data>\n\tAAH+/w==\n\t</data>"), std::string::npos);
    EXPECT_LT(xml.find("<key>zeta</key>"), xml.find("<key>bool</key>"));

    const std::string script = R"(
import datetime, plistlib, sys
def f(v):
    if isinstance(v, bool): return 'true' if v else 'false'
    if isinstance(v, (int, float)): return repr(v)
    if isinstance(v, str): return '"' + v + '"'
    if isinstance(v, bytes): return '<' + v.hex() + '>'
    if isinstance(v, datetime.datetime): return v.isoformat()
    if isinstance(v, list): return '[' + ','.join(f(x) for x in v) + ']'
    return '{' + ','.join(k + '=' + f(x) for k, x in v.items()) + '}'
sys.stdout.write(f(plistlib.load(open(sys.argv[1], 'rb'))))
)";
    std::ofstream(folder / "dump.py") << script;
    EXPECT_EQ(run("python3 '" + (folder / "dump.py") + "' '" + path + "'"),
              "{zeta=\"first key stays first\",bool=true,negative=-5,min=-9223372036854775808,"
              "max=9223372036854775807,real=5.5,text=\"h\xC3\xA9llo \xF0\x9F\x91\xBB\",data=<0001feff>,"
              "date=2026-05-09T06:13:20.123456,list=[1,\"two\",[3.25],{k=false}],empty={}}");
}

TEST(PropertyListTest, AnInterruptedWriteLeavesTheOldFileReadable) {
    TempFolder folder;
    const std::string path = folder / "state.plist";
    ASSERT_TRUE(PropertyList::writeToFile(Value::dictionary({{"generation", 1}}), path));
    // A crash after the temporary file was written but before the rename.
    std::ofstream(folder / "state.plist.tmp.crashed", std::ios::binary) << "bplist00 half written";
    std::optional<Value> read = PropertyList::valueWithContentsOfFile(path);
    ASSERT_TRUE(read);
    EXPECT_EQ((*read)["generation"].integerValue(), 1);
    // The next write goes through regardless of the leftover.
    ASSERT_TRUE(PropertyList::writeToFile(Value::dictionary({{"generation", 2}}), path));
    EXPECT_EQ((*PropertyList::valueWithContentsOfFile(path))["generation"].integerValue(), 2);
}

TEST(PropertyListTest, AnAbsentFileIsQuietAndAnUnreadableOneIsLogged) {
    TempFolder folder;
    LogCapture capture(false);
    EXPECT_FALSE(PropertyList::valueWithContentsOfFile(folder / "absent.plist"));
    EXPECT_TRUE(capture.lines().empty());
    EXPECT_FALSE(PropertyList::valueWithContentsOfFile(folder.path()));  // a folder
    EXPECT_EQ(capture.lines().size(), 1u);
    EXPECT_FALSE(PropertyList::writeToFile(Value(1), folder / "missing-folder/x.plist"));
    EXPECT_TRUE(capture.contains("cannot write"));
}
