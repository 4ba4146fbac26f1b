// The base of every Halcyon work item, run by the task manager's queues.
// main() refuses to run the work while the client is not ready: while it
// initialises the task is handed to queue 1 again 2.0 s later; while it is
// disabled the task is dropped; after a network error it is dropped and a new
// initialisation started. Everything a task logs carries its tag (its class
// name). No exception leaves a task: what run() throws is logged.
#pragma once

#include <string>

#include "platform/runtime/NSOperation.h"

class HLLogManager;
class HLSdk;

// Adopted by tasks whose duration the next ad request reports.
class HLTimedTask : public virtual NSObjectProtocol {
public:
    virtual bool isTimed() const = 0;
    virtual bool isVideoTask() const = 0;
};

class HLTask : public NSOperation {
public:
    // Keeps the owner strongly while the task exists.
    Ref<HLTask> initWithSdk(const Ref<HLSdk>& sdk);

    void main() override;
    // The work; the base does nothing.
    virtual void run() {}

    const Ref<HLSdk>& sdk() const { return sdk_; }
    const std::string& tag() const { return tag_; }
    const Ref<HLLogManager>& logger() const;

protected:
    // Called by main() when the client's state drops the task unrun.
    virtual void taskDropped() {}

private:
    Ref<HLSdk> sdk_;
    std::string tag_;
};
