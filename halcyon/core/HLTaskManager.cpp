#include "halcyon/core/HLTaskManager.h"

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTask.h"
#include "halcyon/core/HLTaskInitializeSdk.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSTimer.h"
#include "platform/runtime/SaturatingCast.h"

namespace {
Ref<NSOperationQueue> hlMakeSerialQueue(const char* name) {
    auto queue = NSOperationQueue::alloc()->init();
    queue->setName(name);
    queue->setMaxConcurrentOperationCount(1);
    return queue;
}
}  // namespace

Ref<HLScheduledOperation> HLScheduledOperation::initWithTask(Ref<HLTask> task, uint64_t queue, double delay) {
    task_ = std::move(task);
    queue_ = queue;
    delay_ = delay;
    return self<HLScheduledOperation>();
}

Ref<HLTaskManager> HLTaskManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    mainQueue_ = hlMakeSerialQueue("HLTaskManager.main");
    backgroundQueue_ = hlMakeSerialQueue("HLTaskManager.background");
    postbackQueue_ = hlMakeSerialQueue("HLTaskManager.postback");
    return self<HLTaskManager>();
}

Ref<NSOperationQueue> HLTaskManager::queueNumbered(uint64_t queue) const {
    switch (queue) {
        case 0: return mainQueue_;
        case 1: return backgroundQueue_;
        case 2: return postbackQueue_;
        default: return nullptr;
    }
}

void HLTaskManager::execute(const Ref<HLTask>& task, uint64_t queue) {
    execute(task, queue, NSOperationQueuePriorityNormal);
}

void HLTaskManager::execute(const Ref<HLTask>& task, uint64_t queue, NSOperationQueuePriority priority) {
    if (!task) NSException::raise(NSInvalidArgumentException, "No task specified");
    if (task->logger()) task->logger()->i(task->tag(), "Scheduling task execution of %@ on queue %lu...", task->tag(), queue);
    Ref<NSOperationQueue> target = queueNumbered(queue);
    if (!target) NSException::raise(NSInvalidArgumentException, NSString::stringWithFormat("Unknown queue type: %lu", queue));
    task->setQueuePriority(priority);
    target->addOperation(task);
}

void HLTaskManager::execute(const Ref<HLTask>& task, uint64_t queue, double delay) {
    if (!(delay > 0)) {
        execute(task, queue);
        return;
    }
    if (!task) NSException::raise(NSInvalidArgumentException, "No task specified");
    // Refused now rather than when the timer fires, on the main thread.
    if (!queueNumbered(queue))
        NSException::raise(NSInvalidArgumentException, NSString::stringWithFormat("Unknown queue type: %lu", queue));
    if (task->logger())
        task->logger()->i(task->tag(), "Scheduling task execution in %i...", platform::saturatingCast<int>(delay));
    auto scheduled = NSObject::alloc<HLScheduledOperation>()->initWithTask(task, queue, delay);
    Weak<HLTaskManager> weakSelf = self<HLTaskManager>();
    // Armed from the main thread, as the hand-over is; the timer holds the
    // scheduled operation (and so the task) until it fires.
    NSOperationQueue::mainQueue()->addOperationWithBlock([weakSelf, scheduled] {
        NSTimer::scheduledTimerWithTimeInterval(scheduled->delay(), false, [weakSelf, scheduled](Ref<NSTimer>) {
            if (Ref<HLTaskManager> manager = weakSelf.lock()) manager->execute(scheduled->task(), scheduled->queue());
        });
    });
}

void HLTaskManager::executeInitTask(const Ref<HLTaskInitializeSdk>& task) {
    if (!task) return;
    mainQueue_->addOperationWithBlock([task] { task->run(); });
}

uint64_t HLTaskManager::pendingOperationsInQueue(uint64_t queue) const {
    Ref<NSOperationQueue> target = queueNumbered(queue);
    return target ? target->operationCount() : 0;
}
