#include <atomic>

#include "platform/runtime/NSOperationQueue.h"
#include "platform/runtime/tests/RuntimeTestSupport.h"

namespace {


class CountingOperation : public NSOperation {
public:
    void main() override {
        ++runs;
        onMainThread = NSThread::isMainThread();
        currentQueue = NSOperationQueue::currentQueue();
    }
    std::atomic<int> runs{0};
    std::atomic<bool> onMainThread{true};
    Ref<NSOperationQueue> currentQueue;
};

class ThrowingOperation : public NSOperation {
public:
    void main() override { throw std::runtime_error("task failed"); }
};

class OperationQueueTest : public RuntimeTest {
protected:
    // A queue of one slot, held by a running operation until release_ opens.
    Ref<NSOperationQueue> busyQueue() {
        auto queue = NSOperationQueue::alloc()->init();
        queue->setMaxConcurrentOperationCount(1);
        blocker_ = NSBlockOperation::blockOperationWithBlock([this] {
            started_ = true;
            release_.wait();
        });
        queue->addOperation(blocker_);
        EXPECT_TRUE(driver_.runUntil([&] { return started_.load(); }, 5));
        return queue;
    }
    Gate release_;
    std::atomic<bool> started_{false};
    Ref<NSBlockOperation> blocker_;
};

TEST_F(OperationQueueTest, HighestPriorityStartsFirstFifoWithinAPriority) {
    auto queue = busyQueue();
    Trace trace;
    auto add = [&](const std::string& name, NSOperationQueuePriority priority) {
        auto op = NSBlockOperation::blockOperationWithBlock([&trace, name] { trace.add(name); });
        op->setQueuePriority(priority);
        queue->addOperation(op);
        return op;
    };
    add("normal-1", NSOperationQueuePriorityNormal);
    add("low", NSOperationQueuePriorityLow);
    add("high-1", NSOperationQueuePriorityHigh);
    add("normal-2", NSOperationQueuePriorityNormal);
    add("very-low", NSOperationQueuePriorityVeryLow);
    add("high-2", NSOperationQueuePriorityHigh);
    auto raised = add("raised-while-waiting", NSOperationQueuePriorityLow);
    raised->setQueuePriority(NSOperationQueuePriorityVeryHigh);
    EXPECT_EQ(queue->operationCount(), 8u);
    release_.open();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(trace.events(), (std::vector<std::string>{"raised-while-waiting", "high-1", "high-2", "normal-1",
                                                        "normal-2", "low", "very-low"}));
    EXPECT_EQ(queue->operationCount(), 0u);
}

TEST_F(OperationQueueTest, FinishedOperationRunsAgainWhenAddedAgainToAnyQueue) {
    auto first = NSOperationQueue::alloc()->init();
    auto second = NSOperationQueue::alloc()->init();
    auto op = std::make_shared<CountingOperation>();
    first->addOperation(op);
    first->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(op->isFinished());
    EXPECT_EQ(op->currentQueue, first);
    second->addOperation(op);
    second->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(op->runs.load(), 2);
    EXPECT_EQ(op->currentQueue, second);
    EXPECT_FALSE(op->onMainThread.load());
}

TEST_F(OperationQueueTest, AddingAWaitingOrExecutingOperationIsRefused) {
    auto queue = busyQueue();
    auto waiting = std::make_shared<CountingOperation>();
    queue->addOperation(waiting);
    EXPECT_TRUE(blocker_->isExecuting());
    queue->addOperation(blocker_);
    queue->addOperation(waiting);
    queue->addOperation(nullptr);
    EXPECT_EQ(queue->operationCount(), 2u);
    release_.open();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(waiting->runs.load(), 1);
    EXPECT_TRUE(logged("CountingOperation is already waiting or executing"));
    EXPECT_TRUE(logged("nil operation"));
}

TEST_F(OperationQueueTest, CancelledBeforeStartSkipsMainButCompletes) {
    auto queue = busyQueue();
    auto cancelled = std::make_shared<CountingOperation>();
    std::atomic<bool> completed{false};
    cancelled->setCompletionBlock([&] { completed = true; });
    queue->addOperation(cancelled);
    cancelled->cancel();
    // It finishes without waiting for the busy slot.
    EXPECT_TRUE(driver_.runUntil([&] { return completed.load(); }, 5));
    EXPECT_EQ(cancelled->runs.load(), 0);
    EXPECT_TRUE(cancelled->isCancelled());
    // Cancelling a running one only sets the flag.
    std::atomic<bool> sawCancel{false};
    Gate cancelledGate;
    std::atomic<bool> runningStarted{false};
    Ref<NSBlockOperation> running;
    running = NSBlockOperation::blockOperationWithBlock([&] {
        runningStarted = true;
        cancelledGate.wait();
        sawCancel = running->isCancelled();
    });
    queue->addOperation(running);
    release_.open();
    ASSERT_TRUE(driver_.runUntil([&] { return runningStarted.load(); }, 5));
    queue->cancelAllOperations();
    cancelledGate.open();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(sawCancel.load());
}

TEST_F(OperationQueueTest, ExceptionInMainIsLoggedWithQueueNameAndClassAndTheQueueGoesOn) {
    auto queue = NSOperationQueue::alloc()->init();
    queue->setName("fetch queue");
    queue->setMaxConcurrentOperationCount(1);
    queue->addOperation(std::make_shared<ThrowingOperation>());
    auto after = std::make_shared<CountingOperation>();
    queue->addOperation(after);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(after->runs.load(), 1);
    EXPECT_TRUE(logged("uncaught exception on operation queue fetch queue in ThrowingOperation: task failed"));
}

TEST_F(OperationQueueTest, MainQueueIsTheMainFifoAndRunsOnMain) {
    auto main = NSOperationQueue::mainQueue();
    auto op = std::make_shared<CountingOperation>();
    op->setQueuePriority(NSOperationQueuePriorityVeryHigh);  // ignored on main
    Trace trace;
    main->addOperationWithBlock([&] { trace.add("first"); });
    main->addOperation(op);
    main->addOperationWithBlock([&] { trace.add("third"); });
    EXPECT_EQ(main->operationCount(), 3u);
    EXPECT_EQ(op->runs.load(), 0);
    driver_.drain();
    EXPECT_EQ(op->runs.load(), 1);
    EXPECT_TRUE(op->onMainThread.load());
    EXPECT_EQ(op->currentQueue, main);
    EXPECT_EQ(trace.events(), (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(NSOperationQueue::currentQueue(), main);
    main->waitUntilAllOperationsAreFinished();  // from main: refused, not a deadlock
    EXPECT_TRUE(logged("waitUntilAllOperationsAreFinished: refused"));
}

TEST_F(OperationQueueTest, WaitingFromOwnOperationIsRefusedAndCurrentQueueIsNullOffQueues) {
    auto queue = NSOperationQueue::alloc()->init();
    queue->addOperationWithBlock([&] { queue->waitUntilAllOperationsAreFinished(); });
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(logged("refused on the queue's own thread"));
    Ref<NSOperationQueue> seen = NSOperationQueue::mainQueue();
    std::thread([&] { seen = NSOperationQueue::currentQueue(); }).join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_TRUE(driver_.settle());
}

TEST_F(OperationQueueTest, ConcurrencyLimitHoldsUnderManyOperations) {
    auto queue = NSOperationQueue::alloc()->init();
    queue->setMaxConcurrentOperationCount(3);
    std::atomic<int> active{0}, peak{0}, done{0};
    for (int i = 0; i < 60; ++i) {
        queue->addOperationWithBlock([&] {
            int now = ++active;
            int old = peak.load();
            while (now > old && !peak.compare_exchange_weak(old, now)) {
            }
            std::this_thread::yield();
            --active;
            ++done;
        });
    }
    EXPECT_TRUE(driver_.settle());
    EXPECT_EQ(done.load(), 60);
    EXPECT_LE(peak.load(), 3);
    EXPECT_EQ(queue->operationCount(), 0u);
}

}  // namespace
