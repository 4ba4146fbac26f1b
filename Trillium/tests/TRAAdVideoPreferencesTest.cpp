// The video settings record: built from JSON by its rules (strings as given,
// flags by their boolean reading, whole seconds), nothing from text that does
// not parse, and the archive form with whole-second durations.
#include "Trillium/TRAAdVideoPreferences.h"
#include "Trillium/tests/TrilliumTestSupport.h"
#include "platform/foundation/NSKeyedArchiver.h"

namespace {

class TRAAdVideoPreferencesTest : public TrilliumTest {};

TEST_F(TRAAdVideoPreferencesTest, JsonFillsTheFieldsByTheirRules) {
    auto prefs = TRAAdVideoPreferences::preferencesWithJsonString(
        R"({"videoUrl": "http://v/a.mp4", "videoProgressUrl": "http://t/p", "postRoll": "NONE",
            "closeable": "yes", "skippable": 0, "skippableAfter": 7.9, "videoPath": "/not/from/json",
            "unknown": 1, "videoSoundUrl": null})");
    ASSERT_NE(prefs, nullptr);
    EXPECT_EQ(prefs->videoUrl(), "http://v/a.mp4");
    EXPECT_EQ(prefs->videoProgressUrl(), "http://t/p");
    EXPECT_EQ(prefs->postRoll(), "NONE");
    EXPECT_TRUE(prefs->isCloseable());
    EXPECT_FALSE(prefs->isSkippable());
    EXPECT_EQ(prefs->skippableAfter(), 7.0);
    EXPECT_EQ(prefs->videoPath(), std::nullopt);
    EXPECT_EQ(prefs->videoSoundUrl(), std::nullopt);
    EXPECT_EQ(prefs->videoDuration(), 0.0);
    EXPECT_FALSE(prefs->isSoundOn());

    auto empty = TRAAdVideoPreferences::preferencesWithJsonString("{}");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->postRoll(), std::nullopt);
    EXPECT_EQ(empty->skippableAfter(), 0.0);
    EXPECT_FALSE(empty->isCloseable());
}

TEST_F(TRAAdVideoPreferencesTest, TextThatIsNoObjectGivesNoRecord) {
    EXPECT_EQ(TRAAdVideoPreferences::preferencesWithJsonString("{\"videoUrl\": "), nullptr);
    EXPECT_EQ(TRAAdVideoPreferences::preferencesWithJsonString("[1, 2]"), nullptr);
    EXPECT_EQ(TRAAdVideoPreferences::preferencesWithJsonString(""), nullptr);
}

TEST_F(TRAAdVideoPreferencesTest, TheArchiveKeepsWholeSecondsFlagsAndStrings) {
    auto prefs = TRAAdVideoPreferences::preferencesWithJsonString(R"({"videoUrl": "http://v/a.mp4", "skippable": true})");
    prefs->setVideoDuration(12.6);
    prefs->setSkippableAfter(3.99);
    prefs->setIsSoundOn(true);
    Value back = NSKeyedUnarchiver::unarchiveObjectWithData(NSKeyedArchiver::archivedDataWithRootObject(Value(prefs)));
    auto copy = back.object<TRAAdVideoPreferences>();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->videoDuration(), 12.0);
    EXPECT_EQ(copy->skippableAfter(), 3.0);
    EXPECT_TRUE(copy->isSkippable());
    EXPECT_TRUE(copy->isSoundOn());
    EXPECT_FALSE(copy->isCloseable());
    EXPECT_EQ(copy->videoUrl(), "http://v/a.mp4");
    EXPECT_EQ(copy->videoPath(), std::nullopt);
}

}  // namespace
