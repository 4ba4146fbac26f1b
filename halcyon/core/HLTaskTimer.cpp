#include "halcyon/core/HLTaskTimer.h"

Ref<HLTaskTimer> HLTaskTimer::sharedTimer() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<HLTaskTimer>& timer = *new Ref<HLTaskTimer>(NSObject::alloc<HLTaskTimer>());
    return timer;
}

void HLTaskTimer::taskOfType(const std::string& type, double durationMs, const std::string& networkType,
                             bool containedVideoAd) {
    auto result = NSObject::alloc<HLTimedTaskResult>();
    result->executionDuration_ = durationMs;
    result->networkType_ = networkType;
    result->containedVideo_ = containedVideoAd;
    std::scoped_lock lock(timingLock_);
    timings_[type] = std::move(result);
}

Ref<HLTimedTaskResult> HLTaskTimer::lastExecutionResultForType(const std::string& type) {
    std::scoped_lock lock(timingLock_);
    auto it = timings_.find(type);
    if (it == timings_.end()) return nullptr;
    Ref<HLTimedTaskResult> result = std::move(it->second);
    timings_.erase(it);
    return result;
}
