// The timeline and the client log beside it: which client lines reach the
// timeline and how they read there, and the notes for expected lines.
#include <gtest/gtest.h>

#include "host/Timeline.h"
#include "platform/foundation/Value.h"

namespace {

using platform::LogLevel;

// The text of a line, without its time stamp and kind.
std::string textOf(const std::string& line) { return line.substr(22); }
std::string kindOf(const std::string& line) { return line.substr(13, 8); }

}  // namespace

TEST(TimelineTest, TheClientLogKeepsEveryLineAndTheTimelineItsWarningsErrorsAndPageLines) {
    Timeline timeline(false);
    timeline.add("host", "launch");
    timeline.addLog(LogLevel::Debug, "Halcyon DEBUG [HLSdk] a detail");
    timeline.addLog(LogLevel::Info, "TamarindAd [Info]: fired.\nAd Request URL POST http://x/\nHttp body{}");
    timeline.addLog(LogLevel::System, "the system log");
    timeline.addLog(LogLevel::Warning, "Halcyon WARN [HLTask]\tretrying\n  in 10 s");
    timeline.addLog(LogLevel::Error, "TamarindAd [Error]: no script");
    timeline.addLog(LogLevel::Info, "JS log: creative: mraid ready []");

    auto lines = timeline.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(textOf(lines[1]), "Halcyon WARN [HLTask] retrying in 10 s");  // one line, spaces folded
    EXPECT_EQ(kindOf(lines[1]), "log     ");
    EXPECT_EQ(textOf(lines[2]), "TamarindAd [Error]: no script");
    EXPECT_EQ(textOf(lines[3]), "JS log: creative: mraid ready []");

    auto log = timeline.logLines();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(kindOf(log[0]), "debug   ");
    EXPECT_EQ(textOf(log[0]), "Halcyon DEBUG [HLSdk] a detail");
    // Whole, its line breaks escaped: one record a line.
    EXPECT_EQ(textOf(log[1]), "TamarindAd [Info]: fired.\\nAd Request URL POST http://x/\\nHttp body{}");
    EXPECT_EQ(kindOf(log[2]), "system  ");
    EXPECT_EQ(kindOf(log[3]), "warning ");
    EXPECT_EQ(kindOf(log[4]), "error   ");
}

TEST(TimelineTest, AValueDescribedOverSeveralLinesReadsOnOneWithoutEscapes) {
    Timeline timeline(false);
    Value purchase = Value::dictionary({{"item", "spectral  scanner"}, {"sizes", Value::array({Value(1), Value(2)})}});
    timeline.add("app", "trackCheckout parameters: " + purchase.description());
    timeline.add("app", "\tan alert:\r\n\"Title\"\n\n  its message\x01\n");
    auto lines = timeline.lines();
    ASSERT_EQ(lines.size(), 2u);
    // The description's line breaks and indents as one space, the value's own spaces kept.
    EXPECT_EQ(textOf(lines[0]), "trackCheckout parameters: { item = \"spectral  scanner\"; sizes = ( 1, 2 ); }");
    // Other control bytes are still escaped.
    EXPECT_EQ(textOf(lines[1]), "an alert: \"Title\" its message\\x01");
}

TEST(TimelineTest, ALongWarningIsCutOnTheTimelineAtACharactersStartAndKeptWholeInTheLog) {
    Timeline timeline(false);
    // Two-byte characters from an odd offset: the limit falls inside one.
    std::string text = "x";
    while (text.size() < Timeline::kShownLogBytes + 100) text += "\xC3\xA9";
    timeline.addLog(LogLevel::Error, text);
    const std::string shown = textOf(timeline.lines().at(0));
    const std::string mark = " [… cut; the client log has more of it]";
    ASSERT_GT(shown.size(), mark.size());
    EXPECT_EQ(shown.substr(shown.size() - mark.size()), mark);
    EXPECT_EQ(shown.substr(0, shown.size() - mark.size()), text.substr(0, Timeline::kShownLogBytes - 1));
    EXPECT_EQ(shown.find("\\x"), std::string::npos) << "no character cut in two";
    EXPECT_EQ(textOf(timeline.logLines().at(0)), text);
}

TEST(TimelineTest, AnExpectedLineGetsItsNoteOnceAfterItsFirstAppearance) {
    Timeline timeline(false);
    timeline.expect({"returned 503", "server failure (code 503)"}, "the service refuses on purpose");
    timeline.add("host", "launch");
    timeline.addLog(LogLevel::Debug, "Halcyon DEBUG returned 503");  // the client log alone: no note
    timeline.addLog(LogLevel::Warning, "Halcyon WARN server failure (code 503)");
    timeline.addLog(LogLevel::Error, "Halcyon ERROR returned 503");
    auto lines = timeline.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(kindOf(lines[2]), "note    ");
    EXPECT_EQ(textOf(lines[2]), "expected: the service refuses on purpose");
    EXPECT_EQ(textOf(lines[3]), "Halcyon ERROR returned 503");
}
