#include "halcyon/core/HLTaskDispatchPostback.h"

#include <algorithm>

#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTaskRepeatRequest.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SaturatingCast.h"

Ref<HLTaskDispatchPostback> HLTaskDispatchPostback::initWithSdk(const Ref<HLSdk>& sdk, Ref<NSURL> targetURL) {
    HLTask::initWithSdk(sdk);
    targetURL_ = std::move(targetURL);
    if (sdk) retryCount_ = platform::saturatingCast<int32_t>(sdk->integerForKey(kHLSlotSubmitPostbackRetries));
    return self<HLTaskDispatchPostback>();
}

void HLTaskDispatchPostback::run() {
    if (!targetURL_) return;
    auto request = NSObject::alloc<HLTaskRepeatRequest>()->initWithSdk(sdk());
    request->setRequestEndpoint(targetURL_->absoluteString());
    request->setDelegate(self<HLTaskDispatchPostback>());
    request->setRequiresResponse(false);
    request->setRequest(postBody_.isDictionary() ? postBody_ : Value());
    request->setAttemptsLeft(static_cast<uint32_t>(std::max(0, retryCount_)));
    request->setRetryQueue(2);
    request->setRetryDelayMs(retryDelayMs_);
    request->setTimeoutSec(timeoutMs_ / 1000);
    request->run();
}

void HLTaskDispatchPostback::connectionViaDidSucceedWith(const Ref<HLConnectionManager>&, int64_t, const Value&) {
    logger()->d(tag(), "Postback dispatch to %@ suceeded.",
                targetURL_ ? platform::urlForLog(targetURL_->absoluteString()) : "(null)");
    if (postbackDelegate_)
        postbackDelegate_->postbackServiceDidExecutePostback(sdk()->postbackService(), targetURL_);
}

void HLTaskDispatchPostback::connectionViaDidFailWith(const Ref<HLConnectionManager>&, int64_t code) {
    logger()->d(tag(), "Postback dispatch to %@ failed with code %ld.",
                targetURL_ ? platform::urlForLog(targetURL_->absoluteString()) : "(null)", static_cast<long>(code));
    if (postbackDelegate_)
        postbackDelegate_->postbackServiceDidFailToExecutePostback(sdk()->postbackService(), targetURL_,
                                                                   platform::saturatingCast<int32_t>(code));
}

bool HLTaskDispatchPostback::connectionViaRequiresResponseForRequest(const Ref<HLConnectionManager>&,
                                                                     const Ref<platform::NSURLRequest>&) {
    return false;
}

void HLTaskDispatchPostback::taskDropped() {
    if (postbackDelegate_ && sdk())
        postbackDelegate_->postbackServiceDidFailToExecutePostback(sdk()->postbackService(), targetURL_, -1);
}
