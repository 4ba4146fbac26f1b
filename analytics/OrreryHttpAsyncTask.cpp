#include "analytics/OrreryHttpAsyncTask.h"

#include "analytics/OrreryLog.h"
#include "platform/net/NSURLConnection.h"
#include "platform/net/NSURLError.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Log.h"

namespace {

// Outcomes the task itself decides (no URL, cancel) are reported on the main
// thread too, where the connection reports, and never on the caller's stack.
void onMainThread(Block block) { dispatch_async(dispatch_get_main_queue(), std::move(block)); }

}  // namespace

Ref<OrreryHTTPResponse> OrreryHTTPResponse::initWithStatusCode(int statusCode, std::optional<NSData> body,
                                                               Ref<NSError> error) {
    statusCode_ = statusCode;
    body_ = body.value_or(NSData());
    error_ = std::move(error);
    return self<OrreryHTTPResponse>();
}

// Receives the connection's callbacks for one task and holds the task until
// it has reported.
class OrreryHttpAsyncTask::ConnectionDelegate : public NSObject, public NSURLConnectionDataDelegate {
public:
    explicit ConnectionDelegate(Ref<OrreryHttpAsyncTask> task) : task_(std::move(task)) {}

    Ref<NSURLRequest> connectionWillSendRequest(Ref<NSURLConnection>, Ref<NSURLRequest> request,
                                                Ref<NSURLResponse> redirectResponse) override {
        if (!redirectResponse) return request;
        if (task_->redirectsCount_.load() >= task_->redirectsLimit_.load()) return nullptr;  // the 3xx is the answer
        task_->redirectsCount_.fetch_add(1);
        return request;
    }

    void connectionDidReceiveResponse(Ref<NSURLConnection>, Ref<NSURLResponse> response) override {
        auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
        std::lock_guard lock(task_->mutex_);
        task_->statusCode_ = http ? static_cast<int>(http->statusCode()) : 0;
        task_->received_ = NSData();  // a new answer starts a new body
    }

    void connectionDidReceiveData(Ref<NSURLConnection>, const NSData& data) override {
        std::lock_guard lock(task_->mutex_);
        task_->received_.appendData(data);
    }

    void connectionDidFinishLoading(Ref<NSURLConnection>) override {
        int status;
        NSData body;
        {
            std::lock_guard lock(task_->mutex_);
            status = task_->statusCode_;
            body = task_->received_;
        }
        task_->report(Outcome::Success, alloc<OrreryHTTPResponse>()->initWithStatusCode(status, body, nullptr));
    }

    void connectionDidFailWithError(Ref<NSURLConnection>, Ref<NSError> error) override {
        task_->failWithError(std::move(error));
    }

private:
    const Ref<OrreryHttpAsyncTask> task_;
};

Ref<OrreryHttpAsyncTask> OrreryHttpAsyncTask::sendMethod(const std::string& method, const Ref<NSURL>& url,
                                                         const std::optional<NSData>& body, const Value& headerFields,
                                                         const Ref<OrreryHttpAsyncTaskDelegate>& delegate,
                                                         bool startImmediately) {
    auto task = alloc<OrreryHttpAsyncTask>();
    task->method_ = method;
    task->url_ = url;
    task->body_ = body;
    task->headerFields_ = headerFields;
    task->delegate_ = delegate;
    if (!headerFields.isNull() && !headerFields.isDictionary())
        OrreryLog::error("an HTTP task's header fields are no dictionary; none are sent");
    if (startImmediately) task->start();
    return task;
}

void OrreryHttpAsyncTask::startInRunLoop(const Ref<NSRunLoop>& runLoop) {
    (void)runLoop;  // the main run loop, the only one: the connection reports there
    if (finished_.load() || started_.exchange(true)) return;
    auto me = self<OrreryHttpAsyncTask>();
    if (!url_) {
        OrreryLog::error("an HTTP task without a URL fails");
        onMainThread([me] { me->failWithError(platform::net::urlError(NSURLErrorBadURL, std::string())); });
        return;
    }
    auto request = NSMutableURLRequest::requestWithURL(url_, NSURLRequestReloadIgnoringLocalCacheData, kTimeoutSeconds);
    request->setTotalTimeoutInterval(totalTimeout_.load());
    request->setMaximumResponseLength(maximumResponseLength_.load());
    request->setHTTPMethod(method_);
    if (headerFields_.isDictionary()) request->setAllHTTPHeaderFields(headerFields_);
    if (body_) request->setHTTPBody(body_);

    // Held under the lock so a cancel from another thread finds the connection.
    std::lock_guard lock(mutex_);
    if (finished_.load()) return;
    connection_ = NSURLConnection::connectionWithRequest(*request, std::make_shared<ConnectionDelegate>(me));
    if (!connection_) onMainThread([me] { me->failWithError(platform::net::urlError(NSURLErrorBadURL, me->url_)); });
}

void OrreryHttpAsyncTask::cancelTask() {
    Ref<NSURLConnection> connection;
    bool claimed;
    {
        // Claimed under the lock: a start that has not made its connection
        // yet then makes none.
        std::lock_guard lock(mutex_);
        claimed = claimOutcome();
        connection = std::dynamic_pointer_cast<NSURLConnection>(connection_);
    }
    // Once cancel returns no connection callback starts; an answer that
    // claimed the outcome first wins over the cancellation.
    if (connection) connection->cancel();
    if (!claimed) return;
    auto me = self<OrreryHttpAsyncTask>();
    onMainThread([me] {
        me->report(Outcome::Cancel, alloc<OrreryHTTPResponse>()->initWithStatusCode(
                                        0, std::nullopt, platform::net::urlError(NSURLErrorCancelled, me->url_)));
    });
}

bool OrreryHttpAsyncTask::claimOutcome() { return !finished_.exchange(true); }

void OrreryHttpAsyncTask::failWithError(Ref<NSError> error) {
    if (error && error->code() == NSURLErrorDataLengthExceedsMaximum)
        OrreryLog::error(
            "an answer from " + (url_ ? platform::urlForLog(url_->absoluteString()) : std::string("(null)")) +
            " is larger than " + std::to_string(maximumResponseLength_.load()) + " bytes; the request fails");
    int status;
    NSData body;
    {
        std::lock_guard lock(mutex_);
        status = statusCode_;
        body = received_;
    }
    report(Outcome::Failure, alloc<OrreryHTTPResponse>()->initWithStatusCode(status, body, std::move(error)));
}

bool OrreryHttpAsyncTask::failureIsDelivery(const Ref<OrreryHTTPResponse>& response,
                                            std::string_view delegateName) const {
    if (!response || !response->isSuccess()) return false;
    OrreryLog::log(OrreryLog::kDiagnostics,
                   std::string(delegateName) + ": " +
                       (url_ ? platform::urlForLog(url_->absoluteString()) : std::string("(null)")) + " answered " +
                       std::to_string(response->statusCode()) + ", then its body failed (" +
                       (response->error() ? response->error()->description() : std::string("(null)")) +
                       "); the request is delivered");
    return true;
}

void OrreryHttpAsyncTask::report(Outcome outcome, Ref<OrreryHTTPResponse> response) {
    // A cancellation claimed its outcome when it was asked for.
    if (outcome != Outcome::Cancel && !claimOutcome()) return;
    Ref<OrreryHttpAsyncTaskDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        delegate = std::move(delegate_);
        connection_.reset();  // the connection holds this task until now
    }
    if (!delegate) return;
    auto me = self<OrreryHttpAsyncTask>();
    switch (outcome) {
        case Outcome::Success:
            delegate->requestSuccessful(me, response);
            break;
        case Outcome::Failure:
            delegate->requestDidFail(me, response);
            break;
        case Outcome::Cancel:
            delegate->requestDidCancel(me, response);
            break;
    }
}

std::optional<std::string> OrreryHttpAsyncTask::tag() const {
    std::lock_guard lock(mutex_);
    return tag_;
}

void OrreryHttpAsyncTask::setTag(std::optional<std::string> tag) {
    std::lock_guard lock(mutex_);
    tag_ = std::move(tag);
}

Value OrreryHttpAsyncTask::taskParams() const {
    std::lock_guard lock(mutex_);
    return taskParams_;
}

void OrreryHttpAsyncTask::setTaskParams(const Value& params) {
    std::lock_guard lock(mutex_);
    taskParams_ = params;
}

void OrreryHttpAsyncTask::setTotalTimeoutInterval(double seconds) {
    totalTimeout_.store(seconds > 0 ? seconds : kTotalTimeoutSeconds);
}

void OrreryHttpAsyncTask::setMaximumResponseLength(int64_t bytes) {
    maximumResponseLength_.store(bytes > 0 ? bytes : kMaximumResponseLength);
}

void OrreryHttpAsyncTask::setRedirectsLimit(int limit) { redirectsLimit_.store(limit < 0 ? 0 : limit); }
