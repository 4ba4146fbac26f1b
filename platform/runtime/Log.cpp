#include "platform/runtime/Log.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace platform {
namespace {

struct LogState {
    std::mutex mutex;
    std::shared_ptr<const LogSink> sink;  // null: stderr
    std::mutex stderrMutex;
};

LogState& state() {
    static auto* s = new LogState;  // never destroyed: workers may log during exit
    return *s;
}

}  // namespace

void log(LogLevel level, std::string_view line) {
    auto& s = state();
    std::shared_ptr<const LogSink> sink;
    {
        std::lock_guard lock(s.mutex);
        sink = s.sink;
    }
    // The sink is called outside our lock so it may log itself.
    if (sink) {
        (*sink)(level, line);
        return;
    }
    std::string text(line);
    text += '\n';
    std::lock_guard lock(s.stderrMutex);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void setLogSink(LogSink sink) {
    auto& s = state();
    auto next = sink ? std::make_shared<const LogSink>(std::move(sink)) : nullptr;
    std::lock_guard lock(s.mutex);
    s.sink.swap(next);
}

}  // namespace platform
