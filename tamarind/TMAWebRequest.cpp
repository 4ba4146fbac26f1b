#include "tamarind/TMAWebRequest.h"

#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/runtime/DispatchQueue.h"
#include "tamarind/TMAJSONUtil.h"

Ref<TMAWebRequest> TMAWebRequest::init() { return self<TMAWebRequest>(); }

void TMAWebRequest::setDelegate(const Ref<TMAWebRequestDelegate>& delegate) {
    std::scoped_lock lock(mutex_);
    delegate_ = delegate;
}
Ref<TMAWebRequestDelegate> TMAWebRequest::delegate() const {
    std::scoped_lock lock(mutex_);
    return delegate_.lock();
}
void TMAWebRequest::setUrlString(const std::optional<std::string>& url) {
    std::scoped_lock lock(mutex_);
    url_ = url;
}
std::optional<std::string> TMAWebRequest::urlString() const {
    std::scoped_lock lock(mutex_);
    return url_;
}
void TMAWebRequest::setHttpMethod(const std::string& method) {
    std::scoped_lock lock(mutex_);
    method_ = method;
}
std::string TMAWebRequest::httpMethod() const {
    std::scoped_lock lock(mutex_);
    return method_;
}
void TMAWebRequest::setHeader(const std::string& name, const std::string& value) {
    std::scoped_lock lock(mutex_);
    for (auto& [field, current] : headers_) {
        if (NSString::caseInsensitiveCompare(field, name) == NSComparisonResult::OrderedSame) {
            current = value;
            return;
        }
    }
    headers_.emplace_back(name, value);
}
Value TMAWebRequest::headers() const {
    std::scoped_lock lock(mutex_);
    Value fields = Value::dictionary({});
    for (const auto& [name, value] : headers_) fields.set(name, Value(value));
    return fields;
}
void TMAWebRequest::setRequestBody(const std::optional<std::string>& body) {
    std::scoped_lock lock(mutex_);
    body_ = body;
}
std::optional<std::string> TMAWebRequest::requestBodyString() const {
    std::scoped_lock lock(mutex_);
    return body_;
}
void TMAWebRequest::setTimeoutInterval(double seconds) {
    std::scoped_lock lock(mutex_);
    timeout_ = seconds;
}
double TMAWebRequest::timeoutInterval() const {
    std::scoped_lock lock(mutex_);
    return timeout_;
}
void TMAWebRequest::setHandlesCookies(bool handles) {
    std::scoped_lock lock(mutex_);
    handlesCookies_ = handles;
}
void TMAWebRequest::setReturnsOnMainThread(bool onMain) {
    std::scoped_lock lock(mutex_);
    onMain_ = onMain;
}
bool TMAWebRequest::returnsOnMainThread() const {
    std::scoped_lock lock(mutex_);
    return onMain_;
}
void TMAWebRequest::setMaximumResponseBytes(size_t bytes) {
    std::scoped_lock lock(mutex_);
    maximumBytes_ = bytes;
}
Ref<TMAWebResponse> TMAWebRequest::response() const {
    std::scoped_lock lock(mutex_);
    return response_;
}

std::string TMAWebRequest::toString() const {
    std::scoped_lock lock(mutex_);
    return method_ + " " + url_.value_or("(null)");
}

NSMutableURLRequest TMAWebRequest::urlRequest() const {
    std::scoped_lock lock(mutex_);
    NSMutableURLRequest request;
    request.setURL(url_ ? NSURL::URLWithString(*url_) : nullptr);
    request.setHTTPMethod(method_);
    for (const auto& [name, value] : headers_) request.setValue(value, name);
    if (body_) request.setHTTPBody(NSString::dataUsingEncoding(*body_));
    request.setTimeoutInterval(timeout_);
    request.setHTTPShouldHandleCookies(handlesCookies_);
    // The transport fails a larger answer with -1103 before buffering it.
    if (maximumBytes_ > 0) request.setMaximumResponseLength(static_cast<int64_t>(maximumBytes_));
    return request;
}

Ref<NSOperationQueue> TMAWebRequest::backgroundQueue() {
    static Ref<NSOperationQueue> queue = [] {
        auto q = NSOperationQueue::alloc()->init();
        q->setName("TamarindAd.web");
        q->setMaxConcurrentOperationCount(1);
        return q;
    }();
    return queue;
}

void TMAWebRequest::makeCall() { start(nullptr); }
void TMAWebRequest::makeCallWithCompletionBlock(Completion completion) {
    // An empty block still takes the outcome from the delegate.
    start(completion ? std::move(completion) : Completion([](Ref<TMAWebResponse>, Ref<NSError>, int64_t) {}));
}

void TMAWebRequest::cancel() {
    Ref<NSURLConnection> connection;
    {
        std::scoped_lock lock(mutex_);
        connection = std::move(connection_);
        completion_ = nullptr;
    }
    if (connection) connection->cancel();
}

void TMAWebRequest::start(Completion completion) {
    cancel();
    NSMutableURLRequest request = urlRequest();
    auto self = this->self<TMAWebRequest>();
    Ref<NSURLConnection> connection;
    bool onMain;
    {
        std::scoped_lock lock(mutex_);
        onMain = onMain_;
        httpResponse_.reset();
        received_.clear();
        completion_ = std::move(completion);
        if (request.URL()) {
            connection = NSObject::alloc<NSURLConnection>()->initWithRequest(request, self, false);
            if (!onMain) connection->setDelegateQueue(backgroundQueue());
        }
        connection_ = connection;
    }
    if (connection) {
        connection->start();
        return;
    }
    // No URL: the outcome still arrives later, on the delivery thread.
    Ref<NSError> error = platform::net::urlError(NSURLErrorBadURL, urlString().value_or(""));
    Block fail = [self, error] { self->finish(nullptr, nullptr, error, 0); };
    if (onMain) dispatch_async(dispatch_get_main_queue(), fail);
    else backgroundQueue()->addOperationWithBlock(fail);
}

void TMAWebRequest::connectionDidReceiveResponse(Ref<NSURLConnection> connection, Ref<NSURLResponse> response) {
    std::scoped_lock lock(mutex_);
    if (connection != connection_) return;
    httpResponse_ = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
    received_.clear();
}

void TMAWebRequest::connectionDidReceiveData(Ref<NSURLConnection> connection, const NSData& data) {
    std::scoped_lock lock(mutex_);
    if (connection != connection_) return;
    received_.append(reinterpret_cast<const char*>(data.bytes()), data.length());
}

void TMAWebRequest::connectionDidFinishLoading(Ref<NSURLConnection> connection) {
    Ref<TMAWebResponse> response;
    {
        std::scoped_lock lock(mutex_);
        if (connection != connection_) return;
        response = NSObject::alloc<TMAWebResponse>()->initWithResponse(httpResponse_, NSData::dataWithString(received_));
        received_.clear();
    }
    finish(connection, response, nullptr, response->statusCode());
}

void TMAWebRequest::connectionDidFailWithError(Ref<NSURLConnection> connection, Ref<NSError> error) {
    int64_t status;
    {
        std::scoped_lock lock(mutex_);
        if (connection != connection_) return;
        status = httpResponse_ ? httpResponse_->statusCode() : 0;
    }
    finish(connection, nullptr, std::move(error), status);
}

void TMAWebRequest::finish(const Ref<NSURLConnection>& connection, Ref<TMAWebResponse> response, Ref<NSError> error,
                           int64_t status) {
    Completion completion;
    Ref<TMAWebRequestDelegate> delegate;
    {
        std::scoped_lock lock(mutex_);
        if (connection != connection_) return;
        connection_.reset();
        completion = std::move(completion_);
        completion_ = nullptr;
        if (response) response_ = response;
        delegate = delegate_.lock();
    }
    bool success = !error && response && status == 200;
    if (completion) {
        completion(response, error, status);
        return;
    }
    if (!delegate) return;
    if (success) delegate->responseReceived(response);
    else delegate->errorReceived(error, status);
}
