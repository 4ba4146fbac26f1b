// URL-loading error codes (NSURLErrorDomain) and the errors the loaders report.
#pragma once

#include <string>

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSURL.h"

namespace platform {

enum : int64_t {
    NSURLErrorUnknown = -1,
    NSURLErrorCancelled = -999,
    NSURLErrorBadURL = -1000,
    NSURLErrorTimedOut = -1001,
    NSURLErrorUnsupportedURL = -1002,
    NSURLErrorCannotFindHost = -1003,
    NSURLErrorCannotConnectToHost = -1004,
    NSURLErrorNetworkConnectionLost = -1005,
    NSURLErrorHTTPTooManyRedirects = -1007,
    NSURLErrorNotConnectedToInternet = -1009,
    NSURLErrorBadServerResponse = -1011,
    NSURLErrorUserCancelledAuthentication = -1012,
    NSURLErrorUserAuthenticationRequired = -1013,
    NSURLErrorFileDoesNotExist = -1100,
    // The answer's body is larger than the request's cap (NSURLRequest::maximumResponseLength).
    NSURLErrorDataLengthExceedsMaximum = -1103,
    NSURLErrorSecureConnectionFailed = -1200,
    // Certificate checks (never switched off): expired, untrusted (a name
    // that does not match included), issued by no trusted authority (self-
    // signed included), not valid yet.
    NSURLErrorServerCertificateHasBadDate = -1201,
    NSURLErrorServerCertificateUntrusted = -1202,
    NSURLErrorServerCertificateHasUnknownRoot = -1203,
    NSURLErrorServerCertificateNotYetValid = -1204,
};

namespace net {

// An NSURLErrorDomain error with NSLocalizedDescriptionKey and, when a URL is
// known, NSErrorFailingURLKey (the NSURL) and NSErrorFailingURLStringKey.
Ref<NSError> urlError(int64_t code, const Ref<NSURL>& failingURL);
// For text that did not parse as a URL: only the string key.
Ref<NSError> urlError(int64_t code, const std::string& failingURLString);

}  // namespace net

}  // namespace platform

using platform::NSURLErrorBadServerResponse;
using platform::NSURLErrorBadURL;
using platform::NSURLErrorCancelled;
using platform::NSURLErrorCannotConnectToHost;
using platform::NSURLErrorCannotFindHost;
using platform::NSURLErrorDataLengthExceedsMaximum;
using platform::NSURLErrorFileDoesNotExist;
using platform::NSURLErrorHTTPTooManyRedirects;
using platform::NSURLErrorNetworkConnectionLost;
using platform::NSURLErrorNotConnectedToInternet;
using platform::NSURLErrorSecureConnectionFailed;
using platform::NSURLErrorServerCertificateHasBadDate;
using platform::NSURLErrorServerCertificateHasUnknownRoot;
using platform::NSURLErrorServerCertificateNotYetValid;
using platform::NSURLErrorServerCertificateUntrusted;
using platform::NSURLErrorTimedOut;
using platform::NSURLErrorUnknown;
using platform::NSURLErrorUnsupportedURL;
using platform::NSURLErrorUserAuthenticationRequired;
using platform::NSURLErrorUserCancelledAuthentication;
