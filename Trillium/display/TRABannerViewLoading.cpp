// The banner's working life: the configuration wait, loads and refreshes,
// the ad-rules verdict, the reveal, impressions and non-impressions, the tap
// router and the callbacks it gets through its proxy.
//
// Sound behaviour chosen over the letter of the design:
// - the rules are asked at every finished page load while the banner has no
//   verdict yet, and no verdict never counts as a denial;
// - a page is revealed, announced (didDisplayBannerAd:) and its impressions
//   sent only under an allowing verdict, and its impressions only once;
// - a failed load or placement ends the loading state;
// - a tap's index is checked against the lists it reads: out of reach, or a
//   busy click follower, refuses the navigation with no report and no callback.
#include "Trillium/display/TRABannerView.h"

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRAAnalytics.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRANetworkData.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/TRAAdViewController.h"
#include "Trillium/display/TRASmartRedirectWebView.h"
#include "platform/net/NSURLError.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SaturatingCast.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIWindow.h"

namespace {

constexpr const char* kTRABannerPlacement = "INAPP_BANNER";

bool TRABannerLoadAtLeast(int64_t major) { return platform::systemVersionAtLeast(major, 0); }

bool TRABannerHasText(const std::optional<std::string>& text) { return text && !text->empty(); }

// A flag of a per-ad list: an absent list reads as false; nullopt refuses an
// index that a present list does not reach.
std::optional<bool> TRABannerFlagAt(const TRAAd::FlagList& list, int32_t index) {
    if (!list) return false;
    if (index < 0 || static_cast<size_t>(index) >= list->size()) return std::nullopt;
    return (*list)[static_cast<size_t>(index)];
}

// A URL of a per-ad list: an absent list gives no URL; out of reach → refused.
std::optional<std::optional<std::string>> TRABannerURLAt(const TRAAd::URLList& list, int32_t index) {
    if (!list) return std::optional<std::string>();
    if (index < 0 || static_cast<size_t>(index) >= list->size()) return std::nullopt;
    return std::optional<std::string>((*list)[static_cast<size_t>(index)]);
}

}  // namespace

// What a tap reads of the ad's lists, checked before anything is sent.
struct TRABannerView::TRABannerTap {
    int32_t index = 0;
    bool smartRedirect = false;
    bool browserEnabled = false;
    std::string target;
    std::optional<std::string> clickReport;  // two-click mode: the click-tracking URL
    std::string dParameterSource;
};

// ---- starts and failures ------------------------------------------------------------------------------------

void TRABannerView::callFailedLoadBannerAdOnDelegate(const Ref<TRABannerDelegateProtocol>& delegate,
                                                     const Ref<NSError>& error) {
    if (delegate && delegate->respondsToSelector("failedLoadBannerAd:withError:") && !delegateWasNotified_)
        delegate->failedLoadBannerAd(self<TRABannerView>(), error);
    delegateWasNotified_ = true;
}

void TRABannerView::reportFailure(const std::string& description) {
    callFailedLoadBannerAdOnDelegate(delegate(), TRAAdSDKUtils::createErrorWithDescription(description));
}

void TRABannerView::checkNetworkState() {
    delegateWasNotified_ = false;
    auto reachability = TRANetworkData::sharedInstance()->internetReachability();
    if (reachability && reachability->currentReachabilityStatus() != TRANotReachable) {
        auto metadata = TRAMetadata::sharedMetadata();
        // One registration per banner: a start during a fetch loads once.
        metadata->removeMetadataDelegation(proxy_);
        metadata->setDelegateWithDelegate(proxy_);
        auto sdk = TRATrilliumSDK::sharedInstance();
        metadata->loadMetadata(sdk->appID(), sdk->devID());
    } else {
        reportFailure("No internet connection.");
    }
}

void TRABannerView::didFinishLoadMetadata() {
    if (!ad_) {
        ad_ = TRABannerAd::alloc()->init();
        ad_->setAdLoadDelegate(proxy_);
        createTimer();
    }
    loadAd(nullptr);
}

// ---- timers ---------------------------------------------------------------------------------------------------

void TRABannerView::createTimer() {
    auto live = timer_.lock();
    if (live && live->isValid()) return;
    double interval = static_cast<double>(TRAMetadata::sharedMetadata()->getRefreshRate());
    timer_ = NSTimer::scheduledTimerWithTimeInterval(interval, proxy_, &TRABannerProxy::refreshBanner, Value(), true);
}

void TRABannerView::releaseTimer() {
    if (auto timer = timer_.lock(); timer && timer->isValid()) timer->invalidate();
    timer_.reset();
}

void TRABannerView::createShowWebViewTimer() {
    releaseShowWebViewTimer();
    showWebViewTimer_ =
        NSTimer::scheduledTimerWithTimeInterval(kRevealDelay, proxy_, &TRABannerProxy::showWebView, Value(), false);
}

void TRABannerView::releaseShowWebViewTimer() {
    if (auto timer = showWebViewTimer_.lock(); timer && timer->isValid()) timer->invalidate();
    showWebViewTimer_.reset();
}

void TRABannerView::refreshBanner(const Ref<NSTimer>& timer) {
    if (superview()) loadAd(timer);
}

// ---- loads ------------------------------------------------------------------------------------------------------

void TRABannerView::loadAd(const Ref<NSTimer>& sender) {
    if (!ad_) return;  // the configuration has not answered yet
    if (alpha() == 0 || devHideBanner_) {
        if (ad_->offset() == -1) reportFailure("Banner is not visible");
        return;
    }
    // While a client screen covers the application, only the reload a
    // rotation asked for goes ahead.
    if (!TRAAdCache::sharedInstance()->allowAutoRotate() && ad_->offset() != -1) {
        if (!TRABannerLoadAtLeast(8) || !isRotationLoad_) return;
        isRotationLoad_ = false;
    }
    auto sdk = TRATrilliumSDK::sharedInstance();
    if (sdk->isUnityEnvironment() && TRABannerLoadAtLeast(9) && TRAAdSDKUtils::supportedOrientations() == 1 &&
        TRAAdSDKUtils::getUnityAutoRotation() != 0 && bannerSize_.size.height > bannerSize_.size.width) {
        CGSize size = bannerSize_.size;
        bannerSize_.size = CGSizeMake(size.height, static_cast<CGFloat>(platform::saturatingCast<int32_t>(size.width)));
    }
    if (!sender && ad_->offset() != -1) {
        if (hasAdapptVerdict_ && !lastAdapptValue_) {
            setHidden(true);
            return;
        }
    } else {
        checkAdappt_ = true;
    }
    if (ad_->offset() < INT32_MAX) ad_->setOffset(ad_->offset() + 1);
    if (webView_) webView_->stopLoading();
    loadingAd_ = true;
    CGSize viewSize = bannerSize_.size;
    if (bannerSize_.isAuto && !TRABannerLoadAtLeast(9)) {
        auto root = rootView();
        viewSize = root ? root->bounds().size : CGSizeZero;
    }
    ad_->setViewSize(viewSize);
    if (!extraParams_.isDictionary()) extraParams_ = Value::dictionary({});
    if (developerBannerSize_) extraParams_.set("devBannerSize", *developerBannerSize_);
    if (developerBannerOrigin_) extraParams_.set("devBannerOrigin", *developerBannerOrigin_);
    ad_->loadAd(sdk->appID(), sdk->devID(), Value(), extraParams_, false);
}

void TRABannerView::didFinishLoadAd() {
    if (!ad_) return;
    currentHtmlBanner_ = ad_->html();
    firstLoad_ = true;
    CGRect bounds = this->bounds();
    bounds.size = CGSizeMake(static_cast<CGFloat>(ad_->width()), static_cast<CGFloat>(ad_->height()));
    setBounds(bounds);
    autoPositionBanner();
    if (!validOrigin()) {
        loadingAd_ = false;
        reportFailure("Origin is not valid");
        return;
    }
    if (webView_)
        webView_->loadHTMLString(*currentHtmlBanner_,
                                 NSURL::URLWithString(TRAMetadata::sharedMetadata()->getAdPlatformHost()));
}

void TRABannerView::finishLoadAdWithError(const Ref<NSError>& error) {
    loadingAd_ = false;
    callFailedLoadBannerAdOnDelegate(delegate(), error);
}

// ---- the page, the rules and the reveal -----------------------------------------------------------------------

void TRABannerView::webViewDidFinishLoad(Ref<UIWebView>) {
    loadingAd_ = false;
    if (!ad_) return;
    bool askedNow = false;
    if (!hasAdapptVerdict_ ||
        (checkAdappt_ && (ad_->offset() == 0 || TRAAdapptManager::applyAdRulesOnBannerRefresh()))) {
        checkAdappt_ = false;
        askedNow = true;
        hasAdapptVerdict_ = true;
        lastAdapptValue_ = TRAAdapptManager::getAdapptShowPlacement(kTRABannerPlacement, prefAdTag_);
        if (!lastAdapptValue_) {
            setHidden(true);
            sendNonImpression();
            return;
        }
    }
    createShowWebViewTimer();
    if (lastAdapptValue_ && validOrigin() && ad_->trackingUrl() && ad_->needToReload()) {
        if (askedNow) updateAdapptAdsDisplayed();
        ad_->setNeedToReload(false);
        if (superview()) reportImpression();
        else isImpressionWaiting_ = true;
    }
}

void TRABannerView::showWebView() {
    releaseShowWebViewTimer();
    if (!validOrigin()) {
        reportFailure("Origin is not valid");
        return;
    }
    if (!loadingAd_ && lastAdapptValue_) setHidden(devHideBanner_);
    // Announced once per start, and only for a page the user can see.
    if (!lastAdapptValue_ || isHidden() || delegateWasNotified_) return;
    auto delegate = this->delegate();
    if (delegate && delegate->respondsToSelector("didDisplayBannerAd:")) delegate->didDisplayBannerAd(self<TRABannerView>());
    delegateWasNotified_ = true;
}

void TRABannerView::webViewDidFailLoadWithError(Ref<UIWebView>, Ref<NSError> error) {
    loadingAd_ = false;
    if (!error || error->code() == NSURLErrorCancelled || (error->domain() == WebKitErrorDomain && error->code() == 102))
        return;
    reportFailure("Faild load ad in webView");
}

void TRABannerView::willMoveToSuperview(Ref<UIView> newSuperview) {
    UIView::willMoveToSuperview(newSuperview);
    if (isImpressionWaiting_ && !superview() && newSuperview) {
        isImpressionWaiting_ = false;
        reportImpression();
    }
}

// ---- impressions and counts --------------------------------------------------------------------------------------

void TRABannerView::updateAdapptAdsDisplayed() {
    if (TRABannerHasText(prefAdTag_)) TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSessionForKey(*prefAdTag_);
    TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSessionForKey(kTRABannerPlacement);
    TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSession();
}

void TRABannerView::reportImpression() {
    if (!ad_ || !ad_->trackingUrl()) return;
    for (const std::string& url : *ad_->trackingUrl()) {
        std::string text = url;
        if (TRABannerHasText(prefAdTag_)) text = NSString::stringWithFormat("%@&adTag=%@", text, *prefAdTag_);
        TRAAdSDKUtils::sendImpression(text);
    }
}

void TRABannerView::sendNonImpression() {
    if (!ad_ || !ad_->trackingUrl()) return;
    for (const std::string& url : *ad_->trackingUrl()) {
        std::string text = url;
        if (TRABannerHasText(prefAdTag_)) text = NSString::stringWithFormat("%@&adTag=%@", text, *prefAdTag_);
        text = NSString::stringWithFormat("%@&offset=%d", text, ad_->offset());
        text += "&isShown=false";
        text = NSString::stringWithFormat("%@&reason=%@", text, "AD_RULES");
        TRAAdSDKUtils::sendImpression(text);
    }
}

// ---- visibility ---------------------------------------------------------------------------------------------------

void TRABannerView::hideBanner() {
    setHidden(true);
    devHideBanner_ = true;
}

void TRABannerView::showBanner() {
    releaseTimer();
    devHideBanner_ = false;
    createTimer();
    isRotationLoad_ = false;
    checkNetworkState();
}

bool TRABannerView::isVisible() const { return !devHideBanner_ && !isHidden(); }

// ---- taps ---------------------------------------------------------------------------------------------------------

std::optional<TRABannerView::TRABannerTap> TRABannerView::readTap(const std::string& url) {
    if (!ad_) return std::nullopt;
    std::optional<int32_t> index = TRAAdViewController::adIndexInUrl(url, NSString::rangeOfString(url, "index="));
    if (!index) return std::nullopt;
    TRABannerTap tap;
    tap.index = *index;
    std::optional<bool> smart = TRABannerFlagAt(ad_->smartRedirect(), tap.index);
    if (!smart) return std::nullopt;
    tap.smartRedirect = *smart;
    auto metadata = TRAMetadata::sharedMetadata();
    if (tap.smartRedirect || metadata->isTrilliumBrowserEnabled()) {
        std::optional<bool> browser = TRABannerFlagAt(ad_->trilliumBrowserEnabled(), tap.index);
        if (!browser) return std::nullopt;
        tap.browserEnabled = *browser;
    }
    if (!metadata->isDisableTwoClicks()) {
        auto report = TRABannerURLAt(ad_->clickTrackingUrl(), tap.index);
        if (!report) return std::nullopt;
        tap.clickReport = *report;
        tap.target = url;
        tap.dParameterSource = report->value_or("");
    } else {
        tap.target = NSString::stringWithFormat("%@%@", url, TRAAdSDKUtils::authHashURLNonRequestWithURL(url));
        if (tap.smartRedirect) {
            auto source = TRABannerURLAt(ad_->trackingUrl(), tap.index);
            if (!source) return std::nullopt;
            tap.dParameterSource = source->value_or("");
        }
    }
    if (!NSURL::URLWithString(tap.target)) return std::nullopt;
    return tap;
}

bool TRABannerView::webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest& request,
                                                      UIWebViewNavigationType) {
    const Ref<NSURL>& requestURL = request.URL();
    if (!requestURL || requestURL->absoluteString() == "about:blank") return false;
    const std::string& url = requestURL->absoluteString();
    if (url == TRAMetadata::sharedMetadata()->getAdPlatformHost()) firstLoad_ = true;
    bool contentLoaded = TRAAdSDKUtils::pageCommandInUrl(url) == "contentLoaded";
    if (firstLoad_) {
        if (contentLoaded) return false;
        firstLoad_ = false;
        return true;
    }
    auto delegate = this->delegate();
    auto click = [&] {
        if (delegate && delegate->respondsToSelector("didClickBannerAd:")) delegate->didClickBannerAd(self<TRABannerView>());
    };
    // Every navigation after the page's own load is a tap, the page's
    // "contentLoaded" included.
    if (contentLoaded) {
        click();
        return false;
    }
    std::optional<TRABannerTap> tap = readTap(url);
    if (!tap) {
        TRALog::errorFolded(pageLines_, "Banner tap refused: the ad's lists have no entry for it (%@).",
                            platform::urlForLog(url));
        return false;
    }
    if (tap->smartRedirect && TRASmartRedirectWebView::currentWalk()) {
        TRALog::infoFolded(pageLines_, "Banner tap dropped: a click is being followed.");
        return false;
    }
    click();
    return tap->smartRedirect ? followerTap(*tap, request) : directTap(*tap);
}

bool TRABannerView::followerTap(const TRABannerTap& tap, const NSURLRequest& request) {
    if (tap.clickReport) TRAAdSDKUtils::sendClick(tap.clickReport);
    auto walkRequest =
        NSURLRequest::requestWithURL(NSURL::URLWithString(tap.target), request.cachePolicy(), request.timeoutInterval());
    TRASmartRedirectWebView::startSmartRedirect(*walkRequest, UIApplication::sharedApplication()->keyWindow(), proxy_,
                                                proxy_, false, TRAAdSDKUtils::getDParamsFromHtml(tap.dParameterSource),
                                                tap.browserEnabled);
    showBanner();
    return false;
}

bool TRABannerView::directTap(const TRABannerTap& tap) {
    if (tap.clickReport) TRAAdSDKUtils::sendClick(tap.clickReport);
    if (TRAMetadata::sharedMetadata()->isTrilliumBrowserEnabled() && tap.browserEnabled) {
        TRAAdSDKUtils::openInAppBrowserWithURL(tap.target, proxy_);
        return false;
    }
    auto application = UIApplication::sharedApplication();
    Ref<NSURL> target = NSURL::URLWithString(tap.target);
    if (application->canOpenURL(target)) {
        application->openURL(target);
        return false;
    }
    // Nothing opens it: reported, then loaded inside the banner.
    TRAAnalytics::sendAnalyticsURLWithCategory(TRAAnalytics::CategoryCannotOpenTarget, tap.target, "Can't open url",
                                               std::nullopt);
    return true;
}

// ---- follower and browser callbacks -------------------------------------------------------------------------------

void TRABannerView::didExitWebViewWithInAppBrowser(const std::optional<std::string>& url) {
    if (url) TRAAdSDKUtils::openInAppBrowserWithURL(*url, proxy_);
}

void TRABannerView::didCloseInAppStore() {
    auto delegate = this->delegate();
    if (delegate && delegate->respondsToSelector("didCloseBannerInAppStore:"))
        delegate->didCloseBannerInAppStore(self<TRABannerView>());
}
