// The client's HTTP client: sends one request synchronously on the calling
// thread (a task's queue), classifies the outcome by status and tells the
// delegate within the same call. Holds no per-request state; any thread.
//
// Outcomes: 2xx with a JSON object → success with it; 2xx with another body
// → failure with the status (success with {} when the delegate answers false
// to requiresResponse); an empty 2xx → success with {} (failure -1 when the
// delegate requires a response); 204 → failure 204; an answer over 8 MiB →
// failure -1103; a redirect to a scheme other than http or https (an app's
// link) → success with -1002 and {}; no network → failure -1009; any other
// status or platform error code → failure with it; a response that is not
// HTTP → -1. Refused before anything is sent or read (final, see below): a
// URL whose scheme is not http or https, and a body that is no JSON.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {
class NSURL;
class NSURLRequest;
}

class HLConnectionManager;
class HLLogManager;
class HLSdk;

// A requester. Exactly one of the first two is called per send, on the
// sending thread, before the send returns.
class HLConnectionManagerDelegate : public virtual NSObjectProtocol {
public:
    virtual void connectionViaDidSucceedWith(const Ref<HLConnectionManager>& manager, int64_t code,
                                             const Value& responseBody) = 0;
    virtual void connectionViaDidFailWith(const Ref<HLConnectionManager>& manager, int64_t code) = 0;
    // Optional ("connectionVia:requiresResponseForRequest:"): asked when a
    // successful answer has no usable JSON body; true makes it a failure.
    virtual bool connectionViaRequiresResponseForRequest(const Ref<HLConnectionManager>& manager,
                                                         const Ref<platform::NSURLRequest>& request);
};

class HLConnectionManager : public NSObject {
public:
    // Failures decided before anything is sent: final, since a retry would
    // be refused the same way. A URL that is not http or https (a "file"
    // URL would read a local file) and a body JSON cannot hold (a date,
    // data).
    static constexpr int64_t kRefusedSchemeError = -1002;
    static constexpr int64_t kBodyNotJSONError = -901;
    static bool isRefusedBeforeSending(int64_t code) {
        return code == kRefusedSchemeError || code == kBodyNotJSONError;
    }
    // Whether `url` may be fetched: http or https, in any letter case. A
    // refusal is logged under `logSource`, naming the scheme only.
    static bool isFetchable(const Ref<platform::NSURL>& url, const Ref<HLLogManager>& log, std::string_view logSource);

    Ref<HLConnectionManager> initWithSdk(const Ref<HLSdk>& sdk);
    // With the shared instance as owner.
    Ref<HLConnectionManager> init();

    // Slot 16 (milliseconds) in seconds: 30.0 by default.
    static double defaultTimeoutForSdk(const Ref<HLSdk>& sdk);
    // With force_ssl (slot 113) "http://" becomes "https://" unless the URL
    // already holds "https://"; the upgrade is logged under `logSource`.
    static std::string upgradedForSsl(const std::string& url, const Ref<HLSdk>& sdk, std::string_view logSource);

    void get(const std::string& url);
    void get(const std::string& url, const Ref<HLConnectionManagerDelegate>& delegate);
    void get(const std::string& url, double timeout, const Ref<HLConnectionManagerDelegate>& delegate);
    void put(const std::string& url, const Value& data);
    void put(const std::string& url, const Value& data, const Ref<HLConnectionManagerDelegate>& delegate);
    void post(const std::string& url, const Value& data);
    void post(const std::string& url, const Value& data, const Ref<HLConnectionManagerDelegate>& delegate);

    // Without a body, with the default time-out.
    void sendTo(const std::string& url, const std::string& method, const Ref<HLConnectionManagerDelegate>& delegate);
    // Without a body. With force_ssl (slot 113) "http://" becomes "https://"
    // unless the URL already holds "https://".
    void sendTo(const std::string& url, const std::string& method, double timeout,
                const Ref<HLConnectionManagerDelegate>& delegate);
    // With `data` as a pretty-printed JSON body, "Content-Length" and
    // "Content-Type: application/json". An empty URL or method, or a Null
    // body, raise NSInvalidArgumentException; a body that is no JSON is
    // logged and fails with kBodyNotJSONError.
    void sendTo(const std::string& url, const std::string& method, const Value& data,
                const Ref<HLConnectionManagerDelegate>& delegate);
    void send(const Ref<platform::NSURLRequest>& request, const Ref<HLConnectionManagerDelegate>& delegate);

private:
    Ref<HLLogManager> logger() const;

    Weak<HLSdk> sdk_;
};
