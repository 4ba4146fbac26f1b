// Test seam: collects the log lines of the process (NSLog lines without their
// time stamp and process prefix) for assertions.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Log.h"

namespace platform::testing {

class LogCapture {
public:
    struct Line {
        LogLevel level;
        std::string message;
    };

    // Installs itself as the log sink; the destructor restores stderr. With
    // `echo`, every line is also written to stderr (shown when a test fails).
    explicit LogCapture(bool echo = true);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> lines() const;
    std::vector<std::string> messages() const;
    bool contains(std::string_view substring) const;
    size_t count(std::string_view substring) const;
    void clear();
    // Called for each line as it arrives (on the logging thread), e.g. to fail a test.
    void setObserver(std::function<void(const Line&)> observer);

    // "2026-12-07 04:01:02.123 proc[12:34] message" → "message"; other lines unchanged.
    static std::string stripPrefix(std::string_view line);

private:
    // Shared with the installed sink, so a line logged by another thread while
    // the capture goes away still lands in live memory.
    struct State {
        std::mutex mutex;
        std::vector<Line> lines;
        std::function<void(const Line&)> observer;
        bool echo = true;
        void receive(LogLevel level, std::string_view line);
    };
    std::shared_ptr<State> state_;
};

}  // namespace platform::testing
