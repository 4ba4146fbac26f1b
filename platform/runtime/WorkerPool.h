// Internal to the runtime: the one elastic pool of worker threads behind every
// non-main dispatch queue and operation queue. It grows while all workers are
// busy and work waits (up to 64) and shrinks after 10 s idle, so work that
// blocks for a long time never starves other queues.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

#include "platform/runtime/NSObject.h"

namespace platform {

class WorkerPool {
public:
    static constexpr int kLevels = 4;  // high, default, low, background
    static constexpr int kMaxWorkers = 64;

    static WorkerPool& shared();

    // Waiting jobs are taken from the highest level (0) first, FIFO within one.
    void submit(int level, Block job);
    // Runs what is queued, then ends every worker and waits for them.
    void shutdown();
    size_t workerCount();
    static bool isWorkerThread();
    void setIdleTimeout(double seconds);  // tests

private:
    WorkerPool() = default;
    void workerLoop();
    Block popLocked();

    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable exited_;
    std::deque<Block> jobs_[kLevels];
    size_t queued_ = 0;
    int workers_ = 0;
    int idle_ = 0;
    bool stopping_ = false;
    double idleTimeout_ = 10;
};

}  // namespace platform
