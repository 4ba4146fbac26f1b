#include "halcyon/core/HLTaskRepeatRequest.h"

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTaskManager.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"

Ref<HLTaskRepeatRequest> HLTaskRepeatRequest::initWithSdk(const Ref<HLSdk>& sdk) {
    HLTask::initWithSdk(sdk);
    timeoutSec_ = HLConnectionManager::defaultTimeoutForSdk(sdk);
    if (sdk) retryDelayMs_ = sdk->timeIntervalForKey(kHLSlotGetRetryDelay);
    return self<HLTaskRepeatRequest>();
}

void HLTaskRepeatRequest::run() {
    if (!requestEndpoint_ || !sdk()) return;
    const bool hasBody = !request_.isNull();
    std::string method = requestMethod_.value_or(hasBody ? "POST" : "GET");
    auto delegate = self<HLTaskRepeatRequest>();
    if (hasBody) sdk()->connectionManager()->sendTo(*requestEndpoint_, method, request_, delegate);
    else sdk()->connectionManager()->sendTo(*requestEndpoint_, method, timeoutSec_, delegate);
}

void HLTaskRepeatRequest::connectionViaDidSucceedWith(const Ref<HLConnectionManager>& manager, int64_t code,
                                                      const Value& responseBody) {
    attemptsLeft_ = 0;
    if (delegate_) delegate_->connectionViaDidSucceedWith(manager, code, responseBody);
}

void HLTaskRepeatRequest::connectionViaDidFailWith(const Ref<HLConnectionManager>& manager, int64_t code) {
    const bool retryable = (code < 200 || code >= 500) && !HLConnectionManager::isRefusedBeforeSending(code);
    if (retryable && attemptsLeft_ > 0 && sdk()) {
        const double delay = retryDelayMs_ / 1000;
        logger()->w(tag(), "Unable to send requset due to server failure (code %i). %i attempts left, retrying in %f seconds",
                    code, attemptsLeft_, delay);
        auto retry = NSObject::alloc<HLTaskRepeatRequest>()->initWithSdk(sdk());
        retry->attemptsLeft_ = attemptsLeft_ - 1;
        retry->requestEndpoint_ = requestEndpoint_;
        retry->requestMethod_ = requestMethod_;
        retry->request_ = request_;
        retry->delegate_ = delegate_;
        retry->retryDelayMs_ = retryDelayMs_;
        retry->retryQueue_ = retryQueue_;
        retry->requiresResponse_ = requiresResponse_;
        retry->lastFailureCode_ = code;
        auto refused = platform::runtime::callCatching([&] { sdk()->taskManager()->execute(retry, retryQueue_, delay); });
        if (!refused) return;
        logger()->e(tag(), "Unable to schedule the retry: %@", platform::shortenedForLog(*refused));
    }
    if (delegate_) delegate_->connectionViaDidFailWith(manager, code);
}

void HLTaskRepeatRequest::taskDropped() {
    // A retry that never runs still ends its chain, with the failure that
    // asked for it.
    if (delegate_ && sdk()) delegate_->connectionViaDidFailWith(sdk()->connectionManager(), lastFailureCode_);
}

bool HLTaskRepeatRequest::connectionViaRequiresResponseForRequest(const Ref<HLConnectionManager>&,
                                                                  const Ref<platform::NSURLRequest>&) {
    return requiresResponse_;
}
