// The banner's request: placement "INAPP_BANNER", the banner's size as the
// width and height sent, and the configuration's banner ad count.
#pragma once

#include "Trillium/TRABaseRequest.h"
#include "platform/ui/CGGeometry.h"

class TRABannerAdRequest : public TRABaseRequest {
public:
    Ref<TRABannerAdRequest> init();
    // Width and height to the nearest whole number (halves away from zero).
    void setViewSize(CGSize size);
    // The base query, "&placement=%@" and "&adsNumber=%d".
    std::string getQueryString() const override;
};
