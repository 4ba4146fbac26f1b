#include "Trillium/TRABannerAdRequest.h"

#include <cmath>

#include "Trillium/TRAMetadata.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/SaturatingCast.h"

Ref<TRABannerAdRequest> TRABannerAdRequest::init() {
    TRABaseRequest::init();
    setPlacement("INAPP_BANNER");
    return self<TRABannerAdRequest>();
}

void TRABannerAdRequest::setViewSize(CGSize size) {
    viewSize_ = size;
    setWidth(platform::saturatingCast<int64_t>(std::round(size.width)));
    setHeight(platform::saturatingCast<int64_t>(std::round(size.height)));
}

void TRABannerAdRequest::fillApplicationDetails(const std::optional<std::string>& appId,
                                                const std::optional<std::string>& devId) {
    TRABaseRequest::fillApplicationDetails(appId, devId);
    // The fill reads the screen's size; the server fills the banner's.
    if (viewSize_) setViewSize(*viewSize_);
}

std::string TRABannerAdRequest::getQueryString() const {
    return queryWithPlacement() +
           NSString::stringWithFormat("&adsNumber=%d", TRAMetadata::sharedMetadata()->getBannerAdsNumber());
}
