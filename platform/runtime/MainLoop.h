// Internal to the runtime: the state behind the main run loop (posted work,
// timers, pass hooks, the main thread's wake-up). Other modules use
// NSRunLoop.h, RunLoopTimer.h (or NSTimer.h) and DispatchQueue.h instead.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/runtime/NSRunLoop.h"
#include "platform/runtime/RunLoopTimer.h"

namespace platform {

struct MainLoop {
    static MainLoop& shared();

    void post(Block block);
    void runPass();
    bool hasPostedWork();
    bool hasDueTimer();
    std::optional<double> nextTimerUptime();

    // Timers (any thread).
    void add(const Ref<runtime::RunLoopTimer>& timer);
    void invalidate(runtime::RunLoopTimer& timer);
    void setFireUptime(runtime::RunLoopTimer& timer, double uptime);
    double fireUptime(const runtime::RunLoopTimer& timer);
    void fireNow(runtime::RunLoopTimer& timer);
    void cancelCalls(const void* owner);

    // Passes moving a virtual clock to each timer due up to `uptime`, then to it.
    void advanceVirtualClockTo(double uptime);
    void drain();

    // Wake-up of the main thread: a wake raised while it waits ends the wait
    // (through an eventfd), one raised before ends the next wait at once.
    // runtime::stopMainRunLoop, called from signal handlers too, writes the
    // eventfd itself.
    void wake();
    void wait(double realTimeoutSeconds);
    // True once after runtime::stopMainRunLoop().
    bool takeStopRequest();

private:
    MainLoop();
    using Key = std::pair<double, uint64_t>;  // fire uptime, scheduling order
    void insertLocked(const Ref<runtime::RunLoopTimer>& timer, double uptime, bool keepStamp);
    Ref<runtime::RunLoopTimer> removeLocked(runtime::RunLoopTimer& timer);
    void fireDueTimers();

    std::mutex mutex_;
    std::deque<Block> posted_;
    std::map<Key, Ref<runtime::RunLoopTimer>> timers_;
    uint64_t nextOrder_ = 0;
    uint64_t timerStep_ = 0;
    // Replaced whole when a hook is added, so that a pass holds them without copying.
    using Hooks = std::shared_ptr<const std::vector<Block>>;
    Hooks layoutHooks_ = std::make_shared<const std::vector<Block>>();
    Hooks displayHooks_ = std::make_shared<const std::vector<Block>>();
    bool sleeping_ = false;     // the main thread waits in wait()
    bool wakePending_ = false;  // a wake since the last wait

    friend void runtime::addPassHook(runtime::PassPhase, Block);
};

}  // namespace platform
