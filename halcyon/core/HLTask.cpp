#include "halcyon/core/HLTask.h"

#include "halcyon/core/HLConnectionUtils.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/HLTaskTimer.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"

Ref<HLTask> HLTask::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    tag_ = className();
    return self<HLTask>();
}

const Ref<HLLogManager>& HLTask::logger() const {
    // Never destroyed: other threads may use it during exit.
    static const Ref<HLLogManager>& none = *new Ref<HLLogManager>();
    return sdk_ ? sdk_->logManager() : none;
}

void HLTask::main() {
    if (!sdk_) return;
    const double start = platform::Clock::current()->uptime();
    const Ref<HLLogManager>& log = sdk_->logManager();
    if (sdk_->isInitializing()) {
        log->i(tag_, "Task re-scheduled...");
        sdk_->taskManager()->execute(self<HLTask>(), 1, 2.0);
    } else if (sdk_->isEnabledAndInitialized()) {
        log->i(tag_, "Task started exection...");
        // The work catches its own failures; whatever still escapes is
        // logged here, so that no exception leaves a task.
        if (auto caught = platform::runtime::callCatching([this] { run(); }))
            log->e(tag_, "Task failed with an exception: %@", platform::shortenedForLog(*caught));
    } else if (sdk_->hasNetworkError()) {
        log->w(tag_, "Task not executed because self.sdk has a network error. Re-initializing the self.sdk...");
        sdk_->attemptInitialize();
        taskDropped();
    } else {
        log->w(tag_, "Task not executed, self.sdk is disabled");
        taskDropped();
    }
    const double duration = (platform::Clock::current()->uptime() - start) * 1000;
    if (auto timed = std::dynamic_pointer_cast<HLTimedTask>(shared_from_this()); timed && timed->isTimed())
        HLTaskTimer::sharedTimer()->taskOfType(className(), duration, HLConnectionUtils::networkType(),
                                               timed->isVideoTask());
    log->i(tag_, "Task executed in %f ms", duration);
}
