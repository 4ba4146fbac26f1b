// The client's own full-screen browser for ad landing pages: a web view
// under a header bar drawn by the client (page title and host, back,
// forward, close and open-in-system-browser buttons, a shadow line and a
// progress bar fed by TRAWebViewProgress). Store links met while browsing
// open the store sheet when the configuration allows it, and the browser
// closes after a store visit. Made and presented by
// TRAAdSDKUtils::openInAppBrowserWithURL; other code recognises it on screen
// by its class name, which must stay "TRAInAppBrowserViewController". While
// it is up the ad cache's auto-rotate flag is false; closing sets it true.
// Main thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "Trillium/TRALog.h"
#include "Trillium/TRASmartRedirectWebViewDelegate.h"
#include "Trillium/display/TRAWebViewProgress.h"
#include "Trillium/display/TRAWebViewProgressView.h"
#include "platform/store/SKStoreProductViewController.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIViewController.h"
#include "platform/web/RepeatedRefusals.h"
#include "platform/web/UIWebView.h"

class TRAInAppBrowserViewController : public UIViewController,
                                      public UIWebViewDelegate,
                                      public SKStoreProductViewControllerDelegate,
                                      public TRAWebViewProgressDelegate {
public:
    static Ref<TRAInAppBrowserViewController> alloc() { return NSObject::alloc<TRAInAppBrowserViewController>(); }
    // Switches auto-rotation of the ad screens off, keeps the URL text to load
    // first, whether the application's status bar shows now, and the delegate
    // (held weakly) that hears didCloseInAppStore when a store sheet closes.
    Ref<TRAInAppBrowserViewController> initWithURL(const std::string& url,
                                                   const Ref<TRASmartRedirectWebViewDelegate>& inAppStoreDelegate);
    ~TRAInAppBrowserViewController() override;

    // ---- the screen ----
    // Builds the header and the web view from the orientation mode and the
    // system version, and starts loading the URL (a text that does not parse
    // loads nothing).
    void loadView() override;
    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;

    // ---- web view (through the progress estimator) ----
    // Refuses blank pages; loads web pages; store links ("itms-apps",
    // "itms-appss", or https on the store's web host) open the store sheet
    // when the in-app store is enabled, else close the browser and go to the
    // system; other schemes go to the system when it opens them. Answers
    // false for everything the web view is not to load.
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType navigationType) override;
    void webViewDidStartLoad(Ref<UIWebView>) override {}
    // Refreshes the title, host, buttons and arrows.
    void webViewDidFinishLoad(Ref<UIWebView> webView) override;
    PLATFORM_RESPONDS_TO("webView:shouldStartLoadWithRequest:navigationType:", "webViewDidStartLoad:",
                         "webViewDidFinishLoad:", "webViewProgress:updateProgress:", "productViewControllerDidFinish:")

    void webViewProgressUpdateProgress(const Ref<TRAWebViewProgress>& webViewProgress, float progress) override;
    // The store sheet closed: it is dismissed, the store delegate hears
    // didCloseInAppStore, and the browser closes.
    void productViewControllerDidFinish(Ref<SKStoreProductViewController> controller) override;

    // ---- buttons ----
    void backButtonMethod();
    void forwardButtonMethod();
    // Dismisses the browser (without animation while the device is held
    // against a fixed orientation mode) and switches auto-rotation back on.
    // Later calls, and store loads that end afterwards, do nothing.
    void closeButtonMethod();
    // Opens the current page in the system browser; the browser stays.
    void browserButtonMethod();

    // ---- layout ----
    void setHeaderViewFirstLabelText();
    void setHeaderViewSecondLabelText();
    void setHeaderButtons();
    void setBackButtonImage();
    void setForwardButtonImage();
    void hideObjects(bool hide);
    void setObjectsAccordingToOrientation();
    void setTransform();
    void replaceWidthAndHeightApplicationFrame();

    // Loads the product of the store URL into the store sheet and presents
    // it; falls back to the system (and closes) when there is no sheet or it
    // cannot load.
    void openInAppAppStoreWithURL(const Ref<NSURL>& url);

    // ---- rotation and status bar ----
    bool shouldAutorotate() override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() override { return UIInterfaceOrientationMaskAll; }
    bool prefersStatusBarHidden() override;
    void willRotateToInterfaceOrientation(UIInterfaceOrientation o, double duration) override;
    void didRotateFromInterfaceOrientation(UIInterfaceOrientation old) override;
    void viewWillTransitionToSize(CGSize, const Ref<UIViewControllerTransitionCoordinator>&) override {}
    void willTransitionToTraitCollection(const Ref<UITraitCollection>& traits,
                                         const Ref<UIViewControllerTransitionCoordinator>& coordinator) override;

    // ---- properties ----
    bool applicationHasStatusBar() const { return applicationHasStatusBar_; }
    const Ref<UIWebView>& webView() const { return webView_; }
    const std::string& webViewURL() const { return webViewURL_; }
    const Ref<UIView>& headerView() const { return headerView_; }
    const Ref<UILabel>& headerViewFirstLabel() const { return headerViewFirstLabel_; }
    const Ref<UILabel>& headerViewSecondLabel() const { return headerViewSecondLabel_; }
    const Ref<UIView>& shadowLine() const { return shadowLine_; }
    const Ref<UIButton>& backButton() const { return backButton_; }
    const Ref<UIButton>& forwardButton() const { return forwardButton_; }
    const Ref<UIButton>& closeButton() const { return closeButton_; }
    const Ref<UIButton>& browserButton() const { return browserButton_; }
    const Ref<SKStoreProductViewController>& storeController() const { return storeController_; }
    const Ref<TRAWebViewProgressView>& progressView() const { return progressView_; }
    const Ref<TRAWebViewProgress>& progressProxy() const { return progressProxy_; }
    int32_t navigationBarHeight() const { return navigationBarHeight_; }
    Ref<TRASmartRedirectWebViewDelegate> inAppStoreDelegate() const { return inAppStoreDelegate_.lock(); }
    CGRect applicationFrame() const;
    void setApplicationFrame(CGRect frame);
    bool isClosed() const { return closed_; }

private:
    void layoutHeader();
    void releaseStoreController();

    Ref<TRAWebViewProgressView> progressView_;
    Ref<TRAWebViewProgress> progressProxy_;
    bool applicationHasStatusBar_ = false;
    Ref<UIWebView> webView_;
    std::string webViewURL_;
    Ref<UIView> headerView_;
    Ref<UILabel> headerViewFirstLabel_;
    Ref<UILabel> headerViewSecondLabel_;
    Ref<UIView> shadowLine_;
    Ref<UIButton> backButton_, forwardButton_, closeButton_, browserButton_;
    Ref<SKStoreProductViewController> storeController_;
    int32_t navigationBarHeight_ = 70;
    Weak<TRASmartRedirectWebViewDelegate> inAppStoreDelegate_;
    mutable std::mutex frameMutex_;  // guards applicationFrame_ (an atomic property)
    CGRect applicationFrame_{};
    bool closed_ = false;
    platform::web::RepeatedRefusals pageLines_{TRALog::kFoldedLinePeriod};  // the page's lines, folded
};
