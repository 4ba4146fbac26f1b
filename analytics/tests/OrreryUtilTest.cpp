// The toolbox: digests and checksums (signed form included), URL escaping of
// malformed text, template filling (including values that look like macros),
// the file folder (cleared of interrupted writes at start) and the archive
// helpers on missing and damaged files.
#include <string>
#include <vector>

#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryUtil.h"
#include "analytics/OrreryiOSUtil.h"
#include "analytics/tests/OrreryTestSupport.h"
#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSURL.h"

namespace {

using OrreryUtilTest = OrreryTest;

constexpr const char* kMacroPattern = "%?\\{([A-Za-z0-9_])*\\}";

TEST_F(OrreryUtilTest, Md5IsLowerCaseHex) {
    EXPECT_EQ(OrreryUtil::md5String(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(OrreryUtil::md5String("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
}

TEST_F(OrreryUtilTest, ChecksumIsSignedCrc32) {
    EXPECT_EQ(OrreryUtil::dataChecksum(NSData()), 0);
    // 0xCBF43926: the top bit is set, so the signed form is negative.
    EXPECT_EQ(OrreryUtil::dataChecksum(NSData::dataWithString("123456789")), -873187034);
    EXPECT_EQ(OrreryUtil::dataChecksum(NSData::dataWithString("abc")), 0x352441C2);
}

TEST_F(OrreryUtilTest, EscapingMakesMalformedTextAUrl) {
    std::string raw = "http://example.com/a b/\xC3\xA9?q={x}|y&p=50%&ok=%41#frag#more";
    ASSERT_EQ(NSURL::URLWithString(raw), nullptr);
    std::string escaped = OrreryUtil::encodeIllegalCharsToPercentEscapeString(raw);
    EXPECT_EQ(escaped, "http://example.com/a%20b/%C3%A9?q=%7Bx%7D%7Cy&p=50%25&ok=%41#frag%23more");
    EXPECT_NE(NSURL::URLWithString(escaped), nullptr);
    // Escaping twice changes nothing; a well-formed URL stays as it is.
    EXPECT_EQ(OrreryUtil::encodeIllegalCharsToPercentEscapeString(escaped), escaped);
    EXPECT_EQ(OrreryUtil::encodeIllegalCharsToPercentEscapeString("https://h/p?a=1&b=2"), "https://h/p?a=1&b=2");
    EXPECT_EQ(OrreryUtil::encodeIllegalCharsToPercentEscapeString("%"), "%25");
    EXPECT_EQ(OrreryUtil::encodeIllegalCharsToPercentEscapeString("a%4"), "a%254");
}

TEST_F(OrreryUtilTest, SubstitutionFillsMacrosAndDropsUnknownOnes) {
    Value values = Value::dictionary({{"%{event_name}", "Level_up"}, {"%{event_time_millis}", "1450000000123"}});
    std::string url =
        "https://p.example/cb?e=%{event_name}&t=%{event_time_millis}&x={event_name}&y=%{no_such}&z=%{Event_Name}";
    OrreryUtil::substituteParamsInString(&url, values, kMacroPattern);
    EXPECT_EQ(url, "https://p.example/cb?e=Level_up&t=1450000000123&x=&y=&z=");

    std::string braces = "{}";
    OrreryUtil::substituteParamsInString(&braces, values, kMacroPattern);
    EXPECT_EQ(braces, "");

    std::string json = "{\"name\": \"%{event_name}\", \"n\": 1}";
    OrreryUtil::substituteParamsInString(&json, values, kMacroPattern);
    EXPECT_EQ(json, "{\"name\": \"Level_up\", \"n\": 1}");
}

TEST_F(OrreryUtilTest, SubstitutedValuesAreNotExpandedAgain) {
    // A value holding a macro (even its own) is inserted as it is, once.
    Value values = Value::dictionary({{"%{event_name}", "%{event_name}!"}, {"%{a}", "%{b}"}, {"%{b}", "B"}});
    std::string text = "%{event_name} %{a} %{b}";
    OrreryUtil::substituteParamsInString(&text, values, kMacroPattern);
    EXPECT_EQ(text, "%{event_name}! %{b} B");
}

TEST_F(OrreryUtilTest, AHugeTemplateIsFilledWithoutExhaustingTheStack) {
    // A server's template with a very long macro-like run, filled off the main thread.
    std::string text = "%{event_name}/%{" + std::string(1000000, 'a') + "}/end";
    dispatch_sync(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), [&text] {
        OrreryUtil::substituteParamsInString(&text, Value::dictionary({{"%{event_name}", "E"}}), kMacroPattern);
    });
    EXPECT_EQ(text, "E//end");
}

TEST_F(OrreryUtilTest, SubstitutionIgnoresNullStringsAndBadPatterns) {
    OrreryUtil::substituteParamsInString(nullptr, Value(ValueDictionary()), kMacroPattern);
    std::string text = "%{a}";
    expectLogLine("Orrery: the pattern \"(unclosed\" does not compile");
    OrreryUtil::substituteParamsInString(&text, Value::dictionary({{"%{a}", "A"}}), "(unclosed");
    EXPECT_EQ(text, "%{a}");
}

TEST_F(OrreryUtilTest, FileFolderIsCreatedUnderLibrary) {
    std::string folder = OrreryUtil::filePathDirectory();
    EXPECT_TRUE(folder.ends_with("/Library/OrreryFiles")) << folder;
    bool isDirectory = false;
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(folder, &isDirectory));
    EXPECT_TRUE(isDirectory);
}

TEST_F(OrreryUtilTest, TemporaryFilesOfInterruptedWritesGoAtStart) {
    // As a process killed mid-write leaves them, before this one looks.
    const std::string folder = home() + "/Library/OrreryFiles";
    auto manager = NSFileManager::defaultManager();
    ASSERT_TRUE(manager->createDirectoryAtPath(folder, true, Value()));
    for (const char* name : {"OrreryPersistentGlobals.archive.tmp-Ab12Cd", "OrreryPersistentGlobals.archive"})
        ASSERT_TRUE(NSData::dataWithString("x").writeToFile(folder + "/" + name, false));
    EXPECT_EQ(OrreryUtil::filePathDirectory(), folder);
    EXPECT_EQ(manager->contentsOfDirectoryAtPath(folder), std::vector<std::string>{"OrreryPersistentGlobals.archive"});
}

TEST_F(OrreryUtilTest, ArchivesRoundTripAndBadFilesReadAsNothing) {
    std::string path = OrreryUtil::filePathDirectory() + "/probe.archive";
    Value object = Value::dictionary({{"n", 7}, {"s", "text"}, {"list", Value::array({1, 2})}});
    ASSERT_TRUE(OrreryUtil::archiveObject(object, path));
    EXPECT_TRUE(OrreryUtil::safeUnarchiveObjectWithFile(path).isEqual(object));

    EXPECT_TRUE(OrreryUtil::safeUnarchiveObjectWithFile(path + ".missing").isNull());
    ASSERT_TRUE(NSData::dataWithString("not an archive at all").writeToFile(path, true));
    EXPECT_TRUE(OrreryUtil::safeUnarchiveObjectWithFile(path).isNull());
}

TEST_F(OrreryUtilTest, DeviceFactsFollowTheProfile) {
    EXPECT_FALSE(OrreryUtil::isIPad());
    EXPECT_EQ(OrreryiOSUtil::agentPlatform(), 2);
    EXPECT_EQ(OrreryUtil::devicePlatform(), "iPhone8,1");
    platform::DeviceProfile::current().idiom = 1;
    EXPECT_TRUE(OrreryUtil::isIPad());
    EXPECT_EQ(OrreryiOSUtil::agentPlatform(), 8);

    auto vendor = OrreryUtil::getIdentifierForVendor();
    ASSERT_TRUE(vendor.has_value());
    EXPECT_EQ(vendor, OrreryUtil::getIdentifierForVendor());
    EXPECT_NE(OrreryUtil::generateCFUUID(), OrreryUtil::generateCFUUID());
    EXPECT_FALSE(OrreryUtil::getOrreryId().has_value());  // made by the first session
}

TEST_F(OrreryUtilTest, MainThreadAssertionOnlyComplainsOnMain) {
    expectLogLine("Orrery: probe must not run on the main thread");
    EXPECT_FALSE(OrreryUtil::assertThreadIsNotMain("probe"));
    bool offMain = false;
    dispatch_sync(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                  [&offMain] { offMain = OrreryUtil::assertThreadIsNotMain("probe"); });
    EXPECT_TRUE(offMain);
}

TEST_F(OrreryUtilTest, PendingTimersAreInvalidatedAndDropped) {
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    int fired = 0;
    for (int i = 0; i < 3; ++i)
        storage->pendingUrlTimers()->addTimer(
            NSTimer::scheduledTimerWithTimeInterval(5, false, [&fired](Ref<NSTimer>) { ++fired; }));
    auto timers = storage->pendingUrlTimers()->timers();
    ASSERT_EQ(timers.size(), 3u);
    storage->removePendingUrlTimers();
    EXPECT_EQ(storage->pendingUrlTimers()->count(), 0u);
    for (const auto& timer : timers) EXPECT_FALSE(timer->isValid());
    driver().advance(10);
    EXPECT_EQ(fired, 0);
}

}  // namespace
