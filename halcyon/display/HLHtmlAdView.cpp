#include "halcyon/display/HLHtmlAdView.h"

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLPreloadedAdManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLStatsManager.h"
#include "halcyon/core/HLUtils.h"
#include "halcyon/display/HLAdDisplayProxy.h"
#include "halcyon/display/HLDisplayConstants.h"
#include "halcyon/display/HLInterstitialAd.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

namespace {

constexpr const char* kHLAdViewLogSource = "HLHtmlAdView";

bool hlAdViewSameLabel(const Ref<HLAdSize>& a, const Ref<HLAdSize>& b) { return a && b && a->label() == b->label(); }

}  // namespace

Ref<HLHtmlAdView> HLAdView::alloc() { return std::make_shared<HLHtmlAdView>(); }

HLHtmlAdView::~HLHtmlAdView() { NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const void*>(this)); }

// ---- creation

Ref<HLHtmlAdView> HLHtmlAdView::initWithFrame(CGRect frame, const Ref<HLAdSize>& size, const Ref<HLSdk>& sdk) {
    UIView::initWithFrame(frame);
    baseInitWithSize(size, sdk);
    setIsAccessibilityElement(true);
    setAccessibilityLabel("Halcyon Advertisement");
    return self<HLHtmlAdView>();
}

Ref<HLHtmlAdView> HLHtmlAdView::initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAdSize>& size) {
    const bool interstitial = hlAdViewSameLabel(size, HLAdSize::sizeInterstitial());
    Ref<UIScreen> screen = UIScreen::mainScreen();
    const CGRect area = interstitial ? screen->applicationFrame() : screen->bounds();
    CGFloat height = area.size.height;
    if (hlAdViewSameLabel(size, HLAdSize::sizeBanner()))
        height = 50;
    else if (hlAdViewSameLabel(size, HLAdSize::sizeLeader()))
        height = 90;
    return initWithFrame(CGRectMake(0, 0, screen->bounds().size.width, height), size, sdk);
}

Ref<HLHtmlAdView> HLHtmlAdView::initWithSize(const Ref<HLAdSize>& size) { return initWithSdk(HLSdk::shared(), size); }

Ref<UIView> HLHtmlAdView::initWithFrame(CGRect frame) {
    return initWithFrame(frame, HLAdSize::sizeBanner(), HLSdk::shared());
}

Ref<HLHtmlAdView> HLHtmlAdView::initWithCoder(const Ref<NSCoder>&) {
    UIView::initWithFrame(CGRectZero);
    baseInitWithSize(HLAdSize::sizeBanner(), HLSdk::shared());
    return self<HLHtmlAdView>();
}

Ref<HLHtmlAdView> HLHtmlAdView::initBannerAd() { return initBannerAdWithSdk(HLSdk::shared()); }
Ref<HLHtmlAdView> HLHtmlAdView::initMRecAd() { return initMRecAdWithSdk(HLSdk::shared()); }
Ref<HLHtmlAdView> HLHtmlAdView::initInterstitialAd() { return initInterstitialAdWithSdk(HLSdk::shared()); }
Ref<HLHtmlAdView> HLHtmlAdView::initBannerAdWithSdk(const Ref<HLSdk>& sdk) {
    return initWithSdk(sdk, HLAdSize::sizeBanner());
}
Ref<HLHtmlAdView> HLHtmlAdView::initMRecAdWithSdk(const Ref<HLSdk>& sdk) {
    return initWithSdk(sdk, HLAdSize::sizeMRec());
}
Ref<HLHtmlAdView> HLHtmlAdView::initInterstitialAdWithSdk(const Ref<HLSdk>& sdk) {
    return initWithSdk(sdk, HLAdSize::sizeInterstitial());
}

void HLHtmlAdView::baseInitWithSize(const Ref<HLAdSize>& size, const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    logger_ = sdk ? sdk->logManager() : nullptr;
    isFirstAdLoaded_ = false;
    NSNotificationCenter::defaultCenter()->addObserver(self<HLHtmlAdView>(), &HLHtmlAdView::applicationDidBecomeActive,
                                                       UIApplicationDidBecomeActiveNotification);
    {
        std::scoped_lock lock(mutex_);
        adLoadDelegate_.reset();
        adDisplayDelegate_.reset();
        weakAdLoadDelegate_.reset();
        weakAdDisplayDelegate_.reset();
        adSize_ = size;
    }
    setBackgroundColor(UIColor::clearColor());
    // Layout makes the web view fill the ad view.
    adWebView_ = HLWebViewProvider::webViewForSdk(sdk, CGRectMake(0, 0, 10, 50));
    adWebView_->clear();
    addSubview(adWebView_);
    HLWebViewProvider::proxyDelegateForWebView(adWebView_, self<HLHtmlAdView>());
    setNeedsDisplay();
    setTemporaryHidden(true);
    autoload_ = true;
}

// ---- loading and rendering

void HLHtmlAdView::loadNextAd() {
    hiddenByUser_ = false;
    isFirstAdLoaded_ = true;
    if (!sdk_) return;
    sdk_->adService()->loadNextAd(adSize(), self<HLHtmlAdView>());
}

void HLHtmlAdView::render(const Ref<NSObject>& ad) { render(ad, std::nullopt); }

void HLHtmlAdView::render(const Ref<NSObject>& object, const std::optional<std::string>& overPlacement) {
    // No ad: the developer messages only; nothing is counted or shown.
    if (!HLUtils::assertValidAd(object)) return;
    Ref<HLAd> ad = std::dynamic_pointer_cast<HLAd>(object);
    if (logger_)
        logger_->d(kHLAdViewLogSource, "Scheduling ad render for ad #%@ over placement: \"%@\"...",
                   hlValueForLog(ad->adIdNumber()), overPlacement);
    {
        std::scoped_lock lock(mutex_);
        oldAd_ = currentAd_;
        currentAd_ = ad;
        currentPlacement_ = overPlacement;
    }
    // One impression per render, before anything is drawn.
    if (sdk_ && sdk_->statsManager()) {
        sdk_->statsManager()->incrementKey("ad_imp");
        sdk_->statsManager()->incrementKey("ad_imp_session");
    }
    auto view = self<HLHtmlAdView>();
    NSOperationQueue::mainQueue()->addOperationWithBlock(
        [view, ad, overPlacement] { view->doRenderAd(ad, overPlacement); });
}

void HLHtmlAdView::doRenderAd(const Ref<HLAd>& ad, const std::optional<std::string>& overPlacement) {
    if (hlAdViewSameLabel(ad->size(), adSize())) {
        if (logger_)
            logger_->d(kHLAdViewLogSource, "Rendering advertisement for #%@...", hlValueForLog(ad->adIdNumber()));
        if (oldAd()) {
            hideWebView();
            if (logger_) logger_->d(kHLAdViewLogSource, "Fade out of the old ad scheduled");
        }
        adWebView_->loadAd(ad, overPlacement);
    } else if (hlAdViewSameLabel(ad->size(), HLAdSize::sizeInterstitial())) {
        if (logger_)
            logger_->d(kHLAdViewLogSource, "Rendering interstitial ad for #%@...", hlValueForLog(ad->adIdNumber()));
        Ref<HLInterstitialAd> interstitial = HLInterstitialAd::shared();
        Ref<HLAdDisplayDelegate> display = adDisplayDelegate();
        if (!display) display = weakAdDisplayDelegate();
        interstitial->setAdDisplayDelegate(NSObject::alloc<HLAdDisplayProxy>()->initWithDisplayDelegate(display));
        interstitial->setAdVideoPlaybackDelegate(
            NSObject::alloc<HLAdVideoPlaybackProxy>()->initWithVideoPlaybackDelegate(adVideoPlaybackDelegate()));
        interstitial->showOver(window(), overPlacement, ad);
    } else if (logger_) {
        logger_->w(kHLAdViewLogSource, "Unknown ad size: %@, ignoring...",
                   ad->size() ? std::optional<std::string>(ad->size()->label()) : std::nullopt);
    }
}

void HLHtmlAdView::clearAds() {
    {
        std::scoped_lock lock(mutex_);
        oldAd_.reset();
        currentAd_.reset();
        currentPlacement_.reset();
    }
    adWebView_->clear();
}

bool HLHtmlAdView::isReadyForDisplay() {
    if (!sdk_ || !sdk_->preloadedAdManager()) return false;
    return sdk_->preloadedAdManager()->hasPreloadedAdOfSpec(HLAdSpec::specWithSize(adSize(), HLAdType::typeRegular()));
}

// ---- load delegate and update observer

void HLHtmlAdView::adServiceDidLoadAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) {
    if (!ad) return adServiceDidFailToLoadAdWithError(service, -1);
    if (logger_)
        logger_->w(kHLAdViewLogSource, "No placement is available when loading ads directly from the HLHtmlAdView");
    render(ad);
    if (service) service->addAdUpdateObserver(self<HLHtmlAdView>(), adSize());
    auto view = self<HLHtmlAdView>();
    HLUtils::performOnMainThread([view, service, ad] {
        view->tellLoadDelegates([&](const Ref<HLAdLoadDelegate>& d) { d->adServiceDidLoadAd(service, ad); });
    });
}

void HLHtmlAdView::adServiceDidFailToLoadAdWithError(const Ref<HLAdService>& service, int32_t code) {
    hideTemporary();
    if (service) service->addAdUpdateObserver(self<HLHtmlAdView>(), adSize());
    auto view = self<HLHtmlAdView>();
    HLUtils::performOnMainThread([view, service, code] {
        view->tellLoadDelegates(
            [&](const Ref<HLAdLoadDelegate>& d) { d->adServiceDidFailToLoadAdWithError(service, code); });
    });
}

void HLHtmlAdView::adServiceDidUpdateAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) {
    if (superview() && !hiddenByUser()) return adServiceDidLoadAd(service, ad);
    if (service) service->removeAdUpdateObserver(self<HLHtmlAdView>(), adSize());
    if (logger_) logger_->userError(kHLAdViewLogSource, "Ad view has been removed by the time an ad was updated");
}

bool HLHtmlAdView::canAcceptUpdate() {
    return !hiddenByUser() && superview() && window() && !hlAdViewSameLabel(adSize(), HLAdSize::sizeInterstitial());
}

void HLHtmlAdView::applicationDidBecomeActive(const NSNotification&) {
    if (isFirstAdLoaded() && canAcceptUpdate()) loadNextAd();
}

// ---- visibility

void HLHtmlAdView::setHidden(bool hidden) {
    UIView::setHidden(hidden);
    hiddenByUser_ = hidden;
}

void HLHtmlAdView::setTemporaryHidden(bool hidden) { UIView::setHidden(hidden); }

void HLHtmlAdView::showWebView() {
    setTemporaryHidden(false);
    adWebView_->setAlpha(1);
    auto view = self<HLHtmlAdView>();
    if (Ref<HLAd> old = oldAd())
        tellDisplayDelegates([&](const Ref<HLAdDisplayDelegate>& d) { d->adWasHiddenIn(old, view); });
    if (Ref<HLAd> current = currentAd())
        tellDisplayDelegates([&](const Ref<HLAdDisplayDelegate>& d) { d->adWasDisplayedIn(current, view); });
}

void HLHtmlAdView::hideWebView() {
    auto webView = adWebView_;
    if (!sdk_ || !sdk_->boolForKey(kHLSlotGraphicAdAnimEnabled)) {
        webView->setAlpha(0.5f);
        return;
    }
    UIView::animateWithDuration(
        0.15, 0, UIViewAnimationOptionTransitionCrossDissolve, [webView] { webView->setAlpha(0.5f); }, nullptr);
}

void HLHtmlAdView::hideTemporary() {
    auto view = self<HLHtmlAdView>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([view] {
        view->setTemporaryHidden(true);
        // Nothing was shown for a load that failed: no display callback then.
        if (Ref<HLAd> current = view->currentAd())
            view->tellDisplayDelegates([&](const Ref<HLAdDisplayDelegate>& d) { d->adWasHiddenIn(current, view); });
    });
}

// ---- storyboard

void HLHtmlAdView::awakeFromNib() {
    if (isAutoloadEnabled()) loadNextAd();
}

void HLHtmlAdView::setValue(const Value& value, const std::string& key) {
    if (logger_) logger_->i(kHLAdViewLogSource, "Setting %@ to %@", key, value);
    const std::string lower = NSString::lowercaseString(key);
    if (lower == "size") {
        std::optional<std::string> label;
        if (const std::string* text = value.string()) label = *text;
        setAdSize(HLAdSize::sizeWithLabel(label, HLAdSize::sizeBanner()));
    } else if (lower == "autoload") {
        setAutoloadEnabled(value.boolValue());
    }
}

void HLHtmlAdView::layoutSubviews() {
    UIView::layoutSubviews();
    auto view = self<HLHtmlAdView>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([view] {
        const CGRect bounds = view->bounds();
        view->adWebView_->setFrame(CGRectMake(0, 0, bounds.size.width, bounds.size.height));
    });
}

// ---- web view delegate

bool HLHtmlAdView::webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                                     UIWebViewNavigationType navigationType) {
    Ref<NSURL> url = request.URL();
    // The user's tap is logged as it comes; a page's own navigations (a
    // reload, a frame, a script's click) fold by URL, so that a page that
    // navigates in a loop cannot flood the log. A tap gives the page an
    // activation that no script can, and its link's navigation uses it up.
    const bool byUser = navigationType == UIWebViewNavigationTypeLinkClicked && webView &&
                        webView->consumeTransientUserActivation();
    if (logger_) {
        const std::string shown = url ? platform::urlForLog(url->absoluteString()) : "(null)";
        if (byUser) logger_->i(kHLAdViewLogSource, "Handling a click on: %@", shown);
        else logger_->foldedNavigation(pageLines_, kHLAdViewLogSource, shown);
    }
    if (!url) return true;
    const bool command = url->scheme() == "halcyon" && url->host() == kHLSdkIdentifier;
    if (!command && navigationType != UIWebViewNavigationTypeLinkClicked) return true;
    // The presenter that showed this page has gone (a dismissed dialog whose
    // removal is still queued): a second tap would be tracked and opened
    // again, a command would act on a view nobody shows.
    if (foregroundClickInvalidated()) {
        if (logger_)
            logger_->folded(pageLines_, "DEBUG", kHLAdViewLogSource, "The ad has been dismissed; ignoring %@",
                            platform::urlForLog(url->absoluteString()));
        return false;
    }
    // Nobody can have acted on a page that is not on screen: its script must
    // not close, reload or click what the user is watching instead.
    if (commandsSuspended()) {
        if (logger_)
            logger_->folded(pageLines_, "INFO", kHLAdViewLogSource, "The ad is not on screen yet; ignoring %@",
                            platform::urlForLog(url->absoluteString()));
        return false;
    }
    if (command)
        handleCommand(url);
    else
        handleAdClick(url);
    return false;
}

void HLHtmlAdView::handleCommand(const Ref<NSURL>& url) {
    const std::string path = url->path();
    if (NSString::hasSuffix(path, "/next_ad")) {
        loadNextAd();
    } else if (NSString::hasSuffix(path, "/close_ad")) {
        hideTemporary();
    } else if (NSString::hasSuffix(path, "/storekit")) {
        handleAdClick(NSURL::URLWithString(std::string("halcyon://") + kHLSdkIdentifier + "/adservice/storekit"));
    } else if (logger_) {
        logger_->folded(pageLines_, "WARN", kHLAdViewLogSource, "Unknown URI action: %@",
                        platform::shortenedForLog(path));
    }
}

void HLHtmlAdView::webViewDidFinishLoad(Ref<UIWebView>) {
    showWebView();
    // A page may reload itself in a loop.
    if (logger_) logger_->folded(pageLines_, "DEBUG", kHLAdViewLogSource, "Advertisement rendered");
}

// ---- clicks

void HLHtmlAdView::handleAdClick(const Ref<NSURL>& url) {
    if (!sdk_) return;
    if (sdk_->boolForKey(kHLSlotClickOverlayEnabled)) return trackClickInForeground(url);
    sdk_->adService()->trackClickOn(currentAd(), currentPlacement(), self<HLHtmlAdView>(), url);
}

void HLHtmlAdView::trackClickInForeground(const Ref<NSURL>& url) {
    if (logger_) logger_->d(kHLAdViewLogSource, "Performing foreground pre-click handling...");
    Ref<HLClickTrackingOverlayView> overlay;
    {
        std::scoped_lock lock(mutex_);
        // A click is being tracked: further taps are ignored.
        if (trackingOverlay_) return;
        overlay = HLClickTrackingOverlayView::alloc()->initWithSdk(sdk_);
        trackingOverlay_ = overlay;
    }
    overlay->attachToView(self<HLHtmlAdView>(), overlayFadeTime());
    sdk_->adService()->trackForegroundClickOn(currentAd(), currentPlacement(), self<HLHtmlAdView>(), url);
}

void HLHtmlAdView::removeClickTrackingOverlay() {
    Ref<HLClickTrackingOverlayView> overlay;
    {
        std::scoped_lock lock(mutex_);
        overlay.swap(trackingOverlay_);
    }
    if (!overlay) return;
    const double fade = overlayFadeTime();
    HLUtils::performOnMainThread([overlay, fade] {
        UIView::animateWithDuration(
            fade, [overlay] { overlay->setAlpha(0); }, [overlay](bool) { overlay->removeFromSuperview(); });
    });
}

double HLHtmlAdView::overlayFadeTime() const { return HLClickTrackingOverlayView::fadeTimeForSdk(sdk_); }

void HLHtmlAdView::notifyClickDelegate(const Ref<UIView>& view) {
    auto adView = self<HLHtmlAdView>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([adView, view] {
        Ref<HLAd> ad = adView->currentAd();
        adView->tellDisplayDelegates([&](const Ref<HLAdDisplayDelegate>& d) { d->adWasClickedIn(ad, view); });
    });
}

Ref<UIViewController> HLHtmlAdView::visibleViewController() {
    if (Ref<UIViewController> parent = parentController()) return parent;
    if (logger_) logger_->i(kHLAdViewLogSource, "View controller not passed, discovering automatically...");
    Ref<UIWindow> host = window();
    Ref<UIViewController> top =
        HLUtils::topViewControllerFromViewController(host ? host->rootViewController() : nullptr);
    if (!top) return nullptr;
    if (logger_)
        logger_->i(kHLAdViewLogSource, "Automatically discoverted %@ to be visble view controller", top->className());
    if (!top->isViewLoaded()) {
        if (logger_) logger_->w(kHLAdViewLogSource, "View controller %@ found, but is not visisble", top->className());
        return nullptr;
    }
    return top;
}

// ---- delegates

void HLHtmlAdView::tellLoadDelegates(const std::function<void(const Ref<HLAdLoadDelegate>&)>& call) const {
    for (const Ref<HLAdLoadDelegate>& delegate : {adLoadDelegate(), weakAdLoadDelegate()})
        if (delegate) call(delegate);
}

void HLHtmlAdView::tellDisplayDelegates(const std::function<void(const Ref<HLAdDisplayDelegate>&)>& call) const {
    for (const Ref<HLAdDisplayDelegate>& delegate : {adDisplayDelegate(), weakAdDisplayDelegate()})
        if (delegate) call(delegate);
}

// ---- properties

#define HL_AD_VIEW_LOCKED_GETTER(Type, name, field) \
    Type HLHtmlAdView::name() const {               \
        std::scoped_lock lock(mutex_);              \
        return field;                               \
    }
HL_AD_VIEW_LOCKED_GETTER(Ref<HLAd>, oldAd, oldAd_)
HL_AD_VIEW_LOCKED_GETTER(Ref<HLAd>, currentAd, currentAd_)
HL_AD_VIEW_LOCKED_GETTER(std::optional<std::string>, currentPlacement, currentPlacement_)
HL_AD_VIEW_LOCKED_GETTER(Ref<UIViewController>, parentController, parentController_)
HL_AD_VIEW_LOCKED_GETTER(Ref<HLAdSize>, adSize, adSize_)
HL_AD_VIEW_LOCKED_GETTER(Ref<HLClickTrackingOverlayView>, trackingOverlay, trackingOverlay_)
HL_AD_VIEW_LOCKED_GETTER(Ref<HLAdLoadDelegate>, adLoadDelegate, adLoadDelegate_)
HL_AD_VIEW_LOCKED_GETTER(Ref<HLAdDisplayDelegate>, adDisplayDelegate, adDisplayDelegate_)
HL_AD_VIEW_LOCKED_GETTER(Ref<HLAdVideoPlaybackDelegate>, adVideoPlaybackDelegate, adVideoPlaybackDelegate_)
HL_AD_VIEW_LOCKED_GETTER(Ref<HLAdLoadDelegate>, weakAdLoadDelegate, weakAdLoadDelegate_.lock())
HL_AD_VIEW_LOCKED_GETTER(Ref<HLAdDisplayDelegate>, weakAdDisplayDelegate, weakAdDisplayDelegate_.lock())
HL_AD_VIEW_LOCKED_GETTER(Ref<HLInterstitialAdDismissProxy>, weakInterstitialDismissalDelegate,
                         weakInterstitialDismissalDelegate_.lock())
#undef HL_AD_VIEW_LOCKED_GETTER

#define HL_AD_VIEW_LOCKED_SETTER(Type, name, field) \
    void HLHtmlAdView::name(const Type& value) {    \
        std::scoped_lock lock(mutex_);              \
        field = value;                              \
    }
HL_AD_VIEW_LOCKED_SETTER(Ref<UIViewController>, setParentController, parentController_)
HL_AD_VIEW_LOCKED_SETTER(Ref<HLAdSize>, setAdSize, adSize_)
HL_AD_VIEW_LOCKED_SETTER(Ref<HLAdLoadDelegate>, setAdLoadDelegate, adLoadDelegate_)
HL_AD_VIEW_LOCKED_SETTER(Ref<HLAdDisplayDelegate>, setAdDisplayDelegate, adDisplayDelegate_)
HL_AD_VIEW_LOCKED_SETTER(Ref<HLAdVideoPlaybackDelegate>, setAdVideoPlaybackDelegate, adVideoPlaybackDelegate_)
HL_AD_VIEW_LOCKED_SETTER(Ref<HLAdLoadDelegate>, setWeakAdLoadDelegate, weakAdLoadDelegate_)
HL_AD_VIEW_LOCKED_SETTER(Ref<HLAdDisplayDelegate>, setWeakAdDisplayDelegate, weakAdDisplayDelegate_)
HL_AD_VIEW_LOCKED_SETTER(Ref<HLInterstitialAdDismissProxy>, setWeakInterstitialDismissalDelegate,
                         weakInterstitialDismissalDelegate_)
#undef HL_AD_VIEW_LOCKED_SETTER
