// A URL load request (value-like: copies are independent) and its mutable
// form: URL, method, header fields in the order set, body, the idle and total
// time-outs, the answer's size cap and the per-request redirect limit.
#pragma once

#include <cstdint>
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

// The longest a load may take in all, in real seconds, unless the request
// sets its own (NSMutableURLRequest::setTotalTimeoutInterval).
inline constexpr double NSURLRequestDefaultTotalTimeoutInterval = 300;

// The largest answer body a load accepts, in bytes, unless the request sets
// its own cap (NSMutableURLRequest::setMaximumResponseLength): 64 MiB.
inline constexpr int64_t NSURLRequestDefaultMaximumResponseLength = int64_t{64} << 20;
// Given as a cap: no cap at all.
inline constexpr int64_t NSURLRequestNoMaximumResponseLength = -1;

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
    // Real seconds without progress (connecting included) before the load
    // fails with -1001; 60 by default.
    double timeoutInterval() const { return timeout_; }
    // Real seconds the whole load may take, redirects included, before it
    // fails with -1001, however steadily bytes arrive (a server dripping a
    // byte a second). Time the delegate form spends waiting for its delegate's
    // answers is not counted. NSURLRequestDefaultTotalTimeoutInterval unless set.
    double totalTimeoutInterval() const { return totalTimeout_.value_or(NSURLRequestDefaultTotalTimeoutInterval); }
    // The most body bytes the final answer may have; negative: no cap.
    // An answer whose Content-Length announces more, or whose body (chunked
    // or unannounced) grows past it, fails the load with
    // NSURLErrorDataLengthExceedsMaximum (-1103) and a log line, before the
    // excess is read into memory; the synchronous and asynchronous forms then
    // give no data. The delegate form streams: its delegate has received at
    // most this many bytes through connectionDidReceiveData when
    // connectionDidFailWithError reports -1103 (an announced excess after
    // connectionDidReceiveResponse, with no byte of its body). File URLs are
    // checked by size before they are read. Redirect bodies are never read
    // and never count.
    // NSURLRequestDefaultMaximumResponseLength unless set.
    int64_t maximumResponseLength() const {
        return maximumResponseLength_.value_or(NSURLRequestDefaultMaximumResponseLength);
    }
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
    std::optional<double> totalTimeout_;
    std::optional<int64_t> maximumResponseLength_;
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
    // See NSURLRequest::totalTimeoutInterval; not positive restores the default.
    void setTotalTimeoutInterval(double seconds) {
        totalTimeout_ = seconds > 0 ? std::optional<double>(seconds) : std::nullopt;
    }
    // See NSURLRequest::maximumResponseLength; NSURLRequestNoMaximumResponseLength
    // (any negative value) removes the cap.
    void setMaximumResponseLength(int64_t bytes) { maximumResponseLength_ = bytes < 0 ? -1 : bytes; }
    void setCachePolicy(NSURLRequestCachePolicy policy) { cachePolicy_ = policy; }
    void setHTTPShouldHandleCookies(bool handle) { handleCookies_ = handle; }
    void setMainDocumentURL(Ref<NSURL> url) { mainDocumentURL_ = std::move(url); }
    // See NSURLRequest::maximumRedirects; negative values count as 0.
    void setMaximumRedirects(int limit) { maximumRedirects_ = limit < 0 ? 0 : limit; }
};

}  // namespace platform

using platform::NSMutableURLRequest;
using platform::NSURLRequestDefaultMaximumResponseLength;
using platform::NSURLRequestDefaultTotalTimeoutInterval;
using platform::NSURLRequestNoMaximumResponseLength;
using platform::NSURLRequest;
using platform::NSURLRequestCachePolicy;
using platform::NSURLRequestReloadIgnoringLocalCacheData;
using platform::NSURLRequestReturnCacheDataDontLoad;
using platform::NSURLRequestReturnCacheDataElseLoad;
using platform::NSURLRequestUseProtocolCachePolicy;
