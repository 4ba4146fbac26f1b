// The bounded preload queues of ads, one per size and type. Its queues come
// with the preloading work; until then it holds only its owner.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include "platform/runtime/NSObject.h"

class HLSdk;

class HLPreloadedAdManager : public NSObject {
public:
    Ref<HLPreloadedAdManager> initWithSdk(const Ref<HLSdk>& sdk);

private:
    Weak<HLSdk> sdk_;
};
