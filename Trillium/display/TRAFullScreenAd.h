// The full-screen HTML ad that the ad cache loads for the full-screen ad
// types: it takes its ad type and picks its request by event type (0 ordinary,
// 1 return ad, 2 splash). Everything else is the HTML ad's.
#pragma once

#include <cstdint>

#include "Trillium/TRAHtmlAd.h"

class TRAFullScreenAd : public TRAHtmlAd {
public:
    // Any other event type leaves the ad without a request: its load then
    // fails at once with "Internal error".
    Ref<TRAFullScreenAd> initWithAdType(int64_t adType, int64_t eventType);
};
