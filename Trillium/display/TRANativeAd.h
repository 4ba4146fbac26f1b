// The loader of one native ad load: a JSON ad list ("getads?", ad type 6)
// asked with a native request, whose answer's "adsDetails" becomes a model of
// records. With automatic images the load is reported after exactly two image
// completions per record (failures count); without, as soon as the records
// are built. An answer without an array of records, or whose elements are all
// unusable, reports finishLoadAdWithError: with no error object; elements
// that are not objects are skipped and logged. One loader per load: the
// public native ad drops it (detached) when the next load starts. Main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Trillium/TRAJsonAd.h"
#include "Trillium/display/TRANativeAdModel.h"
#include "platform/ui/CGGeometry.h"

class TRANativeAd : public TRAJsonAd, public TRANativeAdModelDelegateProtocol {
public:
    static constexpr int64_t kNativeAdType = 6;

    static Ref<TRANativeAd> alloc() { return NSObject::alloc<TRANativeAd>(); }
    Ref<TRANativeAd> initWithBitmap(bool autoBit);

    void setViewSize(CGSize size);
    // Given to the model's records when there is a model.
    void setAdTag(const std::optional<std::string>& tag);
    std::vector<Ref<TRANativeAdDetails>> getAdsDetails() const;
    void didReceiveJson(const Value& json) override;
    void didLoadImage() override;

    bool autoBit() const { return autoBit_; }
    const Ref<TRANativeAdModel>& nativeAdModel() const { return nativeAdModel_; }
    int32_t imagesLoadedNum() const { return imagesLoadedNum_; }

private:
    bool autoBit_ = false;
    Ref<TRANativeAdModel> nativeAdModel_;
    int32_t imagesLoadedNum_ = 0;
};
