#include "halcyon/core/HLPostbackService.h"

#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTaskDispatchPostback.h"
#include "halcyon/core/HLTaskManager.h"
#include "platform/runtime/SaturatingCast.h"

Ref<HLPostbackService> HLPostbackService::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLPostbackService>();
}

void HLPostbackService::dispatchPostbackAsync(const Ref<NSURL>& url, const Ref<HLPostbackDelegate>& delegate) {
    dispatchPostbackAsync(url, Value(), delegate);
}

void HLPostbackService::dispatchPostbackAsync(const Ref<NSURL>& url, const Value& postBody,
                                              const Ref<HLPostbackDelegate>& delegate) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk) return;
    dispatchPostbackAsync(url, postBody, platform::saturatingCast<int32_t>(static_cast<double>(sdk->integerForKey(kHLSlotSubmitPostbackRetries))),
                          sdk->timeIntervalForKey(kHLSlotGetRetryDelay),
                          sdk->timeIntervalForKey(kHLSlotSubmitPostbackTimeout), delegate);
}

void HLPostbackService::dispatchPostbackAsync(const Ref<NSURL>& url, const Value& postBody, int32_t retryCount,
                                              double retryDelayMs, double timeoutMs,
                                              const Ref<HLPostbackDelegate>& delegate) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk) return;
    if (!url) {
        sdk->logManager()->e("HLPostbackService", "Requested a postback dispatch for an empty URL; nothing to do...");
        if (delegate)
            delegate->postbackServiceDidFailToExecutePostback(self<HLPostbackService>(), nullptr,
                                                              kHLPostbackWithoutURLError);
        return;
    }
    auto task = NSObject::alloc<HLTaskDispatchPostback>()->initWithSdk(sdk, url);
    task->setPostbackDelegate(delegate);
    task->setPostBody(postBody);
    task->setRetryDelayMs(retryDelayMs);
    task->setRetryCount(retryCount);
    task->setTimeoutMs(timeoutMs);
    sdk->taskManager()->execute(task, 2, NSOperationQueuePriorityNormal);
}
