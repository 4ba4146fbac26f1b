#include "analytics/OrreryRelayHooks.h"

#include <mutex>

namespace {
std::mutex hooksMutex;
Ref<OrreryRelayHooks> installedHooks;
}  // namespace

void OrreryRelayHooks::setHooks(Ref<OrreryRelayHooks> hooks) {
    std::lock_guard lock(hooksMutex);
    installedHooks = std::move(hooks);
}

Ref<OrreryRelayHooks> OrreryRelayHooks::hooks() {
    std::lock_guard lock(hooksMutex);
    return installedHooks;
}
