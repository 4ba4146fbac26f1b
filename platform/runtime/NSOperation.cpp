#include "platform/runtime/NSOperation.h"

#include "platform/runtime/NSOperationQueue.h"

namespace platform {

void NSOperation::cancel() {
    cancelled_.store(true);
    Ref<NSOperationQueue> queue;
    {
        std::lock_guard lock(mutex_);
        queue = queue_.lock();
    }
    // A waiting one finishes (without main) as soon as its queue gets to it.
    if (queue && state_.load() == State::Waiting) {
        std::unique_lock lock(queue->mutex_);
        queue->pumpLocked(lock);
    }
}

void NSOperation::setCompletionBlock(Block block) {
    std::lock_guard lock(mutex_);
    completion_ = std::move(block);
}

Block NSOperation::completionBlock() const {
    std::lock_guard lock(mutex_);
    return completion_;
}

Ref<NSBlockOperation> NSBlockOperation::blockOperationWithBlock(Block block) {
    auto operation = std::make_shared<NSBlockOperation>();
    operation->block_ = std::move(block);
    return operation;
}

void NSBlockOperation::main() {
    if (block_) block_();
}

}  // namespace platform
