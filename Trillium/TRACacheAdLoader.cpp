#include "Trillium/TRACacheAdLoader.h"

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRADisplayHooks.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRATrilliumAd.h"
#include "Trillium/TRATrilliumSDK.h"
#include "platform/runtime/DispatchQueue.h"

Ref<TRACacheAdLoader> TRACacheAdLoader::initWithKey(Ref<TRACacheKey> key) {
    key_ = std::move(key);
    return self<TRACacheAdLoader>();
}

void TRACacheAdLoader::loadAdForTrilliumAd(const Ref<TRATrilliumAd>& ad, const Value& adPreferences,
                                           const Value& params, bool rewardedVideo) {
    if (!ad) return;
    if (internalAd_) {
        // Never inside the public ad's own load call.
        Weak<TRATrilliumAd> weakAd = ad;
        Ref<TRAAd> loaded = internalAd_;
        dispatch_async(dispatch_get_main_queue(), [weakAd, loaded] {
            if (auto waiting = weakAd.lock()) waiting->cacheDidLoadAd(loaded);
        });
        return;
    }
    if (!waitingAds_.containsObject(ad)) waitingAds_.addObject(ad);
    if (loadingAd_) return;

    const auto& make = TRADisplayHooks::shared().fullScreenAd;
    Ref<TRAHtmlAd> fresh = make ? make(key_->adType(), key_->eventType()) : nullptr;
    if (!fresh) {
        TRALog::error("No full-screen ad object is available; the ad is not loaded.");
        Weak<TRACacheAdLoader> weak = self<TRACacheAdLoader>();
        auto error = TRAAdSDKUtils::createErrorWithDescription("Full-screen ads are not available");
        dispatch_async(dispatch_get_main_queue(), [weak, error] {
            if (auto loader = weak.lock()) loader->finishLoadAdWithError(error);
        });
        return;
    }
    loadingAd_ = fresh;
    fresh->setAdLoadDelegate(self<TRACacheAdLoader>());
    auto sdk = TRATrilliumSDK::sharedInstance();
    fresh->loadAd(sdk->appID(), sdk->devID(), adPreferences, params, rewardedVideo);
}

std::vector<Ref<TRATrilliumAd>> TRACacheAdLoader::takeWaitingAds() {
    std::vector<Ref<TRATrilliumAd>> ads = waitingAds_.allObjects();
    waitingAds_.removeAllObjects();
    return ads;
}

void TRACacheAdLoader::didFinishLoadAd() {
    Ref<TRACacheAdLoader> keep = self<TRACacheAdLoader>();
    internalAd_ = std::move(loadingAd_);
    if (internalAd_) internalAd_->setAdLoadDelegate(nullptr);
    TRAAdCache::sharedInstance()->saveDBToLocalData();
    // A publisher may show (and so take) the ad while it is told.
    Ref<TRAAd> loaded = internalAd_;
    for (const auto& ad : takeWaitingAds()) ad->cacheDidLoadAd(loaded);
}

void TRACacheAdLoader::finishLoadAdWithError(const Ref<NSError>& error) {
    Ref<TRACacheAdLoader> keep = self<TRACacheAdLoader>();
    if (loadingAd_) loadingAd_->setAdLoadDelegate(nullptr);
    loadingAd_ = nullptr;
    auto reported = error ? error : TRAAdSDKUtils::createErrorWithDescription("No ad available");
    for (const auto& ad : takeWaitingAds()) ad->cacheFailedToLoadAdWithError(reported);
}

void TRACacheAdLoader::cancelWithError(const Ref<NSError>& error) { finishLoadAdWithError(error); }
