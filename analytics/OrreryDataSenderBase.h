// The base of the analytics client's report senders: it owns the serial work
// queue, the list of running HTTP tasks, and the retransmission of stored blocks after a success and when the network
// becomes reachable. Subclasses send and retransmit; the base decides when.
#pragma once

#include <mutex>
#include <vector>

#include "analytics/OrreryHttpAsyncTask.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/NSObject.h"

// Builds report bytes around stored items.
class OrreryDataSenderDelegate : public virtual NSObjectProtocol {
public:
    // An array of stored items in, report bytes out (nothing when no report can be made).
    virtual std::optional<NSData> dataForSending(const Value& items) = 0;
};

class OrreryDataSenderBase : public NSObject {
public:
    // The window is open while fewer than this many tasks run.
    static constexpr size_t kTaskWindow = 9;

    ~OrreryDataSenderBase() override;

    // Stores the serial work queue, creates the task list and starts
    // observing "OrreryNetworkStatusChangedNotification".
    Ref<OrreryDataSenderBase> initWithQueue(dispatch_queue_t queue);

    const dispatch_queue_t& queue() const { return queue_; }
    // A snapshot of the running tasks.
    std::vector<Ref<OrreryHttpAsyncTask>> runningTasks() const;
    // YES while fewer than 9 tasks run.
    bool hasOngoingTasksWindow() const;
    // Adds the task (once).
    void registerNewTask(const Ref<OrreryHttpAsyncTask>& task);
    // Removes the task; after a success retransmits (unless the application
    // is in the background); when no task is left calls didCompleteAllTasks.
    // Call on the work queue.
    void unregisterTask(const Ref<OrreryHttpAsyncTask>& task, bool completedSuccessfuly);
    // retransmitNotSentBlocks, unless the application is in the background.
    void performRetransmitNotSentBlocks();
    // When the network is reachable, runs performRetransmitNotSentBlocks on the queue.
    void networkStatusChanged(const NSNotification& notification);

    // Overridden by subclasses; nothing in the base.
    virtual void retransmitNotSentBlocks() {}
    virtual void didCompleteAllTasks() {}

private:
    dispatch_queue_t queue_;
    mutable std::mutex mutex_;
    std::vector<Ref<OrreryHttpAsyncTask>> runningTasks_;
};
