// Runs NSOperations on the worker pool: the highest queuePriority among the
// waiting ones starts first, FIFO within a priority, up to a concurrency
// limit. mainQueue() is the main FIFO.
#pragma once

#include <cstdint>
#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "platform/runtime/NSOperation.h"

namespace platform {

class NSOperationQueue : public NSObject {
public:
    static Ref<NSOperationQueue> alloc() { return std::make_shared<NSOperationQueue>(); }
    Ref<NSOperationQueue> init();
    static Ref<NSOperationQueue> mainQueue();
    // The queue running the calling operation; mainQueue() on the main thread;
    // otherwise null.
    static Ref<NSOperationQueue> currentQueue();

    int64_t maxConcurrentOperationCount() const;
    void setMaxConcurrentOperationCount(int64_t count);  // default 64
    std::string name() const;
    void setName(std::string name);

    // Adding one that is already waiting or executing is ignored with an error line.
    void addOperation(const Ref<NSOperation>& operation);
    void addOperationWithBlock(Block block);
    // Waiting plus executing.
    uint64_t operationCount() const;
    std::vector<Ref<NSOperation>> operations() const;
    void cancelAllOperations();
    // Blocks until every added operation has finished; refused (error line)
    // from one of this queue's own operations.
    void waitUntilAllOperationsAreFinished();

private:
    friend class NSOperation;
    void pumpLocked(std::unique_lock<std::mutex>& lock);
    void execute(const Ref<NSOperation>& operation);
    void finished(const Ref<NSOperation>& operation);

    bool main_ = false;
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::string name_;
    int64_t maxConcurrent_ = 64;
    std::list<Ref<NSOperation>> waiting_;
    std::vector<Ref<NSOperation>> executing_;
};

}  // namespace platform

using platform::NSOperationQueue;
