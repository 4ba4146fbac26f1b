#include "platform/web/UIWebView.h"

#include <mutex>

#include "platform/foundation/DeviceProfile.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSThread.h"
#include "platform/web/JSEngine.h"
#include "platform/web/PageScrollView.h"
#include "platform/web/WebViewLoader.h"

namespace platform {

// ---- delegate defaults ---------------------------------------------------------------------------

bool UIWebViewDelegate::webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest&, UIWebViewNavigationType) {
    return true;
}
void UIWebViewDelegate::webViewDidStartLoad(Ref<UIWebView>) {}
void UIWebViewDelegate::webViewDidFinishLoad(Ref<UIWebView>) {}
void UIWebViewDelegate::webViewDidFailLoadWithError(Ref<UIWebView>, Ref<NSError>) {}

// ---- user agent ------------------------------------------------------------------------------------

namespace {
std::mutex gUserAgentMutex;
std::optional<std::string> gUserAgent;
}  // namespace

void UIWebView::setUserAgent(std::optional<std::string> userAgent) {
    std::scoped_lock lock(gUserAgentMutex);
    gUserAgent = std::move(userAgent);
}

std::string UIWebView::userAgent() {
    {
        std::scoped_lock lock(gUserAgentMutex);
        if (gUserAgent) return *gUserAgent;
    }
    return DeviceProfile::current().effectiveUserAgent();
}

// ---- the view --------------------------------------------------------------------------------------

Ref<UIView> UIWebView::initWithFrame(CGRect frame) {
    assertMainThread("UIWebView::initWithFrame");
    UIView::initWithFrame(frame);
    if (!context_) {
        context_ = JSContext::alloc();
        web::EngineAccess::initForPages(*context_);
        loader_ = std::make_shared<web::WebViewLoader>(self<UIWebView>(), context_);
    }
    if (!scrollView_) {
        // The page is the scroll view's content, as on the device: what is
        // put beneath the scroll view lies beneath the page.
        auto pageView = web::PageScrollView::alloc();
        pageView->setLoader(loader_);
        scrollView_ = pageView;
        scrollView_->initWithFrame(CGRect{{0, 0}, frame.size});
        scrollView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        insertSubviewAtIndex(scrollView_, 0);
    }
    return std::static_pointer_cast<UIView>(shared_from_this());
}

UIWebView::~UIWebView() {
    // Nothing of the page outlives the view: loads stop, exported objects
    // are released and the page's values read undefined.
    if (loader_) loader_->shutdown();
    if (context_) context_->invalidate();
}

void UIWebView::loadHTMLString(const std::string& html, const Ref<NSURL>& baseURL) {
    assertMainThread("UIWebView::loadHTMLString");
    if (loader_) loader_->loadHTMLString(html, baseURL);
}

void UIWebView::loadRequest(const NSURLRequest& request) {
    assertMainThread("UIWebView::loadRequest");
    if (loader_) loader_->loadRequest(request);
}

void UIWebView::stopLoading() {
    assertMainThread("UIWebView::stopLoading");
    if (loader_) loader_->stopLoading();
}

void UIWebView::reload() {
    assertMainThread("UIWebView::reload");
    if (loader_) loader_->reload();
}

void UIWebView::goBack() {
    assertMainThread("UIWebView::goBack");
    if (loader_) loader_->goBack();
}

void UIWebView::goForward() {
    assertMainThread("UIWebView::goForward");
    if (loader_) loader_->goForward();
}

bool UIWebView::canGoBack() const { return loader_ && loader_->canGoBack(); }
bool UIWebView::canGoForward() const { return loader_ && loader_->canGoForward(); }
bool UIWebView::isLoading() const { return loader_ && loader_->isLoading(); }
Ref<NSURLRequest> UIWebView::request() const { return loader_ ? loader_->request() : nullptr; }

std::string UIWebView::stringByEvaluatingJavaScriptFromString(const std::string& script) {
    assertMainThread("UIWebView::stringByEvaluatingJavaScriptFromString");
    if (!context_ || !loader_) return "";
    Ref<UIWebView> keep = self<UIWebView>();
    return web::EngineAccess::evaluateScriptForText(*context_, script, loader_->page().documentURL()->absoluteString());
}

Value UIWebView::valueForKeyPath(const std::string& keyPath) const {
    if (keyPath == "documentView.webView.mainFrame.javaScriptContext") return Value(context_);
    logError(className() + " valueForKeyPath: undefined key \"" + keyPath + "\"");
    return Value();
}

// ---- user activation -------------------------------------------------------------------------------

void UIWebView::grantTransientUserActivation() { userActivationUptime_ = Clock::current()->uptime(); }

bool UIWebView::hasTransientUserActivation() const {
    return userActivationUptime_ &&
           Clock::current()->uptime() < *userActivationUptime_ + kTransientUserActivationSeconds;
}

bool UIWebView::consumeTransientUserActivation() {
    assertMainThread("UIWebView::consumeTransientUserActivation");
    bool held = hasTransientUserActivation();
    userActivationUptime_.reset();
    return held;
}

void UIWebView::touchesEnded(const std::vector<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    UIView::touchesEnded(touches, event);
    grantTransientUserActivation();
}

bool UIWebView::simulateLinkClick(const std::string& elementId) {
    assertMainThread("UIWebView::simulateLinkClick");
    grantTransientUserActivation();
    return loader_ && loader_->page().clickElement(elementId);
}

void UIWebView::simulateLinkClickOnHref(const std::string& href) {
    assertMainThread("UIWebView::simulateLinkClickOnHref");
    grantTransientUserActivation();
    if (loader_) loader_->page().clickHref(href);
}

}  // namespace platform
