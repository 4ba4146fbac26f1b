#include "Trillium/display/TRATrilliumNativeAd.h"

#include <cmath>

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRANetworkData.h"
#include "Trillium/TRATrilliumSDK.h"

namespace {

bool TRANativeHasText(const std::optional<std::string>& text) { return text && !text->empty(); }

// "%g" of a coordinate; "0" without one (or for one that is not a number).
std::string TRANativeCoordinate(const Ref<TRAUserLocation>& location, bool latitude) {
    double value = location ? (latitude ? location->latitude() : location->longitude()) : 0;
    return NSString::stringWithFormat("%g", std::isfinite(value) ? value : 0.0);
}

}  // namespace

// ---- loads --------------------------------------------------------------------------------------------------

void TRATrilliumNativeAd::loadAd() { loadAdWithDelegate(nullptr, nullptr); }

void TRATrilliumNativeAd::loadAdWithNativeAdPreferences(const Ref<TRANativeAdPreferences>& preferences) {
    loadAdWithDelegate(nullptr, preferences);
}

void TRATrilliumNativeAd::loadAdWithDelegate(const Ref<TRADelegateProtocol>& delegate) {
    loadAdWithDelegate(delegate, nullptr);
}

void TRATrilliumNativeAd::tellLoadFailure(const std::string& description) {
    auto delegate = trilliumDelegate();
    if (delegate && delegate->respondsToSelector("failedLoadAd:withError:"))
        delegate->failedLoadAd(self<TRAAbstractAd>(), TRAAdSDKUtils::createErrorWithDescription(description));
}

void TRATrilliumNativeAd::loadAdWithDelegate(const Ref<TRADelegateProtocol>& delegate,
                                             const Ref<TRANativeAdPreferences>& preferences) {
    auto keep = self<TRATrilliumNativeAd>();
    const std::optional<std::string>& appId = TRATrilliumSDK::sharedInstance()->appID();
    setTrilliumDelegate(delegate);
    if (!TRANativeHasText(appId)) {
        TRALog::error("Application ID is nil or empty.");
        tellLoadFailure("Application ID is nil or empty.");
        return;
    }
    if (loading_) tellLoadFailure("Ad is already loading");
    // The load under way is dropped here, not when the new loader starts: its
    // answer may come while this load waits for the network or the
    // configuration, or after this load was refused.
    if (nativeAd_) nativeAd_->setAdLoadDelegate(nullptr);
    adIsLoaded_ = false;
    loading_ = true;
    adsDetails_.clear();
    setDelegateWasNotified(false);
    isFirstAdDetailsGet_ = true;
    lastAdapptValue_ = true;
    preferences_ = preferences ? preferences : TRANativeAdPreferences::alloc()->init();
    checkNetworkState();
}

void TRATrilliumNativeAd::checkNetworkState() {
    auto reachability = TRANetworkData::sharedInstance()->internetReachability();
    if (!reachability || reachability->currentReachabilityStatus() == TRANotReachable) {
        // A failed check ends the load: the next one is not "already loading".
        loading_ = false;
        tellLoadFailure("No internet connection.");
        return;
    }
    auto metadata = TRAMetadata::sharedMetadata();
    if (!metadata) {
        loading_ = false;
        tellLoadFailure("Internal error");
        return;
    }
    auto sdk = TRATrilliumSDK::sharedInstance();
    metadata->removeMetadataDelegation(self<TRAMetadataDelegate>());
    metadata->setDelegateWithDelegate(self<TRAMetadataDelegate>());
    metadata->loadMetadata(sdk->appID(), sdk->devID());
}

void TRATrilliumNativeAd::didFinishLoadMetadata() {
    if (nativeAd_) nativeAd_->setAdLoadDelegate(nullptr);
    nativeAd_ = TRANativeAd::alloc()->initWithBitmap(preferences_ ? preferences_->autoBitmapDownload() : true);
    nativeAd_->setAdLoadDelegate(self<TRAAdDelegate>());
    setBitmapSizeWithAd(nativeAd_);
    auto sdk = TRATrilliumSDK::sharedInstance();
    nativeAd_->loadAd(sdk->appID(), sdk->devID(), createDictionary(), Value(), false);
}

void TRATrilliumNativeAd::setBitmapSizeWithAd(const Ref<TRANativeAd>& ad) {
    if (!ad || !preferences_) return;
    if (preferences_->bitmapSize() != -1 && preferences_->primaryImageSize() == -1 &&
        preferences_->secondaryImageSize() == -1) {
        CGFloat side = 72;
        switch (preferences_->bitmapSize()) {
            case 1: side = 100; break;
            case 2: side = 150; break;
            case 3: side = 340; break;
            default: break;
        }
        ad->setViewSize(CGSizeMake(side, side));
        return;
    }
    ad->setViewSize(TRAAdSDKUtils::getScreenBounds().size);
}

Value TRATrilliumNativeAd::createDictionary() const {
    auto sdkPreferences = TRATrilliumSDK::sharedInstance()->preferences();
    uint64_t age = sdkPreferences ? sdkPreferences->age() : 0;
    std::optional<std::string> ageStr = sdkPreferences ? sdkPreferences->ageStr() : std::nullopt;
    int64_t gender = sdkPreferences ? sdkPreferences->gender() : 0;
    if (!preferences_ && age == 0 && !TRANativeHasText(ageStr) && gender == 0) return Value();
    Value fields = Value::dictionary({});
    if (age != 0) fields.set("age", NSString::stringWithFormat("%lu", age));
    else if (TRANativeHasText(ageStr)) fields.set("age", NSString::stringWithFormat("%@", *ageStr));
    if (gender != 0) fields.set("gender", std::string(gender == 2 ? "m" : "f"));
    if (preferences_) {
        fields.set("longitude", TRANativeCoordinate(preferences_->userLocation(), false));
        fields.set("latitude", TRANativeCoordinate(preferences_->userLocation(), true));
        fields.set("adsNumber", NSString::stringWithFormat("%d", preferences_->adsNumber()));
        fields.set("primaryImg", NSString::stringWithFormat("%d", preferences_->primaryImageSize()));
        fields.set("moreImg", NSString::stringWithFormat("%d", preferences_->secondaryImageSize()));
        fields.set("contentAd", NSString::stringWithFormat("%d", preferences_->contentAd() ? 1 : 0));
        fields.set("bitmapSize", NSString::stringWithFormat("%d", preferences_->bitmapSize()));
    }
    return fields;
}

// ---- results ------------------------------------------------------------------------------------------------

void TRATrilliumNativeAd::didFinishLoadAd() {
    auto keep = self<TRATrilliumNativeAd>();
    adsDetails_ = nativeAd_ ? nativeAd_->getAdsDetails() : std::vector<Ref<TRANativeAdDetails>>();
    adIsLoaded_ = true;
    loading_ = false;
    if (delegateWasNotified()) return;
    auto delegate = trilliumDelegate();
    if (delegate && delegate->respondsToSelector("didLoadAd:")) delegate->didLoadAd(self<TRAAbstractAd>());
    if (eventType() == 0) setDelegateWasNotified(true);
}

void TRATrilliumNativeAd::finishLoadAdWithError(const Ref<NSError>& error) {
    auto keep = self<TRATrilliumNativeAd>();
    loading_ = false;
    if (delegateWasNotified()) return;
    auto delegate = trilliumDelegate();
    if (delegate && delegate->respondsToSelector("failedLoadAd:withError:"))
        delegate->failedLoadAd(self<TRAAbstractAd>(), error);
    if (eventType() == 0) setDelegateWasNotified(true);
}

void TRATrilliumNativeAd::didCloseInAppStore() {
    auto delegate = trilliumDelegate();
    if (delegate && delegate->respondsToSelector("didCloseInAppStore:"))
        delegate->didCloseInAppStore(self<TRAAbstractAd>());
}

// ---- reading the records -----------------------------------------------------------------------------------

std::vector<Ref<TRANativeAdDetails>> TRATrilliumNativeAd::adsDetails() {
    if (isFirstAdDetailsGet_) {
        isFirstAdDetailsGet_ = false;
        if (!TRAAdapptManager::getAdapptShowPlacement(kPlacement, nativeAdTag_)) {
            lastAdapptValue_ = false;
            auto delegate = trilliumDelegate();
            if (delegate && delegate->respondsToSelector("failedShowAd:withError:"))
                delegate->failedShowAd(self<TRAAbstractAd>(), TRAAdSDKUtils::createErrorWithDescription("Ad Rules"));
            sendNonImpression();
        } else {
            lastAdapptValue_ = true;
            if (TRANativeHasText(nativeAdTag_))
                TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSessionForKey(*nativeAdTag_);
            TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSessionForKey(kPlacement);
            TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSession();
        }
    }
    return lastAdapptValue_ ? adsDetails_ : std::vector<Ref<TRANativeAdDetails>>();
}

void TRATrilliumNativeAd::setAdTag(const std::optional<std::string>& tag) {
    if (!nativeAd_) return;
    nativeAdTag_ = tag;
    nativeAd_->setAdTag(tag);
}

void TRATrilliumNativeAd::sendNonImpression() {
    if (!nativeAd_) return;
    for (const auto& record : nativeAd_->getAdsDetails()) {
        if (!TRANativeHasText(record->trackingUrl())) continue;
        std::string url = *record->trackingUrl();
        if (TRANativeHasText(nativeAdTag_)) url = NSString::stringWithFormat("%@&adTag=%@", url, *nativeAdTag_);
        url = NSString::stringWithFormat("%@&offset=0", url);
        url += "&isShown=false";
        url = NSString::stringWithFormat("%@&reason=%@", url, "AD_RULES");
        TRAAdSDKUtils::sendImpression(url);
    }
}
