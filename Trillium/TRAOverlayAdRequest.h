// The request of an ordinary full-screen ad (event type 0): placement
// "INAPP_OVERLAY", the last field of its query.
#pragma once

#include "Trillium/TRABaseRequest.h"

class TRAOverlayAdRequest : public TRABaseRequest {
public:
    Ref<TRAOverlayAdRequest> init() { return self<TRAOverlayAdRequest>(); }
    void fillApplicationDetails(const std::optional<std::string>& appId,
                                const std::optional<std::string>& devId) override;
    // The base query followed by "&placement=%@".
    std::string getQueryString() const override { return queryWithPlacement(); }
};
