#include "Trillium/display/TRAAdViewController.h"

#include <cmath>

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRAAnalytics.h"
#include "Trillium/TRADisplayHooks.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/TRASmartRedirectWebView.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSDate.h"
#include "platform/net/NSURLError.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

namespace {

constexpr float kTRAAdQuarterTurn = 1.5707964f;

bool TRAAdAtLeast(int64_t major) { return platform::systemVersionAtLeast(major, 0); }
int64_t TRAAdStatusBarOrientation() { return UIApplication::sharedApplication()->statusBarOrientation(); }

Ref<UIViewController> TRAAdKeyWindowRoot() {
    auto window = UIApplication::sharedApplication()->keyWindow();
    return window ? window->rootViewController() : nullptr;
}

// A flag of a per-ad list: an absent list reads as false (as a message to
// nil would); nullopt refuses an index the present list does not reach.
std::optional<bool> TRAAdFlagAt(const TRAAd::FlagList& list, int32_t index) {
    if (!list) return false;
    if (index < 0 || static_cast<size_t>(index) >= list->size()) return std::nullopt;
    return (*list)[static_cast<size_t>(index)];
}

// A URL of a per-ad list: absent list → no URL; out of reach → refused.
std::optional<std::optional<std::string>> TRAAdURLAt(const TRAAd::URLList& list, int32_t index) {
    if (!list) return std::optional<std::string>();
    if (index < 0 || static_cast<size_t>(index) >= list->size()) return std::nullopt;
    return std::optional<std::string>((*list)[static_cast<size_t>(index)]);
}

}  // namespace

// ---- creation and loading ------------------------------------------------------------------------

void TRAAdViewController::initWithAd(const Ref<TRAAd>& ad, const Ref<TRAViewControllerDelegate>& delegate,
                                     const std::optional<std::string>& adTag) {
    ad_ = ad;
    delegate_ = delegate;
    firstLoad_ = true;
    prefAdTag_ = adTag;
    view()->setNeedsDisplay();
}

void TRAAdViewController::loadView() {
    auto ad = this->ad();
    CGRect frame = CGRectZero;
    if (!ad || ad->adType() != 5) {
        auto top = TRAAdSDKUtils::topViewControllerWithRootViewController(TRAAdKeyWindowRoot());
        if (top && top->isViewLoaded()) frame = top->view()->bounds();
    } else {
        frame = UIScreen::mainScreen()->bounds();
        if (UIInterfaceOrientationIsLandscape(TRAAdStatusBarOrientation()))
            std::swap(frame.size.width, frame.size.height);
    }
    webView_ = std::static_pointer_cast<UIWebView>(UIWebView::alloc()->initWithFrame(frame));
    webView_->scrollView()->setBounces(false);
    webView_->setDelegate(self<TRAAdViewController>());
    setView(webView_);
    webView_->scrollView()->setScrollEnabled(true);
    int64_t type = ad ? ad->adType() : 0;
    webView_->setBackgroundColor(UIColor::clearColor());
    webView_->setOpaque(false);
    webView_->scrollView()->setScrollEnabled(type != 1 && type != 5);
    webView_->setAccessibilityLabel(std::string("AdWebView"));
    webView_->loadHTMLString(ad ? ad->html() : std::string(),
                             NSURL::URLWithString(TRAMetadata::sharedMetadata()->getAdPlatformHost()));
}

// ---- rotation of a mismatched ad -------------------------------------------------------------------

void TRAAdViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    auto ad = this->ad();
    if (!ad || !TRAAdAtLeast(8)) return;
    int64_t supported = TRAAdSDKUtils::supportedOrientations();
    const std::string& orientation = ad->adOrientation();
    bool portrait = orientation == "portrait", landscape = orientation == "landscape";
    if (!((supported == 0 && landscape) || (supported == 1 && portrait))) return;
    view()->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    int64_t status = TRAAdStatusBarOrientation();
    float angle = portrait ? (status == 4 ? kTRAAdQuarterTurn : -kTRAAdQuarterTurn)
                           : (status == 2 ? kTRAAdQuarterTurn : -kTRAAdQuarterTurn);
    view()->setTransform(CGAffineTransformMakeRotation(angle));
}

void TRAAdViewController::viewDidAppear(bool animated) {
    TRAAdCache::sharedInstance()->setAllowAutoRotate(false);
    UIViewController::viewDidAppear(animated);
    auto ad = this->ad();
    if (!ad || TRAAdAtLeast(8) || TRAAdSDKUtils::supportedOrientations() != 2 ||
        !adOrientationIsDiffThanCurrentOrientation())
        return;
    view()->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    CGRect frame = view()->frame();
    if (ad->adOrientation() == "landscape") {
        view()->setTransform(CGAffineTransformMakeRotation(-kTRAAdQuarterTurn));
        if (view()->frame().size.width > view()->frame().size.height) replaceHieghtAndWidth();
    } else if (ad->adOrientation() == "portrait" && frame.size.width < frame.size.height) {
        view()->setTransform(CGAffineTransformMakeRotation(0));
        replaceHieghtAndWidth();
    }
}

void TRAAdViewController::replaceHieghtAndWidth() {
    CGRect frame = view()->frame();
    view()->setFrame(CGRectMake(0, 0, frame.size.height, std::trunc(frame.size.width)));
}

bool TRAAdViewController::adOrientationIsDiffThanCurrentOrientation() const {
    auto ad = this->ad();
    if (!ad) return false;
    int64_t status = TRAAdStatusBarOrientation();
    return (ad->adOrientation() == "landscape" && UIInterfaceOrientationIsPortrait(status)) ||
           (ad->adOrientation() == "portrait" && UIInterfaceOrientationIsLandscape(status));
}

// ---- display -------------------------------------------------------------------------------------------

void TRAAdViewController::reportDisplayFailure(const std::string& description) {
    displayFailed_ = true;
    if (auto delegate = this->delegate()) delegate->failedDisplayAd(TRAAdSDKUtils::createErrorWithDescription(description));
}

void TRAAdViewController::webViewDidFinishLoad(Ref<UIWebView> webView) {
    if (webView) webView->stringByEvaluatingJavaScriptFromString("enableScheme(\"externalLinks\")");
    // The first finished load decides; later ones (frames, clicks loaded in
    // the ad) only enable the scheme again.
    if (displayDecided_) return;
    displayDecided_ = true;
    if (hasPrefAdTag()) TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSessionForKey(*prefAdTag_);
    auto ad = this->ad();
    if (!ad || !ad->trackingUrl()) {
        reportDisplayFailure("Internal error");
        return;
    }
    if (ad->videoPref()) return;  // the video screen shows itself
    if (!showWebView()) return;
    displayAdTimeStart_.store(NSDate::date().timeIntervalSince1970());
    if (auto delegate = this->delegate()) delegate->didShowAd();
    for (const std::string& url : *ad->trackingUrl())
        TRAAdSDKUtils::sendImpression(hasPrefAdTag() ? NSString::stringWithFormat("%@&adTag=%@", url, *prefAdTag_) : url);
}

bool TRAAdViewController::showWebView() {
    std::string reason = TRAAdSDKUtils::canShowAd();
    if (!reason.empty()) {
        TRALog::errorf("Ad not shown: %@", reason);
        bool told = reason == "No internet connection." || reason == "An ad is already displayed";
        reportDisplayFailure(told ? reason : "Internal error");
        return false;
    }
    applicationHasStatusBar_ = !UIApplication::sharedApplication()->isStatusBarHidden();
    Ref<UIViewController> root = TRAAdKeyWindowRoot();
    keyWindowPresentationStyle_ = static_cast<int32_t>(root->modalPresentationStyle());
    parentVC_ = TRAAdSDKUtils::topViewControllerWithRootViewController(root);
    UIModalPresentationStyle style = UIModalPresentationCurrentContext;
    if (TRAAdAtLeast(8)) {
        style = UIModalPresentationOverFullScreen;
        setModalPresentationCapturesStatusBarAppearance(true);
        setModalPresentationStyle(UIModalPresentationOverFullScreen);
    }
    root->setModalPresentationStyle(style);
    if (parentVC_ != root) {
        parentPresentationStyle_ = static_cast<int32_t>(parentVC_->modalPresentationStyle());
        parentVC_->setModalPresentationStyle(style);
    }
    parentVC_->presentViewController(self<TRAAdViewController>(), false, nullptr);
    if (isPresented()) return true;
    // The platform refused the presentation: the host is put back as it was.
    if (parentVC_ != root) parentVC_->setModalPresentationStyle(parentPresentationStyle_);
    root->setModalPresentationStyle(keyWindowPresentationStyle_);
    parentVC_ = nullptr;
    reportDisplayFailure("Internal error");
    return false;
}

void TRAAdViewController::sendCloseUrl() {
    auto ad = this->ad();
    if (!ad || !ad->closeUrl()) return;
    for (const std::string& url : *ad->closeUrl()) TRAAdSDKUtils::sendClose(appendDisplayTimeToUrl(url));
}

void TRAAdViewController::webViewDidFailLoadWithError(Ref<UIWebView>, Ref<NSError> error) {
    if (!error || error->code() == NSURLErrorCancelled || (error->domain() == WebKitErrorDomain && error->code() == 102))
        return;
    // A failure before the first finish decides the display too: the page
    // the publisher is told has failed is never shown afterwards.
    displayDecided_ = true;
    reportDisplayFailure("Webview failed load");
    if (isPresented()) closeAd(false, true, std::nullopt);
}

// ---- closing ---------------------------------------------------------------------------------------------

void TRAAdViewController::clearNowPlayingVideo() {
    const auto& videoStore = TRADisplayHooks::shared().videoStore;
    if (auto store = videoStore ? videoStore() : nullptr) store->setNowPlayingVideoFileName(std::string());
}

void TRAAdViewController::closeAd(bool animated, bool click, const std::optional<std::string>& url) {
    if (!isPresented() || closing_) return;
    closing_ = true;
    auto keep = self<TRAAdViewController>();
    auto delegate = this->delegate();
    if (delegate) delegate->willCloseAd();
    if (TRAAdAtLeast(7)) TRAAdSDKUtils::setApplicationStatusBarHidden(!applicationHasStatusBar_);
    Ref<UIViewController> root = TRAAdKeyWindowRoot();
    if (parentVC_ && parentVC_ != root) parentVC_->setModalPresentationStyle(parentPresentationStyle_);
    if (root) root->setModalPresentationStyle(keyWindowPresentationStyle_);
    parentVC_ = nullptr;
    clearNowPlayingVideo();
    // Every close gives rotation back; a browser opened after it takes it again.
    TRAAdCache::sharedInstance()->setAllowAutoRotate(true);
    // Nothing of the page reaches a screen that has gone.
    if (webView_) webView_->setDelegate(nullptr);
    dismissViewControllerAnimated(animated, [keep, url] {
        if (url) keep->openInAppBrowserWithURL(*url, nullptr);
    });
    if (delegate) delegate->didCloseAdWithClick(click);
}

void TRAAdViewController::closeAdWithAnimation(bool animated, bool click) {
    if (webView_) webView_->setDelegate(nullptr);
    if (isPresented()) closeAd(animated, click, std::nullopt);
}

void TRAAdViewController::openInAppBrowserWithURL(const std::string& url, const Ref<TRASmartRedirectWebViewDelegate>&) {
    TRAAdSDKUtils::openInAppBrowserWithURL(url, std::dynamic_pointer_cast<TRASmartRedirectWebViewDelegate>(delegate()));
}

// ---- click follower callbacks ---------------------------------------------------------------------------

void TRAAdViewController::didExitWebViewWithInAppBrowser(const std::optional<std::string>& url) {
    if (isPresented() && !closing_) closeAd(false, true, url);
    else if (url) openInAppBrowserWithURL(*url, nullptr);  // the screen went before the walk ended
}

void TRAAdViewController::didFinishWithError(const Ref<NSError>&) {
    if (isPresented()) closeAd(false, true, std::nullopt);
}

void TRAAdViewController::allowAutoRotate() {
    if (auto delegate = this->delegate()) delegate->allowAutoRotate();
}

// ---- the router -------------------------------------------------------------------------------------------

std::optional<int32_t> TRAAdViewController::adIndexInUrl(const std::string& url, NSRange indexRange) {
    if (indexRange.location == NSNotFound || indexRange.length == 0) return 0;
    std::vector<std::string> pieces = NSString::componentsSeparatedByString(url, "&");
    std::vector<std::string> parts = NSString::componentsSeparatedByString(pieces.empty() ? url : pieces.back(), "=");
    if (parts.size() < 2) return std::nullopt;
    return NSString::intValue(parts[1]);
}

std::string TRAAdViewController::appendDisplayTimeToUrl(const std::string& url) const {
    double elapsed = NSDate::date().timeIntervalSince1970() - displayAdTimeStart_.load();
    return url + NSString::stringWithFormat("&displayDuration=%.3f", elapsed);
}

bool TRAAdViewController::webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest& request,
                                                            UIWebViewNavigationType) {
    const Ref<NSURL>& requestURL = request.URL();
    if (!requestURL || requestURL->absoluteString() == "about:blank") return false;
    const std::string& url = requestURL->absoluteString();
    std::optional<std::string> command = TRAAdSDKUtils::pageCommandInUrl(url);
    NSRange indexRange = NSString::rangeOfString(url, "index=");

    if (command) {
        const std::string& name = *command;
        if (name == "closeAd") {
            if (webView_) webView_->setDelegate(nullptr);
            // A screen never shown sends nothing and restores nothing.
            if (!isPresented()) return false;
            sendCloseUrl();
            closeAd(false, false, std::nullopt);
            return false;
        }
        if (name == "contentLoaded") return false;
        if (name.find("externalLinks") != std::string::npos) {
            if (!isPresented()) return false;
            std::optional<int32_t> index = adIndexInUrl(url, indexRange);
            if (!index) refuseClick(url, -1);
            else openExternalLinkWithNSString(name, *index);
            return false;
        }
        // Another command goes on as an ordinary navigation.
    }

    if (firstLoad_) {
        firstLoad_ = false;
        return true;
    }
    // A screen that is not up takes no clicks (script or frame navigations).
    if (!isPresented() || closing_) return false;
    auto ad = this->ad();
    std::optional<int32_t> index = adIndexInUrl(url, indexRange);
    if (!ad || !index) {
        refuseClick(url, index.value_or(-1));
        return false;
    }
    bool redirect = false;
    if (!command) {
        std::optional<bool> flag = TRAAdFlagAt(ad->smartRedirect(), *index);
        if (!flag) {
            refuseClick(url, *index);
            return false;
        }
        redirect = *flag;
    }
    if (redirect) return redirectedClick(ad, request, url, *index);
    std::optional<bool> ended = plainClick(ad, url, *index);
    return ended ? *ended : true;
}

void TRAAdViewController::refuseClick(const std::string& url, int32_t index) {
    TRALog::errorFolded(pageLines_, "Ad click refused: no ad %d in the ad's lists (%@).", index,
                        platform::urlForLog(url));
}

std::optional<TRAAdViewController::TRAAdClick> TRAAdViewController::buildClick(const Ref<TRAAd>& ad,
                                                                                const std::string& url,
                                                                                int32_t index) const {
    bool video = ad->videoPref() != nullptr;
    auto withOffset = [&](std::string text) {
        if (video) text += NSString::stringWithFormat("&offset=%d", ad->offset());
        return text;
    };
    TRAAdClick click;
    if (!TRAMetadata::sharedMetadata()->isDisableTwoClicks()) {
        auto report = TRAAdURLAt(ad->clickTrackingUrl(), index);
        if (!report) return std::nullopt;
        if (*report) click.report = withOffset(appendDisplayTimeToUrl(**report));
        click.target = url;
    } else {
        std::string text = withOffset(appendDisplayTimeToUrl(url));
        click.target = NSString::stringWithFormat("%@%@", text, TRAAdSDKUtils::authHashURLNonRequestWithURL(text));
    }
    return click;
}

std::optional<bool> TRAAdViewController::plainClick(const Ref<TRAAd>& ad, const std::string& url, int32_t index) {
    auto metadata = TRAMetadata::sharedMetadata();
    bool browserSwitch = metadata->isTrilliumBrowserEnabled();
    std::optional<bool> browserFlag = browserSwitch ? TRAAdFlagAt(ad->trilliumBrowserEnabled(), index) : false;
    std::optional<TRAAdClick> click = buildClick(ad, url, index);
    Ref<NSURL> target = click ? NSURL::URLWithString(click->target) : nullptr;
    if (!browserFlag || !click || !target) {
        refuseClick(url, index);
        return false;
    }
    if (click->report) TRAAdSDKUtils::sendClick(click->report);

    if (browserSwitch && *browserFlag) {
        if (webView_) webView_->setDelegate(nullptr);
        closeAd(false, true, target->absoluteString());
        return false;
    }
    auto application = UIApplication::sharedApplication();
    if (application->canOpenURL(target)) {
        application->openURL(target);
        if (webView_) webView_->setDelegate(nullptr);
        closeAd(false, true, std::nullopt);
        return false;
    }
    TRAAnalytics::sendAnalyticsURLWithCategory(TRAAnalytics::CategoryCannotOpenTarget, target->absoluteString(),
                                               "Can't open url", std::nullopt);
    // The ad stays up: a web page loads inside it; anything else the web view
    // cannot load is refused rather than failing the shown ad.
    std::string scheme = target->scheme();
    if (scheme == "http" || scheme == "https" || scheme == "file" || scheme == "about") return std::nullopt;
    return false;
}

bool TRAAdViewController::redirectedClick(const Ref<TRAAd>& ad, const NSURLRequest& request, const std::string& url,
                                          int32_t index) {
    bool twoClick = !TRAMetadata::sharedMetadata()->isDisableTwoClicks();
    auto source = TRAAdURLAt(twoClick ? ad->clickTrackingUrl() : ad->trackingUrl(), index);
    std::optional<bool> browserFlag = TRAAdFlagAt(ad->trilliumBrowserEnabled(), index);
    std::optional<TRAAdClick> click = buildClick(ad, url, index);
    Ref<NSURL> target = click ? NSURL::URLWithString(click->target) : nullptr;
    if (!source || !browserFlag || !click || !target) {
        refuseClick(url, index);
        return false;
    }
    auto walkRequest = NSURLRequest::requestWithURL(target, request.cachePolicy(), request.timeoutInterval());
    auto self = this->self<TRAAdViewController>();
    bool accepted = TRASmartRedirectWebView::startSmartRedirect(
        *walkRequest, view(), self, std::dynamic_pointer_cast<TRASmartRedirectWebViewDelegate>(delegate()), true,
        TRAAdSDKUtils::getDParamsFromHtml(source->value_or("")), *browserFlag);
    // A click the follower refuses (one is being followed) leaves the ad as it was.
    if (!accepted) return false;
    if (webView_) webView_->setDelegate(nullptr);
    if (click->report) TRAAdSDKUtils::sendClick(click->report);
    return false;
}

void TRAAdViewController::openExternalLinkWithNSString(const std::string& command, int32_t index) {
    std::string marker = NSString::stringWithFormat("%@/", "externalLinks");
    size_t at = command.find(marker);
    if (at == std::string::npos) return;
    std::string link = command.substr(at + marker.size());
    Ref<NSURL> url = NSURL::URLWithString(link);
    if (!url) {
        TRALog::errorFolded(pageLines_, "External link does not parse as a URL; nothing is opened: %@",
                            platform::urlForLog(link));
        return;
    }
    auto ad = this->ad();
    bool browserSwitch = TRAMetadata::sharedMetadata()->isTrilliumBrowserEnabled();
    std::optional<bool> flag = browserSwitch && ad ? TRAAdFlagAt(ad->trilliumBrowserEnabled(), index) : false;
    if (!flag) {
        refuseClick(link, index);
        return;
    }
    if (browserSwitch && *flag) openInAppBrowserWithURL(link, nullptr);
    else UIApplication::sharedApplication()->openURL(url);
}

// ---- orientation and status bar ------------------------------------------------------------------------

UIInterfaceOrientationMask TRAAdViewController::supportedInterfaceOrientations() {
    auto ad = this->ad();
    std::string orientation = ad ? ad->adOrientation() : std::string();
    int64_t supported = TRAAdSDKUtils::supportedOrientations();
    int64_t status = TRAAdStatusBarOrientation();
    bool before8 = !TRAAdAtLeast(8);
    if (before8 && supported == 2 && adOrientationIsDiffThanCurrentOrientation()) {
        if (orientation == "landscape") return 6;
        if (orientation == "portrait") return 24;
    }
    bool unity = TRATrilliumSDK::sharedInstance()->isUnityEnvironment();
    if (unity && supported == 1 && (!before8 || orientation != "portrait")) return 24;
    if (unity && supported == 0 && (!before8 || orientation != "landscape")) return 2;
    if (orientation == "landscape") return UIInterfaceOrientationIsPortrait(status) ? 16 : 24;
    if (orientation == "portrait") return UIInterfaceOrientationIsLandscape(status) ? 2 : 6;
    return 30;
}

UIInterfaceOrientation TRAAdViewController::preferredInterfaceOrientationForPresentation() {
    auto ad = this->ad();
    std::string orientation = ad ? ad->adOrientation() : std::string();
    int64_t supported = TRAAdSDKUtils::supportedOrientations();
    int64_t status = TRAAdStatusBarOrientation();
    bool before8 = !TRAAdAtLeast(8);
    bool unity = TRATrilliumSDK::sharedInstance()->isUnityEnvironment();
    if (unity && supported == 0 && (!before8 || orientation != "landscape")) return 1;
    if (unity && supported == 1 && !before8) return status;
    if (unity && supported == 1 && before8 && orientation != "portrait") return status == 3 ? 3 : 4;
    if (before8 && supported == 2 && adOrientationIsDiffThanCurrentOrientation()) return status;
    if (orientation == "landscape") return UIInterfaceOrientationIsPortrait(status) ? 4 : status;
    if (orientation == "portrait") return UIInterfaceOrientationIsLandscape(status) ? 1 : status;
    return UIViewController::preferredInterfaceOrientationForPresentation();
}

bool TRAAdViewController::prefersStatusBarHidden() {
    auto ad = this->ad();
    std::string orientation = ad ? ad->adOrientation() : std::string();
    int64_t supported = TRAAdSDKUtils::supportedOrientations();
    if (!TRAAdAtLeast(7)) return !applicationHasStatusBar_;
    if (!TRAAdAtLeast(8) && supported == 2 && adOrientationIsDiffThanCurrentOrientation()) return true;
    if (TRAAdAtLeast(8) &&
        ((supported == 0 && orientation == "landscape") || (supported == 1 && orientation == "portrait")))
        return true;
    switch (TRAMetadata::sharedMetadata()->getStatusBarMode()) {
        case 0: return true;
        case 1: return false;
        case 2: return !applicationHasStatusBar_;
        default: return !(ad && ad->adType() == 5);
    }
}
