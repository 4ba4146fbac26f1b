// One postback dispatch on the postback queue: a retrying request (retries on
// queue 2) whose one outcome goes to the postback delegate, held strongly
// until then. A body makes it a JSON POST, none a GET; no answer body is
// required.
#pragma once

#include <cstdint>

#include "halcyon/core/HLConnectionManager.h"
#include "halcyon/core/HLPostbackService.h"
#include "halcyon/core/HLTask.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"

class HLTaskDispatchPostback : public HLTask, public HLConnectionManagerDelegate {
public:
    // The retry count from slot 78 (the service sets its own).
    Ref<HLTaskDispatchPostback> initWithSdk(const Ref<HLSdk>& sdk, Ref<NSURL> targetURL);

    void run() override;

    const Ref<NSURL>& targetURL() const { return targetURL_; }
    const Ref<HLPostbackDelegate>& postbackDelegate() const { return postbackDelegate_; }
    void setPostbackDelegate(Ref<HLPostbackDelegate> delegate) { postbackDelegate_ = std::move(delegate); }
    const Value& postBody() const { return postBody_; }
    void setPostBody(Value body) { postBody_ = std::move(body); }
    int32_t retryCount() const { return retryCount_; }
    void setRetryCount(int32_t count) { retryCount_ = count; }
    double retryDelayMs() const { return retryDelayMs_; }
    void setRetryDelayMs(double milliseconds) { retryDelayMs_ = milliseconds; }
    double timeoutMs() const { return timeoutMs_; }
    void setTimeoutMs(double milliseconds) { timeoutMs_ = milliseconds; }

    void connectionViaDidSucceedWith(const Ref<HLConnectionManager>& manager, int64_t code,
                                     const Value& responseBody) override;
    void connectionViaDidFailWith(const Ref<HLConnectionManager>& manager, int64_t code) override;
    bool connectionViaRequiresResponseForRequest(const Ref<HLConnectionManager>& manager,
                                                 const Ref<platform::NSURLRequest>& request) override;
    PLATFORM_RESPONDS_TO("connectionVia:requiresResponseForRequest:")

protected:
    // Dropped unrun (the client disabled): the delegate still hears a failure.
    void taskDropped() override;

private:
    Ref<NSURL> targetURL_;
    Ref<HLPostbackDelegate> postbackDelegate_;
    Value postBody_;
    int32_t retryCount_ = 0;
    double retryDelayMs_ = 0;
    double timeoutMs_ = 0;
};
