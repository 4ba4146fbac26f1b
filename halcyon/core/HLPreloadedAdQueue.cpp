#include "halcyon/core/HLPreloadedAdQueue.h"

#include <algorithm>

namespace {
constexpr uint64_t kHLPreloadQueueLimit = 10;
}  // namespace

Ref<HLPreloadedAdQueue> HLPreloadedAdQueue::initWithCapacity(uint64_t capacity) {
    maxCapacity_ = static_cast<uint32_t>(std::min(capacity, kHLPreloadQueueLimit));
    return self<HLPreloadedAdQueue>();
}

void HLPreloadedAdQueue::enqueueAd(const Ref<NSObject>& ad) {
    std::scoped_lock lock(queueLock_);
    if (ad && backingArray_.size() < maxCapacity_) backingArray_.push_back(ad);
}

Ref<NSObject> HLPreloadedAdQueue::dequeueAd() {
    std::scoped_lock lock(queueLock_);
    if (backingArray_.empty()) return nullptr;
    Ref<NSObject> ad = std::move(backingArray_.front());
    backingArray_.pop_front();
    return ad;
}

uint64_t HLPreloadedAdQueue::currentSize() const {
    std::scoped_lock lock(queueLock_);
    return backingArray_.size();
}

bool HLPreloadedAdQueue::isFull() const { return currentSize() >= maxCapacity_; }
bool HLPreloadedAdQueue::isEmpty() const { return currentSize() == 0; }
