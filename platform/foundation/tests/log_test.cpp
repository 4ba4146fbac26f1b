#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <regex>
#include <thread>

#include "platform/foundation/DeviceLocale.h"
#include "platform/foundation/LogCapture.h"
#include "platform/foundation/NSLog.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/VirtualClock.h"

namespace {

TEST(NSLog, WritesOneWholePrefixedLineNamingTheProgramItself) {
    std::vector<std::string> raw;
    std::mutex mutex;
    platform::setLogSink([&](platform::LogLevel, std::string_view line) {
        std::lock_guard lock(mutex);
        raw.emplace_back(line);
    });
    // Started under another name ("exec -a"): the line names the program's own file.
    char* const given = program_invocation_short_name;
    program_invocation_short_name = const_cast<char*>("run demo");
    NSLog("loaded %d ads from %@", 3, std::string("server"));
    program_invocation_short_name = given;
    platform::setLogSink(nullptr);
    ASSERT_EQ(raw.size(), 1u);
    const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (\S+)\[(\d+):\d+\] loaded 3 ads from server)");
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(raw[0], parts, shape)) << raw[0];
    EXPECT_EQ(parts[1].str(), std::filesystem::read_symlink("/proc/self/exe").filename().string());
    EXPECT_EQ(parts[2].str(), std::to_string(::getpid()));
}

TEST(NSLog, TimeStampIsTheDeviceLocalTimeOnTheInjectableClock) {
    auto clock = std::make_shared<platform::VirtualClock>();
    Clock::setCurrent(clock);
    clock->setWallOffset(1796616062.345 - clock->now());
    platform::setDeviceLocaleSource([] {
        platform::DeviceLocaleFacts facts;
        facts.timeZoneName = "GMT+5:30";
        return facts;
    });
    std::string line;
    platform::setLogSink([&](platform::LogLevel, std::string_view l) { line = l; });
    NSLog("x");
    platform::setLogSink(nullptr);
    platform::setDeviceLocaleSource(nullptr);
    Clock::setCurrent(nullptr);
    EXPECT_EQ(line.substr(0, 24), "2026-12-07 09:31:02.345 ");
}

TEST(LogCapture, CollectsMessagesWithoutPrefixes) {
    platform::testing::LogCapture capture(false);
    NSLog("first %@", Value(1.5));
    platform::systemLog("from the system");
    platform::logError("plain error line");
    std::thread([] { NSLog("from a worker"); }).join();
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].message, "first 1.5");
    EXPECT_EQ(lines[0].level, platform::LogLevel::Info);
    EXPECT_EQ(lines[1].message, "from the system");
    EXPECT_EQ(lines[1].level, platform::LogLevel::System);
    EXPECT_EQ(lines[2].message, "plain error line");
    EXPECT_EQ(lines[2].level, platform::LogLevel::Error);
    EXPECT_EQ(lines[3].message, "from a worker");
    EXPECT_TRUE(capture.contains("worker"));
    EXPECT_EQ(capture.count("from"), 2u);
    capture.clear();
    EXPECT_TRUE(capture.messages().empty());
}

TEST(LogCapture, ObserverSeesEachLine) {
    platform::testing::LogCapture capture(false);
    std::vector<std::string> seen;
    capture.setObserver([&](const platform::testing::LogCapture::Line& l) { seen.push_back(l.message); });
    platform::logInfo("one");
    NSLog("two");
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
}

TEST(LogCapture, StripPrefixOnlyRemovesTheNSLogShape) {
    using platform::testing::LogCapture;
    EXPECT_EQ(LogCapture::stripPrefix("2026-12-07 04:01:02.123 app[12:34] hello"), "hello");
    EXPECT_EQ(LogCapture::stripPrefix("2026-12-07 04:01:02.123 my app[12:34] hello"), "hello");
    EXPECT_EQ(LogCapture::stripPrefix("2026-12-07 04:01:02 app[12:34] hello"), "2026-12-07 04:01:02 app[12:34] hello");
    EXPECT_EQ(LogCapture::stripPrefix("2026-12-07 04:01:02.123 app[x] hello"), "2026-12-07 04:01:02.123 app[x] hello");
    EXPECT_EQ(LogCapture::stripPrefix("short"), "short");
}

}  // namespace
