// The native ad service (public; the SDK's nativeAdService()): precaches
// one ad's resources on request. Any thread. Loading groups of native ads
// comes with the native ad request.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include <cstdint>

#include "halcyon/core/HLNativeAdLoadDelegate.h"
#include "platform/runtime/NSObject.h"

class HLLogManager;
class HLSdk;

class HLNativeAdService : public NSObject {
public:
    Ref<HLNativeAdService> initWithSdk(const Ref<HLSdk>& sdk);

    Ref<HLSdk> sdk() const { return sdk_.lock(); }
    const Ref<HLLogManager>& logger() const { return logger_; }

    // `ad` must be an HLNativeAd: anything else (null included) is refused
    // with a user error and nothing is called back.
    void precacheResourcesForNativeAd(const Ref<NSObject>& ad, const Ref<HLNativeAdPrecacheDelegate>& delegate);

private:
    Weak<HLSdk> sdk_;
    Ref<HLLogManager> logger_;
};
