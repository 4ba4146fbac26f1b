// The full-screen HTML ad screen: shows one loaded ad (a TRAHtmlAd, which
// creates and keeps it) in a web view over the application's top view
// controller. It loads the page before it is shown; the first finished load
// decides the display (present, tell the delegate didShowAd, send the
// impressions, or report failedDisplayAd). Every later navigation of the page
// passes its router: "trilliumad://" commands ("closeAd", "contentLoaded",
// "externalLinks/<url>") and clicks on the ad named by the URL's "index=",
// which are reported (two-click mode) and sent to the click follower, the
// in-app browser or the system. Closing puts the host's presentation styles,
// status bar and the ad cache's auto-rotate flag back, then tells the
// delegate didCloseAdWithClick: before the dismissal completes; an in-app
// browser URL opens after it. A screen that is not presented opens nothing
// and restores nothing; it closes once.
//
// The video ad screen derives from this class: the virtual methods are the
// ones it redefines, calling the base version where it needs it. The ad and
// the delegate are held weakly (the ad owns the screen). Main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "Trillium/TRAAd.h"
#include "Trillium/TRAAdScreen.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRASmartRedirectWebViewDelegate.h"
#include "Trillium/TRAViewControllerDelegate.h"
#include "platform/foundation/NSRange.h"
#include "platform/ui/UIViewController.h"
#include "platform/web/RepeatedRefusals.h"
#include "platform/web/UIWebView.h"

class TRAAdViewController : public UIViewController,
                            public UIWebViewDelegate,
                            public TRASmartRedirectWebViewDelegate,
                            public TRAAdScreen {
public:
    static Ref<TRAAdViewController> alloc() { return NSObject::alloc<TRAAdViewController>(); }
    Ref<TRAAdViewController> init() { return self<TRAAdViewController>(); }

    // Builds the web view (the controller's view) and starts loading the ad's
    // page against the ad platform's base URL.
    void loadView() override;
    // Keeps the ad, the delegate and the tag, then loads the view: the page
    // loads while nothing is on screen yet.
    void initWithAd(const Ref<TRAAd>& ad, const Ref<TRAViewControllerDelegate>& delegate,
                    const std::optional<std::string>& adTag) override;
    // Turns the view a quarter for an ad whose orientation the application
    // cannot take (from system version 8.0).
    void viewDidLoad() override;
    // Switches the ad cache's auto-rotate flag off.
    void viewDidAppear(bool animated) override;
    void replaceHieghtAndWidth();
    bool adOrientationIsDiffThanCurrentOrientation() const;

    // ---- closing ----
    // The one way out: restores the host's styles and status bar, switches
    // auto-rotation back on, dismisses the screen and tells the delegate
    // didCloseAdWithClick: `click` before the dismissal completes; `url`
    // opens in the in-app browser after it. Only while presented, and once.
    virtual void closeAd(bool animated, bool click, const std::optional<std::string>& url);
    // Detaches the page, then closes when presented (no browser).
    void closeAdWithAnimation(bool animated, bool click) override;

    // ---- the router (every navigation of the page) ----
    // Blank pages are refused. Commands: "closeAd" sends the close URLs and
    // closes; "contentLoaded" is refused; "externalLinks/<url>" opens the
    // link (in-app browser or system) and leaves the ad up. The first other
    // navigation (the page itself) loads; later ones are clicks on the ad at
    // the URL's index: refused without report while the screen is not
    // presented, for an index a present list does not reach, or when the
    // click follower is busy. An absent list reads as no flag and no URL.
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType navigationType) override;
    void openExternalLinkWithNSString(const std::string& command, int32_t index);
    void openInAppBrowserWithURL(const std::string& url, const Ref<TRASmartRedirectWebViewDelegate>& ignored);
    // The index of the clicked ad: 0 without "index="; otherwise the number
    // after "=" in the URL's last "&"-separated piece (leading digits,
    // saturated); nullopt when that piece has no "=".
    static std::optional<int32_t> adIndexInUrl(const std::string& url, NSRange indexRange);
    // The text with "&displayDuration=<seconds since the display, %.3f>".
    std::string appendDisplayTimeToUrl(const std::string& url) const;

    // ---- display ----
    // Asks whether an ad may be shown now and presents the screen; a refusal
    // reaches the delegate as failedDisplayAd.
    bool showWebView();
    // Runs enableScheme("externalLinks") in the page; the first finished load
    // decides the display.
    void webViewDidFinishLoad(Ref<UIWebView> webView) override;
    void sendCloseUrl();
    // Cancelled loads and refused navigations are ignored; another failure is
    // reported as failedDisplayAd and closes a presented screen (a click).
    void webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) override;

    // ---- click follower callbacks ----
    void didExitWebViewWithInAppBrowser(const std::optional<std::string>& url) override;
    void didFinishWithError(const Ref<NSError>& error) override;
    void didCloseInAppStore() override {}
    void allowAutoRotate() override;
    PLATFORM_RESPONDS_TO("didExitWebViewWithInAppBrowser:", "didFinishWithError:", "didCloseInAppStore",
                         "allowAutoRotate")

    // ---- orientation and status bar ----
    bool prefersStatusBarHidden() override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() override;
    bool shouldAutorotate() override { return false; }
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() override;
    bool shouldAutorotateToInterfaceOrientation(UIInterfaceOrientation) override { return false; }

    // ---- properties ----
    bool applicationHasStatusBar() const { return applicationHasStatusBar_; }
    bool firstLoad() const { return firstLoad_; }
    void setFirstLoad(bool firstLoad) { firstLoad_ = firstLoad; }
    Ref<TRAViewControllerDelegate> delegate() const { return delegate_.lock(); }
    Ref<TRAAd> ad() const { return ad_.lock(); }
    const Ref<UIWebView>& webView() const { return webView_; }
    int32_t parentPresentationStyle() const { return parentPresentationStyle_; }
    const Ref<UIViewController>& parentVC() const { return parentVC_; }
    const std::optional<std::string>& prefAdTag() const { return prefAdTag_; }
    int32_t keyWindowPresentationStyle() const { return keyWindowPresentationStyle_; }
    double displayAdTimeStart() const { return displayAdTimeStart_.load(); }
    void setDisplayAdTimeStart(double seconds) { displayAdTimeStart_.store(seconds); }
    // The first finished (or failed) load has decided the display.
    bool displayDecided() const { return displayDecided_; }
    // That decision reported failedDisplayAd.
    bool displayFailed() const { return displayFailed_; }
    bool isClosing() const { return closing_; }
    bool isPresented() const { return presentingViewController() != nullptr; }

protected:
    // The router's click paths. The answer when the routing ends there;
    // nullopt when the navigation is to load inside the ad.
    std::optional<bool> plainClick(const Ref<TRAAd>& ad, const std::string& url, int32_t index);
    bool redirectedClick(const Ref<TRAAd>& ad, const NSURLRequest& request, const std::string& url, int32_t index);
    void reportDisplayFailure(const std::string& description);
    // Clears the video store's now-playing mark: the ad's file may go again.
    static void clearNowPlayingVideo();
    bool hasPrefAdTag() const { return prefAdTag_ && !prefAdTag_->empty(); }

private:
    // The target of a click and, in two-click mode, its report URL.
    struct TRAAdClick {
        std::string target;
        std::optional<std::string> report;
    };
    std::optional<TRAAdClick> buildClick(const Ref<TRAAd>& ad, const std::string& url, int32_t index) const;
    // Logs a click the ad's lists do not allow, folded.
    void refuseClick(const std::string& url, int32_t index);

    bool applicationHasStatusBar_ = false;
    bool firstLoad_ = false;
    Weak<TRAViewControllerDelegate> delegate_;
    Weak<TRAAd> ad_;
    Ref<UIWebView> webView_;
    int32_t parentPresentationStyle_ = 0;
    Ref<UIViewController> parentVC_;
    std::optional<std::string> prefAdTag_;
    int32_t keyWindowPresentationStyle_ = 0;
    std::atomic<double> displayAdTimeStart_{0};
    bool displayDecided_ = false;
    bool displayFailed_ = false;
    bool closing_ = false;
    platform::web::RepeatedRefusals pageLines_{TRALog::kFoldedLinePeriod};  // the page's lines, folded
};
