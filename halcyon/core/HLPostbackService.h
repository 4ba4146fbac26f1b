// Sends one postback once, as a task on the postback queue (queue 2) through
// the retrying request, and tells an optional delegate how it went. Nothing
// is stored: HLPersistentPostbackManager keeps postbacks across failures and
// restarts. Any thread; dispatching returns at once.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include <cstdint>

#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLPostbackService;
class HLSdk;

// Hears the one outcome of a dispatch: on the postback queue once the request
// (with its retries) ends, or at once on the caller's stack for a dispatch
// without a URL (-900, no URL). The service holds the delegate strongly until
// then.
class HLPostbackDelegate : public virtual NSObjectProtocol {
public:
    virtual void postbackServiceDidExecutePostback(const Ref<HLPostbackService>& service, const Ref<NSURL>& url) = 0;
    // The HTTP status or a negative code (see HLConnectionManager).
    virtual void postbackServiceDidFailToExecutePostback(const Ref<HLPostbackService>& service, const Ref<NSURL>& url,
                                                         int32_t errorCode) = 0;
};

class HLPostbackService : public NSObject {
public:
    Ref<HLPostbackService> initWithSdk(const Ref<HLSdk>& sdk);

    // Without a body (a GET).
    void dispatchPostbackAsync(const Ref<NSURL>& url, const Ref<HLPostbackDelegate>& delegate);
    // Up to slot 78 retries, slot 13 apart, each attempt timing out after
    // slot 79 (milliseconds). A dictionary body makes it a JSON POST.
    void dispatchPostbackAsync(const Ref<NSURL>& url, const Value& postBody, const Ref<HLPostbackDelegate>& delegate);
    // Up to `retryCount` retries after the first try, `retryDelayMs` apart.
    // A null URL logs an error and tells the delegate -900 at once.
    void dispatchPostbackAsync(const Ref<NSURL>& url, const Value& postBody, int32_t retryCount, double retryDelayMs,
                               double timeoutMs, const Ref<HLPostbackDelegate>& delegate);

private:
    Weak<HLSdk> sdk_;
};
