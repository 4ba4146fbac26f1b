// URL loading in the platform's three forms, over one libcurl transport:
// synchronous (blocks the caller), asynchronous with a completion on a
// queue, and a connection that reports to a delegate. Every HTTP status is
// an answer; only transport failures are errors (NSURLError.h). Redirects
// are followed by the platform itself (301, 302, 303 turn a POST into a GET
// without body; 307, 308 keep both), at most 16 unless the request sets its
// own limit (NSMutableURLRequest::setMaximumRedirects).
// Every form honours the request's limits (NSURLRequest.h): the idle
// time-out, the total time-out (-1001 either way) and the answer's body-size
// cap (-1103, NSURLErrorDataLengthExceedsMaximum, checked before the body is
// buffered).
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/foundation/NSData.h"
#include "platform/foundation/NSError.h"
#include "platform/net/NSURLAuthenticationChallenge.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/NSURLResponse.h"
#include "platform/runtime/NSObject.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/runtime/NSRunLoop.h"

namespace platform {

namespace net {
class CancelToken;
}

class NSURLConnection;

// All methods optional (defaults do what "not implemented" does).
class NSURLConnectionDelegate : public virtual NSObjectProtocol {
public:
    virtual bool connectionCanAuthenticateAgainstProtectionSpace(Ref<NSURLConnection> connection,
                                                                 Ref<NSURLProtectionSpace> protectionSpace);
    // Default: performDefaultHandlingForAuthenticationChallenge.
    virtual void connectionDidReceiveAuthenticationChallenge(Ref<NSURLConnection> connection,
                                                             Ref<NSURLAuthenticationChallenge> challenge);
    virtual void connectionDidFailWithError(Ref<NSURLConnection> connection, Ref<NSError> error);
};

class NSURLConnectionDataDelegate : public virtual NSURLConnectionDelegate {
public:
    // Asked for the original request (null redirect response) and for each
    // redirect; the returned request is sent. Null for the original request
    // ends the connection without further callbacks; null for a redirect
    // delivers the redirect response as the final answer. Default: follow.
    virtual Ref<NSURLRequest> connectionWillSendRequest(Ref<NSURLConnection> connection, Ref<NSURLRequest> request,
                                                        Ref<NSURLResponse> redirectResponse);
    virtual void connectionDidReceiveResponse(Ref<NSURLConnection> connection, Ref<NSURLResponse> response);
    virtual void connectionDidReceiveData(Ref<NSURLConnection> connection, const NSData& data);
    virtual void connectionDidFinishLoading(Ref<NSURLConnection> connection);
};

class NSURLConnection : public NSObject {
public:
    // Blocks the calling thread (any thread, many at once). An answer gives
    // the body (maybe empty, never nullopt) and the response; a failure
    // nullopt and the error (and the response when one had arrived).
    static std::optional<NSData> sendSynchronousRequest(const NSURLRequest& request, Ref<NSURLResponse>* response,
                                                        Ref<NSError>* error);
    static std::optional<NSData> sendSynchronousRequest(const Ref<NSURLRequest>& request, Ref<NSURLResponse>* response,
                                                        Ref<NSError>* error);

    using CompletionHandler = std::function<void(Ref<NSURLResponse>, std::optional<NSData>, Ref<NSError>)>;
    // The completion runs exactly once on `queue` (the main queue when null),
    // always after this call returned, with data or with an error.
    static void sendAsynchronousRequest(const NSURLRequest& request, Ref<NSOperationQueue> queue,
                                        CompletionHandler handler);
    static void sendAsynchronousRequest(const Ref<NSURLRequest>& request, Ref<NSOperationQueue> queue,
                                        CompletionHandler handler);

    // Null when the request has no URL. Callbacks arrive on the main thread
    // (or the delegate queue) in this order: connectionWillSendRequest for the
    // original request; per hop the server-trust challenge (https, when the
    // delegate can authenticate against it), then connectionWillSendRequest
    // for a redirect or connectionDidReceiveResponse for the final answer;
    // connectionDidReceiveData as bytes arrive; then exactly one of
    // connectionDidFinishLoading or connectionDidFailWithError. The delegate
    // is held until then (or cancel), and a started connection is kept alive.
    // Without a delegate the request is still sent (fire and forget, logged)
    // and every callback is dropped; redirects are then followed.
    // A redirect to a scheme other than http(s) (a store link, an app's own
    // scheme) is offered to connectionWillSendRequest like any other: a
    // delegate that returns it (or one that does not implement the method)
    // gets connectionDidFailWithError -1002 with NSErrorFailingURLKey = that
    // target; null delivers the redirect response as the final answer.
    // The body-size cap counts the bytes handed to connectionDidReceiveData
    // for the final answer: the delegate never receives more than the cap,
    // and a body that would pass it ends with connectionDidFailWithError
    // (-1103) instead of connectionDidFinishLoading.
    Ref<NSURLConnection> initWithRequest(const NSURLRequest& request, Ref<NSURLConnectionDataDelegate> delegate,
                                         bool startImmediately = true);
    static Ref<NSURLConnection> connectionWithRequest(const NSURLRequest& request,
                                                      Ref<NSURLConnectionDataDelegate> delegate);

    void start();
    // Any thread, also inside a callback: once it returns no further callback
    // starts (one running on another thread is waited for) and queued ones
    // are dropped.
    void cancel();
    // Before start.
    void setDelegateQueue(Ref<NSOperationQueue> queue);
    // Accepted: callbacks use the main run loop, the only one.
    void scheduleInRunLoop(const Ref<NSRunLoop>& runLoop, std::string_view mode);

    Ref<NSURLRequest> originalRequest() const;
    Ref<NSURLRequest> currentRequest() const;
    // Redirects followed so far (the response also carries its count).
    int redirectCount() const { return redirects_.load(); }

    ~NSURLConnection() override;

private:
    friend class ConnectionDriver;
    friend class ConnectionTrustSender;

    // Runs `call` with the delegate on the callback thread unless cancelled or ended.
    void deliver(std::function<void(const Ref<NSURLConnectionDataDelegate>&)> call, bool final = false);
    void run();

    mutable std::mutex mutex_;
    std::recursive_mutex deliveryMutex_;  // held while a callback runs
    std::condition_variable answered_;    // with mutex_: answers and cancel
    Ref<NSURLConnectionDataDelegate> delegate_;
    Ref<NSOperationQueue> delegateQueue_;
    Ref<NSURLRequest> original_;
    Ref<NSURLRequest> current_;
    std::shared_ptr<net::CancelToken> token_;
    std::deque<Block> queued_;  // for the delegate queue, run in order
    bool draining_ = false;
    bool started_ = false;
    bool hasDelegate_ = false;  // set by init; a connection without one asks nobody
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> ended_{false};
    std::atomic<int> redirects_{0};
};

}  // namespace platform

using platform::NSURLConnection;
using platform::NSURLConnectionDataDelegate;
using platform::NSURLConnectionDelegate;
