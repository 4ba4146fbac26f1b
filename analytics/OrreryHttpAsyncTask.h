// The analytics client's asynchronous HTTP task: one request with a method,
// URL, body and header fields, sent with time-outs and an answer cap of its
// own, reporting
// exactly one outcome to its delegate: success when an HTTP answer arrived
// (whatever its status), failure when none did, or cancellation.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/NSData.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"
#include "platform/runtime/NSRunLoop.h"

class OrreryHttpAsyncTask;

// What a task learnt: the status and body of the answer, or the error.
class OrreryHTTPResponse : public NSObject {
public:
    Ref<OrreryHTTPResponse> initWithStatusCode(int statusCode, std::optional<NSData> body, Ref<NSError> error);

    // 0 when no answer arrived; a failure after the answer's head (a body
    // over the cap, cut off or past a time-out) keeps its status.
    int statusCode() const { return statusCode_; }
    // The answer's body (empty when none).
    const NSData& body() const { return body_; }
    // Null after an answer; the transport error after a failure; the
    // cancellation error (NSURLErrorDomain -999) after a cancel.
    const Ref<NSError>& error() const { return error_; }
    // Status from 200 to 399.
    bool isSuccess() const { return statusCode_ >= 200 && statusCode_ <= 399; }

private:
    int statusCode_ = 0;
    NSData body_;
    Ref<NSError> error_;
};

// Exactly one of these arrives per started (or cancelled) task, on the main
// thread, where the connection reports (never on the caller's stack).
class OrreryHttpAsyncTaskDelegate : public virtual NSObjectProtocol {
public:
    // An HTTP answer arrived, whatever its status.
    virtual void requestSuccessful(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) = 0;
    // No whole answer; the response carries the error, and the status when
    // the answer's head had arrived (a body over the cap, cut off or past a
    // time-out; see failureIsDelivery).
    virtual void requestDidFail(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) = 0;
    virtual void requestDidCancel(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) = 0;
};

class OrreryHttpAsyncTask : public NSObject {
public:
    // Seconds without progress after which a request fails.
    static constexpr double kTimeoutSeconds = 30;
    // Seconds a request may take in all, however steadily bytes arrive,
    // unless the task sets its own (a server dripping a byte a second).
    static constexpr double kTotalTimeoutSeconds = 90;
    // The largest answer body a task reads unless it sets its own cap: a
    // larger answer fails (NSURLErrorDomain -1103) with a log line, before
    // the excess is read into memory.
    static constexpr int64_t kMaximumResponseLength = int64_t{1} << 20;

    // Creates a task for a method ("GET", "PUT", "POST"), a URL (a null URL
    // makes the task fail with NSURLErrorDomain -1000 once started), body
    // bytes or none, and header fields (a dictionary of strings). The task
    // holds its delegate until it has reported its outcome.
    static Ref<OrreryHttpAsyncTask> sendMethod(const std::string& method, const Ref<NSURL>& url,
                                               const std::optional<NSData>& body, const Value& headerFields,
                                               const Ref<OrreryHttpAsyncTaskDelegate>& delegate, bool startImmediately);
    static Ref<OrreryHttpAsyncTask> sendMethod(const std::string& method, const Ref<NSURL>& url,
                                               const std::optional<NSData>& body, const Value& headerFields,
                                               const Ref<OrreryHttpAsyncTaskDelegate>& delegate) {
        return sendMethod(method, url, body, headerFields, delegate, true);
    }

    // Starts the task (once; later calls, and a start after a cancel, do
    // nothing). The platform has one run loop, the main one, which the
    // argument names; the task reports there.
    void startInRunLoop(const Ref<NSRunLoop>& runLoop);
    void start() { startInRunLoop(NSRunLoop::mainRunLoop()); }
    // Stops the task; its delegate hears requestDidCancel unless another
    // outcome was already reported. Any thread.
    void cancelTask();

    std::optional<std::string> tag() const;
    void setTag(std::optional<std::string> tag);
    // A dictionary kept with the task for the delegate.
    Value taskParams() const;
    void setTaskParams(const Value& params);
    // The most redirects followed (0 at start: a redirect answer is then the
    // task's answer); set before the task starts.
    void setRedirectsLimit(int limit);
    int redirectsLimit() const { return redirectsLimit_.load(); }
    // Redirects followed so far.
    int redirectsCount() const { return redirectsCount_.load(); }
    // The task's total time-out (seconds) and answer cap (bytes); set before
    // the task starts. Values that are not positive keep the defaults above.
    void setTotalTimeoutInterval(double seconds);
    double totalTimeoutInterval() const { return totalTimeout_.load(); }
    void setMaximumResponseLength(int64_t bytes);
    int64_t maximumResponseLength() const { return maximumResponseLength_.load(); }

    // For a delegate's requestDidFail: whether the answer's head had said
    // 200 to 399 before its body failed (over the cap, cut off, past a
    // time-out). The server then took the request, and sending it again
    // would deliver it twice: the delegate counts it as delivered. Logs a
    // diagnostics line saying so, led by `delegateName`.
    bool failureIsDelivery(const Ref<OrreryHTTPResponse>& response, std::string_view delegateName) const;

    const std::string& method() const { return method_; }
    const Ref<NSURL>& url() const { return url_; }
    // Whether an outcome has been reported.
    bool isFinished() const { return finished_.load(); }

private:
    class ConnectionDelegate;
    friend class ConnectionDelegate;
    enum class Outcome { Success, Failure, Cancel };

    // Claims the one outcome; false when another was claimed first.
    bool claimOutcome();
    void report(Outcome outcome, Ref<OrreryHTTPResponse> response);
    void failWithError(Ref<NSError> error);

    std::string method_;
    Ref<NSURL> url_;
    std::optional<NSData> body_;
    Value headerFields_;

    mutable std::mutex mutex_;  // guards the fields below
    std::optional<std::string> tag_;
    Value taskParams_;
    Ref<OrreryHttpAsyncTaskDelegate> delegate_;  // until the outcome is reported
    Ref<NSObject> connection_;                   // until the outcome is reported
    int statusCode_ = 0;
    NSData received_;

    std::atomic<double> totalTimeout_{kTotalTimeoutSeconds};
    std::atomic<int64_t> maximumResponseLength_{kMaximumResponseLength};
    std::atomic<int> redirectsLimit_{0};
    std::atomic<int> redirectsCount_{0};
    std::atomic<bool> started_{false};
    std::atomic<bool> finished_{false};
};
