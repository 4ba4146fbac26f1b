// A unit of work for an NSOperationQueue (override main()), and the block
// form. Operations are re-runnable: once main() has returned they may be
// added again, to any queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/runtime/NSObject.h"

namespace platform {

class NSOperationQueue;

enum class NSOperationQueuePriority : int64_t { VeryLow = -8, Low = -4, Normal = 0, High = 4, VeryHigh = 8 };
inline constexpr NSOperationQueuePriority NSOperationQueuePriorityVeryLow = NSOperationQueuePriority::VeryLow;
inline constexpr NSOperationQueuePriority NSOperationQueuePriorityLow = NSOperationQueuePriority::Low;
inline constexpr NSOperationQueuePriority NSOperationQueuePriorityNormal = NSOperationQueuePriority::Normal;
inline constexpr NSOperationQueuePriority NSOperationQueuePriorityHigh = NSOperationQueuePriority::High;
inline constexpr NSOperationQueuePriority NSOperationQueuePriorityVeryHigh = NSOperationQueuePriority::VeryHigh;

class NSOperation : public NSObject {
public:
    // The work; runs on a worker (or on main for the main queue).
    virtual void main() {}

    NSOperationQueuePriority queuePriority() const { return priority_.load(); }
    void setQueuePriority(NSOperationQueuePriority priority) { priority_.store(priority); }
    // Before it starts: main() is not called. While running: only sets the flag.
    void cancel();
    bool isCancelled() const { return cancelled_.load(); }
    bool isExecuting() const { return state_.load() == State::Executing; }
    bool isFinished() const { return state_.load() == State::Finished; }
    // Runs after main() (or in its place when cancelled), on the same thread.
    void setCompletionBlock(Block block);
    Block completionBlock() const;

private:
    friend class NSOperationQueue;
    enum class State { Idle, Waiting, Executing, Finished };

    std::atomic<NSOperationQueuePriority> priority_{NSOperationQueuePriority::Normal};
    std::atomic<bool> cancelled_{false};
    std::atomic<State> state_{State::Idle};
    mutable std::mutex mutex_;
    Block completion_;
    Weak<NSOperationQueue> queue_;  // while waiting or executing
};

class NSBlockOperation : public NSOperation {
public:
    static Ref<NSBlockOperation> blockOperationWithBlock(Block block);
    void main() override;

private:
    Block block_;
};

}  // namespace platform

using platform::NSBlockOperation;
using platform::NSOperation;
using platform::NSOperationQueuePriority;
using platform::NSOperationQueuePriorityHigh;
using platform::NSOperationQueuePriorityLow;
using platform::NSOperationQueuePriorityNormal;
using platform::NSOperationQueuePriorityVeryHigh;
using platform::NSOperationQueuePriorityVeryLow;
