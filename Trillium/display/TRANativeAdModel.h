// The records of one native ad answer: built from the answer's objects, in
// order, owned here (released with the model), given the application's tag,
// and relaying each image completion to the loader. Main thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Trillium/display/TRANativeAdDetails.h"

class TRANativeAdModel : public NSObject, public TRANativeAdDetailsDelegateProtocol {
public:
    static Ref<TRANativeAdModel> alloc() { return NSObject::alloc<TRANativeAdModel>(); }
    // Both held weakly; the listener (the loader) hears the image completions,
    // the in-app store delegate (the public native ad) a store sheet's close.
    Ref<TRANativeAdModel> initWithDelegate(const Ref<TRANativeAdModelDelegateProtocol>& listener,
                                           const Ref<TRAAdDelegate>& inAppStoreDelegate);
    ~TRANativeAdModel() override { reset(); }

    // Appends the record built from `item`; false (nothing added) when it is
    // not a JSON object.
    bool addItem(const Value& item);
    void loadAllImages();
    // Every record gets the tag, unless it is null.
    void setAdTag(const std::optional<std::string>& tag);
    const std::vector<Ref<TRANativeAdDetails>>& getAdsDetails() const { return adsDetails_; }
    void reset() { adsDetails_.clear(); }

    void didLoadImage() override;
    void didCloseInAppStore() override;

private:
    std::vector<Ref<TRANativeAdDetails>> adsDetails_;
    Weak<TRANativeAdModelDelegateProtocol> listener_;
    Weak<TRAAdDelegate> inAppStoreDelegate_;
};
