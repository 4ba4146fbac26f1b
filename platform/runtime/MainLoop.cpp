#include "platform/runtime/MainLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <ctime>

#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSThread.h"
#include "platform/runtime/VirtualClock.h"

namespace platform {
namespace {

// Constant-initialised so stopMainRunLoop may touch them from a signal handler.
std::atomic<int> gWakeFd{-1};
std::atomic<bool> gStopRequested{false};

// A drain that has not emptied the loop after this many passes has work that
// keeps re-posting itself; it gives up instead of hanging the test.
constexpr int kMaxDrainPasses = 10000;

// Ends a wait of the main thread, or the next one. Signal-safe.
void signalWakeFd() {
    int fd = gWakeFd.load();
    if (fd < 0) return;
    uint64_t one = 1;
    ssize_t written = ::write(fd, &one, sizeof one);
    (void)written;  // a full counter already wakes the loop
}

}  // namespace

MainLoop& MainLoop::shared() {
    static auto* loop = new MainLoop;  // never destroyed: workers may post until exit
    return *loop;
}

MainLoop::MainLoop() {
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) logError("main run loop: eventfd failed; the run loop polls instead");
    gWakeFd.store(fd);
}

void MainLoop::wake() {
    {
        std::lock_guard lock(mutex_);
        wakePending_ = true;
        // The write is a system call: only a main thread asleep in wait() needs it.
        if (!sleeping_) return;
    }
    signalWakeFd();
}

void MainLoop::wait(double realTimeoutSeconds) {
    if (!(realTimeoutSeconds > 0)) return;
    realTimeoutSeconds = std::min(realTimeoutSeconds, 3600.0);
    timespec timeout;
    timeout.tv_sec = static_cast<time_t>(realTimeoutSeconds);
    timeout.tv_nsec = static_cast<long>((realTimeoutSeconds - static_cast<double>(timeout.tv_sec)) * 1e9);
    {
        // A wake raised since the last wait ends this one at once.
        std::lock_guard lock(mutex_);
        if (wakePending_) {
            wakePending_ = false;
            return;
        }
        sleeping_ = true;
    }
    int fd = gWakeFd.load();
    if (fd < 0) {
        // No eventfd: poll in short slices.
        timespec slice{0, 1000000};
        ::nanosleep(&slice, nullptr);
    } else {
        pollfd entry{fd, POLLIN, 0};
        if (::ppoll(&entry, 1, &timeout, nullptr) > 0) {
            uint64_t count;
            ssize_t got = ::read(fd, &count, sizeof count);
            (void)got;
        }
    }
    std::lock_guard lock(mutex_);
    sleeping_ = false;
    wakePending_ = false;
}

bool MainLoop::takeStopRequest() { return gStopRequested.exchange(false); }

void MainLoop::post(Block block) {
    if (!block) return;
    bool sleeping = false;
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(block));
        wakePending_ = true;
        sleeping = sleeping_;
    }
    if (sleeping) signalWakeFd();
}

bool MainLoop::hasPostedWork() {
    std::lock_guard lock(mutex_);
    return !posted_.empty();
}

bool MainLoop::hasDueTimer() {
    double now = Clock::current()->uptime();
    std::lock_guard lock(mutex_);
    return !timers_.empty() && timers_.begin()->first.first <= now;
}

std::optional<double> MainLoop::nextTimerUptime() {
    std::lock_guard lock(mutex_);
    if (timers_.empty()) return std::nullopt;
    return timers_.begin()->first.first;
}

void MainLoop::runPass() {
    assertMainThread("main run loop pass");
    // 1. The work posted before the pass began; what it posts waits for the next pass.
    size_t count;
    {
        std::lock_guard lock(mutex_);
        count = posted_.size();
    }
    for (size_t i = 0; i < count; ++i) {
        Block block;
        {
            std::lock_guard lock(mutex_);
            if (posted_.empty()) break;
            block = std::move(posted_.front());
            posted_.pop_front();
        }
        runtime::callAtBoundary(block, "main thread");
    }
    // 2. Due timers.
    fireDueTimers();
    // 3. and 4. Layout, then display.
    Hooks layout, display;
    {
        std::lock_guard lock(mutex_);
        layout = layoutHooks_;
        display = displayHooks_;
    }
    for (const auto& hook : *layout) runtime::callAtBoundary(hook, "layout pass");
    for (const auto& hook : *display) runtime::callAtBoundary(hook, "display pass");
}

void MainLoop::insertLocked(const Ref<runtime::RunLoopTimer>& timer, double uptime, bool keepStamp) {
    if (std::isnan(uptime)) uptime = INFINITY;  // a NaN key would break the ordering
    timer->fireUptime_ = uptime;
    timer->order_ = nextOrder_++;
    // Scheduled during a timer step: eligible from the next step on.
    if (!keepStamp) timer->addedStamp_ = timerStep_;
    timers_.emplace(Key{uptime, timer->order_}, timer);
    timer->scheduled_ = true;
}

Ref<runtime::RunLoopTimer> MainLoop::removeLocked(runtime::RunLoopTimer& timer) {
    if (!timer.scheduled_) return nullptr;
    timer.scheduled_ = false;
    auto it = timers_.find(Key{timer.fireUptime_, timer.order_});
    if (it == timers_.end()) return nullptr;
    Ref<runtime::RunLoopTimer> held = std::move(it->second);
    timers_.erase(it);
    return held;
}

void MainLoop::fireDueTimers() {
    auto clock = Clock::current();
    std::unique_lock lock(mutex_);
    const double now = clock->uptime();
    const uint64_t limit = ++timerStep_;
    // The virtual driver fires every due repetition; real time coalesces late ones.
    const bool coalesce = !clock->isVirtual();
    for (;;) {
        Ref<runtime::RunLoopTimer> timer;
        for (auto it = timers_.begin(); it != timers_.end() && it->first.first <= now; ++it) {
            if (it->second->addedStamp_ < limit) {
                timer = std::move(it->second);
                timers_.erase(it);
                break;
            }
        }
        if (!timer) break;
        timer->scheduled_ = false;
        timer->firing_ = true;
        timer->rescheduledWhileFiring_ = false;
        const double firedAt = timer->fireUptime_;
        {
            runtime::RunLoopTimer::Callback block = timer->block_;
            lock.unlock();
            runtime::callAtBoundary([&] { if (block) block(timer); }, "timer");
            block = nullptr;
            lock.lock();
        }
        timer->firing_ = false;
        runtime::RunLoopTimer::Callback released;
        if (timer->valid_.load() && !timer->rescheduledWhileFiring_) {
            if (timer->repeats_) {
                const double interval = timer->interval_;
                double next = firedAt + interval;
                if (coalesce) {
                    double current = clock->uptime();
                    if (next <= current) next = firedAt + (std::floor((current - firedAt) / interval) + 1) * interval;
                }
                insertLocked(timer, next, true);
            } else {
                // A one-shot stays valid through its own callback, then lets its target go.
                timer->valid_.store(false);
                released = std::move(timer->block_);
            }
        }
        // Whatever this drops may run destructors that schedule or invalidate timers.
        lock.unlock();
        released = nullptr;
        timer.reset();
        lock.lock();
    }
}

void MainLoop::add(const Ref<runtime::RunLoopTimer>& timer) {
    {
        std::lock_guard lock(mutex_);
        if (!timer->valid_.load() || timer->scheduled_ || timer->firing_) return;
        insertLocked(timer, timer->fireUptime_, false);
    }
    wake();
}

void MainLoop::invalidate(runtime::RunLoopTimer& timer) {
    runtime::RunLoopTimer::Callback released;
    Ref<runtime::RunLoopTimer> held;
    {
        std::lock_guard lock(mutex_);
        if (!timer.valid_.exchange(false)) return;
        released = std::move(timer.block_);
        held = removeLocked(timer);
    }
}

void MainLoop::setFireUptime(runtime::RunLoopTimer& timer, double uptime) {
    Ref<runtime::RunLoopTimer> held;
    {
        std::lock_guard lock(mutex_);
        if (!timer.valid_.load()) return;
        if (std::isnan(uptime)) uptime = INFINITY;
        const bool inLoop = timer.scheduled_ || timer.firing_;
        if (timer.firing_) timer.rescheduledWhileFiring_ = true;
        held = removeLocked(timer);
        if (inLoop) {
            if (!held) held = std::static_pointer_cast<runtime::RunLoopTimer>(timer.shared_from_this());
            insertLocked(held, uptime, false);
        } else {
            timer.fireUptime_ = uptime;
        }
    }
    wake();
}

double MainLoop::fireUptime(const runtime::RunLoopTimer& timer) {
    std::lock_guard lock(mutex_);
    return timer.fireUptime_;
}

void MainLoop::fireNow(runtime::RunLoopTimer& timer) {
    runtime::RunLoopTimer::Callback block;
    {
        std::lock_guard lock(mutex_);
        if (!timer.valid_.load()) return;
        block = timer.block_;
    }
    auto self = std::static_pointer_cast<runtime::RunLoopTimer>(timer.shared_from_this());
    runtime::callAtBoundary([&] { if (block) block(self); }, "timer");
    block = nullptr;
    if (!timer.repeats_) invalidate(timer);
}

void MainLoop::cancelCalls(const void* owner) {
    if (!owner) return;
    std::vector<Ref<runtime::RunLoopTimer>> cancelled;
    {
        std::lock_guard lock(mutex_);
        for (auto& [key, timer] : timers_)
            if (timer->owner_ == owner) cancelled.push_back(timer);
    }
    for (auto& timer : cancelled) invalidate(*timer);
}

void MainLoop::drain() {
    int passes = 0;
    do {
        runPass();
        if (++passes >= kMaxDrainPasses) {
            logError("main run loop: drain stopped after " + std::to_string(passes) +
                     " passes; work keeps re-posting itself");
            return;
        }
    } while (hasPostedWork() || hasDueTimer());
}

void MainLoop::advanceVirtualClockTo(double uptime) {
    auto clock = std::dynamic_pointer_cast<VirtualClock>(Clock::current());
    drain();
    if (!clock) {
        logError("main run loop: moving time on needs the virtual clock");
        return;
    }
    if (!std::isfinite(uptime)) {
        logError("main run loop: cannot move time on to a non-finite time");
        return;
    }
    for (;;) {
        auto next = nextTimerUptime();
        if (!next || *next > uptime) break;
        // A drain that gave up leaves a due timer behind: stop rather than spin.
        if (*next <= clock->uptime() && hasDueTimer()) break;
        clock->advanceTo(*next);
        drain();
    }
    clock->advanceTo(uptime);
    drain();
}

namespace runtime {

void postToMainThread(Block block) { MainLoop::shared().post(std::move(block)); }

void addPassHook(PassPhase phase, Block hook) {
    if (!hook) return;
    auto& loop = MainLoop::shared();
    std::lock_guard lock(loop.mutex_);
    MainLoop::Hooks& hooks = phase == PassPhase::Layout ? loop.layoutHooks_ : loop.displayHooks_;
    auto added = std::make_shared<std::vector<Block>>(*hooks);
    added->push_back(std::move(hook));
    hooks = std::move(added);
}

void stopMainRunLoop() {
    gStopRequested.store(true);
    // Not wake(): it takes the loop's lock, which a signal handler must not.
    signalWakeFd();
}

void runMainPass() { MainLoop::shared().runPass(); }
bool hasPostedWork() { return MainLoop::shared().hasPostedWork(); }
bool hasDueTimer() { return MainLoop::shared().hasDueTimer(); }
std::optional<double> nextTimerUptime() { return MainLoop::shared().nextTimerUptime(); }
void waitForMainWork(double realTimeoutSeconds) {
    auto& loop = MainLoop::shared();
    if (loop.hasPostedWork()) return;
    loop.wait(realTimeoutSeconds);
}

}  // namespace runtime
}  // namespace platform
