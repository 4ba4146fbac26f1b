#include "analytics/OrreryRelayHooks.h"

#include <mutex>

namespace {
std::mutex hooksMutex;
// Never destroyed: other threads may use it during exit.
Ref<OrreryRelayHooks>& installedHooks = *new Ref<OrreryRelayHooks>();
}  // namespace

void OrreryRelayHooks::setHooks(Ref<OrreryRelayHooks> hooks) {
    std::lock_guard lock(hooksMutex);
    installedHooks = std::move(hooks);
}

Ref<OrreryRelayHooks> OrreryRelayHooks::hooks() {
    std::lock_guard lock(hooksMutex);
    return installedHooks;
}
