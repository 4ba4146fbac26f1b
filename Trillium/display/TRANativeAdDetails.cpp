#include "Trillium/display/TRANativeAdDetails.h"

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/display/TRASmartRedirectWebView.h"
#include "platform/net/NSURLConnection.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIWindow.h"

namespace {

// Reload ignoring local and remote cache data (stored only: there is no cache).
constexpr auto kTRANativeImageCachePolicy = static_cast<NSURLRequestCachePolicy>(4);

void TRANativeFieldRefused(const char* key, const char* why) {
    TRALog::errorf("Native ad record: \"%@\" %@; it is treated as missing.", key, why);
}

std::optional<std::string> TRANativeString(const Value& record, const char* key) {
    const Value& value = record[key];
    if (value.isNull()) return std::nullopt;
    if (!value.isString()) {
        TRANativeFieldRefused(key, "is not a string");
        return std::nullopt;
    }
    if (value.string()->size() > TRANativeAdDetails::kMaximumFieldBytes) {
        TRANativeFieldRefused(key, "is too long");
        return std::nullopt;
    }
    return *value.string();
}

std::optional<double> TRANativeNumber(const Value& record, const char* key) {
    const Value& value = record[key];
    if (value.isNull()) return std::nullopt;
    if (!value.isInteger() && !value.isDouble()) {
        TRANativeFieldRefused(key, "is not a number");
        return std::nullopt;
    }
    return value.doubleValue();
}

// A boolean or a number (non-zero is true); anything else is false.
bool TRANativeFlag(const Value& record, const char* key) {
    const Value& value = record[key];
    if (value.isNull()) return false;
    if (!value.isNumber()) {
        TRANativeFieldRefused(key, "is not a boolean");
        return false;
    }
    return value.boolValue();
}

// "Open" or "Install": a null "app" decides by "packageName" (null or ""
// opens, anything else, a missing one too, installs); otherwise "app" as a flag.
std::string TRANativeClickToInstall(const Value& record) {
    const ValueDictionary* entries = record.dictionary();
    const Value* app = entries ? entries->find("app") : nullptr;
    if (app && app->isNull()) {
        const Value* package = entries->find("packageName");
        if (package && (package->isNull() || (package->isString() && package->string()->empty()))) return "Open";
        return "Install";
    }
    return TRANativeFlag(record, "app") ? "Install" : "Open";
}

}  // namespace

Ref<TRANativeAdDetails> TRANativeAdDetails::initWithDictionary(const Value& dictionary,
                                                               const Ref<TRANativeAdDetailsDelegateProtocol>& listener,
                                                               const Ref<TRAAdDelegate>& inAppStoreDelegate) {
    if (!dictionary.isDictionary()) return nullptr;
    title_ = TRANativeString(dictionary, "title");
    description_ = TRANativeString(dictionary, "description");
    rating_ = TRANativeNumber(dictionary, "rating");
    imageUrl_ = TRANativeString(dictionary, "imageUrl");
    secondaryImageUrl_ = TRANativeString(dictionary, "secondaryImageUrl");
    category_ = TRANativeString(dictionary, "category");
    clickUrl_ = TRANativeString(dictionary, "clickUrl");
    trackingUrl_ = TRANativeString(dictionary, "trackingUrl");
    clickTrackingUrl_ = TRANativeString(dictionary, "trackingClickUrl");
    adId_ = TRANativeString(dictionary, "adId");
    isAppPresenece_ = TRANativeFlag(dictionary, "isAppPresenece");
    smartRedirect_ = TRANativeFlag(dictionary, "smartRedirect");
    trilliumBrowserEnabled_ = TRANativeFlag(dictionary, "trilliumBrowserEnabled");
    clickToInstall_ = TRANativeClickToInstall(dictionary);
    auto metadata = TRAMetadata::sharedMetadata();
    eulaUrl_ = metadata->getEulaUrl();
    policyImageUrl_ = metadata->getPolicyImageUrl();
    policyImagePath_ = getPolicyImagePath();
    listener_ = listener;
    inAppStoreDelegate_ = inAppStoreDelegate;
    return self<TRANativeAdDetails>();
}

std::optional<std::string> TRANativeAdDetails::getPolicyImagePath() {
    auto bundle = TRAAdSDKUtils::frameworkBundle();
    return bundle ? bundle->pathForResource("info_I", "png") : std::nullopt;
}

// ---- images ---------------------------------------------------------------------------------------------------

void TRANativeAdDetails::loadImage() {
    loadImageWithImageUrl(imageUrl_, true);
    loadImageWithImageUrl(secondaryImageUrl_, false);
}

void TRANativeAdDetails::loadImageWithImageUrl(const std::optional<std::string>& url, bool primary) {
    // A missing or unparsable URL still completes (with an error), so every
    // record counts its two completions.
    auto request = NSMutableURLRequest::requestWithURL(url ? NSURL::URLWithString(*url) : nullptr,
                                                       kTRANativeImageCachePolicy, kImageTimeout);
    request->setHTTPMethod("GET");
    request->setValue("charset=utf-8", "Content-Type");
    request->setMaximumResponseLength(kMaximumImageBytes);
    Weak<TRANativeAdDetails> weak = self<TRANativeAdDetails>();
    NSURLConnection::sendAsynchronousRequest(
        *request, NSOperationQueue::mainQueue(),
        [weak, primary](Ref<NSURLResponse>, std::optional<NSData> data, Ref<NSError> error) {
            if (auto record = weak.lock()) record->imageLoaded(primary, data, error);
        });
}

void TRANativeAdDetails::imageLoaded(bool primary, const std::optional<NSData>& data, const Ref<NSError>& error) {
    if (!error && data) {
        if (Ref<UIImage> image = UIImage::imageWithData(*data)) (primary ? imageBitmap_ : secondaryImageBitmap_) = image;
        else
            TRALog::errorf("Native ad image is not a picture: %@",
                           platform::urlForLog((primary ? imageUrl_ : secondaryImageUrl_).value_or("(null)")));
    }
    if (auto listener = this->listener()) listener->didLoadImage();
}

// ---- impression and click ------------------------------------------------------------------------------------------

void TRANativeAdDetails::sendImpression() {
    if (sentImpression_) return;
    if (!trackingUrl_ || trackingUrl_->empty()) {
        TRALog::error("Native ad record without a tracking URL: no impression is sent.");
        return;
    }
    if (nativeAdTag_ && !nativeAdTag_->empty())
        trackingUrl_ = NSString::stringWithFormat("%@&adTag=%@", *trackingUrl_, *nativeAdTag_);
    sentImpression_ = true;
    TRAAdSDKUtils::sendImpression(trackingUrl_);
}

void TRANativeAdDetails::sendClick() {
    if (!clickUrl_ || clickUrl_->empty()) {
        TRALog::error("Native ad record without a click URL: the click goes nowhere.");
        return;
    }
    std::string target, dSource;
    if (TRAMetadata::sharedMetadata()->isDisableTwoClicks()) {
        target = NSString::stringWithFormat("%@%@", *clickUrl_, TRAAdSDKUtils::authHashURLNonRequestWithURL(*clickUrl_));
        dSource = *clickUrl_;
    } else {
        dSource = clickTrackingUrl_.value_or("");
        TRAAdSDKUtils::sendClick(clickTrackingUrl_);
        target = *clickUrl_;
    }
    Ref<NSURL> url = NSURL::URLWithString(target);
    if (!url) {
        TRALog::errorf("Native ad click URL does not parse; nothing is opened: %@", platform::urlForLog(target));
        return;
    }
    auto self = this->self<TRANativeAdDetails>();
    if (smartRedirect_) {
        TRASmartRedirectWebView::startSmartRedirect(*NSURLRequest::requestWithURL(url),
                                                    UIApplication::sharedApplication()->keyWindow(), self, self, false,
                                                    TRAAdSDKUtils::getDParamsFromHtml(dSource), trilliumBrowserEnabled_);
        return;
    }
    if (TRAMetadata::sharedMetadata()->isTrilliumBrowserEnabled() && trilliumBrowserEnabled_) {
        TRAAdSDKUtils::openInAppBrowserWithURL(url->absoluteString(), self);
        return;
    }
    auto application = UIApplication::sharedApplication();
    if (application->canOpenURL(url)) application->openURL(url);
}

void TRANativeAdDetails::didExitWebViewWithInAppBrowser(const std::optional<std::string>& url) {
    if (url) TRAAdSDKUtils::openInAppBrowserWithURL(*url, self<TRANativeAdDetails>());
}

void TRANativeAdDetails::didCloseInAppStore() {
    if (auto delegate = inAppStoreDelegate()) delegate->didCloseInAppStore();
}
