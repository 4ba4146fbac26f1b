// Dispatch queues: the main queue (the main FIFO), four global concurrent
// queues by priority, and created serial or concurrent queues with barriers,
// all run by one elastic worker pool. Plus the dispatch_* functions.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/runtime/NSObject.h"

namespace platform {

class DispatchQueue;
struct DispatchQueueAttr {};

using dispatch_queue_t = Ref<DispatchQueue>;
using dispatch_block_t = Block;
using dispatch_once_t = std::once_flag;
using dispatch_time_t = uint64_t;  // uptime in nanoseconds
using dispatch_queue_attr_t = const DispatchQueueAttr*;

inline constexpr dispatch_queue_attr_t DISPATCH_QUEUE_SERIAL = nullptr;
inline constexpr DispatchQueueAttr kDispatchQueueConcurrentAttr{};
inline constexpr dispatch_queue_attr_t DISPATCH_QUEUE_CONCURRENT = &kDispatchQueueConcurrentAttr;

inline constexpr long DISPATCH_QUEUE_PRIORITY_HIGH = 2;
inline constexpr long DISPATCH_QUEUE_PRIORITY_DEFAULT = 0;
inline constexpr long DISPATCH_QUEUE_PRIORITY_LOW = -2;
inline constexpr long DISPATCH_QUEUE_PRIORITY_BACKGROUND = INT16_MIN;

inline constexpr dispatch_time_t DISPATCH_TIME_NOW = 0;
inline constexpr dispatch_time_t DISPATCH_TIME_FOREVER = ~0ull;
inline constexpr uint64_t NSEC_PER_SEC = 1000000000ull;
inline constexpr uint64_t NSEC_PER_MSEC = 1000000ull;
inline constexpr uint64_t NSEC_PER_USEC = 1000ull;
inline constexpr uint64_t USEC_PER_SEC = 1000000ull;
// dispatch_queue_get_label(DISPATCH_CURRENT_QUEUE_LABEL): the current queue's label.
inline constexpr std::nullptr_t DISPATCH_CURRENT_QUEUE_LABEL = nullptr;

class DispatchQueue : public NSObject {
public:
    // Worker-pool priority levels, taken high → default → low → background.
    enum class Priority { High = 0, Default = 1, Low = 2, Background = 3 };

    const std::string& label() const { return label_; }
    bool isConcurrent() const { return concurrent_; }
    bool isMain() const { return main_; }

    // Use dispatch_queue_create / dispatch_get_*_queue.
    DispatchQueue(std::string label, bool concurrent, Priority priority, bool main);

    void async(Block block, bool barrier);
    void sync(Block block, bool barrier);

private:
    struct SyncWait;
    struct Item {
        Block block;
        bool barrier = false;
        std::shared_ptr<SyncWait> wait;                  // set for dispatch_sync
        std::vector<const DispatchQueue*> callerQueues;  // the waiting caller's queues
    };
    void enqueue(Item item);
    void startReadyLocked();
    void runItem(Item& item);

    const std::string label_;
    const bool concurrent_;
    const Priority priority_;
    const bool main_;
    std::mutex mutex_;
    std::deque<Item> pending_;
    int running_ = 0;
    bool barrierRunning_ = false;
};

dispatch_queue_t dispatch_get_main_queue();
// Priorities 2, 0, -2, INT16_MIN; anything else is the default queue.
dispatch_queue_t dispatch_get_global_queue(long priority, unsigned long flags);
dispatch_queue_t dispatch_queue_create(const char* label, dispatch_queue_attr_t attr);
// Null queue (DISPATCH_CURRENT_QUEUE_LABEL): the current queue's label, "" off any queue.
const char* dispatch_queue_get_label(const dispatch_queue_t& queue);
const char* dispatch_queue_get_label(std::nullptr_t);

void dispatch_async(const dispatch_queue_t& queue, dispatch_block_t block);
// Returns after the block ran. Onto the queue the caller is running on (main
// from main included) it aborts with "dispatch_sync onto the current queue";
// a plain dispatch_sync onto a concurrent queue from its own block runs inline.
void dispatch_sync(const dispatch_queue_t& queue, dispatch_block_t block);
void dispatch_barrier_async(const dispatch_queue_t& queue, dispatch_block_t block);
void dispatch_barrier_sync(const dispatch_queue_t& queue, dispatch_block_t block);
// A main run loop timer that dispatches the block to `queue` when due.
void dispatch_after(dispatch_time_t when, const dispatch_queue_t& queue, dispatch_block_t block);
// `when` DISPATCH_TIME_NOW is the clock's uptime now; the sum saturates.
dispatch_time_t dispatch_time(dispatch_time_t when, int64_t deltaNanoseconds);
void dispatch_once(dispatch_once_t* predicate, dispatch_block_t block);

namespace runtime {
// Joins the pool's workers once their queued work is done (Platform::shutdown).
void shutdownWorkerPool();
}  // namespace runtime

namespace testing {
// Test seam: each block of the created or global queues labelled `label`
// starts `seconds` of real time late, as on a machine too busy to run it
// (0 ends it).
void setDispatchQueueDelay(const std::string& label, double seconds);
}  // namespace testing

}  // namespace platform

using platform::dispatch_after;
using platform::dispatch_async;
using platform::dispatch_barrier_async;
using platform::dispatch_barrier_sync;
using platform::dispatch_block_t;
using platform::dispatch_get_global_queue;
using platform::dispatch_get_main_queue;
using platform::dispatch_once;
using platform::dispatch_once_t;
using platform::dispatch_queue_attr_t;
using platform::dispatch_queue_create;
using platform::dispatch_queue_get_label;
using platform::dispatch_queue_t;
using platform::dispatch_sync;
using platform::dispatch_time;
using platform::dispatch_time_t;
using platform::DISPATCH_CURRENT_QUEUE_LABEL;
using platform::DISPATCH_QUEUE_CONCURRENT;
using platform::DISPATCH_QUEUE_PRIORITY_BACKGROUND;
using platform::DISPATCH_QUEUE_PRIORITY_DEFAULT;
using platform::DISPATCH_QUEUE_PRIORITY_HIGH;
using platform::DISPATCH_QUEUE_PRIORITY_LOW;
using platform::DISPATCH_QUEUE_SERIAL;
using platform::DISPATCH_TIME_FOREVER;
using platform::DISPATCH_TIME_NOW;
using platform::DispatchQueue;
using platform::NSEC_PER_MSEC;
using platform::NSEC_PER_SEC;
using platform::NSEC_PER_USEC;
using platform::USEC_PER_SEC;
