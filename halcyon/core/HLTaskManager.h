// The client's three serial task queues: 0 main (initialisation, device
// data, ad requests), 1 background (re-queued tasks, delayed retries,
// rewards) and 2 postback. Each runs one task at a time; the three run in
// parallel with each other and the main thread. Delays are one-shot timers on
// the main run loop that then hand the task to its queue; a delayed hand-over
// cannot be cancelled. Any thread.
#pragma once

#include <cstdint>

#include "platform/runtime/NSOperationQueue.h"

class HLSdk;
class HLTask;
class HLTaskInitializeSdk;

// One delayed hand-over of a task to a queue.
class HLScheduledOperation : public NSObject {
public:
    Ref<HLScheduledOperation> initWithTask(Ref<HLTask> task, uint64_t queue, double delay);
    const Ref<HLTask>& task() const { return task_; }
    uint64_t queue() const { return queue_; }
    double delay() const { return delay_; }

private:
    Ref<HLTask> task_;
    uint64_t queue_ = 0;
    double delay_ = 0;
};

class HLTaskManager : public NSObject {
public:
    Ref<HLTaskManager> initWithSdk(const Ref<HLSdk>& sdk);

    // At normal priority.
    void execute(const Ref<HLTask>& task, uint64_t queue);
    // Queue numbers other than 0, 1 and 2 raise NSInvalidArgumentException
    // "Unknown queue type: %lu".
    void execute(const Ref<HLTask>& task, uint64_t queue, NSOperationQueuePriority priority);
    // After `delay` seconds on the main run loop; 0 or less is at once.
    void execute(const Ref<HLTask>& task, uint64_t queue, double delay);
    // Runs the task's run() directly on queue 0, past HLTask's state checks.
    void executeInitTask(const Ref<HLTaskInitializeSdk>& task);
    // Waiting plus running; 0 for an unknown queue.
    uint64_t pendingOperationsInQueue(uint64_t queue) const;

    const Ref<NSOperationQueue>& mainQueue() const { return mainQueue_; }
    const Ref<NSOperationQueue>& backgroundQueue() const { return backgroundQueue_; }
    const Ref<NSOperationQueue>& postbackQueue() const { return postbackQueue_; }

private:
    Ref<NSOperationQueue> queueNumbered(uint64_t queue) const;

    Weak<HLSdk> sdk_;
    Ref<NSOperationQueue> mainQueue_;
    Ref<NSOperationQueue> backgroundQueue_;
    Ref<NSOperationQueue> postbackQueue_;
};
