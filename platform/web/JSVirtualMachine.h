// The process's one script engine instance (a context group): every context
// shares it. It records which owner holds which managed value, and stops
// scripts that run longer than the execution time limit.
#pragma once

#include <unordered_map>
#include <vector>

#include "platform/runtime/NSObject.h"

namespace platform {

class JSManagedValue;

class JSVirtualMachine : public NSObject {
public:
    // The shared instance (created on first use).
    static Ref<JSVirtualMachine> sharedVirtualMachine();

    // Records that `owner` holds the managed value; removing a reference
    // that was never added is ignored. Main thread.
    void addManagedReference(const Ref<JSManagedValue>& value, const NSObject* owner);
    void removeManagedReference(const Ref<JSManagedValue>& value, const NSObject* owner);

    // CPU-heavy page script is stopped (with a log line) after this many
    // seconds of one call into the engine. Default 2 s (a value that is not
    // positive restores it); tests lower it.
    static void setExecutionTimeLimit(double seconds);
    static double executionTimeLimit();

private:
    std::unordered_map<const NSObject*, std::vector<Weak<JSManagedValue>>> owners_;
};

}  // namespace platform

using platform::JSVirtualMachine;
