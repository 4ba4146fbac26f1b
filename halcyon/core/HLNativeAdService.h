// The native ad service (public; the SDK's nativeAdService()): loads groups
// of native ads and precaches one ad's resources on request. Any thread.
//
// A load of one ad is answered at once, on the caller's thread, from the
// native preload queue when it holds an ad (which is not replaced); any
// other load sends a native ad request ("nad") on task queue 0, has the
// first ads' images and videos cached (slot 98 + 1 of them) and reports
// exactly once to the load delegate (see HLNativeAdLoadDelegate.h). A count
// of 0 is refused with a user error and no callback.
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

    void loadNativeAdGroupOfCount(uint64_t count, const Ref<HLNativeAdLoadDelegate>& delegate);
    // Always a request, for `count` ads.
    void loadNativeAds(uint64_t count, const Ref<HLNativeAdLoadDelegate>& delegate);
    // `ad` must be an HLNativeAd: anything else (null included) is refused
    // with a user error and nothing is called back.
    void precacheResourcesForNativeAd(const Ref<NSObject>& ad, const Ref<HLNativeAdPrecacheDelegate>& delegate);

private:
    Weak<HLSdk> sdk_;
    Ref<HLLogManager> logger_;
};
