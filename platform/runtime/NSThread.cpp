#include "platform/runtime/NSThread.h"

#include <execinfo.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"

namespace platform {
namespace {

struct MainThreadState {
    std::atomic<bool> declared{false};
    std::atomic<std::thread::id> id{};
    std::mutex mutex;
    Ref<NSThread> object;
};

MainThreadState& mainState() {
    static auto* s = new MainThreadState;  // never destroyed: read by workers until exit
    return *s;
}

thread_local Ref<NSThread> tlsThread;

}  // namespace

bool NSThread::isMainThread() {
    auto& s = mainState();
    if (s.declared.load()) return s.id.load() == std::this_thread::get_id();
    // Undeclared: the process's initial thread.
    return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
}

Ref<NSThread> NSThread::mainThread() {
    auto& s = mainState();
    std::lock_guard lock(s.mutex);
    if (!s.object) s.object = std::make_shared<NSThread>();
    return s.object;
}

Ref<NSThread> NSThread::currentThread() {
    if (isMainThread()) return mainThread();
    if (!tlsThread) tlsThread = std::make_shared<NSThread>();
    return tlsThread;
}

std::vector<std::string> NSThread::callStackSymbols() {
    void* frames[128];
    int count = ::backtrace(frames, 128);
    std::vector<std::string> lines;
    char** symbols = ::backtrace_symbols(frames, count);
    if (!symbols) return lines;
    for (int i = 1; i < count; ++i) lines.emplace_back(symbols[i]);  // frame 0 is this function
    std::free(symbols);
    return lines;
}

void NSThread::sleepForTimeInterval(double seconds) {
    if (!(seconds > 0)) return;
    Clock::current()->sleep(seconds);
}

void assertMainThread(std::string_view method) {
    if (NSThread::isMainThread()) return;
    logError("main-thread-only call off the main thread: " + std::string(method));
}

namespace runtime {

void setMainThread() {
    auto& s = mainState();
    s.id.store(std::this_thread::get_id());
    s.declared.store(true);
}

}  // namespace runtime
}  // namespace platform
