// The script engine as native code sees it (one shared instance; bare
// contexts share one engine heap, each web view has one of its own). Its
// managed references decide what JSManagedValues keep alive: a managed
// value's script value stays while an owner that added it lives and has not
// removed it, and becomes collectable otherwise. It also stops scripts that
// run longer than the execution time limit, and pages over their heap budget.
#pragma once

#include <cstddef>
#include <unordered_map>
#include <vector>

#include "platform/runtime/NSObject.h"

namespace platform {

class JSManagedValue;

namespace testing {
// Test seam: a full garbage collection of the script engine now (main
// thread), after the references of owners that are gone were let go, so that
// what managed references keep alive (and what they do not) shows at once.
void collectScriptGarbageNow();
}  // namespace testing

class JSVirtualMachine : public NSObject {
public:
    // The shared instance (created on first use).
    static Ref<JSVirtualMachine> sharedVirtualMachine();

    // `owner` keeps the managed value's script value alive until it removes
    // the reference or is destroyed (an owner held by a Ref is followed
    // weakly; its references go at the next call here or collection). Each
    // add needs its own remove; removing a reference never added is ignored.
    // Main thread.
    void addManagedReference(const Ref<JSManagedValue>& value, const NSObject* owner);
    void removeManagedReference(const Ref<JSManagedValue>& value, const NSObject* owner);

    // CPU-heavy page script is stopped (with a log line) after this many
    // seconds of one call into the engine. Default 2 s (a value that is not
    // positive restores it); tests lower it.
    static void setExecutionTimeLimit(double seconds);
    static double executionTimeLimit();
    // The heap a web view's page may hold (what the engine's collections
    // find live, with the memory its objects own): script past it is stopped
    // and the page frozen (with a log line), and the frozen page's memory is
    // given back at once. Checked after each collection, while script runs
    // (as the time limit is), and when a call into the page returns; there,
    // whatever the engine collected meanwhile, a collection is made when the
    // process grew by a quarter of the budget since the last measure, so one
    // large allocation freezes the page as the call that made it returns.
    // Default 64 MB (0 restores it).
    static void setPageHeapBudget(size_t bytes);
    static size_t pageHeapBudget();

private:
    friend void testing::collectScriptGarbageNow();
    struct Holding {
        std::weak_ptr<const NSObject> owner;  // expired once the owner is gone (when it is followed)
        bool followed = false;
        std::vector<Weak<JSManagedValue>> values;
    };
    // Lets go of the references of owners that are gone.
    void releaseGoneOwners();

    std::unordered_map<const NSObject*, Holding> owners_;
};

}  // namespace platform

using platform::JSVirtualMachine;
