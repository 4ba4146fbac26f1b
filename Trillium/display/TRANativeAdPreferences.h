// What a publisher asks of a native ad load (the public options): images
// downloaded before the load is reported, content ads, how many ads, and the
// image sizes; with the location of TRAAdPreferences. The native ad object
// turns them into request fields.
#pragma once

#include <cstdint>

#include "Trillium/TRAAdPreferences.h"

class TRANativeAdPreferences : public TRAAdPreferences {
public:
    static Ref<TRANativeAdPreferences> alloc() { return NSObject::alloc<TRANativeAdPreferences>(); }
    Ref<TRANativeAdPreferences> init() { return self<TRANativeAdPreferences>(); }

    // Both images of every record are downloaded before the load is reported (true).
    bool autoBitmapDownload() const { return autoBitmapDownload_; }
    void setAutoBitmapDownload(bool v) { autoBitmapDownload_ = v; }
    // Sent as "contentAd" (false).
    bool contentAd() const { return contentAd_; }
    void setContentAd(bool v) { contentAd_ = v; }
    // Sent as "adsNumber" (1).
    int32_t adsNumber() const { return adsNumber_; }
    void setAdsNumber(int32_t v) { adsNumber_ = v; }
    // Image size class 0–3 (72, 100, 150, 340 points square; another value
    // 72); -1 none.
    int32_t bitmapSize() const { return bitmapSize_; }
    void setBitmapSize(int32_t v) { bitmapSize_ = v; }
    // Sent as "primaryImg" and "moreImg"; -1 none.
    int32_t primaryImageSize() const { return primaryImageSize_; }
    void setPrimaryImageSize(int32_t v) { primaryImageSize_ = v; }
    int32_t secondaryImageSize() const { return secondaryImageSize_; }
    void setSecondaryImageSize(int32_t v) { secondaryImageSize_ = v; }

private:
    bool autoBitmapDownload_ = true;
    bool contentAd_ = false;
    int32_t adsNumber_ = 1;
    int32_t bitmapSize_ = -1;
    int32_t primaryImageSize_ = -1;
    int32_t secondaryImageSize_ = -1;
};
