#include "halcyon/core/HLConnectionManager.h"

#include "halcyon/core/HLConnectionUtils.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/core/HLUtils.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/net/NSURLConnection.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"

namespace {
constexpr const char* kHLConnectionLogSource = "HLConnectionManager";
// Longest body text a log line carries, well within a line's own cap
// (platform::kLogLineLimit); a huge answer is cut there.
constexpr size_t kHLLoggedBodyLimit = 2048;
// The largest answer read: the client's answers are JSON objects and ad
// pages, far smaller; a larger one fails (-1103) before it is buffered.
constexpr int64_t kHLMaximumResponseLength = int64_t{8} << 20;

std::string hlBodyForLog(const NSData& body) {
    if (body.length() == 0) return "no data";
    // Only the start is copied and checked: an answer may run to megabytes.
    std::string shown = platform::shortenedForLog(
        std::string_view(reinterpret_cast<const char*>(body.bytes()), body.length()), kHLLoggedBodyLimit);
    if (!NSString::initWithData(NSData(shown.data(), shown.size())))
        return NSString::stringWithFormat("<%lu bytes that are not UTF-8>", body.length());
    return shown;
}
}  // namespace

bool HLConnectionManagerDelegate::connectionViaRequiresResponseForRequest(const Ref<HLConnectionManager>&,
                                                                          const Ref<platform::NSURLRequest>&) {
    return false;
}

bool HLConnectionManager::isFetchable(const Ref<NSURL>& url, const Ref<HLLogManager>& log, std::string_view logSource) {
    // No URL at all is left to the loader, which fails it without a read.
    if (!url) return true;
    const std::string scheme = NSString::lowercaseString(url->scheme());
    if (scheme == "http" || scheme == "https") return true;
    if (log)
        log->e(logSource, "Refused to fetch a \"%@\" URL: only http and https are fetched",
               platform::shortenedForLog(url->scheme()));
    return false;
}

Ref<HLConnectionManager> HLConnectionManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLConnectionManager>();
}

Ref<HLConnectionManager> HLConnectionManager::init() { return initWithSdk(HLSdk::shared()); }

Ref<HLLogManager> HLConnectionManager::logger() const {
    Ref<HLSdk> sdk = sdk_.lock();
    return sdk ? sdk->logManager() : nullptr;
}

double HLConnectionManager::defaultTimeoutForSdk(const Ref<HLSdk>& sdk) {
    if (!sdk) return 30.0;
    return HLUtils::timeInSecondsFromMilliseconds(sdk->numberForKey(kHLSlotHttpConnectionTimeout)).doubleValue();
}

void HLConnectionManager::get(const std::string& url) { get(url, nullptr); }
void HLConnectionManager::get(const std::string& url, const Ref<HLConnectionManagerDelegate>& delegate) {
    sendTo(url, "GET", delegate);
}
void HLConnectionManager::get(const std::string& url, double timeout, const Ref<HLConnectionManagerDelegate>& delegate) {
    sendTo(url, "GET", timeout, delegate);
}
void HLConnectionManager::put(const std::string& url, const Value& data) { put(url, data, nullptr); }
void HLConnectionManager::put(const std::string& url, const Value& data, const Ref<HLConnectionManagerDelegate>& delegate) {
    sendTo(url, "PUT", data, delegate);
}
void HLConnectionManager::post(const std::string& url, const Value& data) { post(url, data, nullptr); }
void HLConnectionManager::post(const std::string& url, const Value& data, const Ref<HLConnectionManagerDelegate>& delegate) {
    sendTo(url, "POST", data, delegate);
}

void HLConnectionManager::sendTo(const std::string& url, const std::string& method,
                                 const Ref<HLConnectionManagerDelegate>& delegate) {
    sendTo(url, method, defaultTimeoutForSdk(sdk_.lock()), delegate);
}

std::string HLConnectionManager::upgradedForSsl(const std::string& url, const Ref<HLSdk>& sdk,
                                                std::string_view logSource) {
    if (!sdk || !sdk->boolForKey(kHLSlotForceSsl) || NSString::containsString(url, "https://")) return url;
    if (const Ref<HLLogManager>& log = sdk->logManager())
        log->w(logSource, "Plaintext HTTP operation requested; upgrading to HTTPS due to universal SSL setting...");
    return NSString::stringByReplacingOccurrencesOfString(url, "http://", "https://");
}

void HLConnectionManager::sendTo(const std::string& url, const std::string& method, double timeout,
                                 const Ref<HLConnectionManagerDelegate>& delegate) {
    if (Ref<HLLogManager> log = logger())
        log->d(kHLConnectionLogSource, "Sending %@ request to %@.", method, platform::urlForLog(url));
    const std::string target = upgradedForSsl(url, sdk_.lock(), kHLConnectionLogSource);
    auto request =
        NSMutableURLRequest::requestWithURL(NSURL::URLWithString(target), NSURLRequestUseProtocolCachePolicy, timeout);
    request->setHTTPMethod(method);
    request->setMaximumResponseLength(kHLMaximumResponseLength);
    send(request, delegate);
}

void HLConnectionManager::sendTo(const std::string& url, const std::string& method, const Value& data,
                                 const Ref<HLConnectionManagerDelegate>& delegate) {
    if (url.empty()) NSException::raise(NSInvalidArgumentException, "No endpoint specified");
    if (data.isNull()) NSException::raise(NSInvalidArgumentException, "No data specified");
    if (method.empty()) NSException::raise(NSInvalidArgumentException, "No method specified");
    Ref<HLLogManager> log = logger();
    Ref<NSError> error;
    std::optional<NSData> json = NSJSONSerialization::dataWithJSONObject(data, NSJSONWritingPrettyPrinted, &error);
    if (!json) {
        if (log) log->e(kHLConnectionLogSource, "Unable to create JSON request: %@", error);
        // Told like any failure, so that the requester's failure path runs.
        if (delegate) delegate->connectionViaDidFailWith(self<HLConnectionManager>(), kBodyNotJSONError);
        return;
    }
    std::string text = NSString::initWithData(*json).value_or("");
    if (log)
        log->d(kHLConnectionLogSource, "Sending %@ request to %@. Request is: %@ ", method, platform::urlForLog(url),
               platform::shortenedForLog(text, kHLLoggedBodyLimit));
    const std::string target = upgradedForSsl(url, sdk_.lock(), kHLConnectionLogSource);
    auto request = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(target), NSURLRequestUseProtocolCachePolicy,
                                                       defaultTimeoutForSdk(sdk_.lock()));
    request->setHTTPMethod(method);
    request->setMaximumResponseLength(kHLMaximumResponseLength);
    request->setHTTPBody(*json);
    request->setValue(std::to_string(json->length()), "Content-Length");
    request->setValue("application/json", "Content-Type");
    send(request, delegate);
}

void HLConnectionManager::send(const Ref<NSURLRequest>& request, const Ref<HLConnectionManagerDelegate>& delegate) {
    if (!request) return;
    Ref<HLLogManager> log = logger();
    Ref<HLConnectionManager> self = this->self<HLConnectionManager>();
    const std::string url = request->URL() ? request->URL()->absoluteString() : std::string();
    const std::string& method = request->HTTPMethod();
    // Endpoints, postbacks and pixels come from the server: a "file" URL
    // would have the loader read a local file and log its bytes.
    if (!isFetchable(request->URL(), log, kHLConnectionLogSource)) {
        if (delegate) delegate->connectionViaDidFailWith(self, kRefusedSchemeError);
        return;
    }

    const double start = platform::Clock::current()->uptime();
    Ref<NSURLResponse> response;
    Ref<NSError> error;
    std::optional<NSData> body = NSURLConnection::sendSynchronousRequest(*request, &response, &error);
    const double seconds = platform::Clock::current()->uptime() - start;

    int64_t code;
    if (error) {
        code = error->code();
        if (log) log->w(kHLConnectionLogSource, "Encountered error during network request: %@", error);
    } else if (auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response)) {
        code = http->statusCode();
    } else {
        code = -1;
    }
    const NSData data = body.value_or(NSData());
    if (log)
        log->d(kHLConnectionLogSource, "%i received from \"%@\": %@ ", code, platform::urlForLog(url),
               hlBodyForLog(data));

    auto requiresResponse = [&](bool whenNotAsked) {
        if (!delegate || !delegate->respondsToSelector("connectionVia:requiresResponseForRequest:")) return whenNotAsked;
        return delegate->connectionViaRequiresResponseForRequest(self, request);
    };
    auto succeed = [&](int64_t c, const Value& result) {
        if (delegate) delegate->connectionViaDidSucceedWith(self, c, result);
    };
    auto fail = [&](int64_t c) {
        if (delegate) delegate->connectionViaDidFailWith(self, c);
    };
    const std::string network = HLConnectionUtils::networkType();

    if (code == 204) {
        fail(204);
    } else if (code >= 200 && code <= 299) {
        if (log)
            log->i(kHLConnectionLogSource, "Successful %@ returned %i in %f s over %@ to \"%@\"", method, code, seconds,
                   network, platform::urlForLog(url));
        if (data.length() == 0) {
            if (requiresResponse(false)) fail(-1);
            else succeed(code, Value::dictionary({}));
            return;
        }
        Ref<NSError> parseError;
        std::optional<Value> parsed = NSJSONSerialization::JSONObjectWithData(data, 0, &parseError);
        if (parsed && parsed->isDictionary()) {
            succeed(code, *parsed);
        } else if (!requiresResponse(true)) {
            succeed(code, Value::dictionary({}));
        } else {
            if (!parseError) parseError = NSError::errorWithDomain("HLConnectionManager", 0,
                                                                   Value::dictionary({{"NSLocalizedDescription",
                                                                                       "the answer is not a JSON object"}}));
            if (log)
                log->e(kHLConnectionLogSource, "Unable to parse response from \"%@\".. NSError: %@",
                       platform::urlForLog(url), parseError);
            fail(code);
        }
    } else if (code == NSURLErrorUnsupportedURL) {
        if (log) log->d(kHLConnectionLogSource, "Encountered an app scheme or non http/s URL.");
        succeed(code, Value::dictionary({}));
    } else if (code == NSURLErrorNotConnectedToInternet) {
        if (log) log->e(kHLConnectionLogSource, "Failed %@ because of no internet connection", method);
        fail(code);
    } else {
        if (log)
            log->e(kHLConnectionLogSource, "Failed %@ returned %i in %f s over %@ to \"%@\"", method, code, seconds,
                   network, platform::urlForLog(url));
        fail(code);
    }
}
