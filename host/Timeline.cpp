#include "host/Timeline.h"

#include <cstdio>
#include <fstream>

#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"

void Timeline::start() {
    std::scoped_lock lock(mutex_);
    origin_ = Clock::current()->uptime();
    started_ = true;
}

double Timeline::elapsed() const {
    std::scoped_lock lock(mutex_);
    return started_ ? Clock::current()->uptime() - origin_ : 0;
}

void Timeline::add(std::string_view kind, std::string_view text) {
    double seconds = elapsed();
    std::scoped_lock lock(mutex_);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9.3f s  %-8s ", seconds, std::string(kind).c_str());
    std::string line = stamp;
    // Text from services and files may hold anything; the timeline holds lines.
    line.append(platform::printableLogLine(text));
    if (echo_) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    lines_.push_back(std::move(line));
}

std::vector<std::string> Timeline::lines() const {
    std::scoped_lock lock(mutex_);
    return lines_;
}

bool Timeline::writeTo(const std::string& path) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines()) file << line << '\n';
    return static_cast<bool>(file);
}
