#include "halcyon/display/HLTaskReportReward.h"

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/display/HLPendingRewardReportManager.h"
#include "halcyon/display/HLTaskValidateReward.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"

Ref<HLTaskReportReward> HLTaskReportReward::initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAd>& adToReport) {
    HLTask::initWithSdk(sdk);
    sourceAd_ = adToReport;
    return self<HLTaskReportReward>();
}

void HLTaskReportReward::run() {
    auto store = HLPendingRewardReportManager::sharedManager();
    // Taken whole: parameters without a result go with it, unsent.
    std::optional<HLPendingRewardOutcome> outcome = store->removeSavedOutcomeForAd(sourceAd_);
    if (!outcome || !outcome->result) {
        logger()->d(tag(), "No reward result was found for ad: %@", sourceAd_);
        return;
    }
    Value body = HLTaskValidateReward::rewardRequestBodyForAd(sourceAd_);
    body.set("result", *outcome->result);
    if (!outcome->parameters.isNull()) body.set("params", outcome->parameters);
    auto self = this->self<HLTaskReportReward>();
    auto caught = platform::runtime::callCatching(
        [&] { HLTaskValidateReward::sendApiRequestWith(self, self, "cr", kHLSlotCrRetryCount, body); });
    if (caught) logger()->e(tag(), "Unable to report the reward: %@", platform::shortenedForLog(*caught));
}

void HLTaskReportReward::connectionViaDidSucceedWith(const Ref<HLConnectionManager>&, int64_t, const Value&) {
    logger()->d(tag(), "Reported reward successfully for ad: %@.",
                hlValueForLog(sourceAd_ ? sourceAd_->adIdNumber() : Value()));
}

void HLTaskReportReward::connectionViaDidFailWith(const Ref<HLConnectionManager>&, int64_t) {
    logger()->d(tag(), "Failed to report reward for ad: %@.",
                hlValueForLog(sourceAd_ ? sourceAd_->adIdNumber() : Value()));
}
