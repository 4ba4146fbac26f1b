// A URL load request (value-like: copies are independent) and its mutable
// form: URL, method, header fields in the order set, body, time-out and the
// per-request redirect limit.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/NSData.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

enum NSURLRequestCachePolicy : unsigned long {
    NSURLRequestUseProtocolCachePolicy = 0,
    NSURLRequestReloadIgnoringLocalCacheData = 1,
    NSURLRequestReturnCacheDataElseLoad = 2,
    NSURLRequestReturnCacheDataDontLoad = 3,
};

// Redirects followed without a per-request limit; one more fails with -1007.
inline constexpr int NSURLRequestDefaultRedirectLimit = 16;

class NSMutableURLRequest;

class NSURLRequest : public NSObject {
public:
    NSURLRequest() = default;
    NSURLRequest(const NSURLRequest& other);
    NSURLRequest& operator=(const NSURLRequest& other);

    static Ref<NSURLRequest> requestWithURL(Ref<NSURL> url);
    static Ref<NSURLRequest> requestWithURL(Ref<NSURL> url, NSURLRequestCachePolicy cachePolicy, double timeoutInterval);
    Ref<NSURLRequest> initWithURL(Ref<NSURL> url, NSURLRequestCachePolicy cachePolicy = NSURLRequestUseProtocolCachePolicy,
                                  double timeoutInterval = 60);

    Ref<NSURLRequest> copy() const;
    Ref<NSMutableURLRequest> mutableCopy() const;

    const Ref<NSURL>& URL() const { return url_; }
    const std::string& HTTPMethod() const { return method_; }  // "GET" by default
    // The header fields in the order they were first set; names keep their case.
    const std::vector<std::pair<std::string, std::string>>& headerFields() const { return headers_; }
    // The same as a dictionary (insertion order).
    Value allHTTPHeaderFields() const;
    // Names compare case-insensitively; nullopt when not set.
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;
    const std::optional<NSData>& HTTPBody() const { return body_; }
    double timeoutInterval() const { return timeout_; }  // seconds without progress; 60 by default
    NSURLRequestCachePolicy cachePolicy() const { return cachePolicy_; }  // stored; there is no cache
    bool HTTPShouldHandleCookies() const { return handleCookies_; }      // stored; there is no cookie store
    const Ref<NSURL>& mainDocumentURL() const { return mainDocumentURL_; }
    // The most redirects this request follows. With a limit set, the redirect
    // response that would pass it is delivered as the final answer (as when a
    // delegate refuses a redirect); without one, the 17th redirect fails with
    // -1007. See NSURLResponse::redirectCount / NSURLConnection::redirectCount.
    const std::optional<int>& maximumRedirects() const { return maximumRedirects_; }

    std::string description() const override;

protected:
    Ref<NSURL> url_;
    std::string method_ = "GET";
    std::vector<std::pair<std::string, std::string>> headers_;
    std::optional<NSData> body_;
    double timeout_ = 60;
    NSURLRequestCachePolicy cachePolicy_ = NSURLRequestUseProtocolCachePolicy;
    bool handleCookies_ = true;
    Ref<NSURL> mainDocumentURL_;
    std::optional<int> maximumRedirects_;
};

class NSMutableURLRequest : public NSURLRequest {
public:
    NSMutableURLRequest() = default;
    NSMutableURLRequest(const NSURLRequest& other) : NSURLRequest(other) {}

    static Ref<NSMutableURLRequest> requestWithURL(Ref<NSURL> url);
    static Ref<NSMutableURLRequest> requestWithURL(Ref<NSURL> url, NSURLRequestCachePolicy cachePolicy,
                                                   double timeoutInterval);
    Ref<NSMutableURLRequest> initWithURL(Ref<NSURL> url,
                                         NSURLRequestCachePolicy cachePolicy = NSURLRequestUseProtocolCachePolicy,
                                         double timeoutInterval = 60);

    void setURL(Ref<NSURL> url) { url_ = std::move(url); }
    void setHTTPMethod(std::string method) { method_ = std::move(method); }
    // Replaces the field (any case of the name) in place, or appends it;
    // nullopt removes it. A name or value holding CR or LF is refused (logged).
    // The overloads keep string arguments away from the key-value setValue.
    using NSObject::setValue;
    void setValue(const std::optional<std::string>& value, const std::string& field);
    void setValue(const std::string& value, const std::string& field) { setValue(std::optional<std::string>(value), field); }
    void setValue(const char* value, const std::string& field) {
        setValue(value ? std::optional<std::string>(value) : std::nullopt, field);
    }
    void setValue(std::string_view value, const std::string& field) { setValue(std::optional<std::string>(value), field); }
    // Appends ", value" to a field that is set, else sets it.
    void addValue(const std::string& value, const std::string& field);
    // Replaces every field with the dictionary's string entries.
    void setAllHTTPHeaderFields(const Value& fields);
    void setHTTPBody(std::optional<NSData> body) { body_ = std::move(body); }
    void setTimeoutInterval(double seconds) { timeout_ = seconds; }
    void setCachePolicy(NSURLRequestCachePolicy policy) { cachePolicy_ = policy; }
    void setHTTPShouldHandleCookies(bool handle) { handleCookies_ = handle; }
    void setMainDocumentURL(Ref<NSURL> url) { mainDocumentURL_ = std::move(url); }
    // See NSURLRequest::maximumRedirects; negative values count as 0.
    void setMaximumRedirects(int limit) { maximumRedirects_ = limit < 0 ? 0 : limit; }
};

}  // namespace platform

using platform::NSMutableURLRequest;
using platform::NSURLRequest;
using platform::NSURLRequestCachePolicy;
using platform::NSURLRequestReloadIgnoringLocalCacheData;
using platform::NSURLRequestReturnCacheDataDontLoad;
using platform::NSURLRequestReturnCacheDataElseLoad;
using platform::NSURLRequestUseProtocolCachePolicy;
