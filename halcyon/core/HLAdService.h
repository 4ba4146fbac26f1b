// The ad loading service: load states per size and type, pending delegates,
// preloading and automatic refresh. Its loading comes with the ad service
// work; until then scheduling the start-up preload does nothing.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include "platform/runtime/NSObject.h"

class HLSdk;

class HLAdService : public NSObject {
public:
    Ref<HLAdService> initWithSdk(const Ref<HLSdk>& sdk);
    void scheduleAdPreload();

private:
    Weak<HLSdk> sdk_;
};
