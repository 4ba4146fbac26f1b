#include "Trillium/display/TRANativeAdRequest.h"

#include <cmath>

#include "platform/runtime/SaturatingCast.h"

namespace {

int64_t TRANativeRequestSide(float side) {
    return std::isfinite(side) ? platform::saturatingCast<int64_t>(std::round(side)) : 0;
}

}  // namespace

void TRANativeAdRequest::fillApplicationDetails(const std::optional<std::string>& appId,
                                                const std::optional<std::string>& devId) {
    TRABaseRequest::fillApplicationDetails(appId, devId);
    setPlacement(std::string(kPlacement));
    if (!viewSize_) return;
    setWidth(TRANativeRequestSide(viewSize_->width));
    setHeight(TRANativeRequestSide(viewSize_->height));
}
