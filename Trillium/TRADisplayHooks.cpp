#include "Trillium/TRADisplayHooks.h"

TRADisplayHooks& TRADisplayHooks::shared() {
    // Never destroyed: other threads may use it during exit.
    static TRADisplayHooks& hooks = *new TRADisplayHooks();
    return hooks;
}
