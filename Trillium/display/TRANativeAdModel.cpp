#include "Trillium/display/TRANativeAdModel.h"

Ref<TRANativeAdModel> TRANativeAdModel::initWithDelegate(const Ref<TRANativeAdModelDelegateProtocol>& listener,
                                                         const Ref<TRAAdDelegate>& inAppStoreDelegate) {
    listener_ = listener;
    inAppStoreDelegate_ = inAppStoreDelegate;
    return self<TRANativeAdModel>();
}

bool TRANativeAdModel::addItem(const Value& item) {
    auto record = TRANativeAdDetails::alloc()->initWithDictionary(item, self<TRANativeAdModel>(), inAppStoreDelegate_.lock());
    if (!record) return false;
    adsDetails_.push_back(record);
    return true;
}

void TRANativeAdModel::loadAllImages() {
    // A copy: a completion never runs inside this call, but a reset might.
    std::vector<Ref<TRANativeAdDetails>> records = adsDetails_;
    for (const auto& record : records) record->loadImage();
}

void TRANativeAdModel::setAdTag(const std::optional<std::string>& tag) {
    if (!tag) return;
    for (const auto& record : adsDetails_) record->setAdTag(tag);
}

void TRANativeAdModel::didLoadImage() {
    if (auto listener = listener_.lock()) listener->didLoadImage();
}

void TRANativeAdModel::didCloseInAppStore() {
    if (auto delegate = inAppStoreDelegate_.lock()) delegate->didCloseInAppStore();
}
