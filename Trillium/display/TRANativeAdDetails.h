// One native ad record as the application shows it: texts, rating,
// category, two images, the policy links, and the record's impression (sent
// once) and click (reported by the two-click rule, then followed by the click
// follower, the in-app browser or the system). Also the two listener
// protocols of the native ad chain.
//
// A record is read from one JSON object of the answer's "adsDetails" (keys
// below). A field of the wrong kind, or a string over kMaximumFieldBytes,
// counts as missing and is logged; a record without its tracking URL sends no
// impression, one without its click URL no click. Image downloads complete on
// the main queue, each telling the listener once, decoded or not; a record
// released first tells nobody. Main thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "Trillium/TRAAd.h"
#include "Trillium/TRASmartRedirectWebViewDelegate.h"
#include "platform/foundation/Value.h"
#include "platform/ui/UIImage.h"

// What a record tells its model.
class TRANativeAdDetailsDelegateProtocol : public virtual NSObjectProtocol {
public:
    // One image download ended (twice per record).
    virtual void didLoadImage() {}
    virtual void didCloseInAppStore() {}
};

// What a model tells its loader.
class TRANativeAdModelDelegateProtocol : public virtual NSObjectProtocol {
public:
    virtual void didLoadImage() {}
};

class TRANativeAdDetails : public NSObject, public TRASmartRedirectWebViewDelegate {
public:
    // The longest string field taken from an answer.
    static constexpr size_t kMaximumFieldBytes = 16 * 1024;
    // The largest image body accepted.
    static constexpr int64_t kMaximumImageBytes = 2 * 1024 * 1024;
    static constexpr double kImageTimeout = 10.0;

    static Ref<TRANativeAdDetails> alloc() { return NSObject::alloc<TRANativeAdDetails>(); }
    // Null when `dictionary` is not a JSON object.
    Ref<TRANativeAdDetails> initWithDictionary(const Value& dictionary,
                                               const Ref<TRANativeAdDetailsDelegateProtocol>& listener,
                                               const Ref<TRAAdDelegate>& inAppStoreDelegate);

    // Sends the impression the first time it is called (with "&adTag=" and
    // the tag when there is one); later calls send nothing.
    void sendImpression();
    // The user tapped the record.
    void sendClick();

    // Downloads the primary, then the secondary image.
    void loadImage();
    void loadImageWithImageUrl(const std::optional<std::string>& url, bool primary);
    void setAdTag(const std::optional<std::string>& tag) { nativeAdTag_ = tag; }
    // The client bundle's "info_I.png"; nullopt when it is missing.
    static std::optional<std::string> getPolicyImagePath();

    // ---- click follower callbacks ----
    void didExitWebViewWithInAppBrowser(const std::optional<std::string>& url) override;
    void didFinishWithError(const Ref<NSError>&) override {}
    void allowAutoRotate() override {}
    void didCloseInAppStore() override;
    PLATFORM_RESPONDS_TO("didExitWebViewWithInAppBrowser:", "didFinishWithError:", "allowAutoRotate",
                         "didCloseInAppStore")

    // ---- the record ("key" in the answer) ----
    const std::optional<std::string>& title() const { return title_; }                  // "title"
    // "description" (also the object's description, "" when missing).
    const std::optional<std::string>& descriptionText() const { return description_; }
    std::string description() const override { return description_.value_or(""); }
    const std::optional<double>& rating() const { return rating_; }                     // "rating"
    const std::optional<std::string>& imageUrl() const { return imageUrl_; }            // "imageUrl"
    const std::optional<std::string>& secondaryImageUrl() const { return secondaryImageUrl_; }  // "secondaryImageUrl"
    // The downloaded images (a JSON answer carries none of its own).
    const Ref<UIImage>& imageBitmap() const { return imageBitmap_; }
    const Ref<UIImage>& secondaryImageBitmap() const { return secondaryImageBitmap_; }
    const std::optional<std::string>& category() const { return category_; }            // "category"
    const std::optional<std::string>& clickUrl() const { return clickUrl_; }            // "clickUrl"
    const std::optional<std::string>& trackingUrl() const { return trackingUrl_; }      // "trackingUrl"
    const std::optional<std::string>& clickTrackingUrl() const { return clickTrackingUrl_; }  // "trackingClickUrl"
    const std::optional<std::string>& adId() const { return adId_; }                    // "adId"
    bool isAppPresenece() const { return isAppPresenece_; }                             // "isAppPresenece"
    bool smartRedirect() const { return smartRedirect_; }                               // "smartRedirect"
    bool trilliumBrowserEnabled() const { return trilliumBrowserEnabled_; }             // "trilliumBrowserEnabled"
    // "Install" or "Open", from "app" and "packageName".
    const std::string& clickToInstall() const { return clickToInstall_; }
    const std::string& eulaUrl() const { return eulaUrl_; }
    const std::string& policyImageUrl() const { return policyImageUrl_; }
    const std::optional<std::string>& policyImagePath() const { return policyImagePath_; }
    bool sentImpression() const { return sentImpression_; }
    const std::optional<std::string>& nativeAdTag() const { return nativeAdTag_; }
    Ref<TRANativeAdDetailsDelegateProtocol> listener() const { return listener_.lock(); }
    Ref<TRAAdDelegate> inAppStoreDelegate() const { return inAppStoreDelegate_.lock(); }

private:
    void imageLoaded(bool primary, const std::optional<NSData>& data, const Ref<NSError>& error);

    std::optional<std::string> title_, description_;
    std::optional<double> rating_;
    std::optional<std::string> imageUrl_, secondaryImageUrl_;
    Ref<UIImage> imageBitmap_, secondaryImageBitmap_;
    std::optional<std::string> category_, clickUrl_, trackingUrl_, clickTrackingUrl_, adId_;
    bool isAppPresenece_ = false;
    bool smartRedirect_ = false;
    bool trilliumBrowserEnabled_ = false;
    std::string clickToInstall_;
    std::string eulaUrl_, policyImageUrl_;
    std::optional<std::string> policyImagePath_;
    bool sentImpression_ = false;
    std::optional<std::string> nativeAdTag_;
    Weak<TRANativeAdDetailsDelegateProtocol> listener_;
    Weak<TRAAdDelegate> inAppStoreDelegate_;
};
