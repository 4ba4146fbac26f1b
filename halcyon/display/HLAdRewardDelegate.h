// The application's reward callbacks (public), for the rewarded ads that
// HLIncentivizedInterstitialAd shows. Told on the main thread, never on the
// caller's stack. Per show: at most one verdict of the server (succeeded,
// over quota, rejected, or failed with the request's code (an HTTP status
// outside 400–499, a negative network code, -1 when no readable answer came
// back) or -400 for a verdict the client does not know), normally while the
// video plays; then,
// when the ad is hidden without a verdict or before the video ended, one
// failure: -500 (watched to the end, no verdict yet) or -600 (closed early).
// After -500 or -600 nothing more comes for that show. Every method is
// optional and asked for with respondsToSelector first.
#pragma once

#include <cstdint>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLAd;

class HLAdRewardDelegate : public virtual NSObjectProtocol {
public:
    // The server's "params" object (empty when it sent none or no object).
    virtual void rewardValidationRequestForAdDidSucceedWithResponse(const Ref<HLAd>&, const Value&) {}
    virtual void rewardValidationRequestForAdDidExceedQuotaWithResponse(const Ref<HLAd>&, const Value&) {}
    virtual void rewardValidationRequestForAdWasRejectedWithResponse(const Ref<HLAd>&, const Value&) {}
    virtual void rewardValidationRequestForAdDidFailWithError(const Ref<HLAd>&, int32_t) {}
    // The user answered the prompt before the ad with its cancel button.
    virtual void userDeclinedToViewAd(const Ref<HLAd>&) {}
};

// The selectors respondsToSelector is asked with.
inline constexpr const char* kHLRewardSucceededSelector = "rewardValidationRequestForAd:didSucceedWithResponse:";
inline constexpr const char* kHLRewardQuotaSelector = "rewardValidationRequestForAd:didExceedQuotaWithResponse:";
inline constexpr const char* kHLRewardRejectedSelector = "rewardValidationRequestForAd:wasRejectedWithResponse:";
inline constexpr const char* kHLRewardFailedSelector = "rewardValidationRequestForAd:didFailWithError:";
inline constexpr const char* kHLRewardDeclinedSelector = "userDeclinedToViewAd:";

// The failure codes of a rewarded show.
enum HLRewardFailureCode : int32_t {
    // The validation got no answer it could read: not sent, or a success
    // status whose body is no JSON object.
    kHLRewardRequestFailed = -1,
    kHLRewardNoPreloadedAd = -300,
    kHLRewardUnknownResult = -400,
    kHLRewardNoValidationAnswer = -500,
    kHLRewardClosedEarly = -600,
};

// The result strings that settle a reward.
inline constexpr const char* kHLRewardResultAccepted = "accepted";
inline constexpr const char* kHLRewardResultQuotaExceeded = "quota_exceeded";
inline constexpr const char* kHLRewardResultRejected = "rejected";
inline constexpr const char* kHLRewardResultNetworkTimeout = "network_timeout";
inline constexpr const char* kHLRewardResultUserClosedVideo = "user_closed_video";
