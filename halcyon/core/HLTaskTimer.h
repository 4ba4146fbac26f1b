// The last measured duration of each timed task type (the ad request and ad
// render tasks), handed out once to the next ad request. Process-wide; any
// thread.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/runtime/NSObject.h"

class HLTimedTaskResult : public NSObject {
public:
    double executionDuration() const { return executionDuration_; }  // milliseconds
    const std::string& networkType() const { return networkType_; }  // at the end of the run
    bool containedVideo() const { return containedVideo_; }

private:
    friend class HLTaskTimer;
    double executionDuration_ = 0;
    std::string networkType_;
    bool containedVideo_ = false;
};

class HLTaskTimer : public NSObject {
public:
    static Ref<HLTaskTimer> sharedTimer();

    // Replaces the result stored for the type.
    void taskOfType(const std::string& type, double durationMs, const std::string& networkType, bool containedVideoAd);
    // The stored result, removed as it is handed out; null when none.
    Ref<HLTimedTaskResult> lastExecutionResultForType(const std::string& type);

private:
    std::mutex timingLock_;  // guards timings_
    std::map<std::string, Ref<HLTimedTaskResult>> timings_;
};
