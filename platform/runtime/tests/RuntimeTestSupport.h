// Shared set-up for the runtime's own tests: this thread is main, the virtual
// clock is installed and log lines are captured.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/runtime/Clock.h"
#include "platform/runtime/HangGuard.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSThread.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/runtime/VirtualClock.h"

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::runtime::setMainThread();
        clock_ = std::make_shared<VirtualClock>();
        Clock::setCurrent(clock_);
        platform::setLogSink([this](platform::LogLevel, std::string_view line) {
            std::lock_guard lock(logMutex_);
            logLines_.emplace_back(line);
        });
    }
    void TearDown() override { platform::setLogSink(nullptr); }

    std::vector<std::string> logLines() {
        std::lock_guard lock(logMutex_);
        return logLines_;
    }
    bool logged(const std::string& fragment) {
        auto lines = logLines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(fragment) != std::string::npos; });
    }

    Ref<VirtualClock> clock_;
    platform::testing::RunLoopDriver driver_{platform::testing::hangGuardScale()};

private:
    std::mutex logMutex_;
    std::vector<std::string> logLines_;
};

// Thread-safe record of events in the order they happened.
class Trace {
public:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    size_t size() {
        std::lock_guard lock(mutex_);
        return events_.size();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> events_;
};

// Blocks threads until opened (real time; for tests of worker behaviour).
class Gate {
public:
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }
    // False when not opened within the time-out.
    bool wait(double seconds = 5) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::duration<double>(platform::testing::hangGuard(seconds)), [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};
