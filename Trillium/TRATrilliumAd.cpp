#include "Trillium/TRATrilliumAd.h"

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRAHtmlAd.h"
#include "Trillium/TRALog.h"
#include "platform/runtime/DispatchQueue.h"

std::string TRATrilliumAd::placement() const {
    switch (eventType()) {
        case EventTypeReturn: return "INAPP_RETURN";
        case EventTypeSplash: return "INAPP_SPLASH";
        default: return "INAPP_OVERLAY";
    }
}

Ref<TRACacheKey> TRATrilliumAd::cacheKey() const {
    return NSObject::alloc<TRACacheKey>()->initWithAdType(internalAdType_, eventType());
}

void TRATrilliumAd::loadAd() { loadAd(AdTypeAutomatic, nullptr, nullptr, Value()); }

void TRATrilliumAd::loadAd(int64_t adType, const Ref<TRADelegateProtocol>& delegate) {
    loadAd(adType, delegate, nullptr, Value());
}

void TRATrilliumAd::loadAd(int64_t adType, const Ref<TRADelegateProtocol>& delegate,
                           const Ref<TRAAdPreferences>& adPreferences) {
    loadAd(adType, delegate, adPreferences, Value());
}

void TRATrilliumAd::loadAd(int64_t adType, const Ref<TRADelegateProtocol>& delegate,
                           const Ref<TRAAdPreferences>& adPreferences, const Value& params) {
    setTrilliumDelegate(delegate);
    setDelegateWasNotified(false);
    if (adType != AdTypeFullPage && adType != AdTypeAutomatic && adType != AdTypeOverlay) {
        TRALog::errorf("Ad type %lld is not a full-screen type.", adType);
        auto error = TRAAdSDKUtils::createErrorWithDescription(
            NSString::stringWithFormat("Ad type %lld is not supported", adType));
        Weak<TRATrilliumAd> weak = self<TRATrilliumAd>();
        dispatch_async(dispatch_get_main_queue(), [weak, error] {
            if (auto ad = weak.lock()) ad->cacheFailedToLoadAdWithError(error);
        });
        return;
    }
    internalAdType_ = adType == AdTypeFullPage ? AdTypeFullPage : AdTypeOverlay;
    Value preferences = adPreferences ? adPreferences->requestFields() : Value();
    auto loader = TRAAdCache::sharedInstance()->loaderForKey(*cacheKey(), true);
    loader->loadAdForTrilliumAd(self<TRATrilliumAd>(), preferences, params, false);
}

bool TRATrilliumAd::isReady() const {
    return internalAd_ && TRAAdCache::sharedInstance()->containsAd(*cacheKey(), internalAd_);
}

void TRATrilliumAd::cacheDidLoadAd(const Ref<TRAAd>& ad) {
    internalAd_ = ad;
    auto delegate = trilliumDelegate();
    if (delegate) delegate->didLoadAd(self<TRAAbstractAd>());
}

void TRATrilliumAd::cacheFailedToLoadAdWithError(const Ref<NSError>& error) {
    auto delegate = trilliumDelegate();
    if (delegate) delegate->failedLoadAd(self<TRAAbstractAd>(), error);
}

void TRATrilliumAd::failShow(const std::string& description) {
    TRALog::errorf("Ad not shown: %@", description);
    // On the next main-queue turn, as load failures: never inside showAd.
    Weak<TRATrilliumAd> weak = self<TRATrilliumAd>();
    auto error = TRAAdSDKUtils::createErrorWithDescription(description);
    dispatch_async(dispatch_get_main_queue(), [weak, error] {
        auto ad = weak.lock();
        auto delegate = ad ? ad->trilliumDelegate() : nullptr;
        if (delegate) delegate->failedShowAd(ad, error);
    });
}

void TRATrilliumAd::showAdWithAdTag(const std::optional<std::string>& adTag) {
    auto html = std::dynamic_pointer_cast<TRAHtmlAd>(internalAd_);
    if (!isReady() || !html) {
        failShow("Ad is not ready");
        return;
    }
    if (!TRAAdapptManager::getAdapptShowPlacement(placement(), adTag)) {
        failShow("The ad rules do not allow an ad now");
        return;
    }
    // Shown once: the cache lets it go (and takes it back if the screen refuses it).
    TRAAdCache::sharedInstance()->removeAd(*cacheKey(), internalAd_);
    displayPending_ = true;
    html->showAd(self<TRATrilliumAd>(), adTag);
}

void TRATrilliumAd::didShowAd() {
    displayPending_ = false;
    TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSessionForKey(placement());
    TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSession();
    if (auto delegate = trilliumDelegate()) delegate->didShowAd(self<TRAAbstractAd>());
}

void TRATrilliumAd::failedDisplayAd(const Ref<NSError>& error) {
    // Never shown: the ad may still be shown later.
    if (displayPending_) {
        displayPending_ = false;
        TRAAdCache::sharedInstance()->restoreAd(*cacheKey(), internalAd_);
    }
    if (auto delegate = trilliumDelegate()) delegate->failedShowAd(self<TRAAbstractAd>(), error);
}

void TRATrilliumAd::didCloseAdWithClick(bool click) {
    auto delegate = trilliumDelegate();
    if (!delegate) return;
    if (click && delegate->respondsToSelector("didClickAd:")) delegate->didClickAd(self<TRAAbstractAd>());
    else delegate->didCloseAd(self<TRAAbstractAd>());
}

void TRATrilliumAd::allowAutoRotate() { TRAAdCache::sharedInstance()->setAllowAutoRotate(true); }

void TRATrilliumAd::didCompleteVideo() {
    if (auto delegate = trilliumDelegate()) delegate->didCompleteVideo(self<TRAAbstractAd>());
}

void TRATrilliumAd::didCloseInAppStore() {
    if (auto delegate = trilliumDelegate()) delegate->didCloseInAppStore(self<TRAAbstractAd>());
}
