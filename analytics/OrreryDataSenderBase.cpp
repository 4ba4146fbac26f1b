#include "analytics/OrreryDataSenderBase.h"

#include <algorithm>

#include "analytics/OrreryApplicationState.h"
#include "analytics/OrreryLog.h"
#include "analytics/OrreryNetworkUtil.h"

Ref<OrreryDataSenderBase> OrreryDataSenderBase::initWithQueue(dispatch_queue_t queue) {
    queue_ = std::move(queue);
    if (!queue_) {
        OrreryLog::error("a report sender needs a work queue; it gets one of its own");
        queue_ = dispatch_queue_create("orrery.sender", DISPATCH_QUEUE_SERIAL);
    }
    OrreryApplicationState::sharedInstance();
    OrreryNetworkUtil::startReachabilityNotifier();
    NSNotificationCenter::defaultCenter()->addObserver(self<OrreryDataSenderBase>(),
                                                       &OrreryDataSenderBase::networkStatusChanged,
                                                       OrreryNetworkStatusChangedNotification);
    return self<OrreryDataSenderBase>();
}

OrreryDataSenderBase::~OrreryDataSenderBase() {
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const void*>(this));
}

std::vector<Ref<OrreryHttpAsyncTask>> OrreryDataSenderBase::runningTasks() const {
    std::lock_guard lock(mutex_);
    return runningTasks_;
}

bool OrreryDataSenderBase::hasOngoingTasksWindow() const {
    std::lock_guard lock(mutex_);
    return runningTasks_.size() < kTaskWindow;
}

void OrreryDataSenderBase::registerNewTask(const Ref<OrreryHttpAsyncTask>& task) {
    if (!task) return;
    std::lock_guard lock(mutex_);
    if (std::find(runningTasks_.begin(), runningTasks_.end(), task) == runningTasks_.end())
        runningTasks_.push_back(task);
}

void OrreryDataSenderBase::unregisterTask(const Ref<OrreryHttpAsyncTask>& task, bool completedSuccessfuly) {
    {
        std::lock_guard lock(mutex_);
        std::erase(runningTasks_, task);
    }
    if (completedSuccessfuly) performRetransmitNotSentBlocks();
    {
        std::lock_guard lock(mutex_);
        if (!runningTasks_.empty()) return;
    }
    didCompleteAllTasks();
}

void OrreryDataSenderBase::performRetransmitNotSentBlocks() {
    if (OrreryApplicationState::sharedInstance()->isInBackground()) {
        OrreryLog::log(OrreryLog::kDiagnostics, "retransmission waits: the application is in the background");
        return;
    }
    retransmitNotSentBlocks();
}

void OrreryDataSenderBase::networkStatusChanged(const NSNotification& notification) {
    (void)notification;
    if (!OrreryNetworkUtil::isNetworkReachable()) return;
    Weak<OrreryDataSenderBase> weak = self<OrreryDataSenderBase>();
    dispatch_async(queue_, [weak] {
        if (auto me = weak.lock()) me->performRetransmitNotSentBlocks();
    });
}
