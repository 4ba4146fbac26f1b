// The requests of the full-screen placements: the common request with its
// placement word as the last field of the query. TRAOverlayAdRequest
// ("INAPP_OVERLAY", event type 0) lives here; the lifecycle placements (first
// launch, return ad, splash) are the display side's, built the same way.
#pragma once

#include <optional>
#include <string>

#include "Trillium/TRABaseRequest.h"

// What every placement request shares: the placement is set with the
// application details.
class TRAFixedPlacementRequest : public TRABaseRequest {
public:
    // The common fields, then the class's placement word.
    void fillApplicationDetails(const std::optional<std::string>& appId,
                                const std::optional<std::string>& devId) override;
    // The base query followed by "&placement=%@".
    std::string getQueryString() const override { return queryWithPlacement(); }

protected:
    virtual const char* placementWord() const = 0;
};

// Each class names its placement word (Self::kPlacement); the rest is shared.
template <class Self>
class TRAPlacementRequest : public TRAFixedPlacementRequest {
public:
    Ref<Self> init() { return self<Self>(); }

protected:
    const char* placementWord() const override { return Self::kPlacement; }
};

// The request of an ordinary full-screen ad (event type 0).
class TRAOverlayAdRequest : public TRAPlacementRequest<TRAOverlayAdRequest> {
public:
    static constexpr const char* kPlacement = "INAPP_OVERLAY";
};
