#include "platform/web/JSVirtualMachine.h"

#include <algorithm>

#include "platform/runtime/NSThread.h"
#include "platform/web/JSEngine.h"
#include "platform/web/JSManagedValue.h"

namespace platform {

Ref<JSVirtualMachine> JSVirtualMachine::sharedVirtualMachine() {
    // Never destroyed: other threads may use it during exit.
    static Ref<JSVirtualMachine>& shared = *new Ref<JSVirtualMachine>(std::make_shared<JSVirtualMachine>());
    return shared;
}

void JSVirtualMachine::releaseGoneOwners() {
    for (auto it = owners_.begin(); it != owners_.end();) {
        if (!it->second.followed || !it->second.owner.expired()) {
            ++it;
            continue;
        }
        for (const auto& weak : it->second.values)
            if (auto value = weak.lock()) value->releaseForOwner();
        it = owners_.erase(it);
    }
}

void JSVirtualMachine::addManagedReference(const Ref<JSManagedValue>& value, const NSObject* owner) {
    assertMainThread("JSVirtualMachine::addManagedReference");
    releaseGoneOwners();
    if (!value || !owner) return;
    auto [it, added] = owners_.try_emplace(owner);
    Holding& holding = it->second;
    if (added) {
        holding.owner = owner->weak_from_this();
        holding.followed = !holding.owner.expired();
    }
    std::erase_if(holding.values, [](const Weak<JSManagedValue>& w) { return w.expired(); });
    holding.values.push_back(value);
    value->retainForOwner();
}

void JSVirtualMachine::removeManagedReference(const Ref<JSManagedValue>& value, const NSObject* owner) {
    assertMainThread("JSVirtualMachine::removeManagedReference");
    releaseGoneOwners();
    auto it = owners_.find(owner);
    if (!value || it == owners_.end()) return;
    auto& held = it->second.values;
    // One reference per call: the same value may have been added twice.
    auto found = std::find_if(held.begin(), held.end(), [&](const Weak<JSManagedValue>& w) { return w.lock() == value; });
    if (found != held.end()) {
        held.erase(found);
        value->releaseForOwner();
    }
    std::erase_if(held, [](const Weak<JSManagedValue>& w) { return w.expired(); });
    if (held.empty()) owners_.erase(it);
}

namespace testing {

void collectScriptGarbageNow() {
    assertMainThread("collectScriptGarbageNow");
    JSVirtualMachine::sharedVirtualMachine()->releaseGoneOwners();
    web::collectAllGarbage();
}

}  // namespace testing

}  // namespace platform
