// Reports a rewarded ad's settled result to the API ("cr", always over
// https) after the ad was hidden; runs on queue 1, retried per slot 8. It
// takes the ad's result and parameters out of the pending store, together:
// without a result nothing is sent (so a second report of one ad sends
// nothing) and the parameters are dropped with it. The
// outcome is only logged; nothing is stored again and nobody is told.
#pragma once

#include <cstdint>

#include "halcyon/core/HLConnectionManager.h"
#include "halcyon/core/HLTask.h"
#include "platform/foundation/Value.h"

class HLAd;

class HLTaskReportReward : public HLTask, public HLConnectionManagerDelegate {
public:
    Ref<HLTaskReportReward> initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAd>& adToReport);

    void run() override;

    void connectionViaDidSucceedWith(const Ref<HLConnectionManager>& manager, int64_t code,
                                     const Value& responseBody) override;
    void connectionViaDidFailWith(const Ref<HLConnectionManager>& manager, int64_t code) override;

    const Ref<HLAd>& sourceAd() const { return sourceAd_; }

private:
    Ref<HLAd> sourceAd_;
};
