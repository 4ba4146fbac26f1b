#include "halcyon/core/HLNativeAd.h"

#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLUtils.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"

namespace {
constexpr const char* kHLNativeAdLabel = "NATIVE";

// Set, and not the source address.
bool hlNativeAdPointsElsewhere(const Ref<NSURL>& use, const Ref<NSURL>& source) {
    return use && !(source && use->isEqual(*source));
}
}  // namespace

Ref<HLAdSize> HLNativeAd::sizeNative() { return NSObject::alloc<HLAdSize>()->initWithLabel(kHLNativeAdLabel); }
Ref<HLAdType> HLNativeAd::typeNative() { return NSObject::alloc<HLAdType>()->initWithLabel(kHLNativeAdLabel); }
Ref<HLAdSpec> HLNativeAd::specNative() { return HLAdSpec::specWithSize(sizeNative(), typeNative()); }

// ---- Use addresses

Ref<NSURL> HLNativeAd::iconURL() const {
    std::scoped_lock lock(useAddressMutex_);
    return iconURL_;
}
void HLNativeAd::setIconURL(Ref<NSURL> url) {
    std::scoped_lock lock(useAddressMutex_);
    iconURL_ = std::move(url);
}
Ref<NSURL> HLNativeAd::imageURL() const {
    std::scoped_lock lock(useAddressMutex_);
    return imageURL_;
}
void HLNativeAd::setImageURL(Ref<NSURL> url) {
    std::scoped_lock lock(useAddressMutex_);
    imageURL_ = std::move(url);
}
Ref<NSURL> HLNativeAd::videoURL() const {
    std::scoped_lock lock(useAddressMutex_);
    return videoURL_;
}
void HLNativeAd::setVideoURL(Ref<NSURL> url) {
    std::scoped_lock lock(useAddressMutex_);
    videoURL_ = std::move(url);
}

bool HLNativeAd::isImagePrecached() const {
    std::scoped_lock lock(useAddressMutex_);
    return hlNativeAdPointsElsewhere(iconURL_, sourceIconURL_) && hlNativeAdPointsElsewhere(imageURL_, sourceImageURL_);
}

bool HLNativeAd::isVideoPrecached() const {
    std::scoped_lock lock(useAddressMutex_);
    return hlNativeAdPointsElsewhere(videoURL_, sourceVideoURL_);
}

// ---- Video end and click

Ref<NSURL> HLNativeAd::videoEndTrackingURL(uint64_t percentViewed, bool firstPlay) const {
    if (!videoEndTrackingURL_) return nullptr;
    if (percentViewed > 100) {
        platform::systemLog(
            "[HLNativeAd] Invalid percent viewed supplied. Percent viewed must be an integer between 0 and 100");
        percentViewed = 0;
    }
    std::string text = videoEndTrackingURL_->absoluteString();
    text += NSString::stringWithFormat("&%@=%ld", "pv", static_cast<long>(percentViewed));
    text += NSString::stringWithFormat("&%@=%@", "fp", firstPlay ? "true" : "false");
    return NSURL::URLWithString(text);
}

void HLNativeAd::launchClickTarget() {
    Ref<HLSdk> sdk = parentSdk_.lock();
    if (!sdk) return;
    // A postback without an address is refused anyway; opening nothing would
    // only log a failure.
    if (!clickURL_) {
        sdk->logManager()->w("HLNativeAd", "Native ad %@ has no click URL; the click goes nowhere",
                             hlValueForLog(adIdNumber_));
        return;
    }
    sdk->persistentPostbackManager()->submitPostback(clickURL_, Value());
    HLUtils::openURL(clickURL_, sdk);
}

// ---- Copy

Ref<HLNativeAd> HLNativeAd::copy() const {
    auto ad = NSObject::alloc<HLNativeAd>()->init();
    ad->adIdNumber_ = adIdNumber_;
    ad->title_ = title_;
    ad->descriptionText_ = descriptionText_;
    ad->captionText_ = captionText_;
    ad->ctaText_ = ctaText_;
    ad->sourceIconURL_ = sourceIconURL_;
    ad->sourceImageURL_ = sourceImageURL_;
    ad->sourceVideoURL_ = sourceVideoURL_;
    ad->starRating_ = starRating_;  // a value: copying it copies the number
    {
        std::scoped_lock lock(useAddressMutex_);
        ad->iconURL_ = iconURL_;
        ad->imageURL_ = imageURL_;
        ad->videoURL_ = videoURL_;
    }
    ad->impressionTrackingURL_ = impressionTrackingURL_;
    ad->clickURL_ = clickURL_;
    ad->videoStartTrackingURL_ = videoStartTrackingURL_;
    ad->videoEndTrackingURL_ = videoEndTrackingURL_;
    ad->clCode_ = clCode_;
    return ad;
}

std::string HLNativeAd::description() const {
    return NSString::stringWithFormat("HLNativeAd <id = %@, title = %@>", hlValueForLog(adIdNumber_),
                                      title_ ? std::optional(platform::shortenedForLog(*title_)) : std::nullopt);
}
