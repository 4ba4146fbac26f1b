// The Trillium client's application-lifecycle singleton. The entry point's
// creation brings it into being, and from then on it follows the
// application's notifications: at launch it loads the configuration (a new
// client session), sends the first-launch report until the server has it,
// reports which other ad clients are linked, preloads an ad and loads the
// return ad; on entering the background it notes the time; on returning it
// shows the return ad after a long enough absence and starts a new session
// after a longer one. It owns the lifecycle ads and relays their callbacks to
// the delegates the application registered; it also runs the splash screen
// with its splash ad. Main thread.
#pragma once

#include <optional>
#include <string>

#include "Trillium/TRADelegateProtocol.h"
#include "Trillium/TRAEventAdManaging.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRATrilliumAd.h"
#include "Trillium/display/TRASplashPreferences.h"
#include "Trillium/display/TRASplashViewController.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSTimer.h"
#include "platform/ui/UIViewController.h"

class TRAEventAdManager : public NSObject,
                          public TRAEventAdManaging,
                          public TRADelegateProtocol,
                          public TRAMetadataDelegate {
public:
    static constexpr const char* kLastBackgroundTimeKey = "TRALastBackgroundTime";
    static constexpr const char* kFirstOpenDateKey = "TRAFirstOpenDate";
    // Ad type of the return ad's loads: the full-screen type that may carry video.
    static constexpr int64_t kReturnAdType = 5;

    // Created once; lives for the process.
    static Ref<TRAEventAdManager> sharedInstance();
    // Registers for the application's launch notification, nothing else.
    Ref<TRAEventAdManager> init();

    // ---- lifecycle ----
    void appDidFinishLaunching() override;
    void addDidBackgroundWillForegroundObserver();
    void appDidEnterBackground() override;
    void appWillEnterForeground() override;
    // With a network: session reason "LAUNCH" and the configuration load.
    void checkNetworkState();

    // ---- return ad ----
    // Creates the return ad when absent (event type 1) and loads it.
    void showReturnAd();
    // Keeps the launch and the foreground from loading or showing the return
    // ad; a loaded one and a scheduled retry stay.
    void disableReturnAd() override;
    // The retry timer's target: the same as showReturnAd.
    void tryReloadingReturnAd(Ref<NSTimer> timer);
    // Creates the preloaded overlay ad when absent and loads it.
    void loadExtraOverlayForReference();

    // ---- the other-clients report ----
    // Category 7 with "CB", "HL" and "AM" joined by "-" for the other ad
    // clients linked into the application; nothing when there are none.
    void checkOthers();

    // ---- splash (TRAEventAdManagerSplash.cpp) ----
    // The splash ad's callbacks go to this delegate (held weakly).
    void setSplashAdDelegate(const Ref<TRADelegateProtocol>& delegate) override;
    // The splash request: keeps the options (the defaults when none are
    // given), loads the splash ad afresh (not ready until it loads) with the
    // options' request fields when the application gave its own, and marks
    // the splash for the launch. The screen goes up at launch, or at once
    // through appDidFinishLaunchingForInterstitialSplash. Refused, logged,
    // while a splash screen is up: the running splash goes on as it was.
    void showSplashAdWithPreferences(const Ref<TRASplashPreferences>& splashPreferences,
                                     const Ref<TRAAdPreferences>& adPreferences,
                                     const std::optional<std::string>& adTag) override;
    // A splash later than launch: the screen goes up now (unless one is up).
    void appDidFinishLaunchingForInterstitialSplash() override;
    // Loads a second splash ad that is only held.
    void loadSecondSplashForReferenceWithAdPreferences(const Ref<TRAAdPreferences>& adPreferences);
    // Presents the splash screen over the top controller and arms the
    // minimum and maximum timers. One splash screen at a time.
    void showSplashAd();
    // Under the engine wrapper: waits (0.2 s steps) while its own controller is on top.
    void checkIfUnityDefaultViewControllerDisplayed();
    // The minimum timer: the splash may end; it ends with the ad when ready.
    void showAdIfAlreadyLoaded(Ref<NSTimer> timer);
    // The maximum timer: without a loaded ad the splash ends without one.
    void cancelAdTimeout(Ref<NSTimer> timer);
    // The display timer: closes the splash ad's screen (a close without click).
    void closeAd(Ref<NSTimer> timer);
    // The end of the splash screen (from the HTML page, or the manager):
    // dismisses it, gives the root controller its presentation style back,
    // then shows the splash ad or lets it go.
    void splashViewControllerEndFadeOutWithShowAd(bool showAd);

    // ---- the ad cache's debug overlay and clean-up ----
    void showVisualCacheDB() override;
    void hideVisualCacheDB() override;
    // Drops every entry but the splash ones and saves the cache.
    void clearCacheDB() override;

    // ---- TRADelegateProtocol: callbacks of the lifecycle ads ----
    void didLoadAd(const Ref<TRAAbstractAd>& ad) override;
    void failedLoadAd(const Ref<TRAAbstractAd>& ad, const Ref<NSError>& error) override;
    void didShowAd(const Ref<TRAAbstractAd>& ad) override;
    void failedShowAd(const Ref<TRAAbstractAd>& ad, const Ref<NSError>& error) override;
    void didCloseAd(const Ref<TRAAbstractAd>& ad) override;
    void didClickAd(const Ref<TRAAbstractAd>& ad) override;
    void didCloseInAppStore(const Ref<TRAAbstractAd>& ad) override;
    PLATFORM_RESPONDS_TO("didLoadAd:", "failedLoadAd:withError:", "didShowAd:", "failedShowAd:withError:",
                         "didCloseAd:", "didClickAd:", "didCloseInAppStore:")

    // ---- TRAMetadataDelegate ----
    void didFinishLoadMetadata() override {}

    // The client's resource bundle: "Trillium.bundle" in the main bundle's resources.
    static Ref<NSBundle> frameworkBundle();

    // ---- properties ----
    bool isReturnAdDisabled() const { return isReturnAdDisabled_; }
    const Ref<TRATrilliumAd>& trilliumOverlay() const { return trilliumOverlay_; }
    void setTrilliumOverlay(Ref<TRATrilliumAd> ad) { trilliumOverlay_ = std::move(ad); }
    Ref<TRADelegateProtocol> returnAdDelegate() const { return returnAdDelegate_.lock(); }
    void setReturnAdDelegate(const Ref<TRADelegateProtocol>& delegate) { returnAdDelegate_ = delegate; }
    const Ref<NSTimer>& reloadingTimer() const { return reloadingTimer_; }
    void setReloadingTimer(Ref<NSTimer> timer) { reloadingTimer_ = std::move(timer); }
    const Ref<TRATrilliumAd>& trilliumReturnAd() const { return trilliumReturnAd_; }
    void setTrilliumReturnAd(Ref<TRATrilliumAd> ad) { trilliumReturnAd_ = std::move(ad); }
    const Ref<UIViewController>& devRootViewController() const { return devRootViewController_; }
    void setDevRootViewController(Ref<UIViewController> controller) { devRootViewController_ = std::move(controller); }
    bool isSplashAdEnabled() const { return isSplashAdEnabled_; }
    bool isSplashScreenFinish() const { return isSplashScreenFinish_; }
    bool isSplashAdReady() const { return isSplashAdReady_; }
    bool isSplashPreferencesUsed() const { return isSplashPreferencesUsed_; }
    const Ref<TRATrilliumAd>& trilliumSplashAd2() const { return trilliumSplashAd2_; }
    const std::optional<std::string>& splashAdTag() const { return splashAdTag_; }
    Ref<TRADelegateProtocol> splashAdDelegate() const { return splashAdDelegate_.lock(); }
    const Ref<TRASplashPreferences>& splashPreferences() const { return splashPreferences_; }
    const Ref<TRATrilliumAd>& trilliumSplashAd() const { return trilliumSplashAd_; }
    UIModalPresentationStyle parentPresentationStyle() const { return parentPresentationStyle_; }
    const Ref<NSTimer>& splashMinTimer() const { return splashMinTimer_; }
    const Ref<NSTimer>& maxSplashTimer() const { return maxSplashTimer_; }
    const Ref<NSTimer>& splashAdDisplayTimer() const { return splashAdDisplayTimer_; }
    const Ref<TRASplashViewController>& splashViewController() const { return splashViewController_; }

private:
    void onDidFinishLaunching(const NSNotification&) { appDidFinishLaunching(); }
    void onDidEnterBackground(const NSNotification&) { appDidEnterBackground(); }
    void onWillEnterForeground(const NSNotification&) { appWillEnterForeground(); }

    void sendFirstLaunchReport();
    void firstLaunchReportFinished(const Ref<NSError>& error);
    // The return ad's delegate, when it answers the selector.
    Ref<TRADelegateProtocol> returnAdDelegateFor(std::string_view selector) const;
    bool isReturnAd(const Ref<TRAAbstractAd>& ad) const;
    void reloadReturnAd();

    // The splash start of the launch tasks (with the engine wrapper's waits).
    void startSplashAtLaunch();
    // Ends the splash screen, with or without the ad: through the HTML
    // page's fade-out when it shows one, else at once. Once per screen.
    void endSplash(bool withAd);
    bool isSplashAd(const Ref<TRAAbstractAd>& ad) const;
    Ref<TRADelegateProtocol> splashAdDelegateFor(std::string_view selector) const;
    static void invalidateTimer(Ref<NSTimer>& timer);
    // The splash column of the ad callbacks.
    void splashAdDidLoad(const Ref<TRAAbstractAd>& ad);
    void splashAdFailedLoad(const Ref<TRAAbstractAd>& ad, const Ref<NSError>& error);
    void splashAdDidShow(const Ref<TRAAbstractAd>& ad);
    void splashAdFailedShow(const Ref<TRAAbstractAd>& ad, const Ref<NSError>& error);
    void splashAdDidClose(const Ref<TRAAbstractAd>& ad);
    void splashAdDidClick(const Ref<TRAAbstractAd>& ad);
    void splashAdDidCloseInAppStore(const Ref<TRAAbstractAd>& ad);

    bool isReturnAdDisabled_ = false;
    Ref<TRATrilliumAd> trilliumOverlay_;
    Weak<TRADelegateProtocol> returnAdDelegate_;
    Ref<NSTimer> reloadingTimer_;
    Ref<TRATrilliumAd> trilliumReturnAd_;
    Ref<UIViewController> devRootViewController_;

    bool isSplashAdEnabled_ = false;
    bool isSplashScreenFinish_ = false;
    bool isSplashAdReady_ = false;
    bool isSplashPreferencesUsed_ = false;
    Ref<TRATrilliumAd> trilliumSplashAd2_;
    std::optional<std::string> splashAdTag_;
    Weak<TRADelegateProtocol> splashAdDelegate_;
    Ref<TRASplashPreferences> splashPreferences_;
    Ref<TRATrilliumAd> trilliumSplashAd_;
    UIModalPresentationStyle parentPresentationStyle_ = UIModalPresentationFullScreen;
    // The root controller whose style was saved, given it back at the end.
    Weak<UIViewController> styledRootViewController_;
    Ref<NSTimer> splashMinTimer_;
    Ref<NSTimer> maxSplashTimer_;
    Ref<NSTimer> splashAdDisplayTimer_;
    Ref<TRASplashViewController> splashViewController_;
    // The end of the current splash screen has been asked for.
    bool splashEndRequested_ = false;

    bool observingBackgroundAndForeground_ = false;
    bool firstLaunchReportInFlight_ = false;
};
