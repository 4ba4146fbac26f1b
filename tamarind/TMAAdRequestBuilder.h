// Builds the Tamarind ad request (see TMAWireContract.h): a POST of the JSON
// body to the configuration's ad server, with the web view's User-Agent, the
// options' time-out (10 s when unset), no cookies and the outcome on the main
// thread. Any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/NSError.h"
#include "tamarind/TMAWebRequest.h"
#include "tamarind/TamarindAdOptions.h"

inline constexpr const char* kTMAAdRequestBuilderErrorDomain = "TMAAdRequestBuilderError";

class TMAAdRequestBuilder : public NSObject {
public:
    static Ref<TMAAdRequestBuilder> adRequestBuilder() { return NSObject::alloc<TMAAdRequestBuilder>(); }

    // Null, with *error set (domain "TMAAdRequestBuilderError", code -1),
    // while the configuration lacks the ad server's host or path. `ad` is
    // the public ad object asking; the request does not depend on it.
    Ref<TMAWebRequest> adRequestWithOptions(const Ref<TamarindAdOptions>& options, const std::string& size,
                                            const std::optional<std::string>& containerSize, const Ref<NSObject>& ad,
                                            Ref<NSError>* error);

    // The JSON body of such a request.
    static std::string requestBody(const Ref<TamarindAdOptions>& options, const std::string& size,
                                   const std::optional<std::string>& containerSize);
};
