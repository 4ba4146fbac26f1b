// The view that shows one template creative: it owns the web view, wraps
// the creative's HTML in a page with a fixed viewport, puts the ad's script
// bridges into the page's context before the page loads, draws the native
// close button (one at most; a full-screen ad keeps its tappable area even
// when the creative takes the button away), keeps the page from scrolling, and drives the
// viewability measurement while it is in a window, handing each changed
// result to the bridges. It holds its bridge manager and its delegate
// weakly; the controller holds it. Main thread, but setAllowsCloseButton and
// layoutCloseButton, which any thread may call (they do their work on a
// later main-queue turn).
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "platform/web/RepeatedRefusals.h"
#include "platform/web/UIWebView.h"
#include "platform/ui/UIButton.h"
#include "tamarind/TMALinkUtility.h"
#include "tamarind/TMLog.h"
#include "tamarind/TMATAdContainerDelegate.h"
#include "tamarind/TMATViewabilityCalculation.h"

class TMATBridgeManager;

class TMATBaseAdContainer : public UIView,
                            public UIWebViewDelegate,
                            public UIScrollViewDelegate,
                            public TMATViewabilityCalculationDelegate {
public:
    // A container of type T made by initWithFrame.
    template <class T = TMATBaseAdContainer>
    static Ref<T> containerWithFrame(CGRect frame) {
        auto container = NSObject::alloc<T>();
        container->initWithFrame(frame);
        return container;
    }
    // Makes the web view, the calculator (with this container as its
    // delegate) and reads the timer interval from the configuration (0.2 s
    // when it is 0).
    Ref<UIView> initWithFrame(CGRect frame) override;
    ~TMATBaseAdContainer() override;
    // The web view fills the container (the frame's size at the origin).
    void initWebview(CGRect frame);

    // Keeps the bridges, formats the creative, takes the page's context,
    // registers the bridges in it, then loads the page.
    void loadHTMLString(const std::string& html, const Ref<NSURL>& baseURL, const Ref<TMATBridgeManager>& bridges);
    // The same for a whole page at a URL: nothing is formatted.
    void loadURL(const Ref<NSURL>& url, const Ref<TMATBridgeManager>& bridges);
    // The creative with a viewport head; a fragment (no "<html>" or no
    // "<head>") is wrapped into a whole page first.
    std::string formatHTMLCreative(const std::string& html);
    void convertFragmentToFullPayload(std::string& html);

    // ---- the native close button: a 50-point square 8 points from the top
    // and right edges, created once and reused ----
    void setAllowsCloseButton(bool allows);
    bool allowsCloseButton() const { return allowsCloseButton_; }
    void setUsesCustomCloseButton(bool uses);
    bool usesCustomCloseButton() const { return usesCustomCloseButton_; }
    // Shows the button when it is allowed and the creative draws no own close
    // control; else removes it, or, while the container keeps its close area,
    // leaves it in place without images (still tappable).
    void layoutCloseButton();
    // Set by a full-screen ad: however the creative sets its close button,
    // the user keeps a close control.
    void setKeepsCloseArea(bool keeps);
    bool keepsCloseArea() const { return keepsCloseArea_; }
    void removeCloseButtonAndTappableArea();
    // The delegate's closeButtonPressed, when it lists it.
    void closeButtonEventReceived();
    Ref<UIButton> closeButton() const { return closeButton_; }

    // ---- viewability ----
    // The viewability interval while the page listens for viewability, else
    // 1.0 s with an MRAID bridge, else the timer stays as it is.
    void checkViewabilityCalcMethod();
    void unsubscribeToViewabilityTimer();
    // A result differing from the last one (or one a new page listener waits
    // for) goes to the MRAID and viewability bridges.
    void viewabilityOfAdView(float percentage, CGRect adFrame) override;
    // The whole container lies inside the key window.
    bool containedInScreenBounds() const;

    // ---- the user's tap ----
    // Every way out of the ad (a sheet or prompt over it, the system browser,
    // another app, a call, the store) is for the user only: this uses up the
    // page's activation (a tap on the ad within the last 5 s, UIWebView), one
    // per tap. Without one it answers false and logs "<call>: <refusal>" as
    // an error: a call's first refusal at once, then every
    // kRefusalLogPeriod seconds how many more there were while they go on.
    bool consumeUserActivation(const std::string& call, const std::string& refusal);
    static constexpr double kRefusalLogPeriod = TMLog::kFoldedLinePeriod;
    // Why `what` ("open …") is refused without the user's tap.
    static std::string userTapRefusal(const std::string& what);

    // ---- UIWebViewDelegate: every load is allowed, but one the web view
    // would hand to the system (a call, another app: it leaves the app)
    // only for the user's tap; start and failure are logged; a finished page
    // makes its MRAID bridge ready ----
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType navigationType) override;
    void webViewDidStartLoad(Ref<UIWebView> webView) override;
    void webViewDidFinishLoad(Ref<UIWebView> webView) override;
    void webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) override;
    // The creative never stays scrolled: any offset snaps back to (0, 0).
    void scrollViewDidScroll(const Ref<UIScrollView>& scrollView) override;

    // ---- UIView ----
    void layoutSubviews() override;
    void didMoveToWindow() override;
    void willMoveToWindow(Ref<UIWindow> newWindow) override;

    // ---- state ----
    bool isLoading() const { return isLoading_.load(); }
    void setIsLoading(bool loading) { isLoading_.store(loading); }
    bool readyToObserveSuperviews() const { return readyToObserveSuperviews_; }
    Ref<UIWebView> webView() const { return webView_; }
    Ref<JSContext> jsContext() const;
    void setJsContext(const Ref<JSContext>& context);
    // "" while unset.
    std::string slotID() const { return slotID_; }
    void setSlotID(std::string slotID) { slotID_ = std::move(slotID); }
    Ref<TMATBridgeManager> bridgeManager() const { return bridgeManager_.lock(); }
    Ref<TMATAdContainerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<TMATAdContainerDelegate>& delegate) { delegate_ = delegate; }
    // Made on first read (the shared classifier).
    Ref<TMALinkUtility> sharedLinkUtility();
    float lastViewablePercentage() const { return lastViewablePercentage_; }
    Ref<TMATViewabilityCalculation> viewabilityCalculation() const { return viewabilityCalculation_; }
    double viewabilityTimerInterval() const { return viewabilityTimerInterval_; }

protected:
    std::atomic<bool> isLoading_{false};

private:
    Ref<UIButton> makeCloseButton();
    // Keeps the bridges, takes the page's context and registers the bridges in it.
    void insertBridges(const Ref<TMATBridgeManager>& bridges);

    bool readyToObserveSuperviews_ = false;
    bool allowsCloseButton_ = false;
    bool usesCustomCloseButton_ = false;
    bool keepsCloseArea_ = false;
    Ref<UIWebView> webView_;
    mutable std::mutex contextMutex_;  // guards jsContext_
    Ref<JSContext> jsContext_;
    std::string slotID_;
    Ref<UIButton> closeButton_;
    Weak<TMATBridgeManager> bridgeManager_;
    Weak<TMATAdContainerDelegate> delegate_;
    Ref<TMALinkUtility> sharedLinkUtility_;
    float lastViewablePercentage_ = 0;
    Ref<TMATViewabilityCalculation> viewabilityCalculation_;
    // The lines its page drives (tap refusals by call, its loads), folded per kind.
    platform::web::RepeatedRefusals pageLines_{kRefusalLogPeriod};
    double viewabilityTimerInterval_ = 0;
};
