// Internal to the net module: one load from request to outcome, following
// redirects hop by hop, shared by the three loading forms. The forms differ
// only in their hooks.
#pragma once

#include <string>

#include "platform/foundation/NSError.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/NSURLResponse.h"
#include "platform/net/Transport.h"

namespace platform::net {

class LoadHooks {
public:
    virtual ~LoadHooks() = default;
    // A redirect about to be followed: the request to send instead, or null
    // to take the redirect response as the final answer. May block.
    virtual Ref<NSURLRequest> willSendRequest(Ref<NSURLRequest> proposed, Ref<NSURLResponse> redirectResponse) {
        (void)redirectResponse;
        return proposed;
    }
    // An https hop passed certificate verification: false cancels the
    // challenge (-1012). May block.
    virtual bool acceptServerTrust(const std::string& host, int port) {
        (void)host;
        (void)port;
        return true;
    }
    virtual void didReceiveResponse(const Ref<NSURLResponse>& response) { (void)response; }
    virtual void didReceiveData(const char* bytes, size_t length) = 0;
};

struct LoadOutcome {
    Ref<NSURLResponse> response;  // the final answer's, when one arrived
    Ref<NSError> error;           // set on failure
    bool cancelled = false;       // ended by the token (no error then)
};

// Runs on the calling thread until the load ends.
LoadOutcome load(const NSURLRequest& request, LoadHooks& hooks, CancelToken& token);

}  // namespace platform::net
