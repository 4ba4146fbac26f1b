// One request, retried on network and server failures. run() sends it
// within the calling task; a failure whose code is below 200 or from 500 up
// (negative network codes included; 204, 4xx and the refusals made before
// anything is sent, HLConnectionManager::isRefusedBeforeSending, excluded)
// while attempts are left schedules a copy with one attempt less on
// `retryQueue` after `retryDelayMs`, through the task manager. The delegate,
// held strongly, hears exactly one outcome per chain (the first success or
// the last failure), on the thread of the attempt that ends it. With
// attemptsLeft = n the request is tried at most n + 1 times. An attempt that
// the task manager drops (the client disabled meanwhile) reports the failure
// that asked for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "halcyon/core/HLConnectionManager.h"
#include "halcyon/core/HLTask.h"
#include "platform/foundation/Value.h"

class HLTaskRepeatRequest : public HLTask, public HLConnectionManagerDelegate {
public:
    // Time-out from slot 16, retry delay from slot 13, retry queue 1,
    // requiring a response.
    Ref<HLTaskRepeatRequest> initWithSdk(const Ref<HLSdk>& sdk);

    // Without an endpoint nothing is sent and nobody is told.
    void run() override;

    const std::optional<std::string>& requestEndpoint() const { return requestEndpoint_; }
    void setRequestEndpoint(std::optional<std::string> endpoint) { requestEndpoint_ = std::move(endpoint); }
    // nullopt: POST with a body, else GET.
    const std::optional<std::string>& requestMethod() const { return requestMethod_; }
    void setRequestMethod(std::optional<std::string> method) { requestMethod_ = std::move(method); }
    // The JSON body; Null for none.
    const Value& request() const { return request_; }
    void setRequest(Value request) { request_ = std::move(request); }
    const Ref<HLConnectionManagerDelegate>& delegate() const { return delegate_; }
    void setDelegate(Ref<HLConnectionManagerDelegate> delegate) { delegate_ = std::move(delegate); }
    uint32_t attemptsLeft() const { return attemptsLeft_; }
    void setAttemptsLeft(uint32_t attempts) { attemptsLeft_ = attempts; }
    double timeoutSec() const { return timeoutSec_; }
    void setTimeoutSec(double seconds) { timeoutSec_ = seconds; }
    double retryDelayMs() const { return retryDelayMs_; }
    void setRetryDelayMs(double milliseconds) { retryDelayMs_ = milliseconds; }
    uint64_t retryQueue() const { return retryQueue_; }
    void setRetryQueue(uint64_t queue) { retryQueue_ = queue; }
    bool requiresResponse() const { return requiresResponse_; }
    void setRequiresResponse(bool required) { requiresResponse_ = required; }

    void connectionViaDidSucceedWith(const Ref<HLConnectionManager>& manager, int64_t code,
                                     const Value& responseBody) override;
    void connectionViaDidFailWith(const Ref<HLConnectionManager>& manager, int64_t code) override;
    bool connectionViaRequiresResponseForRequest(const Ref<HLConnectionManager>& manager,
                                                 const Ref<platform::NSURLRequest>& request) override;
    PLATFORM_RESPONDS_TO("connectionVia:requiresResponseForRequest:")

protected:
    void taskDropped() override;

private:
    int64_t lastFailureCode_ = -1;  // what a dropped attempt reports
    std::optional<std::string> requestEndpoint_;
    std::optional<std::string> requestMethod_;
    Value request_;
    Ref<HLConnectionManagerDelegate> delegate_;
    uint32_t attemptsLeft_ = 0;
    double timeoutSec_ = 30;
    double retryDelayMs_ = 10000;
    uint64_t retryQueue_ = 1;
    bool requiresResponse_ = true;
};
