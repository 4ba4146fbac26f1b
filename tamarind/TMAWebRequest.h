// One HTTP request of the Tamarind client: URL, method, header fields, body,
// time-out, and where its outcome is delivered (the main thread by default,
// else a serial queue of the client's own). An answer larger than the
// request's byte limit fails with NSURLErrorDataLengthExceedsMaximum (-1103)
// before it is buffered. The request keeps itself alive while a call is under
// way; a new call drops the outcome of the one before.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/NSData.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "platform/net/NSURLConnection.h"
#include "platform/net/NSURLRequest.h"
#include "tamarind/TMAWebResponse.h"

// Exactly one outcome per call, on the request's delivery thread, never on
// the caller's stack.
class TMAWebRequestDelegate : public virtual NSObjectProtocol {
public:
    // Status 200 without a transport error.
    virtual void responseReceived(Ref<TMAWebResponse> response) = 0;
    // A transport error (with the status of an answer that had begun, else
    // 0), or a bare status other than 200 (null error).
    virtual void errorReceived(Ref<NSError> error, int64_t statusCode) = 0;
};

class TMAWebRequest : public NSObject, public NSURLConnectionDataDelegate {
public:
    // (response or null, error or null, status): as the delegate's two calls.
    using Completion = std::function<void(Ref<TMAWebResponse>, Ref<NSError>, int64_t)>;

    Ref<TMAWebRequest> init();

    // Held weakly.
    void setDelegate(const Ref<TMAWebRequestDelegate>& delegate);
    Ref<TMAWebRequestDelegate> delegate() const;

    void setUrlString(const std::optional<std::string>& url);
    std::optional<std::string> urlString() const;
    void setHttpMethod(const std::string& method);
    std::string httpMethod() const;
    // Replaces a field of the same name (any case) or appends it.
    void setHeader(const std::string& name, const std::string& value);
    // The header fields as a dictionary, in the order set.
    Value headers() const;
    void setRequestBody(const std::optional<std::string>& body);
    std::optional<std::string> requestBodyString() const;
    void setTimeoutInterval(double seconds);
    double timeoutInterval() const;
    void setHandlesCookies(bool handles);
    void setReturnsOnMainThread(bool onMain);
    bool returnsOnMainThread() const;
    void setMaximumResponseBytes(size_t bytes);

    // Sends the request; the delegate hears the outcome. A URL that does not
    // parse fails with -1000.
    void makeCall();
    // Sends the request; the block (not the delegate) hears the outcome.
    void makeCallWithCompletionBlock(Completion completion);
    // Drops the call under way without an outcome.
    void cancel();

    // "<METHOD> <URL>".
    std::string toString() const;
    // The platform request the next call sends.
    NSMutableURLRequest urlRequest() const;
    // The last answer (null before one came).
    Ref<TMAWebResponse> response() const;

    // NSURLConnectionDataDelegate
    void connectionDidReceiveResponse(Ref<NSURLConnection> connection, Ref<NSURLResponse> response) override;
    void connectionDidReceiveData(Ref<NSURLConnection> connection, const NSData& data) override;
    void connectionDidFinishLoading(Ref<NSURLConnection> connection) override;
    void connectionDidFailWithError(Ref<NSURLConnection> connection, Ref<NSError> error) override;

private:
    void start(Completion completion);
    void finish(const Ref<NSURLConnection>& connection, Ref<TMAWebResponse> response, Ref<NSError> error,
                int64_t status);
    static Ref<NSOperationQueue> backgroundQueue();

    // Guards the fields below: the delivery thread and callers may differ.
    mutable std::mutex mutex_;
    Weak<TMAWebRequestDelegate> delegate_;
    std::optional<std::string> url_;
    std::string method_ = "GET";
    std::vector<std::pair<std::string, std::string>> headers_;
    std::optional<std::string> body_;
    double timeout_ = 60;
    bool handlesCookies_ = true;
    bool onMain_ = true;
    size_t maximumBytes_ = 0;  // 0: the transport's default
    Ref<NSURLConnection> connection_;
    Completion completion_;  // of the call under way (empty: the delegate)
    Ref<NSHTTPURLResponse> httpResponse_;
    std::string received_;
    Ref<TMAWebResponse> response_;
};
