// The requests of the lifecycle placements: the first-launch report
// ("INAPP_DOWNLOAD"), the return ad ("INAPP_RETURN", event type 1) and the
// splash ad ("INAPP_SPLASH", event type 2). Each is the common request with
// its placement word as the last field of the query.
#pragma once

#include <optional>
#include <string>

#include "Trillium/TRABaseRequest.h"

// What the three share: the placement is set with the application details.
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

// Each class names its placement word; the rest is shared.
template <class Self>
class TRAPlacementRequest : public TRAFixedPlacementRequest {
public:
    Ref<Self> init() { return self<Self>(); }

protected:
    const char* placementWord() const override { return Self::kPlacement; }
};

class TRAFirstDownloadRequest : public TRAPlacementRequest<TRAFirstDownloadRequest> {
public:
    static constexpr const char* kPlacement = "INAPP_DOWNLOAD";
};

class TRAReturnAdRequest : public TRAPlacementRequest<TRAReturnAdRequest> {
public:
    static constexpr const char* kPlacement = "INAPP_RETURN";
};

class TRASplashAdRequest : public TRAPlacementRequest<TRASplashAdRequest> {
public:
    static constexpr const char* kPlacement = "INAPP_SPLASH";
};
