#include "halcyon/display/HLTaskValidateReward.h"

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLConnectionUtils.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTaskRepeatRequest.h"
#include "halcyon/display/HLIncentivizedInterstitialAd.h"
#include "halcyon/display/HLPendingRewardReportManager.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSOperationQueue.h"

Ref<HLTaskValidateReward> HLTaskValidateReward::initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAd>& videoAd,
                                                            const Ref<HLAdRewardDelegate>& rewardDelegate) {
    HLTask::initWithSdk(sdk);
    sourceAd_ = videoAd;
    rewardDelegate_ = rewardDelegate;
    return self<HLTaskValidateReward>();
}

Value HLTaskValidateReward::rewardRequestBodyForAd(const Ref<HLAd>& ad) {
    const std::optional<std::string> clcode = ad ? ad->clcode() : std::nullopt;
    Value body = Value::dictionary({{"clcode", clcode && !clcode->empty() ? *clcode : std::string("NO_CLCODE")}});
    if (std::optional<std::string> user = HLIncentivizedInterstitialAd::userIdentifier()) body.set("user_id", *user);
    return body;
}

void HLTaskValidateReward::sendApiRequestWith(const Ref<HLTask>& task, const Ref<HLConnectionManagerDelegate>& delegate,
                                              const char* path, int64_t attemptsSlot, const Value& body) {
    const Ref<HLSdk>& sdk = task->sdk();
    auto request = NSObject::alloc<HLTaskRepeatRequest>()->initWithSdk(sdk);
    request->setRequestEndpoint(HLConnectionUtils::secureEndpointForUrl(HLConnectionUtils::apiUrl(path, sdk)));
    request->setAttemptsLeft(static_cast<uint32_t>(std::clamp<int64_t>(sdk->integerForKey(attemptsSlot), 0, 100)));
    request->setRequest(body);
    request->setDelegate(delegate);
    request->run();
}

void HLTaskValidateReward::run() {
    auto self = this->self<HLTaskValidateReward>();
    auto caught = platform::runtime::callCatching(
        [&] { sendApiRequestWith(self, self, "vr", kHLSlotVrRetryCount, rewardRequestBodyForAd(sourceAd_)); });
    if (caught) {
        logger()->e(tag(), "Unable to validate the reward: %@", platform::shortenedForLog(*caught));
        connectionViaDidFailWith(sdk()->connectionManager(), kHLRewardRequestFailed);
    }
}

void HLTaskValidateReward::connectionViaDidSucceedWith(const Ref<HLConnectionManager>&, int64_t,
                                                       const Value& responseBody) {
    // A settled show takes nothing from a late answer, its settings included.
    if (shouldCancelNotification()) return;
    const Value result = HLConnectionUtils::apiResultFrom(responseBody);
    if (!result.isDictionary() && !result.isNull())
        logger()->w(tag(), "Ignoring a validation result that is not an object: %@", hlValueForLog(result));
    if (result.isDictionary()) HLConnectionUtils::updateSettingsFor(sdk(), result);
    Value parameters = result["params"];
    if (!parameters.isDictionary()) parameters = Value::dictionary({});
    handleValidationResult(result["result"], parameters);
}

void HLTaskValidateReward::handleValidationResult(const Value& result, const Value& parameters) {
    auto store = HLPendingRewardReportManager::sharedManager();
    {
        std::scoped_lock lock(store->managerLock());
        if (shouldCancelNotification()) return;
        // Only a result the server named is reported later; the parameters
        // are kept as read either way, with the result of the same answer.
        store->saveOutcome({result.isString() ? std::optional<std::string>(*result.string()) : std::nullopt, parameters},
                           sourceAd_);
    }
    const std::string verdict = result.isString() ? *result.string() : std::string();
    if (!result.isString())
        logger()->w(tag(), "The validation answer carries no result string (%@); the reward fails with -400",
                    hlValueForLog(result));
    auto ad = sourceAd_;
    deliver([ad, verdict, parameters](const Ref<HLAdRewardDelegate>& delegate) {
        if (verdict == kHLRewardResultAccepted)
            delegate->rewardValidationRequestForAdDidSucceedWithResponse(ad, parameters);
        else if (verdict == kHLRewardResultQuotaExceeded)
            delegate->rewardValidationRequestForAdDidExceedQuotaWithResponse(ad, parameters);
        else if (verdict == kHLRewardResultRejected)
            delegate->rewardValidationRequestForAdWasRejectedWithResponse(ad, parameters);
        else
            delegate->rewardValidationRequestForAdDidFailWithError(ad, kHLRewardUnknownResult);
    });
}

void HLTaskValidateReward::connectionViaDidFailWith(const Ref<HLConnectionManager>&, int64_t answered) {
    // A success status reaches here only with a body that is no JSON object:
    // no verdict came back, as after a transport failure.
    const bool unreadable = answered >= 200 && answered <= 299 && answered != 204;
    const int64_t code = unreadable ? int64_t{kHLRewardRequestFailed} : answered;
    const bool rejected = code >= 400 && code <= 499;
    auto store = HLPendingRewardReportManager::sharedManager();
    {
        std::scoped_lock lock(store->managerLock());
        if (shouldCancelNotification()) return;
        store->saveOutcome({rejected ? kHLRewardResultRejected : kHLRewardResultNetworkTimeout, Value()}, sourceAd_);
    }
    auto ad = sourceAd_;
    const auto failure = static_cast<int32_t>(std::clamp<int64_t>(code, INT32_MIN, INT32_MAX));
    deliver([ad, rejected, failure](const Ref<HLAdRewardDelegate>& delegate) {
        if (rejected)
            delegate->rewardValidationRequestForAdWasRejectedWithResponse(ad, Value::dictionary({}));
        else
            delegate->rewardValidationRequestForAdDidFailWithError(ad, failure);
    });
}

void HLTaskValidateReward::deliver(std::function<void(const Ref<HLAdRewardDelegate>&)> call) {
    auto self = this->self<HLTaskValidateReward>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([self, call] {
        // The settlement runs on the main thread too: a verdict that was
        // queued before it is dropped here.
        if (self->shouldCancelNotification() || !self->rewardDelegate_) return;
        call(self->rewardDelegate_);
    });
}
