// The client's HTTP request maker: a GET request with a 10 s time-out (and
// the platform's total time-out), an answer of at most 2 MiB (a longer one
// fails with NSURLErrorDataLengthExceedsMaximum before it is buffered), the
// "Content-Type: charset=utf-8" header and the web view's User-Agent; and its
// asynchronous send with the answer on the main queue.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "platform/foundation/NSData.h"
#include "platform/foundation/NSError.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/NSURLResponse.h"

class TRATransportHttp : public NSObject {
public:
    static constexpr double kTimeout = 10.0;

    // A request for the URL text. Characters that cannot stand in a URL
    // (spaces, quotes, non-ASCII …) are escaped first; "%" sequences stay.
    // Text that still is no URL gives a request without URL, whose load
    // fails with NSURLErrorBadURL.
    static Ref<NSMutableURLRequest> createRequest(std::string_view urlText);

    // The HTTP response (null for another kind), the body or the error.
    using Completion = std::function<void(Ref<NSHTTPURLResponse>, std::optional<NSData>, Ref<NSError>)>;
    // Sends createRequest's request; the completion runs on the main queue,
    // always after this call returned.
    static void sendAsynchronousRequest(std::string_view urlText, Completion completion);
};
