#include "host/Timeline.h"

#include <cctype>
#include <cstdio>
#include <fstream>

#include "platform/runtime/Clock.h"

namespace {

const char* levelName(platform::LogLevel level) {
    switch (level) {
        case platform::LogLevel::Debug: return "debug";
        case platform::LogLevel::Info: return "info";
        case platform::LogLevel::Warning: return "warning";
        case platform::LogLevel::Error: return "error";
        case platform::LogLevel::System: return "system";
    }
    return "log";
}

// The text on one line: each run of white space that holds a line break or
// a tab becomes one space (none at either end), other spaces stay; cut after
// `limit` bytes (at a character's start) with a mark saying so.
std::string oneLine(std::string_view text, size_t limit = std::string::npos) {
    std::string line;
    for (size_t at = 0; at < text.size();) {
        size_t end = at;
        bool breaks = false;
        while (end < text.size() && std::isspace(static_cast<unsigned char>(text[end]))) breaks |= text[end++] != ' ';
        if (end == at) {
            line += text[at++];
            continue;
        }
        if (!breaks) line.append(text.substr(at, end - at));
        else if (at > 0 && end < text.size()) line += ' ';
        at = end;
    }
    if (line.size() <= limit) return line;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    return line.substr(0, cut) + " [… cut; the client log has more of it]";
}

bool writeLines(const std::vector<std::string>& lines, const std::string& path) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) file << line << '\n';
    return static_cast<bool>(file);
}

}  // namespace

void Timeline::start() {
    std::scoped_lock lock(mutex_);
    origin_ = Clock::current()->uptime();
    started_ = true;
}

double Timeline::elapsed() const {
    std::scoped_lock lock(mutex_);
    return started_ ? Clock::current()->uptime() - origin_ : 0;
}

std::string Timeline::stamped(double seconds, std::string_view kind, std::string_view text) const {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9.3f s  %-8s ", seconds, std::string(kind).c_str());
    // Text from services and files may hold anything; the timeline holds lines.
    return stamp + platform::printableLogLine(text);
}

void Timeline::addLocked(double seconds, std::string_view kind, std::string_view text) {
    std::string line = stamped(seconds, kind, text);
    if (echo_) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    lines_.push_back(std::move(line));
    for (Expected& expected : expected_) {
        if (expected.seen) continue;
        for (const std::string& fragment : expected.fragments) {
            if (text.find(fragment) == std::string_view::npos) continue;
            expected.seen = true;
            addLocked(seconds, "note", "expected: " + expected.why);
            break;
        }
    }
}

void Timeline::add(std::string_view kind, std::string_view text) {
    double seconds = elapsed();
    // A value described over several lines (a dictionary) reads on one; text
    // a service supplied may be of any length, and a line is cut as a log line is.
    const std::string line = oneLine(platform::shortenedForLog(text, platform::kLogLineLimit));
    std::scoped_lock lock(mutex_);
    addLocked(seconds, kind, line);
}

void Timeline::addLog(platform::LogLevel level, std::string_view text) {
    double seconds = elapsed();
    std::scoped_lock lock(mutex_);
    logLines_.push_back(stamped(seconds, levelName(level), text));
    bool shown = level == platform::LogLevel::Warning || level == platform::LogLevel::Error ||
                 text.substr(0, 3) == "JS ";
    if (shown) addLocked(seconds, "log", oneLine(text, kShownLogBytes));
}

void Timeline::expect(std::vector<std::string> fragments, std::string why) {
    std::scoped_lock lock(mutex_);
    expected_.push_back({std::move(fragments), std::move(why)});
}

std::vector<std::string> Timeline::lines() const {
    std::scoped_lock lock(mutex_);
    return lines_;
}

std::vector<std::string> Timeline::logLines() const {
    std::scoped_lock lock(mutex_);
    return logLines_;
}

bool Timeline::writeTo(const std::string& path) const { return writeLines(lines(), path); }

bool Timeline::writeLogTo(const std::string& path) const { return writeLines(logLines(), path); }
