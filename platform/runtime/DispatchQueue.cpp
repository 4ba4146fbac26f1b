#include "platform/runtime/DispatchQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "platform/runtime/ActivityCounter.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/runtime/NSThread.h"
#include "platform/runtime/RunLoopTimer.h"
#include "platform/runtime/SaturatingCast.h"
#include "platform/runtime/WorkerPool.h"

namespace platform {

struct DispatchQueue::SyncWait {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;

    void signal() {
        std::lock_guard lock(mutex);
        finished = true;
        done.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return finished; });
    }
};

namespace {

// The queues whose blocks the calling thread is running, innermost last,
// including those of callers waiting in dispatch_sync on it.
thread_local std::vector<const DispatchQueue*> tlsQueues;

class QueueScope {
public:
    QueueScope(std::vector<const DispatchQueue*> callers, const DispatchQueue* queue) : saved_(std::move(tlsQueues)) {
        tlsQueues = std::move(callers);
        tlsQueues.push_back(queue);
    }
    ~QueueScope() { tlsQueues = std::move(saved_); }
    QueueScope(const QueueScope&) = delete;
    QueueScope& operator=(const QueueScope&) = delete;

private:
    std::vector<const DispatchQueue*> saved_;
};

bool runningOn(const DispatchQueue* queue) {
    if (queue->isMain() && NSThread::isMainThread()) return true;
    return std::find(tlsQueues.begin(), tlsQueues.end(), queue) != tlsQueues.end();
}

[[noreturn]] void dieSyncOntoCurrentQueue(const std::string& label) {
    std::string line = "dispatch_sync onto the current queue (" + label + ")";
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    std::abort();
}

void logUncaught(const std::string& label, const std::string& what) {
    logError("uncaught exception on queue " + label + ": " + shortenedForLog(what));
}

// The test seam's delays by queue label; the flag spares every block the
// lock while no test sets one.
std::mutex gDelaysMutex;
std::map<std::string, double> gDelays;
std::atomic<bool> gAnyDelay{false};

void waitOutDelay(const std::string& label) {
    if (!gAnyDelay.load(std::memory_order_acquire)) return;
    double seconds = 0;
    {
        std::lock_guard lock(gDelaysMutex);
        auto found = gDelays.find(label);
        if (found == gDelays.end()) return;
        seconds = found->second;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

uint64_t uptimeNanoseconds() { return saturatingCast<uint64_t>(Clock::current()->uptime() * 1e9); }

Ref<DispatchQueue> makeQueue(std::string label, bool concurrent, DispatchQueue::Priority priority, bool main) {
    return std::make_shared<DispatchQueue>(std::move(label), concurrent, priority, main);
}

}  // namespace

DispatchQueue::DispatchQueue(std::string label, bool concurrent, Priority priority, bool main)
    : label_(std::move(label)), concurrent_(concurrent), priority_(priority), main_(main) {}

void DispatchQueue::runItem(Item& item) {
    {
        QueueScope scope(std::move(item.callerQueues), this);
        if (auto what = runtime::callCatching(item.block)) logUncaught(label_, *what);
    }
    item.block = nullptr;  // captured state goes before anyone sees the block done
}

void DispatchQueue::enqueue(Item item) {
    if (main_) {
        auto self = std::static_pointer_cast<DispatchQueue>(shared_from_this());
        runtime::postToMainThread([self, item = std::make_shared<Item>(std::move(item))] {
            auto wait = item->wait;
            self->runItem(*item);
            if (wait) wait->signal();
        });
        return;
    }
    runtime::ActivityCounter::increment();
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(item));
    startReadyLocked();
}

// Starts the waiting blocks that may run now: a barrier (or any block of a
// serial queue) only alone, plain blocks side by side, always in FIFO order.
void DispatchQueue::startReadyLocked() {
    while (!pending_.empty() && !barrierRunning_) {
        const bool alone = pending_.front().barrier || !concurrent_;
        if (alone && running_ > 0) break;
        if (alone) barrierRunning_ = true;
        ++running_;
        auto item = std::make_shared<Item>(std::move(pending_.front()));
        pending_.pop_front();
        // The job holds the queue, so a queue with work stays alive until drained.
        auto self = std::static_pointer_cast<DispatchQueue>(shared_from_this());
        WorkerPool::shared().submit(static_cast<int>(priority_), [self, item, alone] {
            auto wait = item->wait;
            waitOutDelay(self->label_);
            self->runItem(*item);
            {
                std::lock_guard lock(self->mutex_);
                --self->running_;
                if (alone) self->barrierRunning_ = false;
                self->startReadyLocked();
            }
            if (wait) wait->signal();
            runtime::ActivityCounter::decrement();
        });
    }
}

void DispatchQueue::async(Block block, bool barrier) {
    if (!block) return;
    enqueue(Item{std::move(block), barrier, nullptr, {}});
}

void DispatchQueue::sync(Block block, bool barrier) {
    if (!block) return;
    if (runningOn(this)) {
        // Waiting on ourselves would never end. A plain block on a concurrent
        // queue may run beside the caller, so it runs inline instead.
        if (main_ || !concurrent_ || barrier) dieSyncOntoCurrentQueue(label_);
        if (auto what = runtime::callCatching(block)) logUncaught(label_, *what);
        return;
    }
    auto callers = tlsQueues;
    if (NSThread::isMainThread()) {
        auto main = dispatch_get_main_queue();
        if (std::find(callers.begin(), callers.end(), main.get()) == callers.end()) callers.push_back(main.get());
    }
    auto wait = std::make_shared<SyncWait>();
    enqueue(Item{std::move(block), barrier, wait, std::move(callers)});
    wait->wait();
}

void testing::setDispatchQueueDelay(const std::string& label, double seconds) {
    std::lock_guard lock(gDelaysMutex);
    if (seconds > 0) gDelays[label] = seconds;
    else gDelays.erase(label);
    gAnyDelay.store(!gDelays.empty(), std::memory_order_release);
}

dispatch_queue_t dispatch_get_main_queue() {
    static auto* queue = new Ref<DispatchQueue>(makeQueue("main", false, DispatchQueue::Priority::High, true));
    return *queue;
}

dispatch_queue_t dispatch_get_global_queue(long priority, unsigned long /*flags*/) {
    using P = DispatchQueue::Priority;
    static auto* queues = new Ref<DispatchQueue>[4]{
        makeQueue("global.high", true, P::High, false),
        makeQueue("global.default", true, P::Default, false),
        makeQueue("global.low", true, P::Low, false),
        makeQueue("global.background", true, P::Background, false),
    };
    switch (priority) {
        case DISPATCH_QUEUE_PRIORITY_HIGH: return queues[0];
        case DISPATCH_QUEUE_PRIORITY_LOW: return queues[2];
        case DISPATCH_QUEUE_PRIORITY_BACKGROUND: return queues[3];
        default: return queues[1];
    }
}

dispatch_queue_t dispatch_queue_create(const char* label, dispatch_queue_attr_t attr) {
    return makeQueue(label ? label : "", attr != DISPATCH_QUEUE_SERIAL, DispatchQueue::Priority::Default, false);
}

const char* dispatch_queue_get_label(const dispatch_queue_t& queue) {
    if (queue) return queue->label().c_str();
    return dispatch_queue_get_label(nullptr);
}

const char* dispatch_queue_get_label(std::nullptr_t) {
    if (!tlsQueues.empty()) return tlsQueues.back()->label().c_str();
    if (NSThread::isMainThread()) return dispatch_get_main_queue()->label().c_str();
    return "";
}

namespace {

bool checkArguments(const dispatch_queue_t& queue, const dispatch_block_t& block, const char* function) {
    if (queue && block) return true;
    logError(std::string(function) + ": " + (queue ? "nil block" : "nil queue"));
    return false;
}

}  // namespace

void dispatch_async(const dispatch_queue_t& queue, dispatch_block_t block) {
    if (checkArguments(queue, block, "dispatch_async")) queue->async(std::move(block), false);
}

void dispatch_sync(const dispatch_queue_t& queue, dispatch_block_t block) {
    if (checkArguments(queue, block, "dispatch_sync")) queue->sync(std::move(block), false);
}

void dispatch_barrier_async(const dispatch_queue_t& queue, dispatch_block_t block) {
    if (checkArguments(queue, block, "dispatch_barrier_async")) queue->async(std::move(block), true);
}

void dispatch_barrier_sync(const dispatch_queue_t& queue, dispatch_block_t block) {
    if (checkArguments(queue, block, "dispatch_barrier_sync")) queue->sync(std::move(block), true);
}

void dispatch_after(dispatch_time_t when, const dispatch_queue_t& queue, dispatch_block_t block) {
    if (!checkArguments(queue, block, "dispatch_after")) return;
    if (when == DISPATCH_TIME_FOREVER) return;
    uint64_t now = uptimeNanoseconds();
    double delay = when > now ? static_cast<double>(when - now) / 1e9 : 0;
    runtime::scheduleMainThreadCall(delay, [queue, block = std::move(block)] { queue->async(block, false); }, nullptr);
}

dispatch_time_t dispatch_time(dispatch_time_t when, int64_t deltaNanoseconds) {
    if (when == DISPATCH_TIME_FOREVER) return DISPATCH_TIME_FOREVER;
    uint64_t base = when == DISPATCH_TIME_NOW ? uptimeNanoseconds() : when;
    if (deltaNanoseconds >= 0) {
        uint64_t delta = static_cast<uint64_t>(deltaNanoseconds);
        return base > DISPATCH_TIME_FOREVER - 1 - delta ? DISPATCH_TIME_FOREVER - 1 : base + delta;
    }
    uint64_t back = static_cast<uint64_t>(-(deltaNanoseconds + 1)) + 1;  // no overflow at INT64_MIN
    return base > back ? base - back : 0;
}

void dispatch_once(dispatch_once_t* predicate, dispatch_block_t block) {
    if (!predicate) {
        logError("dispatch_once: nil predicate");
        return;
    }
    std::call_once(*predicate, [&] { runtime::callAtBoundary(block, "dispatch_once"); });
}

namespace runtime {

void shutdownWorkerPool() { WorkerPool::shared().shutdown(); }

}  // namespace runtime
}  // namespace platform
