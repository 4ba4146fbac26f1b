// The common Trillium request: the device, application, network and session
// facts every ad-platform request carries, rendered as the base query with
// its fields in a fixed order. Subclasses name their placement.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/runtime/NSObject.h"

class TRABaseRequest : public NSObject {
public:
    Ref<TRABaseRequest> init() { return self<TRABaseRequest>(); }

    // Stores the application identifier as productId and the developer
    // identifier as publisherId, and reads the device, application and
    // network facts.
    virtual void fillApplicationDetails(const std::optional<std::string>& appId,
                                        const std::optional<std::string>& devId);
    // The base query ("publisherId=…&productId=…&…&adsDisplayed=…"); the
    // session fields are read now. Values go in as they are.
    virtual std::string getQueryString() const;

    const std::optional<std::string>& placement() const { return placement_; }
    void setPlacement(std::optional<std::string> placement) { placement_ = std::move(placement); }
    int64_t width() const { return width_; }
    void setWidth(int64_t width) { width_ = width; }
    int64_t height() const { return height_; }
    void setHeight(int64_t height) { height_ = height; }

    const std::string& productId() const { return productId_; }
    const std::string& publisherId() const { return publisherId_; }

protected:
    // The base query followed by "&placement=<placement>".
    std::string queryWithPlacement() const;

private:
    std::optional<std::string> placement_;
    int64_t width_ = 0;
    int64_t height_ = 0;

    std::string publisherId_, productId_, sdkId_, userId_, packageId_, manufacturer_, model_, deviceVersion_,
        appVersion_, appBuildVersion_, mcc_, mnc_, ispName_, grid_, ssid_, bssid_, orientation_;
    bool limitAdTracking_ = false;
    double density_ = 0;
};
