#include "platform/runtime/WorkerPool.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"

namespace platform {
namespace {

thread_local bool tlsIsWorker = false;

}  // namespace

WorkerPool& WorkerPool::shared() {
    static auto* pool = new WorkerPool;  // never destroyed: detached workers outlive exit
    return *pool;
}

bool WorkerPool::isWorkerThread() { return tlsIsWorker; }

void WorkerPool::submit(int level, Block job) {
    if (level < 0 || level >= kLevels) level = 1;
    std::lock_guard lock(mutex_);
    jobs_[level].push_back(std::move(job));
    ++queued_;
    // Every idle worker may already have a job coming its way: grow.
    if (queued_ > static_cast<size_t>(idle_) && workers_ < kMaxWorkers) {
        try {
            std::thread(&WorkerPool::workerLoop, this).detach();
            ++workers_;
        } catch (const std::system_error& e) {
            logError(std::string("worker pool: cannot start a worker: ") + e.what());
        }
    }
    work_.notify_one();
}

Block WorkerPool::popLocked() {
    for (auto& level : jobs_) {
        if (!level.empty()) {
            Block job = std::move(level.front());
            level.pop_front();
            --queued_;
            return job;
        }
    }
    return nullptr;
}

void WorkerPool::workerLoop() {
    tlsIsWorker = true;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (Block job = popLocked()) {
            lock.unlock();
            runtime::callAtBoundary(job, "worker");
            job = nullptr;  // captured state goes before the next job
            lock.lock();
            continue;
        }
        if (stopping_) break;
        ++idle_;
        bool woken = work_.wait_for(lock, std::chrono::duration<double>(idleTimeout_),
                                    [&] { return queued_ > 0 || stopping_; });
        --idle_;
        if (!woken) break;  // idle too long: shrink
    }
    --workers_;
    exited_.notify_all();
}

void WorkerPool::shutdown() {
    if (tlsIsWorker) {
        logError("worker pool: shutdown from a worker is refused");
        return;
    }
    std::unique_lock lock(mutex_);
    stopping_ = true;
    work_.notify_all();
    exited_.wait(lock, [&] { return workers_ == 0; });
    stopping_ = false;
}

size_t WorkerPool::workerCount() {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(workers_);
}

void WorkerPool::setIdleTimeout(double seconds) {
    std::lock_guard lock(mutex_);
    idleTimeout_ = seconds;
}

}  // namespace platform
