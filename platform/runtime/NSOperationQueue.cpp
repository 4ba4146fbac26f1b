#include "platform/runtime/NSOperationQueue.h"

#include <algorithm>
#include <cstdio>

#include "platform/runtime/ActivityCounter.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/runtime/NSThread.h"
#include "platform/runtime/WorkerPool.h"

namespace platform {
namespace {

constexpr int64_t kDefaultMaxConcurrent = 64;
// Operation queues share the pool's default level.
constexpr int kPoolLevel = 1;

thread_local NSOperationQueue* tlsCurrentQueue = nullptr;

}  // namespace

Ref<NSOperationQueue> NSOperationQueue::init() { return std::static_pointer_cast<NSOperationQueue>(shared_from_this()); }

Ref<NSOperationQueue> NSOperationQueue::mainQueue() {
    static auto* queue = [] {
        auto q = std::make_shared<NSOperationQueue>();
        q->main_ = true;
        q->maxConcurrent_ = 1;
        q->name_ = "NSOperationQueue Main Queue";
        return new Ref<NSOperationQueue>(std::move(q));
    }();
    return *queue;
}

Ref<NSOperationQueue> NSOperationQueue::currentQueue() {
    if (tlsCurrentQueue) return std::static_pointer_cast<NSOperationQueue>(tlsCurrentQueue->shared_from_this());
    if (NSThread::isMainThread()) return mainQueue();
    return nullptr;
}

int64_t NSOperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard lock(mutex_);
    return maxConcurrent_;
}

void NSOperationQueue::setMaxConcurrentOperationCount(int64_t count) {
    if (main_) return;  // the main FIFO runs one at a time
    std::unique_lock lock(mutex_);
    // -1 is the platform's "default"; 0 would stall the queue for good.
    maxConcurrent_ = count >= 1 ? count : kDefaultMaxConcurrent;
    pumpLocked(lock);
}

std::string NSOperationQueue::name() const {
    std::lock_guard lock(mutex_);
    if (!name_.empty()) return name_;
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return std::string("NSOperationQueue ") + address;
}

void NSOperationQueue::setName(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
}

void NSOperationQueue::addOperation(const Ref<NSOperation>& operation) {
    if (!operation) {
        logError("NSOperationQueue addOperation: nil operation");
        return;
    }
    auto self = std::static_pointer_cast<NSOperationQueue>(shared_from_this());
    {
        std::lock_guard lock(operation->mutex_);
        auto state = operation->state_.load();
        if (state == NSOperation::State::Waiting || state == NSOperation::State::Executing) {
            logError("NSOperationQueue addOperation: " + operation->className() + " is already waiting or executing");
            return;
        }
        operation->state_.store(NSOperation::State::Waiting);
        operation->queue_ = self;
    }
    std::unique_lock lock(mutex_);
    waiting_.push_back(operation);
    if (main_) {
        // The main FIFO: strict posting order, priorities ignored.
        lock.unlock();
        runtime::postToMainThread([self, operation] {
            {
                std::lock_guard lock(self->mutex_);
                auto it = std::find(self->waiting_.begin(), self->waiting_.end(), operation);
                if (it != self->waiting_.end()) self->waiting_.erase(it);
                self->executing_.push_back(operation);
            }
            self->execute(operation);
        });
        return;
    }
    runtime::ActivityCounter::increment();
    pumpLocked(lock);
}

void NSOperationQueue::addOperationWithBlock(Block block) {
    addOperation(NSBlockOperation::blockOperationWithBlock(std::move(block)));
}

// Starts what may start: cancelled waiting operations at once (they only
// finish), then the highest priority first, FIFO within one, up to the limit.
void NSOperationQueue::pumpLocked(std::unique_lock<std::mutex>& lock) {
    (void)lock;
    if (main_) return;
    auto self = std::static_pointer_cast<NSOperationQueue>(shared_from_this());
    std::vector<Ref<NSOperation>> starting;
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if ((*it)->isCancelled()) {
            starting.push_back(*it);
            it = waiting_.erase(it);
        } else {
            ++it;
        }
    }
    int64_t running = static_cast<int64_t>(executing_.size());
    while (running < maxConcurrent_ && !waiting_.empty()) {
        auto best = waiting_.begin();
        for (auto it = waiting_.begin(); it != waiting_.end(); ++it)
            if ((*it)->queuePriority() > (*best)->queuePriority()) best = it;
        starting.push_back(*best);
        waiting_.erase(best);
        ++running;
    }
    for (auto& operation : starting) {
        executing_.push_back(operation);
        WorkerPool::shared().submit(kPoolLevel, [self, operation] {
            self->execute(operation);
            runtime::ActivityCounter::decrement();
        });
    }
}

void NSOperationQueue::execute(const Ref<NSOperation>& operation) {
    NSOperationQueue* saved = tlsCurrentQueue;
    tlsCurrentQueue = this;
    operation->state_.store(NSOperation::State::Executing);
    if (!operation->isCancelled()) {
        if (auto what = runtime::callCatching([&] { operation->main(); }))
            logError("uncaught exception on operation queue " + name() + " in " + operation->className() + ": " +
                     shortenedForLog(*what));
    }
    Block completion = operation->completionBlock();
    {
        std::lock_guard lock(operation->mutex_);
        operation->queue_.reset();
        // Finished: from here it may be added again (also by its completion block).
        operation->state_.store(NSOperation::State::Finished);
    }
    runtime::callAtBoundary(completion, "NSOperation completion block");
    completion = nullptr;
    tlsCurrentQueue = saved;
    finished(operation);
}

void NSOperationQueue::finished(const Ref<NSOperation>& operation) {
    std::unique_lock lock(mutex_);
    auto it = std::find(executing_.begin(), executing_.end(), operation);
    if (it != executing_.end()) executing_.erase(it);
    pumpLocked(lock);
    if (waiting_.empty() && executing_.empty()) idle_.notify_all();
}

uint64_t NSOperationQueue::operationCount() const {
    std::lock_guard lock(mutex_);
    return waiting_.size() + executing_.size();
}

std::vector<Ref<NSOperation>> NSOperationQueue::operations() const {
    std::lock_guard lock(mutex_);
    std::vector<Ref<NSOperation>> all(executing_.begin(), executing_.end());
    all.insert(all.end(), waiting_.begin(), waiting_.end());
    return all;
}

void NSOperationQueue::cancelAllOperations() {
    for (auto& operation : operations()) operation->cancel();
}

void NSOperationQueue::waitUntilAllOperationsAreFinished() {
    if (tlsCurrentQueue == this || (main_ && NSThread::isMainThread())) {
        logError("NSOperationQueue waitUntilAllOperationsAreFinished: refused on the queue's own thread (" + name() +
                 ")");
        return;
    }
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return waiting_.empty() && executing_.empty(); });
}

}  // namespace platform
