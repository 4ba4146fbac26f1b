#include "tamarind/TMMPAdBrowserController.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/UIColor.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMLog.h"
#include "tamarind/TMUtility.h"

Ref<TMMPAdBrowserController> TMMPAdBrowserController::initWithURL(const Ref<NSURL>& url,
                                                                  const Ref<TMMPAdBrowserControllerDelegate>& delegate) {
    url_ = url;
    delegate_ = delegate;
    return self<TMMPAdBrowserController>();
}

void TMMPAdBrowserController::viewDidLoad() {
    UIViewController::viewDidLoad();
    auto root = view();
    root->setBackgroundColor(UIColor::whiteColor());
    CGRect bounds = root->bounds();

    webView_ = UIWebView::alloc();
    webView_->initWithFrame(bounds);
    webView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    webView_->setScalesPageToFit(true);
    webView_->setAccessibilityIdentifier("browserWebView");
    webView_->setDelegate(self<TMMPAdBrowserController>());
    root->addSubview(webView_);

    closeButton_ = UIButton::buttonWithType(UIButtonTypeCustom);
    closeButton_->setFrame(CGRectMake(bounds.size.width - 58, 8, 50, 50));
    closeButton_->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    auto utility = TMUtility::sharedUtility();
    closeButton_->setImage(utility->defaultCloseButtonImageNormal(), UIControlStateNormal);
    closeButton_->setImage(utility->defaultCloseButtonImageHighlighted(), UIControlStateHighlighted);
    closeButton_->setAccessibilityIdentifier("browserCloseButton");
    closeButton_->addTarget(self<TMMPAdBrowserController>(), &TMMPAdBrowserController::closeButtonPressed,
                            UIControlEventTouchUpInside);
    root->addSubview(closeButton_);

    if (url_) webView_->loadRequest(*NSURLRequest::requestWithURL(url_));
    else TMLog::logError("The in-app browser has no URL to load.");
}

void TMMPAdBrowserController::closeButtonPressed() {
    if (auto delegate = delegate_.lock()) delegate->dismissBrowserController(self<TMMPAdBrowserController>());
}

bool TMMPAdBrowserController::webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest& request,
                                                                UIWebViewNavigationType) {
    const Ref<NSURL>& target = request.URL();
    if (!target || NSString::lowercaseString(target->scheme()) != TMAWire::kPrivateScheme) return true;
    if (auto delegate = delegate_.lock())
        delegate->dismissBrowserControllerAnimatedOpenPrivateURL(self<TMMPAdBrowserController>(), true, target);
    return false;
}

void TMMPAdBrowserController::webViewDidFailLoadWithError(Ref<UIWebView>, Ref<NSError> error) {
    TMLog::logWarn("The in-app browser failed to load a page: %@", error ? error->localizedDescription() : std::string());
}
