#include "Trillium/TRAOverlayAdRequest.h"

void TRAOverlayAdRequest::fillApplicationDetails(const std::optional<std::string>& appId,
                                                 const std::optional<std::string>& devId) {
    TRABaseRequest::fillApplicationDetails(appId, devId);
    setPlacement("INAPP_OVERLAY");
}
