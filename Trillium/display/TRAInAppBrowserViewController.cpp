#include "Trillium/display/TRAInAppBrowserViewController.h"

#include <cmath>

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAnalytics.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/TRASKStoreProductViewController.h"
#include "Trillium/display/TRASmartRedirectWebView.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/runtime/Log.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIScreen.h"

namespace {

constexpr double kTRABrowserPi = 3.14159265358979323846;

int64_t TRABrowserMode() { return TRAAdSDKUtils::supportedOrientationsInAppBrowser(); }
bool TRABrowserFixedMode() { return TRABrowserMode() != 2; }
int64_t TRABrowserDeviceOrientation() { return UIDevice::currentDevice()->orientation(); }
bool TRABrowserDeviceLandscape() { return TRABrowserDeviceOrientation() == 3 || TRABrowserDeviceOrientation() == 4; }
bool TRABrowserDevicePortrait() { return TRABrowserDeviceOrientation() == 1 || TRABrowserDeviceOrientation() == 2; }
int64_t TRABrowserStatusBarOrientation() { return UIApplication::sharedApplication()->statusBarOrientation(); }

// The device is held against a fixed orientation mode.
bool TRABrowserMismatch() {
    int64_t mode = TRABrowserMode();
    return (mode == 0 && TRABrowserDeviceLandscape()) || (mode == 1 && TRABrowserDevicePortrait());
}

bool TRABrowserAtLeast(int64_t major) { return platform::systemVersionAtLeast(major, 0); }

Ref<UIColor> TRABrowserRGB(int r, int g, int b) { return UIColor::colorWithRed(r / 255.0f, g / 255.0f, b / 255.0f, 1); }

Ref<UIButton> TRABrowserButton(CGRect frame, const char* image) {
    auto button = UIButton::buttonWithType(platform::UIButtonTypeCustom);
    button->setFrame(frame);
    button->setBackgroundImage(TRAAdSDKUtils::getResourcesImageFromString(image), platform::UIControlStateNormal);
    return button;
}

CGRect TRABrowserWithY(CGRect frame, CGFloat y) {
    frame.origin.y = y;
    return frame;
}

bool TRABrowserIsStoreLink(const std::string& text, const std::string& scheme) {
    return scheme == "itms-apps" || scheme == "itms-appss" ||
           (scheme == "https" && text.find(TRASmartRedirectWebView::kAppStoreWebHost) != std::string::npos);
}

}  // namespace

Ref<TRAInAppBrowserViewController> TRAInAppBrowserViewController::initWithURL(
    const std::string& url, const Ref<TRASmartRedirectWebViewDelegate>& inAppStoreDelegate) {
    UIViewController::init();
    TRAAdCache::sharedInstance()->setAllowAutoRotate(false);
    webViewURL_ = url;
    applicationHasStatusBar_ = !UIApplication::sharedApplication()->isStatusBarHidden();
    inAppStoreDelegate_ = inAppStoreDelegate;
    return self<TRAInAppBrowserViewController>();
}

TRAInAppBrowserViewController::~TRAInAppBrowserViewController() {
    if (webView_) webView_->setDelegate(nullptr);
}

CGRect TRAInAppBrowserViewController::applicationFrame() const {
    std::lock_guard<std::mutex> lock(frameMutex_);
    return applicationFrame_;
}

void TRAInAppBrowserViewController::setApplicationFrame(CGRect frame) {
    std::lock_guard<std::mutex> lock(frameMutex_);
    applicationFrame_ = frame;
}

// ---- the screen -------------------------------------------------------------------------------

void TRAInAppBrowserViewController::loadView() {
    bool fixed = TRABrowserFixedMode();
    int32_t n = 70;
    if (UIInterfaceOrientationIsLandscape(TRABrowserStatusBarOrientation())) n = 50;
    if (fixed && TRABrowserAtLeast(8)) n = 50;
    navigationBarHeight_ = n;

    CGRect screen = UIScreen::mainScreen()->bounds();
    CGFloat w = screen.size.width, h = screen.size.height;
    if (TRABrowserAtLeast(8) && !TRABrowserAtLeast(9) && TRABrowserDeviceOrientation() == 2 && fixed) std::swap(w, h);
    if (!TRABrowserAtLeast(8) && UIInterfaceOrientationIsLandscape(TRABrowserStatusBarOrientation())) std::swap(w, h);
    CGRect frame = CGRectMake(0, 0, w, h);
    setApplicationFrame(frame);

    auto self = this->self<TRAInAppBrowserViewController>();
    webView_ = std::static_pointer_cast<UIWebView>(UIWebView::alloc()->initWithFrame(frame));
    webView_->scrollView()->setBounces(false);
    webView_->setDelegate(self);
    webView_->scrollView()->setScrollEnabled(true);
    webView_->setBackgroundColor(TRABrowserRGB(211, 214, 219));
    webView_->setOpaque(false);
    CGRect webFrame = webView_->frame();
    webView_->setFrame(CGRectMake(webFrame.origin.x, n, webFrame.size.width, webFrame.size.height - n));

    headerViewFirstLabel_ = std::static_pointer_cast<UILabel>(UILabel::alloc()->initWithFrame(CGRectMake(10, n - 40, w - 180, 30)));
    headerViewFirstLabel_->setTextColor(UIColor::blackColor());
    headerViewFirstLabel_->setFont(UIFont::boldSystemFontOfSize(16.46f));
    headerViewFirstLabel_->setTextAlignment(NSTextAlignmentLeft);
    headerViewFirstLabel_->setBackgroundColor(UIColor::clearColor());
    headerViewFirstLabel_->setText(std::string("Loading..."));

    headerViewSecondLabel_ = std::static_pointer_cast<UILabel>(UILabel::alloc()->initWithFrame(CGRectMake(10, n - 30, w - 180, 30)));
    headerViewSecondLabel_->setTextColor(UIColor::darkGrayColor());
    headerViewSecondLabel_->setFont(UIFont::systemFontOfSize(12.12f));
    headerViewSecondLabel_->setTextAlignment(NSTextAlignmentLeft);
    headerViewSecondLabel_->setBackgroundColor(UIColor::clearColor());
    headerViewSecondLabel_->setText(std::string());

    shadowLine_ = UIView::alloc()->initWithFrame(CGRectMake(0, n, w, 1));
    shadowLine_->setBackgroundColor(UIColor::darkGrayColor());

    backButton_ = TRABrowserButton(CGRectMake(11, n - 40, 28, 28), "arrow_dark@2x");
    backButton_->addTarget(self, &TRAInAppBrowserViewController::backButtonMethod, platform::UIControlEventTouchUpInside);
    forwardButton_ = TRABrowserButton(CGRectMake(52, n - 40, 28, 28), "arrow@2x");
    forwardButton_->addTarget(self, &TRAInAppBrowserViewController::forwardButtonMethod,
                              platform::UIControlEventTouchUpInside);
    forwardButton_->setTransform(CGAffineTransformMakeRotation(static_cast<CGFloat>(kTRABrowserPi)));
    closeButton_ = TRABrowserButton(CGRectMake(w - 39, n - 40, 28, 28), "close@2x");
    closeButton_->addTarget(self, &TRAInAppBrowserViewController::closeButtonMethod, platform::UIControlEventTouchUpInside);
    browserButton_ = TRABrowserButton(CGRectMake(w - 82, n - 40, 28, 28), "browser_icon@2x");
    browserButton_->addTarget(self, &TRAInAppBrowserViewController::browserButtonMethod,
                              platform::UIControlEventTouchUpInside);

    progressProxy_ = NSObject::alloc<TRAWebViewProgress>()->init();
    webView_->setDelegate(progressProxy_);
    progressProxy_->setWebViewProxyDelegate(self);
    progressProxy_->setProgressDelegate(self);

    progressView_ = std::static_pointer_cast<TRAWebViewProgressView>(
        TRAWebViewProgressView::alloc()->initWithFrame(CGRectMake(0, n + 1, w, 4)));
    progressView_->progressBarView()->setBackgroundColor(TRABrowserRGB(55, 169, 2));

    headerView_ = UIView::alloc()->initWithFrame(frame);
    headerView_->setBackgroundColor(TRABrowserRGB(233, 234, 238));
    for (const Ref<UIView>& view : std::initializer_list<Ref<UIView>>{
             webView_, headerViewFirstLabel_, headerViewSecondLabel_, shadowLine_, backButton_, forwardButton_,
             closeButton_, browserButton_, progressView_})
        headerView_->addSubview(view);
    if (!TRABrowserAtLeast(8) && TRABrowserMismatch()) headerView_->setHidden(true);

    setView(headerView_);
    if (!TRABrowserAtLeast(8)) headerView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    backButton_->setHidden(true);
    forwardButton_->setHidden(true);

    // A text that does not parse gives no URL; the web view then loads nothing.
    webView_->loadRequest(*NSURLRequest::requestWithURL(NSURL::URLWithString(webViewURL_)));
}

void TRAInAppBrowserViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    if (TRABrowserAtLeast(8) && !TRABrowserAtLeast(9) && TRABrowserFixedMode()) {
        view()->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        double angle = -kTRABrowserPi / 2;
        switch (TRABrowserStatusBarOrientation()) {
            case 4: angle = kTRABrowserPi / 2; break;
            case 3: angle = -kTRABrowserPi / 2; break;
            case 2: angle = kTRABrowserPi / 2; break;
            default: break;
        }
        view()->setTransform(CGAffineTransformMakeRotation(static_cast<CGFloat>(angle)));
    }
}

void TRAInAppBrowserViewController::viewDidAppear(bool animated) {
    UIViewController::viewDidAppear(animated);
    view()->setHidden(false);
    if (!TRABrowserAtLeast(8) && TRABrowserMismatch()) setTransform();
}

// ---- web view ---------------------------------------------------------------------------------

bool TRAInAppBrowserViewController::webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest& request,
                                                                      UIWebViewNavigationType) {
    const Ref<NSURL>& url = request.URL();
    if (!url || url->absoluteString() == "about:blank") return false;
    const std::string& text = url->absoluteString();
    std::string scheme = url->scheme();
    if (!TRABrowserIsStoreLink(text, scheme)) {
        if (scheme == "http" || scheme == "https") return true;
        // Another scheme: the web view loads only web pages, so the system
        // gets it when something opens it.
        auto application = UIApplication::sharedApplication();
        if (application->canOpenURL(url)) application->openURL(url);
        else
            TRALog::infoFolded(pageLines_, "In-app browser: nothing opens %@; it is not loaded.",
                               platform::urlForLog(text));
        return false;
    }
    if (TRAMetadata::sharedMetadata()->isInAppStoreEnabled()) {
        openInAppAppStoreWithURL(url);
        return false;
    }
    // No in-app store: the browser closes and the system takes the link.
    closeButtonMethod();
    auto application = UIApplication::sharedApplication();
    if (application->canOpenURL(url)) application->openURL(url);
    return false;
}

void TRAInAppBrowserViewController::webViewDidFinishLoad(Ref<UIWebView>) {
    setHeaderViewSecondLabelText();
    setHeaderViewFirstLabelText();
    setHeaderButtons();
    setBackButtonImage();
    setForwardButtonImage();
}

void TRAInAppBrowserViewController::webViewProgressUpdateProgress(const Ref<TRAWebViewProgress>&, float progress) {
    if (progressView_) progressView_->setProgress(progress, true);
}

// ---- store ------------------------------------------------------------------------------------

void TRAInAppBrowserViewController::releaseStoreController() {
    if (storeController_) storeController_->setDelegate(nullptr);
    storeController_ = nullptr;
}

void TRAInAppBrowserViewController::openInAppAppStoreWithURL(const Ref<NSURL>& url) {
    auto application = UIApplication::sharedApplication();
    if (!NSClassFromString("SKStoreProductViewController")) {
        releaseStoreController();
        if (application->canOpenURL(url)) application->openURL(url);
        closeButtonMethod();
        return;
    }
    std::string identifier = TRAAdSDKUtils::findIdFromAppStoreUrl(url->absoluteString());
    if (identifier.empty()) {
        closeButtonMethod();
        return;
    }
    if (!storeController_) {
        storeController_ = TRASKStoreProductViewController::alloc()->init();
        storeController_->setDelegate(self<TRAInAppBrowserViewController>());
    }
    auto self = this->self<TRAInAppBrowserViewController>();
    Ref<SKStoreProductViewController> sheet = storeController_;
    sheet->loadProductWithParameters(
        Value::dictionary({{SKStoreProductParameterItemIdentifier, identifier}}), [self, url, sheet](bool loaded, Ref<NSError>) {
            if (!loaded) {
                sheet->setDelegate(nullptr);
                TRAAnalytics::sendAnalyticsURLWithCategory(TRAAnalytics::CategoryFailedSmartRedirect, url->absoluteString(),
                                                           "inAppStore Error", std::nullopt);
            }
            // The user may have closed the browser while the product loaded.
            if (self->closed_ || self->storeController_ != sheet) return;
            if (loaded) {
                self->presentViewController(sheet, true, nullptr);
                TRAAdCache::sharedInstance()->setAllowAutoRotate(false);
                return;
            }
            auto application = UIApplication::sharedApplication();
            if (application->canOpenURL(url)) application->openURL(url);
            self->closeButtonMethod();
        });
}

void TRAInAppBrowserViewController::productViewControllerDidFinish(Ref<SKStoreProductViewController> controller) {
    if (controller) controller->dismissViewControllerAnimated(false, [] {});
    auto delegate = inAppStoreDelegate();
    if (delegate && delegate->respondsToSelector("didCloseInAppStore")) delegate->didCloseInAppStore();
    TRAAdCache::sharedInstance()->setAllowAutoRotate(true);
    releaseStoreController();
    closeButtonMethod();
}

// ---- buttons ----------------------------------------------------------------------------------

void TRAInAppBrowserViewController::backButtonMethod() {
    if (webView_ && webView_->canGoBack()) webView_->goBack();
}

void TRAInAppBrowserViewController::forwardButtonMethod() {
    if (webView_ && webView_->canGoForward()) webView_->goForward();
}

void TRAInAppBrowserViewController::closeButtonMethod() {
    if (closed_) return;
    closed_ = true;
    if (TRABrowserAtLeast(7) && !TRABrowserAtLeast(8)) TRAAdSDKUtils::setApplicationStatusBarHidden(!applicationHasStatusBar_);
    bool animated = true;
    if (TRABrowserMismatch()) animated = false;
    if (TRATrilliumSDK::sharedInstance()->isUnityEnvironment() && TRAAdSDKUtils::supportedOrientations() == 1 &&
        TRABrowserDevicePortrait())
        animated = false;
    if (webView_) webView_->setDelegate(nullptr);
    dismissViewControllerAnimated(animated, [] {});
    TRAAdCache::sharedInstance()->setAllowAutoRotate(true);
}

void TRAInAppBrowserViewController::browserButtonMethod() {
    auto request = webView_ ? webView_->request() : nullptr;
    Ref<NSURL> url = request ? request->URL() : nullptr;
    auto application = UIApplication::sharedApplication();
    if (url && application->canOpenURL(url)) application->openURL(url);
}

// ---- layout -----------------------------------------------------------------------------------

void TRAInAppBrowserViewController::setHeaderViewSecondLabelText() {
    auto request = webView_ ? webView_->request() : nullptr;
    if (!request || !request->URL()) return;
    std::string text = NSString::lowercaseString(request->URL()->absoluteString());
    for (const char* prefix : {"http://", "https://", "https:/", "http:/"})
        text = NSString::stringByReplacingOccurrencesOfString(text, prefix, "");
    headerViewSecondLabel_->setText(text.substr(0, text.find('/')));
}

void TRAInAppBrowserViewController::setHeaderViewFirstLabelText() {
    int32_t n = navigationBarHeight_;
    CGRect frame = headerViewFirstLabel_->frame();
    if (frame.origin.y == n - 40) headerViewFirstLabel_->setFrame(TRABrowserWithY(frame, n - 50));
    headerViewFirstLabel_->setText(webView_->stringByEvaluatingJavaScriptFromString("document.title"));
}

void TRAInAppBrowserViewController::setHeaderButtons() {
    if (!backButton_->isHidden() || !webView_->canGoBack()) return;
    int32_t n = navigationBarHeight_;
    CGFloat w = applicationFrame().size.width;
    headerViewFirstLabel_->setFrame(CGRectMake(90, n - 50, w - 180, 30));
    headerViewSecondLabel_->setFrame(CGRectMake(90, n - 30, w - 180, 30));
    headerViewFirstLabel_->setTextAlignment(NSTextAlignmentCenter);
    headerViewSecondLabel_->setTextAlignment(NSTextAlignmentCenter);
    backButton_->setHidden(false);
    forwardButton_->setHidden(false);
}

void TRAInAppBrowserViewController::setBackButtonImage() {
    backButton_->setBackgroundImage(
        TRAAdSDKUtils::getResourcesImageFromString(webView_->canGoBack() ? "arrow_dark@2x" : "arrow@2x"),
        platform::UIControlStateNormal);
}

void TRAInAppBrowserViewController::setForwardButtonImage() {
    forwardButton_->setBackgroundImage(
        TRAAdSDKUtils::getResourcesImageFromString(webView_->canGoForward() ? "arrow_dark@2x" : "arrow@2x"),
        platform::UIControlStateNormal);
}

void TRAInAppBrowserViewController::hideObjects(bool hide) {
    for (const Ref<UIView>& view : std::initializer_list<Ref<UIView>>{
             closeButton_, browserButton_, headerViewFirstLabel_, headerViewSecondLabel_, shadowLine_, progressView_,
             webView_})
        if (view) view->setHidden(hide);
    if (webView_ && webView_->canGoBack()) {
        backButton_->setHidden(hide);
        forwardButton_->setHidden(hide);
    }
}

void TRAInAppBrowserViewController::setObjectsAccordingToOrientation() {
    if (!headerView_) return;
    int32_t n = navigationBarHeight_;
    CGRect app = applicationFrame();
    CGFloat w = app.size.width;
    closeButton_->setFrame(CGRectMake(w - 39, n - 40, 28, 28));
    browserButton_->setFrame(CGRectMake(w - 84, n - 40, 28, 28));
    if (headerViewFirstLabel_->frame().origin.x == 10) {
        bool loading = headerViewFirstLabel_->text() == std::optional<std::string>("Loading...");
        headerViewFirstLabel_->setFrame(CGRectMake(10, loading ? n - 40 : n - 50, w - 180, 30));
        headerViewSecondLabel_->setFrame(CGRectMake(10, n - 30, w - 180, 30));
    } else {
        headerViewFirstLabel_->setFrame(CGRectMake(90, n - 50, w - 180, 30));
        headerViewSecondLabel_->setFrame(CGRectMake(90, n - 30, w - 180, 30));
    }
    backButton_->setFrame(CGRectMake(11, n - 40, 28, 28));
    forwardButton_->setFrame(CGRectMake(52, n - 40, 28, 28));
    shadowLine_->setFrame(CGRectMake(0, n, w, 1));
    progressView_->setFrame(TRABrowserWithY(progressView_->frame(), n + 1));
    webView_->setFrame(app);
    webView_->setFrame(CGRectMake(app.origin.x, n, app.size.width, app.size.height - n));
}

void TRAInAppBrowserViewController::replaceWidthAndHeightApplicationFrame() {
    CGRect frame = applicationFrame();
    setApplicationFrame(CGRectMake(frame.origin.x, frame.origin.y, std::trunc(frame.size.height), frame.size.width));
}

void TRAInAppBrowserViewController::setTransform() {
    if (!isViewLoaded()) return;
    int64_t mode = TRABrowserMode();
    bool fixed = mode != 2;
    int64_t device = TRABrowserDeviceOrientation();
    int32_t n = TRABrowserDeviceLandscape() ? 50 : 70;
    if (!TRABrowserAtLeast(8)) {
        if ((mode == 0 && TRABrowserDeviceLandscape()) || (mode == 1 && TRABrowserDevicePortrait())) n = 50;
        if (TRABrowserAtLeast(7)) setNeedsStatusBarAppearanceUpdate();
    } else {
        if (fixed) n = 50;
        setNeedsStatusBarAppearanceUpdate();
    }
    navigationBarHeight_ = n;

    double angle = 0;
    if (TRABrowserAtLeast(8)) {
        if (mode == 1) angle += kTRABrowserPi / 2;
        if (mode == 0 && TRABrowserStatusBarOrientation() != 1) angle += kTRABrowserPi;
        if (mode == 1 && TRABrowserStatusBarOrientation() == 3) angle += kTRABrowserPi;
    }
    float stored = static_cast<float>(angle);
    if (fixed) {
        double turn = stored;
        if (device == 3) turn = stored + kTRABrowserPi / 2;
        else if (device == 4) turn = stored - kTRABrowserPi / 2;
        view()->setTransform(CGAffineTransformMakeRotation(static_cast<CGFloat>(turn)));
    }
    view()->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    view()->setFrame(UIScreen::mainScreen()->bounds());
    CGRect frame = view()->frame();
    frame.origin = CGPointMake(0, 0);
    setApplicationFrame(frame);
    view()->setFrame(frame);

    bool deviceLandscape = device == 3 || device == 4;
    bool devicePortrait = device == 1 || device == 2;
    bool swap = !TRABrowserAtLeast(8) ? deviceLandscape
                                      : ((mode == 0 && deviceLandscape) || (mode == 1 && devicePortrait));
    if (swap) replaceWidthAndHeightApplicationFrame();
    setObjectsAccordingToOrientation();
}

// ---- rotation and status bar ---------------------------------------------------------------------

bool TRAInAppBrowserViewController::shouldAutorotate() {
    int64_t mode = TRABrowserMode();
    if (mode == 2) {
        if (TRABrowserAtLeast(8) && UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiomPad)
            didRotateFromInterfaceOrientation(TRABrowserStatusBarOrientation());
        return true;
    }
    if (TRABrowserDeviceOrientation() != 2) setTransform();
    return false;
}

bool TRAInAppBrowserViewController::prefersStatusBarHidden() {
    if (!TRABrowserAtLeast(7)) return !applicationHasStatusBar_;
    if (TRABrowserAtLeast(8) && TRABrowserFixedMode()) return true;
    if (!TRABrowserAtLeast(8) && TRABrowserMismatch()) return true;
    return UIInterfaceOrientationIsLandscape(TRABrowserStatusBarOrientation());
}

void TRAInAppBrowserViewController::willRotateToInterfaceOrientation(UIInterfaceOrientation o, double) {
    if (UIInterfaceOrientationIsPortrait(o) != UIInterfaceOrientationIsPortrait(interfaceOrientation())) hideObjects(true);
}

void TRAInAppBrowserViewController::didRotateFromInterfaceOrientation(UIInterfaceOrientation) {
    setApplicationFrame(UIScreen::mainScreen()->bounds());
    bool landscape = UIInterfaceOrientationIsLandscape(TRABrowserStatusBarOrientation());
    if (TRABrowserAtLeast(8)) {
        if (TRABrowserMode() == 2) {
            navigationBarHeight_ = landscape ? 50 : 70;
            setNeedsStatusBarAppearanceUpdate();
        }
    } else {
        if (landscape) {
            CGRect frame = applicationFrame();
            setApplicationFrame(CGRectMake(frame.origin.x, frame.origin.y, frame.size.height, frame.size.width));
            navigationBarHeight_ = 50;
        } else {
            navigationBarHeight_ = 70;
        }
        if (TRABrowserAtLeast(7)) setNeedsStatusBarAppearanceUpdate();
    }
    setObjectsAccordingToOrientation();
    hideObjects(false);
}

void TRAInAppBrowserViewController::willTransitionToTraitCollection(
    const Ref<UITraitCollection>& traits, const Ref<UIViewControllerTransitionCoordinator>& coordinator) {
    if (isViewLoaded()) {
        navigationBarHeight_ = 70;
        if (UIInterfaceOrientationIsPortrait(TRABrowserStatusBarOrientation()) || TRABrowserFixedMode())
            navigationBarHeight_ = 50;
        CGRect frame = view()->frame();
        setApplicationFrame(CGRectMake(frame.origin.x, frame.origin.y, std::trunc(frame.size.height), frame.size.width));
        setObjectsAccordingToOrientation();
    }
    UIViewController::willTransitionToTraitCollection(traits, coordinator);
}
