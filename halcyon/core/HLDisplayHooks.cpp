#include "halcyon/core/HLDisplayHooks.h"

HLDisplayHooks& HLDisplayHooks::shared() {
    static auto* hooks = new HLDisplayHooks;
    return *hooks;
}
