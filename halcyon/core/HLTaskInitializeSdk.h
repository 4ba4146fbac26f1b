// The task that brings the client from initialising to enabled: checks the
// prerequisites, compacts the resource cache, marks the client initialised,
// starts preloading, schedules the device-data submission, flushes stored
// postbacks and tracks "landing". Its run() is called directly on queue 0
// (HLTaskManager::executeInitTask), past HLTask's state checks.
#pragma once

#include "halcyon/core/HLTask.h"

class HLTaskInitializeSdk : public HLTask {
public:
    Ref<HLTaskInitializeSdk> initWithSdk(const Ref<HLSdk>& sdk) {
        HLTask::initWithSdk(sdk);
        return self<HLTaskInitializeSdk>();
    }
    void run() override;

private:
    bool prerequisitesHold();
};
