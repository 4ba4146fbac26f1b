// The click follower: walks an ad click through its redirects in a hidden
// web view (https pages get a certificate-checked pre-flight first) and stops
// at the first destination it can hand over: a store product (store sheet or
// system), a URL of another scheme that the system opens, or, when the chain
// stalls, fails or runs out of time, the last URL reached, opened through the
// system or handed back for the in-app browser. A dimmed spinner covers the
// ad view meanwhile; every navigation is a hop, and on a server-set sampling
// the hop statistics go to analytics (categories 3 and 5).
//
// One walk in the process at a time: the walk in progress is held by the
// class and released when it ends. Every walk ends: at the time-out
// (-[TRAMetadata getSmartRedirectTimeout], 7 s), or, once a store sheet is
// shown, when the user closes it. After the end no callback of the web view,
// the pre-flight or the store sheet touches anything. Main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Trillium/TRASmartRedirectWebViewDelegate.h"
#include "platform/net/NSURLConnection.h"
#include "platform/foundation/NSTimer.h"
#include "platform/store/SKStoreProductViewController.h"
#include "platform/ui/UIView.h"
#include "platform/web/UIWebView.h"

class TRASmartRedirectWebView : public NSObject,
                                public UIWebViewDelegate,
                                public SKStoreProductViewControllerDelegate,
                                public NSURLConnectionDataDelegate {
public:
    // The store's web domain: https URLs containing it go to the store route
    // (a substring test, as the in-app browser makes it too).
    static constexpr const char* kAppStoreWebHost = "apps.store.example";
    // The spinner's tag in the ad view.
    static constexpr int64_t kSpinnerTag = 999999999;
    // Hops recorded per walk; a navigation storm beyond it is walked but not recorded.
    static constexpr size_t kMaximumHops = 256;
    // Bytes of a hop URL written into the statistics (cut on a character boundary).
    static constexpr size_t kMaximumHopUrlBytes = 2048;

    // One navigation of the walk.
    struct Hop {
        std::string url;                        // "Blank" for a blank page
        double start = 0;                       // seconds since 1970
        std::optional<std::string> totalTime;   // "%.2f" once worked out
    };

    // Starts a walk of `request` unless one is in progress. True when it was
    // accepted; a refused click changes nothing and hears no callback, so
    // the caller keeps its state (and its web view's delegate). `delegate`
    // hears how the walk ended, `inAppStoreDelegate` that a store sheet closed
    // (both held weakly); `closeViewController` (a full-screen ad screen) adds
    // allowAutoRotate before the exit callback; `dParams` go with every
    // analytics event; `trilliumBrowserEnabled` lets a time-out hand the last
    // URL to the in-app browser (when the configuration allows it too).
    static bool startSmartRedirect(const NSURLRequest& request, const Ref<UIView>& adView,
                                   const Ref<TRASmartRedirectWebViewDelegate>& delegate,
                                   const Ref<TRASmartRedirectWebViewDelegate>& inAppStoreDelegate,
                                   bool closeViewController, const std::string& dParams, bool trilliumBrowserEnabled);
    // The walk in progress, or null.
    static Ref<TRASmartRedirectWebView> currentWalk();

    // The designated initializer: stores the arguments and starts loading.
    Ref<TRASmartRedirectWebView> initWithRequest(const NSURLRequest& request, const Ref<UIView>& adView,
                                                 const Ref<TRASmartRedirectWebViewDelegate>& delegate,
                                                 const Ref<TRASmartRedirectWebViewDelegate>& inAppStoreDelegate,
                                                 bool closeViewController, const std::string& dParams,
                                                 bool trilliumBrowserEnabled);
    ~TRASmartRedirectWebView() override;

    // ---- web view ----
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType navigationType) override;
    void webViewDidFinishLoad(Ref<UIWebView> webView) override;
    void webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) override;

    // ---- the https pre-flight ----
    bool connectionCanAuthenticateAgainstProtectionSpace(Ref<NSURLConnection> connection,
                                                         Ref<NSURLProtectionSpace> protectionSpace) override;
    void connectionDidReceiveAuthenticationChallenge(Ref<NSURLConnection> connection,
                                                     Ref<NSURLAuthenticationChallenge> challenge) override;
    void connectionDidReceiveResponse(Ref<NSURLConnection> connection, Ref<NSURLResponse> response) override;
    void connectionDidFailWithError(Ref<NSURLConnection> connection, Ref<NSError> error) override;

    // ---- store sheet ----
    void productViewControllerDidFinish(Ref<SKStoreProductViewController> controller) override;

    // The text between the first `start` and the next `end` after it; nullopt
    // when either is missing.
    static std::optional<std::string> stringBetweenString(const std::string& text, const std::string& start,
                                                          const std::string& end);

    // ---- state, for the screens and tests ----
    bool hasEnded() const { return ended_; }
    bool isAuthenticated() const { return authenticated_; }
    bool finishLoading() const { return finishLoading_; }
    float timeout() const { return timeout_; }
    const std::optional<std::string>& lastUrl() const { return lastUrl_; }
    const std::vector<Hop>& hops() const { return hops_; }
    const Ref<UIWebView>& smartWebView() const { return smartWebView_; }
    const Ref<SKStoreProductViewController>& storeController() const { return storeController_; }
    const Ref<NSTimer>& urlTimer() const { return urlTimer_; }

private:
    void addHop(const std::optional<std::string>& url);
    void openAppStore(const Ref<NSURL>& url);
    void presentAppStoreForID(const Ref<NSURL>& url);
    void storeLoadEnded(const Ref<NSURL>& url, bool loaded);
    void openUrl(const Ref<NSURL>& url);
    void sendDelegatesWithInAppBrowserURL(const std::optional<std::string>& url);
    void startTimeOut();
    void releaseTimer();
    void cancelURLConnection(Ref<NSTimer> timer);
    void createProgressBar();
    void cancelProgressBar();
    void sendHopsToAnalytics(bool timedOut);
    void calculateHopTime();
    std::optional<std::string> getLongestHop();
    void sendHopLatencyMaxTime(bool timedOut);
    void report(int64_t category, const std::optional<std::string>& details, const std::string& value);
    void releaseStoreController();
    bool presentStoreSheet();
    // Every ending path: the pre-flight cancelled, the timer released, the
    // web view detached, the class slot cleared when it holds this walk.
    void endWalk();

    bool authenticated_ = false;
    bool finishLoading_ = false;
    bool closeViewController_ = false;
    bool trilliumBrowserEnabled_ = false;
    Ref<NSURLRequest> httpsRequest_;
    Ref<NSURLConnection> urlConnection_;
    float timeout_ = 7;
    std::optional<std::string> lastUrl_;
    Weak<TRASmartRedirectWebViewDelegate> delegate_;
    Ref<UIView> adView_;
    Ref<NSTimer> urlTimer_;
    Ref<SKStoreProductViewController> storeController_;
    Ref<UIWebView> smartWebView_;
    std::string dParams_;
    Weak<TRASmartRedirectWebViewDelegate> inAppStoreDelegate_;
    std::vector<Hop> hops_;
    bool hopTimesWorkedOut_ = false;
    bool ended_ = false;
};
