// The requests of the lifecycle placements: the first-launch report
// ("INAPP_DOWNLOAD"), the return ad ("INAPP_RETURN", event type 1) and the
// splash ad ("INAPP_SPLASH", event type 2). Each is the common request with
// its placement word as the last field of the query.
#pragma once

#include "Trillium/TRAPlacementRequest.h"

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
