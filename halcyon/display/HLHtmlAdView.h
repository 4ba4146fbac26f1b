// The view that shows a Halcyon HTML ad in a web view (public). It loads ads
// through the ad service, renders each ad's page (counting one impression
// per render, before anything is drawn), follows the service's refreshes
// while it is on screen, acts on the page's "halcyon" command URLs
// ("/next_ad", "/close_ad", "/storekit"), turns every link the user taps into
// a tracked click (never loading it), shows the click-tracking overlay while
// a click waits for its tracking request (slot 115), and reports to its load
// and display delegates. An interstitial-size ad rendered here is shown
// through the shared HLInterstitialAd instead. Once its presenter has gone
// (foregroundClickInvalidated), and while its owner holds the page off
// screen (setCommandsSuspended: an end page rendered ahead of its video's
// end), the page's taps and commands do nothing but log.
//
// Threads: render() and the load callbacks may come from the task queues;
// only their bookkeeping (ads, placement, impression counters) runs there.
// Every view change and every delegate call runs on the main queue. Each
// event goes to the strong delegate set by the application and to the weak
// one set by an owning presenter (the interstitial dialog); a missing one is
// skipped.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/display/HLAdVideoPlaybackDelegate.h"
#include "halcyon/display/HLAdView.h"
#include "halcyon/display/HLClickTrackingOverlayView.h"
#include "halcyon/display/HLWebViewProvider.h"
#include "platform/foundation/NSCoder.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIViewController.h"
#include "platform/web/RepeatedRefusals.h"

class HLAd;
class HLAdService;
class HLSdk;

class HLHtmlAdView : public HLAdView,
                     public HLAdViewInternalProtocol,
                     public HLAdLoadDelegate,
                     public HLAdUpdateObserver,
                     public UIWebViewDelegate {
public:
    static Ref<HLHtmlAdView> alloc() { return std::make_shared<HLHtmlAdView>(); }
    ~HLHtmlAdView() override;

    // ---- creation
    Ref<HLHtmlAdView> initWithFrame(CGRect frame, const Ref<HLAdSize>& size, const Ref<HLSdk>& sdk);
    // At the origin, the main screen's width; 50 high for banners, 90 for
    // leaderboards, else the screen's height (the application frame's for
    // interstitials).
    Ref<HLHtmlAdView> initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAdSize>& size);
    Ref<HLHtmlAdView> initWithSize(const Ref<HLAdSize>& size);
    // A banner view of the shared SDK.
    Ref<UIView> initWithFrame(CGRect frame) override;
    // As a storyboard makes it: a banner view of the shared SDK; the
    // storyboard's keys follow through setValue, then awakeFromNib.
    Ref<HLHtmlAdView> initWithCoder(const Ref<NSCoder>& coder);
    Ref<HLHtmlAdView> initBannerAd();
    Ref<HLHtmlAdView> initMRecAd();
    Ref<HLHtmlAdView> initInterstitialAd();
    Ref<HLHtmlAdView> initBannerAdWithSdk(const Ref<HLSdk>& sdk);
    Ref<HLHtmlAdView> initMRecAdWithSdk(const Ref<HLSdk>& sdk);
    Ref<HLHtmlAdView> initInterstitialAdWithSdk(const Ref<HLSdk>& sdk);
    void baseInitWithSize(const Ref<HLAdSize>& size, const Ref<HLSdk>& sdk);

    // ---- loading and rendering
    void loadNextAd();
    // A null ad logs the developer messages and does nothing (no impression,
    // nothing shown); an object that is no HLAd raises NSInvalidArgumentException.
    void render(const Ref<NSObject>& ad);
    void render(const Ref<NSObject>& ad, const std::optional<std::string>& overPlacement);
    // Main thread: the page of an ad of this view's size, or the shared
    // interstitial for an interstitial-size ad, or a warning.
    void doRenderAd(const Ref<HLAd>& ad, const std::optional<std::string>& overPlacement);
    // Forgets the ads and the placement and clears the web view.
    void clearAds();
    bool isReadyForDisplay();

    // ---- load delegate and update observer (the ad service)
    void adServiceDidLoadAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) override;
    void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>& service, int32_t code) override;
    void adServiceDidUpdateAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) override;
    bool canAcceptUpdate() override;
    void applicationDidBecomeActive(const NSNotification& notification);

    // ---- visibility: setHidden records the user's wish, the temporary form does not
    void setHidden(bool hidden) override;
    void setTemporaryHidden(bool hidden);
    void showWebView();
    void hideWebView();
    // On the main queue: hidden (temporarily), and ad:wasHiddenIn: for the current ad.
    void hideTemporary();

    // ---- storyboard
    void awakeFromNib();
    // "size" (a size label) and "autoload" (a boolean), compared in lower
    // case; other keys are ignored.
    void setValue(const Value& value, const std::string& key) override;
    void layoutSubviews() override;

    // ---- web view delegate
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType navigationType) override;
    void webViewDidFinishLoad(Ref<UIWebView> webView) override;

    // ---- clicks
    void handleAdClick(const Ref<NSURL>& url);
    void trackClickInForeground(const Ref<NSURL>& url);
    void removeClickTrackingOverlay() override;
    // Slot 122 in seconds.
    double overlayFadeTime() const;
    // On the main queue: ad:wasClickedIn: with the current ad to both display delegates.
    void notifyClickDelegate(const Ref<UIView>& view);

    // The controller to present from: parentController, else the top one
    // found from the window's root (null when its view is not loaded).
    Ref<UIViewController> visibleViewController();

    // ---- properties
    bool isFirstAdLoaded() const { return isFirstAdLoaded_.load(); }
    bool hiddenByUser() const { return hiddenByUser_.load(); }
    bool foregroundClickInvalidated() const override { return foregroundClickInvalidated_.load(); }
    void setForegroundClickInvalidated(bool invalidated) { foregroundClickInvalidated_ = invalidated; }
    bool commandsSuspended() const { return commandsSuspended_.load(); }
    void setCommandsSuspended(bool suspended) { commandsSuspended_ = suspended; }
    Ref<HLAd> oldAd() const;
    Ref<HLAd> currentAd() const;
    std::optional<std::string> currentPlacement() const;
    Ref<HLUIWebView> adWebView() const { return adWebView_; }
    bool isAutoloadEnabled() const { return autoload_.load(); }
    void setAutoloadEnabled(bool autoload) { autoload_ = autoload; }
    Ref<HLSdk> sdk() const { return sdk_; }
    Ref<UIViewController> parentController() const;
    void setParentController(const Ref<UIViewController>& controller);
    Ref<HLAdSize> adSize() const;
    void setAdSize(const Ref<HLAdSize>& size);
    Ref<HLClickTrackingOverlayView> trackingOverlay() const;

    Ref<HLAdLoadDelegate> adLoadDelegate() const;
    void setAdLoadDelegate(const Ref<HLAdLoadDelegate>& delegate);
    Ref<HLAdDisplayDelegate> adDisplayDelegate() const override;
    void setAdDisplayDelegate(const Ref<HLAdDisplayDelegate>& delegate);
    Ref<HLAdVideoPlaybackDelegate> adVideoPlaybackDelegate() const;
    void setAdVideoPlaybackDelegate(const Ref<HLAdVideoPlaybackDelegate>& delegate);
    Ref<HLAdLoadDelegate> weakAdLoadDelegate() const;
    void setWeakAdLoadDelegate(const Ref<HLAdLoadDelegate>& delegate);
    Ref<HLAdDisplayDelegate> weakAdDisplayDelegate() const override;
    void setWeakAdDisplayDelegate(const Ref<HLAdDisplayDelegate>& delegate);
    Ref<HLInterstitialAdDismissProxy> weakInterstitialDismissalDelegate() const override;
    void setWeakInterstitialDismissalDelegate(const Ref<HLInterstitialAdDismissProxy>& delegate);

private:
    void tellLoadDelegates(const std::function<void(const Ref<HLAdLoadDelegate>&)>& call) const;
    void tellDisplayDelegates(const std::function<void(const Ref<HLAdDisplayDelegate>&)>& call) const;
    void handleCommand(const Ref<NSURL>& url);

    std::atomic<bool> isFirstAdLoaded_{false};
    std::atomic<bool> hiddenByUser_{false};
    std::atomic<bool> foregroundClickInvalidated_{false};
    std::atomic<bool> commandsSuspended_{false};
    std::atomic<bool> autoload_{true};
    Ref<HLUIWebView> adWebView_;
    Ref<HLSdk> sdk_;
    Ref<HLLogManager> logger_;
    platform::web::RepeatedRefusals pageLines_{HLLogManager::kFoldedLinePeriod};  // the page's lines; main thread

    mutable std::mutex mutex_;  // guards the fields below
    Ref<HLAd> oldAd_;
    Ref<HLAd> currentAd_;
    std::optional<std::string> currentPlacement_;
    Ref<UIViewController> parentController_;
    Ref<HLAdSize> adSize_;
    Ref<HLClickTrackingOverlayView> trackingOverlay_;
    Ref<HLAdLoadDelegate> adLoadDelegate_;
    Ref<HLAdDisplayDelegate> adDisplayDelegate_;
    Ref<HLAdVideoPlaybackDelegate> adVideoPlaybackDelegate_;
    Weak<HLAdLoadDelegate> weakAdLoadDelegate_;
    Weak<HLAdDisplayDelegate> weakAdDisplayDelegate_;
    Weak<HLInterstitialAdDismissProxy> weakInterstitialDismissalDelegate_;
};
