#include "platform/net/URLLoader.h"

#include <sys/stat.h>

#include <cstdint>

#include "platform/foundation/NSString.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NetworkConditions.h"
#include "platform/runtime/Log.h"

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

void logOverCap(const Ref<NSURL>& url, int64_t cap, const std::string& what) {
    logError("URL load: the answer from " + (url ? urlForLog(url->absoluteString()) : std::string("(null)")) + " " +
             what + ", over the cap of " + std::to_string(cap) + " bytes; the load fails with -1103");
}

// The Content-Length of a head, saturated; nullopt when there is none or it is
// not a plain decimal number.
std::optional<uint64_t> announcedLength(const HeaderList& fields) {
    const std::string* field = findField(fields, "Content-Length");
    if (!field) return std::nullopt;
    std::string_view text = *field;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (value > (UINT64_MAX - 9) / 10) return UINT64_MAX;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

LoadOutcome loadFile(const Ref<NSURL>& url, int64_t cap, LoadHooks& hooks) {
    struct stat info {};
    if (cap >= 0 && ::stat(url->path().c_str(), &info) == 0 && info.st_size > cap) {
        logOverCap(url, cap, "is a file of " + std::to_string(info.st_size) + " bytes");
        return failure(NSURLErrorDataLengthExceedsMaximum, url);
    }
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
    HopLoader(Ref<NSURLRequest> request, int redirects, int64_t cap, LoadHooks& hooks, CancelToken& token)
        : request_(std::move(request)), redirects_(redirects), cap_(cap), hooks_(hooks), token_(token) {}

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
            const auto& limit = request_->maximumRedirects();
            if (target && !limit && redirects_ >= NSURLRequestDefaultRedirectLimit) {
                error_ = NSURLErrorHTTPTooManyRedirects;
                return false;
            }
            if (target && (!limit || redirects_ < *limit)) {
                // Offered whatever its scheme (a store link, an app's own
                // scheme): the hooks may take it, change it or refuse it.
                auto proposed = redirectedRequest(*request_, target, status);
                auto redirect = makeResponse(status, fields);
                next_ = hooks_.willSendRequest(proposed, redirect);
                if (token_.isCancelled()) return false;
                if (next_ && !next_->URL()) {
                    error_ = NSURLErrorBadURL;
                    next_ = nullptr;
                    return false;
                }
                if (next_ && !isHTTPScheme(NSString::lowercaseString(next_->URL()->scheme()))) {
                    error_ = NSURLErrorUnsupportedURL;
                    errorURL_ = next_->URL();
                    next_ = nullptr;
                    return false;
                }
                if (next_) return false;
            }
        }
        bool bodyless = request_->HTTPMethod() == "HEAD" || status == 204 || status == 304;
        auto announced = announcedLength(fields);
        if (cap_ >= 0 && !bodyless && announced && *announced > static_cast<uint64_t>(cap_)) {
            logOverCap(url, cap_, "announces " + std::to_string(*announced) + " bytes");
            // The answer's head is known and goes out, as for a body that
            // grows past the cap: the caller learns the status, never the body.
            response_ = makeResponse(status, fields);
            hooks_.didReceiveResponse(response_);
            error_ = NSURLErrorDataLengthExceedsMaximum;
            return false;
        }
        response_ = makeResponse(status, fields);
        hooks_.didReceiveResponse(response_);
        return true;
    }

    bool onData(const char* bytes, size_t length) override {
        if (cap_ >= 0 && received_ + length > static_cast<uint64_t>(cap_)) {
            // Deliver what still fits, never the excess.
            size_t fits = static_cast<size_t>(static_cast<uint64_t>(cap_) - received_);
            if (fits > 0) hooks_.didReceiveData(bytes, fits);
            logOverCap(request_->URL(), cap_, "grew past " + std::to_string(cap_) + " bytes");
            error_ = NSURLErrorDataLengthExceedsMaximum;
            return false;
        }
        received_ += length;
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
    int64_t cap_;             // body bytes allowed; negative: no cap
    uint64_t received_ = 0;   // body bytes delivered
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
    // The first request's budget and cap hold for the whole load, whatever
    // requests a delegate substitutes on the way.
    const int64_t cap = initial.maximumResponseLength();
    double budget = initial.totalTimeoutInterval();
    for (int redirects = 0;; ++redirects) {
        const Ref<NSURL>& url = request->URL();
        if (!url) return failure(NSURLErrorBadURL, nullptr);
        std::string scheme = NSString::lowercaseString(url->scheme());
        if (scheme == "file" && redirects == 0) return loadFile(url, cap, hooks);
        if (!isHTTPScheme(scheme)) return failure(NSURLErrorUnsupportedURL, url);
        if (url->host().empty()) return failure(NSURLErrorBadURL, url);
        if (currentNetworkState() == NetworkState::None) return failure(NSURLErrorNotConnectedToInternet, url);
        if (token.isCancelled()) return LoadOutcome{nullptr, nullptr, true};

        if (budget <= 0) return failure(NSURLErrorTimedOut, url);
        Hop hop{url->absoluteString(), request->HTTPMethod(), request->headerFields(), request->HTTPBody(),
                request->timeoutInterval(), budget};
        HopLoader loader(request, redirects, cap, hooks, token);
        HopResult result = performHop(hop, loader, token);
        budget -= result.spent;
        if (token.isCancelled()) return LoadOutcome{loader.response_, nullptr, true};
        if (loader.error_ != 0) {
            LoadOutcome outcome = failure(loader.error_, loader.errorURL_ ? loader.errorURL_ : url);
            outcome.response = loader.response_;
            return outcome;
        }
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
