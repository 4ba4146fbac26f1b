// The native ad loading service. Its loading comes with the native ad work;
// until then it holds only its owner.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include "platform/runtime/NSObject.h"

class HLSdk;

class HLNativeAdService : public NSObject {
public:
    Ref<HLNativeAdService> initWithSdk(const Ref<HLSdk>& sdk);

private:
    Weak<HLSdk> sdk_;
};
