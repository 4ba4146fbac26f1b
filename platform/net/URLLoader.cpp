#include "platform/net/URLLoader.h"

#include "platform/foundation/NSString.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NetworkConditions.h"

namespace platform::net {

namespace {

bool isHTTPScheme(const std::string& scheme) { return scheme == "http" || scheme == "https"; }

bool isFollowedRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The next hop's request: 301 and 302 turn a POST into a GET, 303 anything
// but HEAD; such a GET carries no body and no body fields.
Ref<NSURLRequest> redirectedRequest(const NSURLRequest& from, const Ref<NSURL>& target, int status) {
    auto next = from.mutableCopy();
    next->setURL(target);
    const std::string& method = from.HTTPMethod();
    if ((status == 303 && method != "HEAD") || ((status == 301 || status == 302) && method == "POST")) {
        next->setHTTPMethod("GET");
        next->setHTTPBody(std::nullopt);
        next->setValue(std::nullopt, "Content-Type");
        next->setValue(std::nullopt, "Content-Length");
    }
    return next;
}

LoadOutcome failure(int64_t code, const Ref<NSURL>& url) {
    LoadOutcome outcome;
    outcome.error = urlError(code, url);
    return outcome;
}

LoadOutcome loadFile(const Ref<NSURL>& url, LoadHooks& hooks) {
    auto data = NSData::dataWithContentsOfFile(url->path());
    if (!data) return failure(NSURLErrorFileDoesNotExist, url);
    LoadOutcome outcome;
    outcome.response = NSObject::alloc<NSURLResponse>()->initWithURL(url, "application/octet-stream",
                                                                       static_cast<int64_t>(data->length()), std::nullopt);
    hooks.didReceiveResponse(outcome.response);
    if (data->length() > 0) hooks.didReceiveData(reinterpret_cast<const char*>(data->bytes()), data->length());
    return outcome;
}

// One hop's callbacks: trust, redirect decision, response and data.
class HopLoader : public HopHandler {
public:
    HopLoader(Ref<NSURLRequest> request, int redirects, LoadHooks& hooks, CancelToken& token)
        : request_(std::move(request)), redirects_(redirects), hooks_(hooks), token_(token) {}

    bool onHead(int status, const HeaderList& fields) override {
        const Ref<NSURL>& url = request_->URL();
        if (NSString::lowercaseString(url->scheme()) == "https" &&
            !hooks_.acceptServerTrust(url->host(), url->port().value_or(443))) {
            error_ = NSURLErrorUserCancelledAuthentication;
            return false;
        }
        const std::string* location = findField(fields, "Location");
        if (isFollowedRedirect(status) && location) {
            auto target = NSURL::URLWithString(*location, url);
            if (target && !isHTTPScheme(NSString::lowercaseString(target->scheme()))) {
                error_ = NSURLErrorUnsupportedURL;
                errorURL_ = target;
                return false;
            }
            const auto& limit = request_->maximumRedirects();
            if (target && !limit && redirects_ >= NSURLRequestDefaultRedirectLimit) {
                error_ = NSURLErrorHTTPTooManyRedirects;
                return false;
            }
            if (target && (!limit || redirects_ < *limit)) {
                auto proposed = redirectedRequest(*request_, target, status);
                auto redirect = makeResponse(status, fields);
                next_ = hooks_.willSendRequest(proposed, redirect);
                if (next_ || token_.isCancelled()) return false;
            }
        }
        response_ = makeResponse(status, fields);
        hooks_.didReceiveResponse(response_);
        return true;
    }

    bool onData(const char* bytes, size_t length) override {
        hooks_.didReceiveData(bytes, length);
        return true;
    }

    Ref<NSURLResponse> makeResponse(int status, const HeaderList& fields) const {
        auto response = NSObject::alloc<NSHTTPURLResponse>()->initWithURL(request_->URL(), status, fields);
        response->setRedirectCount(redirects_);
        return response;
    }

    Ref<NSURLRequest> request_;
    int redirects_;
    LoadHooks& hooks_;
    CancelToken& token_;
    Ref<NSURLRequest> next_;   // the redirect being followed
    Ref<NSURLResponse> response_;
    int64_t error_ = 0;        // a failure decided by this side
    Ref<NSURL> errorURL_;
};

}  // namespace

LoadOutcome load(const NSURLRequest& initial, LoadHooks& hooks, CancelToken& token) {
    Ref<NSURLRequest> request = initial.copy();
    for (int redirects = 0;; ++redirects) {
        const Ref<NSURL>& url = request->URL();
        if (!url) return failure(NSURLErrorBadURL, nullptr);
        std::string scheme = NSString::lowercaseString(url->scheme());
        if (scheme == "file" && redirects == 0) return loadFile(url, hooks);
        if (!isHTTPScheme(scheme)) return failure(NSURLErrorUnsupportedURL, url);
        if (url->host().empty()) return failure(NSURLErrorBadURL, url);
        if (currentNetworkState() == NetworkState::None) return failure(NSURLErrorNotConnectedToInternet, url);
        if (token.isCancelled()) return LoadOutcome{nullptr, nullptr, true};

        Hop hop{url->absoluteString(), request->HTTPMethod(), request->headerFields(), request->HTTPBody(),
                request->timeoutInterval()};
        HopLoader loader(request, redirects, hooks, token);
        HopResult result = performHop(hop, loader, token);
        if (token.isCancelled()) return LoadOutcome{loader.response_, nullptr, true};
        if (loader.error_ != 0) return failure(loader.error_, loader.errorURL_ ? loader.errorURL_ : url);
        switch (result.end) {
            case HopResult::End::Complete: return LoadOutcome{loader.response_, nullptr, false};
            case HopResult::End::Failed: {
                LoadOutcome outcome = failure(result.errorCode, url);
                outcome.response = loader.response_;
                return outcome;
            }
            case HopResult::End::Cancelled: return LoadOutcome{loader.response_, nullptr, true};
            case HopResult::End::EndedByHandler: break;
        }
        if (!loader.next_) return failure(NSURLErrorUnknown, url);
        request = loader.next_;
    }
}

}  // namespace platform::net
