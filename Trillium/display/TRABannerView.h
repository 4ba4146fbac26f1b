// The public Trillium banner: a view holding one web view that shows the
// banner page, which the application adds to one of its own views (the root
// view), placed at a fixed point or automatically at the top (below a visible
// status bar) or bottom edge, centred. It waits for the configuration, loads
// a banner ad, reveals the page 0.5 s after it loaded when the ad rules allow
// it (until then, and after a denial, it stays hidden), sends the page's
// impressions once, refreshes on the configuration's rate while it is in a
// superview, follows the page's taps (click follower, in-app browser or
// system), follows rotations and can be placed in table cells.
//
// Only the owner and the superview hold the banner: timers, the web view, the
// configuration, the ad, the click follower and the in-app browser hold its
// TRABannerProxy, so a released banner hears nothing more. The refusing
// initialisers report to the delegate while the banner exists, then give
// null. Main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Trillium/TRAAd.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRASmartRedirectWebViewDelegate.h"
#include "Trillium/display/TRABannerAd.h"
#include "Trillium/display/TRABannerDelegateProtocol.h"
#include "Trillium/display/TRABannerProxy.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/web/RepeatedRefusals.h"
#include "platform/foundation/NSTimer.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIViewController.h"
#include "platform/web/UIWebView.h"

// A banner size: fixed points, or automatic (the root view's size, resolved
// when applied).
struct TRABannerSizeEnum {
    CGSize size;
    bool isAuto = false;
    bool operator==(const TRABannerSizeEnum& other) const {
        return size.width == other.size.width && size.height == other.size.height && isAuto == other.isAuto;
    }
};

inline constexpr TRABannerSizeEnum TRA_PortraitAdSize_320x50{{320, 50}, false};
inline constexpr TRABannerSizeEnum TRA_LandscapeAdSize_480x50{{480, 50}, false};
inline constexpr TRABannerSizeEnum TRA_LandscapeAdSize_568x50{{568, 50}, false};
inline constexpr TRABannerSizeEnum TRA_PortraitAdSize_768x90{{768, 90}, false};
inline constexpr TRABannerSizeEnum TRA_LandscapeAdSize_1024x90{{1024, 90}, false};
inline constexpr TRABannerSizeEnum TRA_AutoAdSize{{0, 0}, true};

// Where the banner sits: 1 top, 2 bottom; anything else is a custom point.
using TRAAdOrigin = int;
inline constexpr TRAAdOrigin TRAAdOrigin_Custom = 0;
inline constexpr TRAAdOrigin TRAAdOrigin_Top = 1;
inline constexpr TRAAdOrigin TRAAdOrigin_Bottom = 2;

class TRABannerView : public UIView,
                      public TRAMetadataDelegate,
                      public TRAAdDelegate,
                      public TRASmartRedirectWebViewDelegate,
                      public UIWebViewDelegate {
public:
    // The first view tag handed to a banner placed in table cells.
    static constexpr int64_t kFirstCellTag = 1000000;
    // Seconds between a page's load and its reveal.
    static constexpr double kRevealDelay = 0.5;

    static Ref<TRABannerView> alloc() { return NSObject::alloc<TRABannerView>(); }
    ~TRABannerView() override;

    // ---- creation ----
    // A plain view with its proxy: no web view, no load.
    Ref<UIView> initWithFrame(CGRect frame) override;
    Ref<TRABannerView> initWithSize(TRABannerSizeEnum size, TRAAdOrigin autoOrigin, const Ref<UIView>& view,
                                    const Ref<TRABannerDelegateProtocol>& delegate);
    Ref<TRABannerView> initWithSize(TRABannerSizeEnum size, CGPoint origin, const Ref<UIView>& view,
                                    const Ref<TRABannerDelegateProtocol>& delegate);
    Ref<TRABannerView> initWithSize(TRABannerSizeEnum size, TRAAdOrigin autoOrigin, const Ref<UIView>& view,
                                    const Ref<TRABannerDelegateProtocol>& delegate,
                                    const std::optional<std::string>& adTag);
    Ref<TRABannerView> initWithSize(TRABannerSizeEnum size, CGPoint origin, const Ref<UIView>& view,
                                    const Ref<TRABannerDelegateProtocol>& delegate,
                                    const std::optional<std::string>& adTag);
    // For engine wrappers and mediation: extra request fields, and a banner
    // that needs no root view and passes every origin check.
    Ref<TRABannerView> initWithSize(TRABannerSizeEnum size, CGPoint origin, const Ref<UIView>& view,
                                    const Ref<TRABannerDelegateProtocol>& delegate, const Value& params,
                                    bool viewIgnore);
    Ref<TRABannerView> initWithSize(TRABannerSizeEnum size, TRAAdOrigin autoOrigin, const Ref<UIView>& view,
                                    const Ref<TRABannerDelegateProtocol>& delegate, const Value& params,
                                    bool viewIgnore);
    Ref<TRABannerView> initWithIds(const std::optional<std::string>& appId,
                                   const std::optional<std::string>& publisherId, TRABannerSizeEnum size,
                                   TRAAdOrigin autoOrigin, const Ref<UIView>& view,
                                   const Ref<TRABannerDelegateProtocol>& delegate);
    // Uses the entry point's identifiers, whatever it is given.
    Ref<TRABannerView> initWithIds(const std::optional<std::string>& appId,
                                   const std::optional<std::string>& publisherId, TRABannerSizeEnum size,
                                   CGPoint origin, const Ref<UIView>& view,
                                   const Ref<TRABannerDelegateProtocol>& delegate);
    // The designated initialiser. Refuses (reports, then null) while the
    // server's do-not-show switch is on ("Internal error"), without an
    // application identifier ("Application ID is nil or empty.") and, unless
    // the banner ignores its view, without a view ("Can not send nil as
    // view"). `params` is not kept: extra fields come only from extraParams.
    Ref<TRABannerView> initWithIds(const std::optional<std::string>& appId,
                                   const std::optional<std::string>& publisherId, TRABannerSizeEnum size,
                                   CGPoint origin, const Ref<UIView>& view,
                                   const Ref<TRABannerDelegateProtocol>& delegate, const Value& params);

    // ---- placement (nothing while the do-not-show switch is on or the
    // application hid the banner) ----
    // A fresh load at the new size.
    void setSTABannerSize(TRABannerSizeEnum size);
    void setSTABannerSize(TRABannerSizeEnum size, const Value& params);
    void setOrigin(CGPoint origin);
    void setOrigin(CGPoint origin, const Value& params);
    void setSTAAutoOrigin(TRAAdOrigin position);
    void setSTAAutoOrigin(TRAAdOrigin position, const Value& params);
    void setSTABannerAdTag(const std::optional<std::string>& adTag) { prefAdTag_ = adTag; }
    // Places the banner after a page is ready or a rotation: centred at the
    // top or bottom, or at its custom point.
    void autoPositionBanner();
    // Whether the banner lies inside its root view (always, when it ignores its view).
    bool validOrigin();

    // ---- visibility ----
    void hideBanner();
    // Lifts the application's hide and starts a fresh load.
    void showBanner();
    bool isVisible() const;

    // ---- table cells ----
    // Puts the banner into the cell's content view (flag true) or hides it there.
    void setBannerWithCell(const Ref<UITableViewCell>& cell, bool bannerIndex);
    // The flag: the section (row) equals `section` (`row`), or, with
    // repeatEach above 0, equals it modulo repeatEach (0: no repetition).
    void addSTABannerToCellWithIndexPathAtIntexPathSection(const Ref<UITableViewCell>& cell, NSIndexPath indexPath,
                                                          int section);
    void addSTABannerToCellWithIndexPathAtIntexPathSection(const Ref<UITableViewCell>& cell, NSIndexPath indexPath,
                                                          int section, int repeatEach);
    void addSTABannerToCellWithIndexPathAtIntexPathRow(const Ref<UITableViewCell>& cell, NSIndexPath indexPath,
                                                      int row);
    void addSTABannerToCellWithIndexPathAtIntexPathRow(const Ref<UITableViewCell>& cell, NSIndexPath indexPath,
                                                      int row, int repeatEach);

    // ---- rotation ----
    // The application forwards its controller's callback (used below system
    // version 8.0; from 8.0 the banner follows the status bar itself).
    void didRotateFromInterfaceOrientation(UIInterfaceOrientation fromOrientation);
    void viewWillTransitionToSize(CGSize, const Ref<UIViewControllerTransitionCoordinator>&) {}
    void orientationWillChange(const NSNotification& notification);
    void didRotateFromInterfaceOrientationSDK(UIInterfaceOrientation fromOrientation);

    // ---- names ----
    // The constant's name; "" for a size that is none of the six.
    static std::string bannerSizeInString(TRABannerSizeEnum size);
    static std::string bannerOriginInString(TRAAdOrigin origin);
    static bool isSizeEqualToSize(TRABannerSizeEnum a, TRABannerSizeEnum b) { return a == b; }

    // ---- loading (TRABannerViewLoading.cpp) ----
    // A load: `sender` is the refresh timer, or null for a load of the
    // banner's own (start, size change, rotation).
    void loadAd(const Ref<NSTimer>& sender);
    // Clears the once-per-load mark and waits for the configuration (or
    // reports "No internet connection.").
    void checkNetworkState();
    void createTimer();
    void releaseTimer();
    void createShowWebViewTimer();
    void releaseShowWebViewTimer();
    void reportImpression();
    void sendNonImpression();
    void updateAdapptAdsDisplayed();
    void callFailedLoadBannerAdOnDelegate(const Ref<TRABannerDelegateProtocol>& delegate, const Ref<NSError>& error);
    void refreshBanner(const Ref<NSTimer>& timer);
    void showWebView();

    // ---- callbacks (through the proxy) ----
    void didFinishLoadMetadata() override;
    void didFinishLoadAd() override;
    void finishLoadAdWithError(const Ref<NSError>& error) override;
    void didCloseInAppStore() override;
    void didExitWebViewWithInAppBrowser(const std::optional<std::string>& url) override;
    void didFinishWithError(const Ref<NSError>&) override {}
    void allowAutoRotate() override {}
    // The router: the page's own load passes; every later navigation is a
    // tap on the ad at the URL's "index=" (see TRABannerViewLoading.cpp).
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType navigationType) override;
    void webViewDidFinishLoad(Ref<UIWebView> webView) override;
    void webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) override;
    void willMoveToSuperview(Ref<UIView> newSuperview) override;
    PLATFORM_RESPONDS_TO("didExitWebViewWithInAppBrowser:", "didFinishWithError:", "allowAutoRotate",
                         "didCloseInAppStore")

    // ---- state ----
    Ref<TRABannerDelegateProtocol> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<TRABannerDelegateProtocol>& delegate) { delegate_ = delegate; }
    const Ref<TRABannerAd>& ad() const { return ad_; }
    const Ref<UIWebView>& webView() const { return webView_; }
    const Ref<TRABannerProxy>& proxy() const { return proxy_; }
    Ref<UIView> rootView() const { return rootView_.lock(); }
    Ref<NSTimer> timer() const { return timer_.lock(); }
    Ref<NSTimer> showWebViewTimer() const { return showWebViewTimer_.lock(); }
    TRAAdOrigin bannerPosition() const { return bannerPosition_; }
    CGPoint bannerOrigin() const { return bannerOrigin_; }
    TRABannerSizeEnum bannerSize() const { return bannerSize_; }
    const std::optional<std::string>& currentHtmlBanner() const { return currentHtmlBanner_; }
    int ios7StatusBarFactor() const { return ios7StatusBarFactor_; }
    const std::optional<std::string>& prefAdTag() const { return prefAdTag_; }
    const Value& extraParams() const { return extraParams_; }
    const std::optional<std::string>& developerBannerSize() const { return developerBannerSize_; }
    const std::optional<std::string>& developerBannerOrigin() const { return developerBannerOrigin_; }
    bool firstLoad() const { return firstLoad_; }
    bool loadingAd() const { return loadingAd_; }
    bool devHideBanner() const { return devHideBanner_; }
    bool viewIgnore() const { return viewIgnore_; }
    bool isRotationLoad() const { return isRotationLoad_; }
    bool delegateWasNotified() const { return delegateWasNotified_; }
    // The last ad-rules verdict; false also while there is none.
    bool lastAdapptValue() const { return lastAdapptValue_; }
    // Whether the rules have been asked for this banner yet.
    bool hasAdapptVerdict() const { return hasAdapptVerdict_; }
    bool isImpressionWaiting() const { return isImpressionWaiting_; }

private:
    // Sets the allowance to 20 points when the status bar shows and the view
    // fills the top view controller's view; false otherwise.
    bool statusBarAllowanceHolds(const Ref<UIView>& view);
    void placementVisibilityStep();
    void reportFailure(const std::string& description);
    // The tap router's two routes; the answer to the navigation.
    struct TRABannerTap;
    bool followerTap(const TRABannerTap& tap, const NSURLRequest& request);
    bool directTap(const TRABannerTap& tap);
    std::optional<TRABannerTap> readTap(const std::string& url);

    bool firstLoad_ = false;
    bool loadingAd_ = false;
    bool loadingAdReturn_ = false;
    bool devHideBanner_ = false;
    bool viewIgnore_ = false;
    bool isRotateSameOrientation_ = false;
    bool isRotationLoad_ = false;
    bool delegateWasNotified_ = false;
    bool lastAdapptValue_ = false;
    bool hasAdapptVerdict_ = false;
    bool checkAdappt_ = false;
    bool isImpressionWaiting_ = false;
    Ref<TRABannerAd> ad_;
    Weak<UIView> rootView_;
    Weak<NSTimer> timer_;
    TRAAdOrigin bannerPosition_ = TRAAdOrigin_Custom;
    Weak<TRABannerDelegateProtocol> delegate_;
    std::optional<std::string> currentHtmlBanner_;
    Ref<UIWebView> webView_;
    int ios7StatusBarFactor_ = 0;
    platform::web::RepeatedRefusals pageLines_{TRALog::kFoldedLinePeriod};  // the page's lines, folded
    Ref<TRABannerProxy> proxy_;
    Weak<NSTimer> showWebViewTimer_;
    std::optional<std::string> prefAdTag_;
    Value extraParams_;
    std::optional<std::string> developerBannerSize_;
    std::optional<std::string> developerBannerOrigin_;
    // Main thread only, so plain values.
    CGPoint bannerOrigin_;
    TRABannerSizeEnum bannerSize_;
};
