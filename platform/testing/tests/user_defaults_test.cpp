#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/PropertyList.h"
#include "platform/testing/PlatformTest.h"

using platform::PropertyList;

namespace {

std::string run(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::array<char, 4096> buffer{};
    while (size_t n = pipe ? std::fread(buffer.data(), 1, buffer.size(), pipe.get()) : 0) out.append(buffer.data(), n);
    return out;
}

}  // namespace

class UserDefaultsTest : public platform::testing::PlatformTest {
protected:
    Ref<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }
    std::string file() const { return home() + "/Library/Preferences/com.paranormal.detector.plist"; }
};

TEST_F(UserDefaultsTest, ValuesSurviveARestartWithoutSynchronize) {
    const NSDate when = NSDate::dateWithTimeIntervalSinceReferenceDate(789012345.678901);
    defaults()->setObject("text", "string");
    defaults()->setInteger(int64_t{1} << 40, "integer");
    defaults()->setBool(true, "bool");
    defaults()->setDouble(2.5, "double");
    defaults()->setObject(Value(NSData::dataWithString("bytes")), "data");
    defaults()->setObject(Value(when), "date");
    defaults()->setObject(Value::dictionary({{"list", Value::array({1, "two"})}}), "nested");
    restartProcessState();
    EXPECT_EQ(defaults()->stringForKey("string"), "text");
    EXPECT_EQ(defaults()->integerForKey("integer"), int64_t{1} << 40);
    EXPECT_TRUE(defaults()->objectForKey("integer").isInteger());
    EXPECT_TRUE(defaults()->boolForKey("bool"));
    EXPECT_EQ(defaults()->doubleForKey("double"), 2.5);
    EXPECT_EQ(defaults()->dataForKey("data")->toString(), "bytes");
    const Value date = defaults()->objectForKey("date");
    ASSERT_TRUE(date.isDate());
    EXPECT_EQ(std::llround(date.date()->timeIntervalSinceReferenceDate() * 1e6), 789012345678901LL);
    EXPECT_TRUE(Value(*defaults()->dictionaryForKey("nested")).isEqual(Value::dictionary({{"list", Value::array({1, "two"})}})));
    EXPECT_TRUE(defaults()->synchronize());

    defaults()->removeObjectForKey("string");
    restartProcessState();
    EXPECT_FALSE(defaults()->stringForKey("string"));
    EXPECT_TRUE(defaults()->boolForKey("bool"));
}

TEST_F(UserDefaultsTest, AbsentStaysDistinctFromZero) {
    EXPECT_TRUE(defaults()->objectForKey("flag").isNull());
    defaults()->setBool(false, "flag");
    defaults()->setInteger(0, "zero");
    restartProcessState();
    EXPECT_FALSE(defaults()->objectForKey("flag").isNull());
    EXPECT_FALSE(defaults()->boolForKey("flag"));
    EXPECT_TRUE(defaults()->objectForKey("zero").isNumber());
    EXPECT_TRUE(defaults()->objectForKey("never").isNull());
    EXPECT_EQ(defaults()->integerForKey("never"), 0);
}

TEST_F(UserDefaultsTest, TypedGettersConvertOrAnswerNothing) {
    defaults()->setObject(" 42abc", "numericText");
    defaults()->setObject(3.75, "real");
    defaults()->setObject(Value::array({1}), "list");
    EXPECT_EQ(defaults()->integerForKey("numericText"), 42);
    EXPECT_EQ(defaults()->stringForKey("real"), "3.75");
    EXPECT_EQ(defaults()->integerForKey("real"), 3);
    EXPECT_FALSE(defaults()->stringForKey("list"));
    EXPECT_FALSE(defaults()->dictionaryForKey("list"));
    EXPECT_FALSE(defaults()->arrayForKey("real"));
    EXPECT_FALSE(defaults()->dataForKey("real"));
    EXPECT_EQ(defaults()->arrayForKey("list")->size(), 1u);
    EXPECT_EQ(defaults()->floatForKey("real"), 3.75f);
}

TEST_F(UserDefaultsTest, NullRemovesNestedNullsAreDroppedAndObjectsRefused) {
    defaults()->setObject("x", "key");
    defaults()->setObject(Value(), "key");
    EXPECT_TRUE(defaults()->objectForKey("key").isNull());

    defaults()->setObject(Value::dictionary({{"a", Value()}, {"b", Value::array({1, Value(), 2})}}), "holes");
    EXPECT_TRUE(logCapture().contains("dropped 2 null value(s) from \"holes\", first at holes/a"));
    restartProcessState();
    EXPECT_TRUE(defaults()->objectForKey("holes").isEqual(Value::dictionary({{"b", Value::array({1, 2})}})));

    defaults()->setObject("kept", "record");
    defaults()->setObject(Value::array({1, Value(NSObject::alloc())}), "record");
    EXPECT_TRUE(logCapture().contains("not storing \"record\": object of class NSObject at record[1]"));
    restartProcessState();
    EXPECT_EQ(defaults()->stringForKey("record"), "kept");
}

TEST_F(UserDefaultsTest, RegisteredDefaultsAnswerUntilSetAndAreNotStored) {
    defaults()->registerDefaults(Value::dictionary({{"autoload", true}, {"count", 5}}));
    EXPECT_TRUE(defaults()->boolForKey("autoload"));
    defaults()->setInteger(7, "count");
    EXPECT_EQ(defaults()->integerForKey("count"), 7);
    EXPECT_TRUE(defaults()->dictionaryRepresentation().isEqual(Value::dictionary({{"autoload", true}, {"count", 7}})));
    restartProcessState();
    EXPECT_TRUE(defaults()->objectForKey("autoload").isNull());
    EXPECT_EQ(defaults()->integerForKey("count"), 7);
}

TEST_F(UserDefaultsTest, ConcurrentWritersAllLand) {
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([this, t] {
            for (int i = 0; i < 12; ++i) {
                defaults()->setInteger(t * 100 + i, "w" + std::to_string(t) + "." + std::to_string(i));
                defaults()->integerForKey("w0.0");
            }
        });
    }
    for (auto& w : writers) w.join();
    restartProcessState();
    EXPECT_EQ(defaults()->dictionaryRepresentation().count(), 48u);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(defaults()->integerForKey("w" + std::to_string(t) + "." + std::to_string(i)), t * 100 + i);
}

TEST_F(UserDefaultsTest, ACorruptTruncatedOrEmptyFileIsLoggedAndReadsAsEmpty) {
    defaults()->setObject("value", "key");
    const NSData good = *NSData::dataWithContentsOfFile(file());
    for (const NSData& bad : {NSData(), good.subdataWithRange(0, good.length() / 2), NSData::dataWithString("garbage!")}) {
        ASSERT_TRUE(bad.writeToFile(file(), false));
        logCapture().clear();
        restartProcessState();
        EXPECT_TRUE(defaults()->objectForKey("key").isNull());
        EXPECT_TRUE(logCapture().contains("com.paranormal.detector.plist")) << bad.length();
        // Writing again replaces the damaged file.
        defaults()->setObject("again", "key");
        restartProcessState();
        EXPECT_EQ(defaults()->stringForKey("key"), "again");
    }
}

// The file cannot be read at a start (the file-system seam): it is never
// written over, and once it reads, what the application changed meanwhile
// wins over what it holds (a value set, a key removed, one removed and set
// again, one set and removed, a dictionary emptied), in this process and
// after a restart.
TEST_F(UserDefaultsTest, ChangesMadeWhileTheFileCannotBeReadWinOnceItReads) {
    for (const char* key : {"changed", "removed", "removed and set", "set and removed"}) defaults()->setObject("old", key);
    defaults()->setObject(Value::dictionary({{"gender", "f"}}), "emptied");
    defaults()->setInteger(57, "untouched");
    const NSData saved = *NSData::dataWithContentsOfFile(file());

    platform::testing::FileSystemConditions::setReadsFail(file(), EMFILE);
    restartProcessState();
    EXPECT_TRUE(defaults()->objectForKey("changed").isNull());
    defaults()->setObject("new", "changed");
    defaults()->removeObjectForKey("removed");
    defaults()->removeObjectForKey("removed and set");
    defaults()->setObject("again", "removed and set");
    defaults()->setObject("meanwhile", "set and removed");
    defaults()->removeObjectForKey("set and removed");
    defaults()->setObject(Value::dictionary({}), "emptied");
    defaults()->setObject("new", "added");
    EXPECT_EQ(defaults()->stringForKey("changed"), "new");
    platform::testing::FileSystemConditions::setReadsFail(file(), std::nullopt);
    EXPECT_TRUE(NSData::dataWithContentsOfFile(file())->isEqual(saved));

    // The next call reads it.
    auto expectAsTheApplicationLeftThem = [this] {
        EXPECT_EQ(defaults()->stringForKey("changed"), "new");
        EXPECT_TRUE(defaults()->objectForKey("removed").isNull());
        EXPECT_EQ(defaults()->stringForKey("removed and set"), "again");
        EXPECT_TRUE(defaults()->objectForKey("set and removed").isNull());
        EXPECT_TRUE(defaults()->objectForKey("emptied").isEqual(Value::dictionary({})));
        EXPECT_EQ(defaults()->stringForKey("added"), "new");
        EXPECT_EQ(defaults()->integerForKey("untouched"), 57);
    };
    expectAsTheApplicationLeftThem();
    restartProcessState();
    expectAsTheApplicationLeftThem();
    EXPECT_EQ(logCapture().count("com.paranormal.detector.plist cannot be read now"), 1u);
    EXPECT_EQ(logCapture().count("com.paranormal.detector.plist can be read again"), 1u);
}

TEST_F(UserDefaultsTest, AnInterruptedWriteLeavesThePreviousValues) {
    defaults()->setObject("before", "key");
    // The temporary file of a write that crashed before its rename.
    std::ofstream(file() + ".tmp-interrupted", std::ios::binary) << "bplist00 partial";
    restartProcessState();
    EXPECT_EQ(defaults()->stringForKey("key"), "before");
}

TEST_F(UserDefaultsTest, TheFileIsABinaryPlistOtherToolsRead) {
    defaults()->setObject("text", "s");
    defaults()->setInteger(-3, "i");
    defaults()->setObject(Value(NSDate::dateWithTimeIntervalSince1970(1700000000.5)), "d");
    EXPECT_EQ(std::string(NSData::dataWithContentsOfFile(file())->stringView().substr(0, 8)), "bplist00");
    const std::string xml = run("plistutil -i '" + file() + "' -o -");
    EXPECT_NE(xml.find("<key>s</key>\n\t<string>text</string>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<integer>-3</integer>"), std::string::npos) << xml;
    EXPECT_EQ(run("python3 -c 'import plistlib,sys; d=plistlib.load(open(sys.argv[1],\"rb\")); "
                  "print(d[\"s\"], d[\"i\"], d[\"d\"].isoformat())' '" + file() + "'"),
              "text -3 2023-11-14T22:13:20.500000\n");
}
