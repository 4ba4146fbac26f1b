#include "Trillium/TRADisplayHooks.h"

TRADisplayHooks& TRADisplayHooks::shared() {
    static TRADisplayHooks hooks;
    return hooks;
}
