#include "tamarind/TMATBaseAdContainer.h"

#include <cmath>

#include "platform/foundation/NSString.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Log.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIWindow.h"
#include "tamarind/TMATBridgeManager.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMAdConfiguration.h"
#include "tamarind/TMLog.h"
#include "tamarind/TMUtility.h"

namespace {

constexpr const char* kTMATContextKeyPath = "documentView.webView.mainFrame.javaScriptContext";
constexpr const char* kTMATViewportHead =
    "<head><meta name='viewport' content='user-scalable=no; initial-scale=1.0'/>"
    "<style>html,body{margin:0;padding:0;height:100%;border:none;}</style>";
constexpr CGFloat kTMATCloseButtonSide = 50;
constexpr CGFloat kTMATCloseButtonInset = 8;
constexpr double kTMATMraidViewabilityInterval = 1.0;

}  // namespace

Ref<UIView> TMATBaseAdContainer::initWithFrame(CGRect frame) {
    UIView::initWithFrame(frame);
    initWebview(frame);
    lastViewablePercentage_ = 0;
    auto self = this->self<TMATBaseAdContainer>();
    viewabilityCalculation_ = NSObject::alloc<TMATViewabilityCalculation>()->initWithAdContainer(self);
    viewabilityCalculation_->setDelegate(self);
    double interval = TMAdConfiguration::sharedAMAdConfiguration()->viewableInterval();
    viewabilityTimerInterval_ =
        interval > 0 && std::isfinite(interval) ? interval : TMAWire::kDefaultViewableInterval;
    readyToObserveSuperviews_ = false;
    return self;
}

TMATBaseAdContainer::~TMATBaseAdContainer() {
    if (webView_) {
        webView_->setDelegate(nullptr);
        webView_->scrollView()->setDelegate(nullptr);
    }
    if (viewabilityCalculation_) viewabilityCalculation_->setDelegate(nullptr);
}

void TMATBaseAdContainer::initWebview(CGRect frame) {
    auto self = this->self<TMATBaseAdContainer>();
    webView_ = UIWebView::alloc();
    // At the origin: the web view fills the container wherever the container sits.
    webView_->initWithFrame(CGRect{CGPointZero, frame.size});
    webView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    webView_->setBackgroundColor(UIColor::clearColor());
    webView_->setClipsToBounds(true);
    webView_->setDelegate(self);
    webView_->setOpaque(false);
    webView_->setScalesPageToFit(true);
    webView_->setAccessibilityIdentifier("originalWebView");
    auto scrollView = webView_->scrollView();
    scrollView->setClipsToBounds(true);
    scrollView->setScrollEnabled(false);
    scrollView->setBounces(false);
    scrollView->setDelegate(self);
    webView_->setAllowsInlineMediaPlayback(true);
    webView_->setMediaPlaybackRequiresUserAction(false);
    addSubview(webView_);
}

Ref<JSContext> TMATBaseAdContainer::jsContext() const {
    std::scoped_lock lock(contextMutex_);
    return jsContext_;
}

void TMATBaseAdContainer::setJsContext(const Ref<JSContext>& context) {
    std::scoped_lock lock(contextMutex_);
    jsContext_ = context;
}

Ref<TMALinkUtility> TMATBaseAdContainer::sharedLinkUtility() {
    if (!sharedLinkUtility_) sharedLinkUtility_ = TMALinkUtility::sharedLinkUtility();
    return sharedLinkUtility_;
}

// ---- the creative ------------------------------------------------------------------------------------

void TMATBaseAdContainer::insertBridges(const Ref<TMATBridgeManager>& bridges) {
    bridgeManager_ = bridges;
    setJsContext(webView_->valueForKeyPath(kTMATContextKeyPath).object<JSContext>());
    // Before the load, so the page's own scripts find the bridges.
    if (bridges) bridges->insertSDKBridgesInAd(self<TMATBaseAdContainer>());
}

void TMATBaseAdContainer::loadHTMLString(const std::string& html, const Ref<NSURL>& baseURL,
                                         const Ref<TMATBridgeManager>& bridges) {
    std::string page = formatHTMLCreative(html);
    insertBridges(bridges);
    webView_->loadHTMLString(page, baseURL);
}

void TMATBaseAdContainer::loadURL(const Ref<NSURL>& url, const Ref<TMATBridgeManager>& bridges) {
    insertBridges(bridges);
    if (url) webView_->loadRequest(*NSURLRequest::requestWithURL(url));
}

std::string TMATBaseAdContainer::formatHTMLCreative(const std::string& html) {
    bool whole = NSString::containsString(html, "<html>") && NSString::containsString(html, "<head>");
    std::string page = html;
    if (!whole) convertFragmentToFullPayload(page);
    size_t head = page.find("<head>");
    if (head != std::string::npos) page.replace(head, std::string_view("<head>").size(), kTMATViewportHead);
    return page;
}

void TMATBaseAdContainer::convertFragmentToFullPayload(std::string& html) {
    TMLog::logDebug("Fragment detected: converting to full payload.");
    html.insert(0, "<html><head></head><body>");
    html.append("</body></html>");
}

// ---- close button ----------------------------------------------------------------------------------------

Ref<UIButton> TMATBaseAdContainer::makeCloseButton() {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->addTarget(self<TMATBaseAdContainer>(), &TMATBaseAdContainer::closeButtonEventReceived,
                      UIControlEventTouchUpInside);
    button->imageView()->setAccessibilityIdentifier("nativeCloseButtonImage");
    return button;
}

void TMATBaseAdContainer::setAllowsCloseButton(bool allows) {
    Weak<TMATBaseAdContainer> weak = self<TMATBaseAdContainer>();
    dispatch_async(dispatch_get_main_queue(), [weak, allows] {
        auto container = weak.lock();
        if (!container) return;
        container->allowsCloseButton_ = allows;
        container->layoutCloseButton();
    });
}

void TMATBaseAdContainer::setUsesCustomCloseButton(bool uses) {
    usesCustomCloseButton_ = uses;
    layoutCloseButton();
}

void TMATBaseAdContainer::setKeepsCloseArea(bool keeps) {
    keepsCloseArea_ = keeps;
    layoutCloseButton();
}

void TMATBaseAdContainer::layoutCloseButton() {
    Weak<TMATBaseAdContainer> weak = self<TMATBaseAdContainer>();
    dispatch_async(dispatch_get_main_queue(), [weak] {
        auto container = weak.lock();
        if (!container) return;
        bool shown = !container->usesCustomCloseButton_ && container->allowsCloseButton_;
        if (!shown && !container->keepsCloseArea_) {
            if (container->closeButton_) container->closeButton_->removeFromSuperview();
            return;
        }
        // One button for the container's life: a second "allow" must not
        // leave an earlier button behind when the button is later removed.
        if (!container->closeButton_) container->closeButton_ = container->makeCloseButton();
        auto button = container->closeButton_;
        // A creative may take the images away, never the area of a full-screen ad.
        auto utility = TMUtility::sharedUtility();
        button->setImage(shown ? utility->defaultCloseButtonImageNormal() : nullptr, UIControlStateNormal);
        button->setImage(shown ? utility->defaultCloseButtonImageHighlighted() : nullptr, UIControlStateHighlighted);
        CGFloat width = container->frame().size.width;
        button->setFrame(CGRectMake(width - kTMATCloseButtonSide - kTMATCloseButtonInset, kTMATCloseButtonInset,
                                    kTMATCloseButtonSide, kTMATCloseButtonSide));
        button->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
        button->setAccessibilityIdentifier("nativeCloseButton");
        button->setIsAccessibilityElement(false);
        container->addSubview(button);
        container->bringSubviewToFront(button);
    });
}

void TMATBaseAdContainer::removeCloseButtonAndTappableArea() {
    if (closeButton_) closeButton_->removeFromSuperview();
}

void TMATBaseAdContainer::closeButtonEventReceived() {
    auto delegate = delegate_.lock();
    if (delegate && delegate->respondsToSelector("closeButtonPressed")) delegate->closeButtonPressed();
}

// ---- viewability -----------------------------------------------------------------------------------------

void TMATBaseAdContainer::checkViewabilityCalcMethod() {
    auto bridges = bridgeManager();
    if (!bridges) return;
    auto viewability = bridges->viewabilityBridge();
    if (viewability && viewability->isActive())
        viewabilityCalculation_->startCalculationsWithInterval(viewabilityTimerInterval_);
    else if (bridges->mraidBridge())
        viewabilityCalculation_->startCalculationsWithInterval(kTMATMraidViewabilityInterval);
}

void TMATBaseAdContainer::unsubscribeToViewabilityTimer() { viewabilityCalculation_->stopCalculations(); }

void TMATBaseAdContainer::viewabilityOfAdView(float percentage, CGRect adFrame) {
    auto bridges = bridgeManager();
    auto viewability = bridges ? bridges->viewabilityBridge() : nullptr;
    if (percentage == lastViewablePercentage_ && !(viewability && viewability->newRequest())) return;
    bool viewable = !isHidden() && superview() && percentage > 0;
    if (auto mraid = bridges ? bridges->mraidBridge() : nullptr) mraid->sendIsViewable(viewable);
    if (viewability) viewability->sendViewabilityPercentage(percentage, viewable, adFrame);
    lastViewablePercentage_ = percentage;
}

bool TMATBaseAdContainer::containedInScreenBounds() const {
    if (!window()) return false;
    auto key = UIApplication::sharedApplication()->keyWindow();
    if (!key) return false;
    auto parent = superview();
    CGRect frame = parent ? parent->convertRectToView(this->frame(), key) : CGRectZero;
    CGRect shown = CGRectIntersection(frame, key->frame());
    return !CGRectIsNull(shown) && !CGRectIsEmpty(shown) && shown.size.width == this->frame().size.width &&
           shown.size.height == this->frame().size.height;
}

// ---- web view and scroll view ------------------------------------------------------------------------

// ---- the user's tap ---------------------------------------------------------------------------------

bool TMATBaseAdContainer::consumeUserActivation(const std::string& call, const std::string& refusal) {
    if (webView_->consumeTransientUserActivation()) return true;
    TMLog::writeFolded(pageLines_, TMLogLevel::Error, call, call + ": " + refusal);
    return false;
}

std::string TMATBaseAdContainer::userTapRefusal(const std::string& what) {
    return "Unable to " + what + ": the user has not tapped the ad (one such call per tap, within " +
           std::to_string(static_cast<int>(UIWebView::kTransientUserActivationSeconds)) + " s of it)";
}

bool TMATBaseAdContainer::webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest& request,
                                                            UIWebViewNavigationType) {
    // What the web view cannot load itself it hands to the system, which
    // leaves the app: a creative navigating on its own must not. A frame
    // (its main document is the page's) never leaves, whatever its URL.
    const Ref<NSURL>& url = request.URL();
    if (!url) return true;
    const Ref<NSURL>& page = request.mainDocumentURL();
    if (page && page->absoluteString() != url->absoluteString()) return true;
    std::string scheme = NSString::lowercaseString(url->scheme());
    bool loadsInPlace = scheme == "http" || scheme == "https" || scheme == "about" || scheme == "file";
    if (loadsInPlace || !UIApplication::sharedApplication()->canOpenURL(url)) return true;
    return consumeUserActivation("The ad's page",
                                 userTapRefusal("leave the ad for " + platform::urlForLog(url->absoluteString())));
}

// The page's own navigations start and fail loads too: folded.
void TMATBaseAdContainer::webViewDidStartLoad(Ref<UIWebView>) {
    TMLog::logFolded(pageLines_, TMLogLevel::Info, "Ad started loading in the webview");
}

void TMATBaseAdContainer::webViewDidFinishLoad(Ref<UIWebView>) {
    auto bridges = bridgeManager();
    if (auto mraid = bridges ? bridges->mraidBridge() : nullptr) mraid->containerDidFinishLoading();
}

void TMATBaseAdContainer::webViewDidFailLoadWithError(Ref<UIWebView>, Ref<NSError>) {
    TMLog::logFolded(pageLines_, TMLogLevel::Error, "Ad failed to load in the webview");
}

void TMATBaseAdContainer::scrollViewDidScroll(const Ref<UIScrollView>& scrollView) {
    if (scrollView->contentOffset() == CGPointZero) return;
    scrollView->scrollRectToVisible(CGRect{CGPointZero, scrollView->bounds().size}, false);
}

// ---- view hooks ------------------------------------------------------------------------------------------

void TMATBaseAdContainer::layoutSubviews() {
    UIView::layoutSubviews();
    readyToObserveSuperviews_ = true;
    checkViewabilityCalcMethod();
}

void TMATBaseAdContainer::didMoveToWindow() {
    UIView::didMoveToWindow();
    if (window()) checkViewabilityCalcMethod();
}

void TMATBaseAdContainer::willMoveToWindow(Ref<UIWindow> newWindow) {
    UIView::willMoveToWindow(newWindow);
    if (!newWindow) unsubscribeToViewabilityTimer();
}
