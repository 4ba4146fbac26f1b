// The Tamarind client's own in-app browser (used before system version 9.0):
// a full-screen web view on the URL with a close control at the top right.
// Closing, or a page's navigation to a private "tamarindmobile" URL, goes to
// the delegate, which dismisses the browser. Main thread.
#pragma once

#include "platform/foundation/NSURL.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIViewController.h"
#include "platform/web/UIWebView.h"

class TMMPAdBrowserController;

// Main thread, from the user's tap or the web view's navigation, never on
// the caller's stack.
class TMMPAdBrowserControllerDelegate : public virtual NSObjectProtocol {
public:
    // The user closed the browser.
    virtual void dismissBrowserController(Ref<TMMPAdBrowserController> browser) = 0;
    virtual void dismissBrowserControllerAnimated(Ref<TMMPAdBrowserController> browser, bool animated) = 0;
    // The page opened a private URL; the browser did not load it.
    virtual void dismissBrowserControllerAnimatedOpenPrivateURL(Ref<TMMPAdBrowserController> browser, bool animated,
                                                                Ref<NSURL> url) = 0;
};

class TMMPAdBrowserController : public UIViewController, public UIWebViewDelegate {
public:
    static Ref<TMMPAdBrowserController> alloc() { return std::make_shared<TMMPAdBrowserController>(); }
    // The delegate is held weakly. The page loads when the view does.
    Ref<TMMPAdBrowserController> initWithURL(const Ref<NSURL>& url, const Ref<TMMPAdBrowserControllerDelegate>& delegate);

    Ref<NSURL> URL() const { return url_; }
    Ref<TMMPAdBrowserControllerDelegate> delegate() const { return delegate_.lock(); }
    Ref<UIWebView> webView() const { return webView_; }
    Ref<UIButton> closeButton() const { return closeButton_; }

    void viewDidLoad() override;
    bool prefersStatusBarHidden() override { return true; }
    void closeButtonPressed();

    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType navigationType) override;
    void webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) override;

private:
    Ref<NSURL> url_;
    Weak<TMMPAdBrowserControllerDelegate> delegate_;
    Ref<UIWebView> webView_;
    Ref<UIButton> closeButton_;
};
