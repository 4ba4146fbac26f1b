#include "platform/web/JSVirtualMachine.h"

#include <algorithm>

#include "platform/runtime/NSThread.h"
#include "platform/web/JSManagedValue.h"

namespace platform {

Ref<JSVirtualMachine> JSVirtualMachine::sharedVirtualMachine() {
    static Ref<JSVirtualMachine> shared = std::make_shared<JSVirtualMachine>();
    return shared;
}

void JSVirtualMachine::addManagedReference(const Ref<JSManagedValue>& value, const NSObject* owner) {
    assertMainThread("JSVirtualMachine::addManagedReference");
    if (!value || !owner) return;
    auto& held = owners_[owner];
    std::erase_if(held, [](const Weak<JSManagedValue>& w) { return w.expired(); });
    held.push_back(value);
}

void JSVirtualMachine::removeManagedReference(const Ref<JSManagedValue>& value, const NSObject* owner) {
    assertMainThread("JSVirtualMachine::removeManagedReference");
    auto it = owners_.find(owner);
    if (!value || it == owners_.end()) return;
    auto& held = it->second;
    // One reference per call: the same value may have been added twice.
    auto found = std::find_if(held.begin(), held.end(), [&](const Weak<JSManagedValue>& w) { return w.lock() == value; });
    if (found != held.end()) held.erase(found);
    std::erase_if(held, [](const Weak<JSManagedValue>& w) { return w.expired(); });
    if (held.empty()) owners_.erase(it);
}

}  // namespace platform
