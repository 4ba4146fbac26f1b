#include "Trillium/display/TRANativeAd.h"

#include "Trillium/TRALog.h"
#include "Trillium/display/TRANativeAdRequest.h"

Ref<TRANativeAd> TRANativeAd::initWithBitmap(bool autoBit) {
    TRAJsonAd::init();
    setAdRequest(TRANativeAdRequest::alloc()->init());
    setAdType(kNativeAdType);
    autoBit_ = autoBit;
    return self<TRANativeAd>();
}

void TRANativeAd::setViewSize(CGSize size) {
    if (auto request = std::dynamic_pointer_cast<TRANativeAdRequest>(adRequest())) request->setViewSize(size);
}

void TRANativeAd::setAdTag(const std::optional<std::string>& tag) {
    if (nativeAdModel_) nativeAdModel_->setAdTag(tag);
}

std::vector<Ref<TRANativeAdDetails>> TRANativeAd::getAdsDetails() const {
    return nativeAdModel_ ? nativeAdModel_->getAdsDetails() : std::vector<Ref<TRANativeAdDetails>>();
}

void TRANativeAd::didReceiveJson(const Value& json) {
    nativeAdModel_ = TRANativeAdModel::alloc()->initWithDelegate(
        autoBit_ ? self<TRANativeAdModelDelegateProtocol>() : nullptr, adLoadDelegate());
    const Value& list = json["adsDetails"];
    if (!list.isNull() && !list.isArray()) TRALog::error("Native ad answer: \"adsDetails\" is not an array; no ads.");
    if (list.isArray()) {
        size_t index = 0;
        for (const Value& item : *list.array()) {
            if (!nativeAdModel_->addItem(item))
                TRALog::errorf("Native ad answer: record %lu is not an object; it is skipped.", index);
            ++index;
        }
    }
    if (nativeAdModel_->getAdsDetails().empty()) {
        reportFailure(Ref<NSError>());
        return;
    }
    if (!autoBit_) {
        reportLoaded();
        return;
    }
    imagesLoadedNum_ = 0;
    nativeAdModel_->loadAllImages();
}

void TRANativeAd::didLoadImage() {
    ++imagesLoadedNum_;
    if (nativeAdModel_ && static_cast<size_t>(imagesLoadedNum_) == 2 * nativeAdModel_->getAdsDetails().size())
        reportLoaded();
}
