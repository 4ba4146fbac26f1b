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
    setWidth(platform::saturatingCast<int64_t>(std::round(size.width)));
    setHeight(platform::saturatingCast<int64_t>(std::round(size.height)));
}

std::string TRABannerAdRequest::getQueryString() const {
    return queryWithPlacement() +
           NSString::stringWithFormat("&adsNumber=%d", TRAMetadata::sharedMetadata()->getBannerAdsNumber());
}
