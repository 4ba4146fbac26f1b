// The preload queue of native ads. Its queue comes with the native ad work;
// until then filling it does nothing.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include "halcyon/core/HLAdSpec.h"
#include "platform/runtime/NSObject.h"

class HLSdk;

class HLPreloadedNativeAdManager : public NSObject {
public:
    Ref<HLPreloadedNativeAdManager> initWithSdk(const Ref<HLSdk>& sdk);
    void fillPreloadQueueForSpec(const Ref<HLAdSpec>& spec);

private:
    Weak<HLSdk> sdk_;
};
