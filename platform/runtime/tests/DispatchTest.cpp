#include <atomic>

#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/runtime/tests/RuntimeTestSupport.h"

namespace {

class DispatchTest : public RuntimeTest {};

TEST_F(DispatchTest, SerialQueueKeepsFifoOrderAndRunsOneAtATimeUnderManyProducers) {
    auto queue = dispatch_queue_create("test.serial", DISPATCH_QUEUE_SERIAL);
    constexpr int kProducers = 8, kEach = 200;
    std::vector<std::vector<int>> seen(kProducers);  // touched only on the queue
    std::atomic<int> active{0}, overlaps{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kEach; ++i) {
                dispatch_async(queue, [&, p, i] {
                    if (active.fetch_add(1) != 0) ++overlaps;
                    seen[p].push_back(i);
                    active.fetch_sub(1);
                });
            }
        });
    }
    for (auto& t : producers) t.join();
    ASSERT_TRUE(driver_.settle());
    EXPECT_EQ(overlaps.load(), 0);
    for (int p = 0; p < kProducers; ++p) {
        ASSERT_EQ(seen[p].size(), static_cast<size_t>(kEach));
        for (int i = 0; i < kEach; ++i) ASSERT_EQ(seen[p][i], i);
    }
}

TEST_F(DispatchTest, BarrierWaitsForEarlierBlocksRunsAloneAndLaterOnesWaitForIt) {
    auto queue = dispatch_queue_create("test.concurrent", DISPATCH_QUEUE_CONCURRENT);
    std::atomic<int> readers{0}, writersActive{0}, violations{0};
    std::atomic<int> value{0};
    std::mutex logMutex;
    std::vector<std::pair<int, int>> reads;  // (issued after write n, value seen)
    std::vector<std::thread> producers;
    // Each producer issues its own writes in order; a read issued after write n of
    // a single producer must see at least that write.
    auto queueReader = [&](int expectAtLeast) {
        dispatch_async(queue, [&, expectAtLeast] {
            readers.fetch_add(1);
            if (writersActive.load() != 0) ++violations;
            int seenValue = value.load();
            if (seenValue < expectAtLeast) ++violations;
            readers.fetch_sub(1);
        });
    };
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < 50; ++i) {
                if (p == 0 && i % 5 == 0) {
                    dispatch_barrier_async(queue, [&] {
                        if (writersActive.fetch_add(1) != 0 || readers.load() != 0) ++violations;
                        value.fetch_add(1);
                        std::this_thread::yield();
                        writersActive.fetch_sub(1);
                    });
                    queueReader(i / 5 + 1);
                } else {
                    queueReader(0);
                }
            }
        });
    }
    for (auto& t : producers) t.join();
    int finalValue = -1;
    dispatch_barrier_sync(queue, [&] { finalValue = value.load(); });
    EXPECT_EQ(finalValue, 10);
    ASSERT_TRUE(driver_.settle());
    EXPECT_EQ(violations.load(), 0);
}

TEST_F(DispatchTest, ConcurrentQueueRunsPlainBlocksSideBySide) {
    auto queue = dispatch_queue_create("test.side-by-side", DISPATCH_QUEUE_CONCURRENT);
    Gate bothIn;
    std::atomic<int> in{0};
    std::atomic<bool> sawBoth{false};
    for (int i = 0; i < 2; ++i) {
        dispatch_async(queue, [&] {
            if (in.fetch_add(1) == 1) bothIn.open();
            sawBoth = bothIn.wait(5);
        });
    }
    ASSERT_TRUE(driver_.settle());
    EXPECT_TRUE(sawBoth.load());
}

TEST_F(DispatchTest, GlobalQueuesTakeWaitingWorkHighToBackground) {
    // Occupy every worker the pool may have, queue one block per level, then
    // free a single worker: it takes the waiting blocks one by one.
    constexpr int kWorkers = platform::WorkerPool::kMaxWorkers;
    std::mutex mutex;
    std::condition_variable cv;
    int permits = 0;
    std::atomic<int> blocked{0};
    auto blocker = [&] {
        ++blocked;
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return permits > 0; });
        --permits;
    };
    for (int i = 0; i < kWorkers; ++i) dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), blocker);
    ASSERT_TRUE(driver_.runUntil([&] { return blocked.load() == kWorkers; }, 5));
    Trace trace;
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_BACKGROUND, 0), [&] { trace.add("background"); });
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_LOW, 0), [&] { trace.add("low"); });
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), [&] { trace.add("default"); });
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_HIGH, 0), [&] { trace.add("high"); });
    dispatch_async(dispatch_get_global_queue(12345, 0), [&] { trace.add("unknown=default"); });
    {
        std::lock_guard lock(mutex);
        permits = 1;
    }
    cv.notify_one();
    ASSERT_TRUE(driver_.runUntil([&] { return trace.size() == 5; }, 5));
    EXPECT_EQ(trace.events(), (std::vector<std::string>{"high", "default", "unknown=default", "low", "background"}));
    {
        std::lock_guard lock(mutex);
        permits = kWorkers;
    }
    cv.notify_all();
    ASSERT_TRUE(driver_.settle());
}

TEST_F(DispatchTest, ElasticPoolGrowsWhenEveryWorkerIsBlocked) {
    auto release = std::make_shared<Gate>();
    std::atomic<int> started{0};
    constexpr int kBlockers = 20;
    for (int i = 0; i < kBlockers; ++i) {
        auto queue = dispatch_queue_create("test.blocker", DISPATCH_QUEUE_SERIAL);
        dispatch_async(queue, [&, release] {
            ++started;
            release->wait();
        });
    }
    // A block on another queue still gets a worker and frees the others.
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_LOW, 0), [release] { release->open(); });
    ASSERT_TRUE(driver_.settle());
    EXPECT_EQ(started.load(), kBlockers);
}

TEST_F(DispatchTest, IdleWorkersLeaveAndShutdownJoinsThem) {
    auto& pool = platform::WorkerPool::shared();
    pool.setIdleTimeout(0.02);
    for (int i = 0; i < 4; ++i) dispatch_async(dispatch_get_global_queue(0, 0), [] {});
    ASSERT_TRUE(driver_.settle());
    EXPECT_TRUE(driver_.runUntil([&] { return pool.workerCount() == 0; }, 5));
    pool.setIdleTimeout(10);
    std::atomic<int> ran{0};
    for (int i = 0; i < 4; ++i)
        dispatch_async(dispatch_get_global_queue(0, 0), [&] { ++ran; });
    platform::runtime::shutdownWorkerPool();
    EXPECT_EQ(ran.load(), 4);
    EXPECT_EQ(pool.workerCount(), 0u);
}

TEST_F(DispatchTest, SyncReturnsAfterTheBlockRanAndMainQueueSyncWorksWhileMainPumps) {
    auto queue = dispatch_queue_create("test.sync", DISPATCH_QUEUE_SERIAL);
    int value = 0;
    dispatch_sync(queue, [&] { value = 1; });
    EXPECT_EQ(value, 1);
    std::atomic<bool> done{false};
    bool ranOnMain = false;
    dispatch_async(queue, [&] {
        dispatch_sync(dispatch_get_main_queue(), [&] { ranOnMain = NSThread::isMainThread(); });
        done = true;
    });
    EXPECT_TRUE(driver_.runUntil([&] { return done.load(); }, 5));
    EXPECT_TRUE(ranOnMain);
    // A plain sync onto a concurrent queue from its own block runs inline.
    auto concurrent = dispatch_queue_create("test.reentrant", DISPATCH_QUEUE_CONCURRENT);
    bool nested = false;
    dispatch_sync(concurrent, [&] { dispatch_sync(concurrent, [&] { nested = true; }); });
    EXPECT_TRUE(nested);
}

using DispatchDeathTest = DispatchTest;

TEST_F(DispatchDeathTest, SyncOntoTheCurrentQueueAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(dispatch_sync(dispatch_get_main_queue(), [] {}), "dispatch_sync onto the current queue");
    EXPECT_DEATH(
        {
            auto queue = dispatch_queue_create("test.self", DISPATCH_QUEUE_SERIAL);
            dispatch_sync(queue, [&] { dispatch_sync(queue, [] {}); });
        },
        "dispatch_sync onto the current queue");
    EXPECT_DEATH(
        {
            auto queue = dispatch_queue_create("test.self", DISPATCH_QUEUE_CONCURRENT);
            dispatch_async(queue, [&] { dispatch_barrier_sync(queue, [] {}); });
            driver_.settle();
        },
        "dispatch_sync onto the current queue");
    // Through a waiting caller: main waits on the queue, whose block waits on main.
    EXPECT_DEATH(
        {
            auto queue = dispatch_queue_create("test.cycle", DISPATCH_QUEUE_SERIAL);
            dispatch_sync(queue, [] { dispatch_sync(dispatch_get_main_queue(), [] {}); });
        },
        "dispatch_sync onto the current queue");
}

TEST_F(DispatchTest, ExceptionInABlockIsLoggedWithTheLabelAndTheQueueGoesOn) {
    auto queue = dispatch_queue_create("test.throws", DISPATCH_QUEUE_SERIAL);
    std::atomic<bool> after{false};
    dispatch_async(queue, [] { throw std::runtime_error("bad block"); });
    dispatch_async(queue, [] { throw 42; });
    dispatch_async(queue, [&] { after = true; });
    dispatch_async(dispatch_get_main_queue(), [] { throw std::logic_error("bad main"); });
    ASSERT_TRUE(driver_.settle());
    EXPECT_TRUE(after.load());
    EXPECT_TRUE(logged("uncaught exception on queue test.throws: bad block"));
    EXPECT_TRUE(logged("uncaught exception on queue test.throws: unknown exception"));
    EXPECT_TRUE(logged("uncaught exception on queue main: bad main"));
}

TEST_F(DispatchTest, LabelsOnceAndBadArguments) {
    auto queue = dispatch_queue_create("test.label", DISPATCH_QUEUE_SERIAL);
    EXPECT_STREQ(dispatch_queue_get_label(queue), "test.label");
    EXPECT_STREQ(dispatch_queue_get_label(dispatch_get_main_queue()), "main");
    EXPECT_STREQ(dispatch_queue_get_label(DISPATCH_CURRENT_QUEUE_LABEL), "main");
    std::string inside;
    dispatch_sync(queue, [&] { inside = dispatch_queue_get_label(DISPATCH_CURRENT_QUEUE_LABEL); });
    EXPECT_EQ(inside, "test.label");
    EXPECT_STREQ(dispatch_queue_get_label(dispatch_queue_create(nullptr, DISPATCH_QUEUE_SERIAL)), "");

    static dispatch_once_t once;
    std::atomic<int> calls{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([&] { dispatch_once(&once, [&] { ++calls; }); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(calls.load(), 1);

    dispatch_async(nullptr, [] {});
    dispatch_sync(queue, nullptr);
    EXPECT_TRUE(logged("dispatch_async: nil queue"));
    EXPECT_TRUE(logged("dispatch_sync: nil block"));
}

TEST_F(DispatchTest, AQueueWithPendingWorkStaysAliveUntilDrained) {
    std::atomic<int> ran{0};
    Gate gate;
    {
        auto queue = dispatch_queue_create("test.dropped", DISPATCH_QUEUE_SERIAL);
        dispatch_async(queue, [&] { gate.wait(); ++ran; });
        for (int i = 0; i < 5; ++i) dispatch_async(queue, [&] { ++ran; });
    }
    gate.open();
    ASSERT_TRUE(driver_.settle());
    EXPECT_EQ(ran.load(), 6);
}

}  // namespace
