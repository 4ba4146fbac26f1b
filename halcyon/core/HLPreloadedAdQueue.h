// A bounded queue of ready ads (or native ads), oldest first, holding at
// most 10. A full queue drops what it is given. Any thread: every call takes
// the queue's own lock (taken inside the preload manager's lock).
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/runtime/NSObject.h"

class HLPreloadedAdQueue : public NSObject {
public:
    // Capacity min(capacity, 10).
    Ref<HLPreloadedAdQueue> initWithCapacity(uint64_t capacity);

    void enqueueAd(const Ref<NSObject>& ad);
    // The oldest, or null.
    Ref<NSObject> dequeueAd();
    uint32_t maxCapacity() const { return maxCapacity_; }
    uint64_t currentSize() const;
    bool isFull() const;
    bool isEmpty() const;

private:
    uint32_t maxCapacity_ = 0;
    mutable std::recursive_mutex queueLock_;  // guards backingArray_
    std::deque<Ref<NSObject>> backingArray_;
};
