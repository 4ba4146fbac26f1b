#include "platform/net/NSURLError.h"

namespace platform::net {

namespace {

const char* describe(int64_t code) {
    switch (code) {
        case NSURLErrorCancelled: return "cancelled";
        case NSURLErrorBadURL: return "bad URL";
        case NSURLErrorTimedOut: return "The request timed out.";
        case NSURLErrorUnsupportedURL: return "unsupported URL";
        case NSURLErrorCannotFindHost: return "A server with the specified hostname could not be found.";
        case NSURLErrorCannotConnectToHost: return "Could not connect to the server.";
        case NSURLErrorNetworkConnectionLost: return "The network connection was lost.";
        case NSURLErrorHTTPTooManyRedirects: return "too many HTTP redirects";
        case NSURLErrorNotConnectedToInternet: return "The Internet connection appears to be offline.";
        case NSURLErrorBadServerResponse: return "The server returned a bad response.";
        case NSURLErrorUserCancelledAuthentication: return "The authentication was cancelled.";
        case NSURLErrorFileDoesNotExist: return "The requested URL was not found on this server.";
        case NSURLErrorDataLengthExceedsMaximum: return "The resource exceeds the maximum size.";
        case NSURLErrorSecureConnectionFailed:
            return "An SSL error has occurred and a secure connection to the server cannot be made.";
        case NSURLErrorServerCertificateUntrusted: return "The certificate for this server is invalid.";
        case NSURLErrorServerCertificateHasBadDate: return "The certificate for this server has expired.";
        case NSURLErrorServerCertificateHasUnknownRoot:
            return "The certificate for this server was signed by an unknown certifying authority.";
        case NSURLErrorServerCertificateNotYetValid: return "The certificate for this server is not yet valid.";
        default: return "An unknown error occurred.";
    }
}

}  // namespace

Ref<NSError> urlError(int64_t code, const Ref<NSURL>& failingURL) {
    Value info = Value::dictionary({{NSLocalizedDescriptionKey, describe(code)}});
    if (failingURL) {
        info.set(NSErrorFailingURLKey, failingURL);
        info.set(NSErrorFailingURLStringKey, failingURL->absoluteString());
    }
    return NSError::errorWithDomain(NSURLErrorDomain, code, std::move(info));
}

Ref<NSError> urlError(int64_t code, const std::string& failingURLString) {
    Value info = Value::dictionary({{NSLocalizedDescriptionKey, describe(code)},
                                    {NSErrorFailingURLStringKey, failingURLString}});
    return NSError::errorWithDomain(NSURLErrorDomain, code, std::move(info));
}

}  // namespace platform::net
