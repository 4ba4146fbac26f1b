// The full-screen ad an application drives (public). Every show loads the
// next interstitial through the ad service and displays it once the load
// succeeds: an ad of presentation mode 1 in a full-screen video controller
// presented on the window's top controller, any other in a dialog view over
// the window. The application's load delegate hears adServiceDidLoadAd
// before anything is on screen (and a failed load only as a failure);
// afterwards the presenter reports displayed, clicked and hidden, and video
// playback, through this object's delegates (held strongly).
//
// Threads: show and its load run on the caller's thread; the load proxy
// presents on the main thread (moving there when the service answers
// elsewhere); dismissal always runs on the main queue. The delegates and the
// current presenter may be read and set from any thread.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/display/HLAdVideoPlaybackDelegate.h"
#include "halcyon/display/HLInterstitialProtocols.h"
#include "platform/ui/UIWindow.h"

class HLAd;
class HLSdk;

class HLInterstitialAd : public NSObject {
public:
    // The one instance over HLSdk::shared(), made once (thread-safe).
    static Ref<HLInterstitialAd> shared();
    // The class methods: the instance methods of the same names on the
    // shared instance (each but isReadyForDisplayShared returns it).
    static bool isReadyForDisplayShared();
    static Ref<HLInterstitialAd> showShared();
    static Ref<HLInterstitialAd> showOverShared(const Ref<UIWindow>& window);
    static Ref<HLInterstitialAd> showOverPlacementShared(const std::optional<std::string>& placement);
    static Ref<HLInterstitialAd> showOverShared(const Ref<UIWindow>& window,
                                                const std::optional<std::string>& placement);

    Ref<HLInterstitialAd> initWithFrame(CGRect frame, const Ref<HLSdk>& sdk);
    Ref<HLInterstitialAd> initWithSdk(const Ref<HLSdk>& sdk);
    Ref<HLInterstitialAd> initInterstitialAdWithSdk(const Ref<HLSdk>& sdk);
    Ref<HLInterstitialAd> initWithFrame(CGRect frame);

    // Over the application's key window.
    void show();
    void showOverPlacement(const std::optional<std::string>& placement);
    void showOver(const Ref<UIWindow>& window);
    // Loads the next interstitial (a preloaded one when the service holds
    // one) and shows it when it arrives.
    void showOver(const Ref<UIWindow>& window, const std::optional<std::string>& placement);
    // Shows an ad the caller holds: null logs the developer messages and
    // shows nothing; an object that is no HLAd raises NSInvalidArgumentException.
    void showOver(const Ref<UIWindow>& window, const Ref<NSObject>& ad);
    void showOver(const Ref<UIWindow>& window, const std::optional<std::string>& placement, const Ref<NSObject>& ad);
    // Mode 1 in a view controller, every other in a dialog. Main thread.
    void displayInterstitialAd(const Ref<HLAd>& ad, const Ref<UIWindow>& window,
                               const std::optional<std::string>& placement);
    void showInterstitialInViewController(const Ref<HLAd>& ad, const Ref<UIWindow>& window,
                                          const std::optional<std::string>& placement);
    void showInterstitialInSubview(const Ref<HLAd>& ad, const Ref<UIWindow>& window,
                                   const std::optional<std::string>& placement);

    // On the main queue, the current presenter's dismissal (nothing without one).
    void dismiss();
    void dismissWithCompletionHandler(Block completion);

    // A regular interstitial is preloaded (incentivized ones do not count).
    bool isReadyForDisplay();

    // A frame sizes the next dialog only (the zero rectangle: the whole
    // application frame); both pass on to the current presenter.
    CGRect frame() const;
    void setFrame(CGRect frame);
    bool isHidden() const { return hidden_.load(); }
    void setHidden(bool hidden);

    Ref<HLSdk> sdk() const { return sdk_; }
    Ref<HLInterstitialControlProxy> currentInterstitialController() const;
    void setCurrentInterstitialController(const Ref<HLInterstitialControlProxy>& controller);
    Ref<HLAdVideoPlaybackDelegate> adVideoPlaybackDelegate() const;
    void setAdVideoPlaybackDelegate(const Ref<HLAdVideoPlaybackDelegate>& delegate);
    Ref<HLAdDisplayDelegate> adDisplayDelegate() const;
    void setAdDisplayDelegate(const Ref<HLAdDisplayDelegate>& delegate);
    Ref<HLAdLoadDelegate> adLoadDelegate() const;
    void setAdLoadDelegate(const Ref<HLAdLoadDelegate>& delegate);

    // The presenters' class names for mode 1 (made through NSClassFromString).
    static constexpr const char* kAutoLayoutVideoControllerClass = "HLAutoLayoutVideoViewController";
    static constexpr const char* kFrameVideoControllerClass = "HLFrameVideoViewController";

private:
    std::atomic<bool> hidden_{false};
    Ref<HLSdk> sdk_;
    mutable std::mutex mutex_;  // guards the fields below
    Ref<HLInterstitialControlProxy> currentInterstitialController_;
    Ref<HLAdVideoPlaybackDelegate> adVideoPlaybackDelegate_;
    Ref<HLAdDisplayDelegate> adDisplayDelegate_;
    Ref<HLAdLoadDelegate> adLoadDelegate_;
    CGRect frame_ = CGRectZero;
};

// Made for each show: tells the application's load delegate, then displays
// the ad over its window. Kept by the ad service until it has answered.
class HLInterstitialAdLoadDelegateProxy : public NSObject, public HLAdLoadDelegate {
public:
    Ref<HLInterstitialAdLoadDelegateProxy> initWithParent(const Ref<HLInterstitialAd>& parent,
                                                          const Ref<UIWindow>& window,
                                                          const std::optional<std::string>& placement);
    void adServiceDidLoadAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) override;
    void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>& service, int32_t code) override;

    Ref<HLInterstitialAd> parentAdObject() const { return parentAdObject_; }
    Ref<UIWindow> window() const { return window_; }
    const std::optional<std::string>& placement() const { return placement_; }

private:
    Ref<HLInterstitialAd> parentAdObject_;
    Ref<UIWindow> window_;
    std::optional<std::string> placement_;
};
