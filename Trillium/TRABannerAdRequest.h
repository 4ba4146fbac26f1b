// The banner's request: placement "INAPP_BANNER", the banner's size as the
// width and height sent, and the configuration's banner ad count.
#pragma once

#include <optional>

#include "Trillium/TRABaseRequest.h"
#include "platform/ui/CGGeometry.h"

class TRABannerAdRequest : public TRABaseRequest {
public:
    Ref<TRABannerAdRequest> init();
    // Width and height to the nearest whole number (halves away from zero);
    // they are what the request sends, before or after the fill.
    void setViewSize(CGSize size);
    // The common fields; the banner's size stays the one set, not the screen's.
    void fillApplicationDetails(const std::optional<std::string>& appId,
                                const std::optional<std::string>& devId) override;
    // The base query, "&placement=%@" and "&adsNumber=%d".
    std::string getQueryString() const override;

private:
    std::optional<CGSize> viewSize_;
};
