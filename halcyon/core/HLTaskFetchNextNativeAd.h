// The native ad request: the ad request's whole cycle (counters, common
// parameters, retries, the answer's "settings", the render queued on task
// queue 0 at high priority) sent to the ad server's "nad" path, with
// "size=NATIVE" and "slot_count" (no "require"), and with the last native
// request's duration and network ("etfw", "ntfw") instead of the ordinary
// timing keys. The answer is rendered into native ads for the native load
// delegate (held strongly until the outcome is handed on), which hears
// exactly one outcome: from the render, or the request's failure code on
// this task's queue (-1 when the task is dropped unrun).
#pragma once

#include <cstdint>

#include "halcyon/core/HLNativeAdLoadDelegate.h"
#include "halcyon/core/HLTaskFetchNextAd.h"

class HLTaskFetchNextNativeAd : public HLTaskFetchNextAd {
public:
    Ref<HLTaskFetchNextNativeAd> initWithSdk(const Ref<HLSdk>& sdk, uint64_t adsToLoadCount,
                                             Ref<HLNativeAdLoadDelegate> nativeAdLoadDelegate);

    uint64_t adsToLoadCount() const { return adsToLoadCount_; }
    const Ref<HLNativeAdLoadDelegate>& nativeAdLoadDelegate() const { return nativeAdLoadDelegate_; }

protected:
    std::string createAdEndpointBase() override;
    void populateTypeSpecificParameters(Value& parameters) override;
    void populateTimingData(Value& parameters) override;
    Ref<HLTask> createRenderTaskWithResponse(const Value& response) override;
    void notifyLoadDelegateOfFailureWithResponseCode(int64_t code) override;

private:
    uint64_t adsToLoadCount_ = 0;
    Ref<HLNativeAdLoadDelegate> nativeAdLoadDelegate_;
};
