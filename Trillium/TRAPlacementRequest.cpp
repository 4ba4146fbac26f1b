#include "Trillium/TRAPlacementRequest.h"

void TRAFixedPlacementRequest::fillApplicationDetails(const std::optional<std::string>& appId,
                                                      const std::optional<std::string>& devId) {
    TRABaseRequest::fillApplicationDetails(appId, devId);
    setPlacement(std::string(placementWord()));
}
