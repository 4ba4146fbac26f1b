#include "platform/foundation/LogCapture.h"

#include <cstdio>

namespace platform::testing {

LogCapture::LogCapture(bool echo) : state_(std::make_shared<State>()) {
    state_->echo = echo;
    setLogSink([state = state_](LogLevel level, std::string_view line) { state->receive(level, line); });
}

LogCapture::~LogCapture() { setLogSink(nullptr); }

void LogCapture::State::receive(LogLevel level, std::string_view line) {
    if (echo) {
        std::string text(line);
        text += '\n';
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
    Line entry{level, stripPrefix(line)};
    std::function<void(const Line&)> call;
    {
        std::lock_guard lock(mutex);
        lines.push_back(entry);
        call = observer;
    }
    if (call) call(entry);
}

std::vector<LogCapture::Line> LogCapture::lines() const {
    std::lock_guard lock(state_->mutex);
    return state_->lines;
}

std::vector<std::string> LogCapture::messages() const {
    std::vector<std::string> out;
    for (const auto& l : lines()) out.push_back(l.message);
    return out;
}

bool LogCapture::contains(std::string_view substring) const { return count(substring) > 0; }

size_t LogCapture::count(std::string_view substring) const {
    size_t n = 0;
    for (const auto& l : lines())
        if (l.message.find(substring) != std::string::npos) ++n;
    return n;
}

void LogCapture::clear() {
    std::lock_guard lock(state_->mutex);
    state_->lines.clear();
}

void LogCapture::setObserver(std::function<void(const Line&)> observer) {
    std::lock_guard lock(state_->mutex);
    state_->observer = std::move(observer);
}

std::string LogCapture::stripPrefix(std::string_view line) {
    // Time stamp: "dddd-dd-dd dd:dd:dd.ddd " (24 characters).
    static constexpr std::string_view shape = "0000-00-00 00:00:00.000 ";
    if (line.size() < shape.size()) return std::string(line);
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == '0' ? !digit : line[i] != shape[i]) return std::string(line);
    }
    // Then "<process>[<pid>:<tid>] ".
    const size_t open = line.find('[', shape.size());
    if (open == std::string_view::npos) return std::string(line);
    const size_t close = line.find("] ", open);
    if (close == std::string_view::npos) return std::string(line);
    for (size_t i = open + 1; i < close; ++i)
        if (!((line[i] >= '0' && line[i] <= '9') || line[i] == ':')) return std::string(line);
    return std::string(line.substr(close + 2));
}

}  // namespace platform::testing
