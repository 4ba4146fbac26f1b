// The preload queues of ordinary ads (owned by HLSdk as preloadedAdManager):
// banner, interstitial, medium rectangle and leaderboard of the regular type
// and the incentivized interstitial, with capacities from slots 54 to 58
// (read once, capped at 10). Preload requests are ad requests with
// "preloading=true". Any thread; see HLBasePreloadManager for the locks.
#pragma once

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLBasePreloadManager.h"

class HLPreloadedAdManager : public HLBasePreloadManager {
public:
    Ref<HLPreloadedAdManager> initWithSdk(const Ref<HLSdk>& sdk) {
        HLBasePreloadManager::initWithSdk(sdk);
        return self<HLPreloadedAdManager>();
    }

    // The oldest ready ad of the spec, taken out of its queue, or null.
    Ref<HLAd> preloadedAdOfSpec(const Ref<HLAdSpec>& spec) {
        return std::dynamic_pointer_cast<HLAd>(preloadedLoadableOfSpec(spec));
    }
    // The capacity slot of a size (slot 54 for a size outside the four).
    static int64_t capacitySettingTypeForSize(const Ref<HLAdSize>& size);

protected:
    QueueTable createPreloadedAdsDictionary() override;
    Ref<HLTask> createPreloadTaskForSpec(const Ref<HLAdSpec>& spec) override;
    Ref<HLAdSpec> specForLoadable(const Ref<NSObject>& loadable) override;
    void notifyDelegateOfSuccessWithLoadable(const Ref<NSObjectProtocol>& delegate,
                                             const Ref<NSObject>& loadable) override;
    void notifyDelegateOfFailureForSpec(const Ref<NSObjectProtocol>& delegate, const Ref<HLAdSpec>& spec,
                                        int32_t code) override;
};
