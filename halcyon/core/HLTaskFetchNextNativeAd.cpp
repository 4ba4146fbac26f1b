#include "halcyon/core/HLTaskFetchNextNativeAd.h"

#include "halcyon/core/HLConnectionUtils.h"
#include "halcyon/core/HLNativeAd.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTaskRenderNativeAd.h"
#include "halcyon/core/HLTaskTimer.h"
#include "halcyon/core/HLValueUtils.h"
#include "platform/runtime/SaturatingCast.h"

namespace {
constexpr const char* kHLNativeFetchTimerType = "HLTaskFetchNextNativeAd";
}  // namespace

Ref<HLTaskFetchNextNativeAd> HLTaskFetchNextNativeAd::initWithSdk(const Ref<HLSdk>& sdk, uint64_t adsToLoadCount,
                                                                  Ref<HLNativeAdLoadDelegate> nativeAdLoadDelegate) {
    HLTaskFetchNextAd::initWithSdk(sdk);
    setRequiredAdSize(HLNativeAd::sizeNative());
    setRequiredAdType(HLNativeAd::typeNative());
    adsToLoadCount_ = adsToLoadCount;
    nativeAdLoadDelegate_ = std::move(nativeAdLoadDelegate);
    return self<HLTaskFetchNextNativeAd>();
}

std::string HLTaskFetchNextNativeAd::createAdEndpointBase() { return HLConnectionUtils::adServerUrl("nad", sdk()); }

void HLTaskFetchNextNativeAd::populateTypeSpecificParameters(Value& parameters) {
    parameters.set("slot_count", std::to_string(adsToLoadCount_));
}

void HLTaskFetchNextNativeAd::populateTimingData(Value& parameters) {
    Ref<HLTimedTaskResult> last = HLTaskTimer::sharedTimer()->lastExecutionResultForType(kHLNativeFetchTimerType);
    if (!last) return;
    // Raised to the next whole millisecond, as "etf" is.
    parameters.set("etfw", HLUtils::hl_stringValueWithFormat(Value(last->executionDuration()), 0));
    parameters.set("ntfw", last->networkType());
}

Ref<HLTask> HLTaskFetchNextNativeAd::createRenderTaskWithResponse(const Value& response) {
    return NSObject::alloc<HLTaskRenderNativeAd>()->initWithSdk(sdk(), response, nativeAdLoadDelegate_);
}

void HLTaskFetchNextNativeAd::notifyLoadDelegateOfFailureWithResponseCode(int64_t code) {
    HLNotifyNativeAdsFailed(nativeAdLoadDelegate_, sdk()->nativeAdService(), platform::saturatingCast<int32_t>(code));
}
