#include "platform/net/NSURLConnection.h"

#include <map>

#include "platform/net/Transport.h"
#include "platform/net/URLLoader.h"
#include "platform/runtime/ActivityCounter.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"

namespace platform {

namespace {

// Collects the body for the synchronous and asynchronous forms.
class CollectingHooks : public net::LoadHooks {
public:
    void didReceiveData(const char* bytes, size_t length) override { body.appendBytes(bytes, length); }
    NSData body;
};

std::optional<NSData> loadCollecting(const NSURLRequest& request, Ref<NSURLResponse>* response, Ref<NSError>* error) {
    CollectingHooks hooks;
    net::CancelToken token;
    net::LoadOutcome outcome = net::load(request, hooks, token);
    if (response) *response = outcome.response;
    if (error) *error = outcome.error;
    if (outcome.error) return std::nullopt;
    return std::move(hooks.body);
}

}  // namespace

// ---- delegate defaults ----

bool NSURLConnectionDelegate::connectionCanAuthenticateAgainstProtectionSpace(Ref<NSURLConnection>,
                                                                              Ref<NSURLProtectionSpace>) {
    return false;
}

void NSURLConnectionDelegate::connectionDidReceiveAuthenticationChallenge(Ref<NSURLConnection>,
                                                                          Ref<NSURLAuthenticationChallenge> challenge) {
    if (challenge && challenge->sender()) challenge->sender()->performDefaultHandlingForAuthenticationChallenge(challenge);
}

void NSURLConnectionDelegate::connectionDidFailWithError(Ref<NSURLConnection>, Ref<NSError>) {}

Ref<NSURLRequest> NSURLConnectionDataDelegate::connectionWillSendRequest(Ref<NSURLConnection>,
                                                                         Ref<NSURLRequest> request,
                                                                         Ref<NSURLResponse>) {
    return request;
}

void NSURLConnectionDataDelegate::connectionDidReceiveResponse(Ref<NSURLConnection>, Ref<NSURLResponse>) {}
void NSURLConnectionDataDelegate::connectionDidReceiveData(Ref<NSURLConnection>, const NSData&) {}
void NSURLConnectionDataDelegate::connectionDidFinishLoading(Ref<NSURLConnection>) {}

// ---- synchronous and asynchronous forms ----

std::optional<NSData> NSURLConnection::sendSynchronousRequest(const NSURLRequest& request,
                                                              Ref<NSURLResponse>* response, Ref<NSError>* error) {
    runtime::ActivityToken activity;
    return loadCollecting(request, response, error);
}

std::optional<NSData> NSURLConnection::sendSynchronousRequest(const Ref<NSURLRequest>& request,
                                                              Ref<NSURLResponse>* response, Ref<NSError>* error) {
    return sendSynchronousRequest(request ? *request : NSURLRequest(), response, error);
}

void NSURLConnection::sendAsynchronousRequest(const NSURLRequest& request, Ref<NSOperationQueue> queue,
                                              CompletionHandler handler) {
    if (!queue) queue = NSOperationQueue::mainQueue();
    auto activity = std::make_shared<runtime::ActivityToken>();
    auto copy = request.copy();
    net::runOnTransportPool([copy, queue, handler = std::move(handler), activity]() mutable {
        Ref<NSURLResponse> response;
        Ref<NSError> error;
        std::optional<NSData> data = loadCollecting(*copy, &response, &error);
        queue->addOperationWithBlock([handler, response, data = std::move(data), error] {
            if (handler) handler(response, data, error);
        });
        activity.reset();
    });
}

void NSURLConnection::sendAsynchronousRequest(const Ref<NSURLRequest>& request, Ref<NSOperationQueue> queue,
                                              CompletionHandler handler) {
    sendAsynchronousRequest(request ? *request : NSURLRequest(), std::move(queue), std::move(handler));
}

// ---- connection with a delegate ----

// The delegate form's hooks: each decision is asked on the callback thread
// while the transfer waits; responses and data are posted.
class ConnectionDriver : public net::LoadHooks {
public:
    explicit ConnectionDriver(Ref<NSURLConnection> connection) : connection_(std::move(connection)) {}

    // Asks on the callback thread and waits; `fallback` when the delegate
    // throws, nullopt when the connection was cancelled meanwhile.
    template <class T>
    std::optional<T> ask(std::function<T(const Ref<NSURLConnectionDataDelegate>&)> question, T fallback,
                         const char* what) {
        NSURLConnection& c = *connection_;
        // Nobody would answer: the load goes on as with a delegate that
        // implements nothing.
        if (!c.hasDelegate_) return c.cancelled_.load() ? std::nullopt : std::optional<T>(fallback);
        auto answer = std::make_shared<std::optional<T>>();
        c.deliver([&c, answer, question, fallback, what](const Ref<NSURLConnectionDataDelegate>& delegate) {
            T value = fallback;
            runtime::callAtBoundary([&] { value = question(delegate); }, what);
            std::lock_guard lock(c.mutex_);
            *answer = std::move(value);
            c.answered_.notify_all();
        });
        std::unique_lock lock(c.mutex_);
        c.answered_.wait(lock, [&] { return answer->has_value() || c.cancelled_.load(); });
        return c.cancelled_.load() ? std::nullopt : *answer;
    }

    Ref<NSURLRequest> willSendRequest(Ref<NSURLRequest> proposed, Ref<NSURLResponse> redirectResponse) override {
        auto self = connection_;
        auto chosen = ask<Ref<NSURLRequest>>(
            [self, proposed, redirectResponse](const auto& delegate) {
                return delegate->connectionWillSendRequest(self, proposed, redirectResponse);
            },
            proposed, "connectionWillSendRequest");
        if (!chosen || !*chosen) return nullptr;
        std::lock_guard lock(connection_->mutex_);
        connection_->current_ = (*chosen)->copy();
        ++connection_->redirects_;
        return connection_->current_;
    }

    bool acceptServerTrust(const std::string& host, int port) override;

    void didReceiveResponse(const Ref<NSURLResponse>& response) override {
        auto self = connection_;
        connection_->deliver([self, response](const auto& delegate) { delegate->connectionDidReceiveResponse(self, response); });
    }

    void didReceiveData(const char* bytes, size_t length) override {
        auto self = connection_;
        NSData chunk(bytes, length);
        connection_->deliver([self, chunk](const auto& delegate) { delegate->connectionDidReceiveData(self, chunk); });
    }

    Ref<NSURLConnection> connection_;
};

// Answers the server-trust challenge of one hop (the first answer counts;
// any thread, also after the connection is gone).
class ConnectionTrustSender : public NSObject, public NSURLAuthenticationChallengeSender {
public:
    enum class Answer { None, Continue, Cancel };

    explicit ConnectionTrustSender(const Ref<NSURLConnection>& connection) : connection_(connection) {}

    void useCredential(Ref<NSURLCredential>, Ref<NSURLAuthenticationChallenge>) override { answer(Answer::Continue); }
    void continueWithoutCredentialForAuthenticationChallenge(Ref<NSURLAuthenticationChallenge>) override {
        answer(Answer::Continue);
    }
    void cancelAuthenticationChallenge(Ref<NSURLAuthenticationChallenge>) override { answer(Answer::Cancel); }
    void performDefaultHandlingForAuthenticationChallenge(Ref<NSURLAuthenticationChallenge>) override {
        answer(Answer::Continue);
    }

    Answer current() const { return answer_; }  // under the connection's mutex

private:
    void answer(Answer a) {
        auto connection = connection_.lock();
        if (!connection) return;
        std::lock_guard lock(connection->mutex_);
        if (answer_ == Answer::None) answer_ = a;
        connection->answered_.notify_all();
    }
    Weak<NSURLConnection> connection_;
    Answer answer_ = Answer::None;
};

namespace {

// Cancelled challenges per protection space, for the whole process.
class ChallengeFailures {
public:
    static ChallengeFailures& shared() {
        static auto* failures = new ChallengeFailures();  // never destroyed: transfers may run at exit
        return *failures;
    }
    int64_t count(const std::string& space) {
        std::lock_guard lock(mutex_);
        auto it = counts_.find(space);
        return it == counts_.end() ? 0 : it->second;
    }
    void record(const std::string& space, bool failed) {
        std::lock_guard lock(mutex_);
        if (failed) ++counts_[space];
        else counts_.erase(space);
    }

private:
    std::mutex mutex_;
    std::map<std::string, int64_t> counts_;
};

}  // namespace

bool ConnectionDriver::acceptServerTrust(const std::string& host, int port) {
    auto self = connection_;
    auto space = NSObject::alloc<NSURLProtectionSpace>()->initWithHost(host, port, std::make_shared<SecTrust>(host));
    auto asked = ask<bool>(
        [self, space](const auto& delegate) {
            return delegate->connectionCanAuthenticateAgainstProtectionSpace(self, space);
        },
        false, "connectionCanAuthenticateAgainstProtectionSpace");
    if (!asked) return false;  // cancelled
    if (!*asked) return true;

    NSURLConnection& c = *connection_;
    const std::string spaceKey = space->authenticationMethod() + " " + host + ":" + std::to_string(port);
    auto sender = std::make_shared<ConnectionTrustSender>(connection_);
    auto challenge = NSObject::alloc<NSURLAuthenticationChallenge>()->initWithProtectionSpace(
        space, sender, ChallengeFailures::shared().count(spaceKey));
    c.deliver([self, challenge](const auto& delegate) {
        delegate->connectionDidReceiveAuthenticationChallenge(self, challenge);
    });
    ConnectionTrustSender::Answer answer;
    {
        std::unique_lock lock(c.mutex_);
        c.answered_.wait(lock,
                         [&] { return sender->current() != ConnectionTrustSender::Answer::None || c.cancelled_.load(); });
        answer = sender->current();
    }
    if (answer != ConnectionTrustSender::Answer::None)
        ChallengeFailures::shared().record(spaceKey, answer == ConnectionTrustSender::Answer::Cancel);
    return answer == ConnectionTrustSender::Answer::Continue;
}

Ref<NSURLConnection> NSURLConnection::initWithRequest(const NSURLRequest& request,
                                                      Ref<NSURLConnectionDataDelegate> delegate,
                                                      bool startImmediately) {
    if (!request.URL()) return nullptr;
    original_ = request.copy();
    current_ = request.copy();
    hasDelegate_ = delegate != nullptr;
    if (!hasDelegate_)
        logInfo("NSURLConnection: no delegate; " + urlForLog(request.URL()->absoluteString()) +
                " is loaded and its callbacks dropped");
    delegate_ = std::move(delegate);
    token_ = std::make_shared<net::CancelToken>();
    if (startImmediately) start();
    return self<NSURLConnection>();
}

Ref<NSURLConnection> NSURLConnection::connectionWithRequest(const NSURLRequest& request,
                                                            Ref<NSURLConnectionDataDelegate> delegate) {
    return alloc<NSURLConnection>()->initWithRequest(request, std::move(delegate), true);
}

NSURLConnection::~NSURLConnection() = default;

void NSURLConnection::start() {
    {
        std::lock_guard lock(mutex_);
        if (started_ || !token_ || cancelled_.load()) return;
        started_ = true;
    }
    auto self = this->self<NSURLConnection>();
    auto activity = std::make_shared<runtime::ActivityToken>();
    net::runOnTransportPool([self, activity] { self->run(); });
}

void NSURLConnection::run() {
    auto self = this->self<NSURLConnection>();
    ConnectionDriver driver(self);
    Ref<NSURLRequest> original;
    {
        std::lock_guard lock(mutex_);
        original = original_->copy();
    }
    auto first = driver.ask<Ref<NSURLRequest>>(
        [self, original](const auto& delegate) { return delegate->connectionWillSendRequest(self, original, nullptr); },
        original, "connectionWillSendRequest");
    if (!first) return;  // cancelled
    if (!*first) {
        logInfo("NSURLConnection: the delegate refused the original request; the connection ends");
        std::lock_guard delivering(deliveryMutex_);
        ended_ = true;
        delegate_.reset();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        current_ = (*first)->copy();
    }
    net::LoadOutcome outcome = net::load(**first, driver, *token_);
    if (outcome.cancelled) return;
    if (outcome.error) {
        auto error = outcome.error;
        deliver([self, error](const auto& delegate) { delegate->connectionDidFailWithError(self, error); }, true);
    } else {
        deliver([self](const auto& delegate) { delegate->connectionDidFinishLoading(self); }, true);
    }
}

void NSURLConnection::deliver(std::function<void(const Ref<NSURLConnectionDataDelegate>&)> call, bool final) {
    auto self = this->self<NSURLConnection>();
    Block delivery = [self, call = std::move(call), final] {
        std::lock_guard delivering(self->deliveryMutex_);
        if (self->cancelled_.load() || self->ended_.load()) return;
        Ref<NSURLConnectionDataDelegate> delegate = self->delegate_;
        if (!delegate) return;
        if (final) self->ended_ = true;
        runtime::callAtBoundary([&] { call(delegate); }, "URL connection delegate");
        if (final) self->delegate_.reset();
    };
    Ref<NSOperationQueue> queue;
    {
        std::lock_guard lock(mutex_);
        queue = delegateQueue_;
        if (queue) {
            queued_.push_back(std::move(delivery));
            if (draining_) return;
            draining_ = true;
        }
    }
    if (!queue) {
        runtime::postToMainThread(std::move(delivery));
        return;
    }
    // One drainer at a time keeps this connection's callbacks in order on a
    // concurrent queue.
    queue->addOperationWithBlock([self] {
        for (;;) {
            Block next;
            {
                std::lock_guard lock(self->mutex_);
                if (self->queued_.empty()) {
                    self->draining_ = false;
                    return;
                }
                next = std::move(self->queued_.front());
                self->queued_.pop_front();
            }
            next();
        }
    });
}

void NSURLConnection::cancel() {
    Ref<NSURLConnectionDataDelegate> released;
    {
        std::lock_guard delivering(deliveryMutex_);
        {
            std::lock_guard lock(mutex_);
            if (cancelled_.load() || ended_.load()) return;
            cancelled_ = true;
            queued_.clear();
            answered_.notify_all();
        }
        released = std::move(delegate_);
    }
    if (token_) token_->cancel();
}

void NSURLConnection::setDelegateQueue(Ref<NSOperationQueue> queue) {
    std::lock_guard lock(mutex_);
    if (started_) {
        logError("NSURLConnection: setDelegateQueue after start is ignored");
        return;
    }
    delegateQueue_ = std::move(queue);
}

void NSURLConnection::scheduleInRunLoop(const Ref<NSRunLoop>&, std::string_view) {}

Ref<NSURLRequest> NSURLConnection::originalRequest() const {
    std::lock_guard lock(mutex_);
    return original_;
}

Ref<NSURLRequest> NSURLConnection::currentRequest() const {
    std::lock_guard lock(mutex_);
    return current_;
}

// ---- challenge objects ----

Ref<NSURLProtectionSpace> NSURLProtectionSpace::initWithHost(std::string host, int64_t port, SecTrustRef trust) {
    host_ = std::move(host);
    port_ = port;
    trust_ = std::move(trust);
    return self<NSURLProtectionSpace>();
}

Ref<NSURLCredential> NSURLCredential::credentialForTrust(SecTrustRef trust) {
    auto credential = alloc<NSURLCredential>();
    credential->trust_ = std::move(trust);
    return credential;
}

Ref<NSURLAuthenticationChallenge> NSURLAuthenticationChallenge::initWithProtectionSpace(
    Ref<NSURLProtectionSpace> space, Ref<NSURLAuthenticationChallengeSender> sender, int64_t previousFailureCount) {
    space_ = std::move(space);
    sender_ = std::move(sender);
    previousFailureCount_ = previousFailureCount;
    return self<NSURLAuthenticationChallenge>();
}

}  // namespace platform
