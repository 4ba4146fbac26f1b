// What the two full-screen video ad controllers share (the Auto Layout one
// and the frame one derive from it and differ only where their own headers
// say): one presentation of one HLAd for the shared interstitial. A video
// ad plays full screen with its countdown clock, close or skip button, mute
// toggle and HTML video button, and ends on the poststitial (the same ad as
// an HTML end page); any other ad shows the poststitial alone. The
// controller reports displayed, clicked, hidden and playback to the
// interstitial's delegates, sends the ad's video completion postback with the
// share watched, guards against broken videos (a 5 s failsafe), follows the
// application to the background and back, and asks before an unfinished
// rewarded video is skipped (slot 47). The poststitial is rendered when the
// controller appears but acts on its page's commands and taps only while it
// is on screen: what its script asks behind the video is logged and dropped.
//
// Once per controller: the appearance sequence, ad:wasHiddenIn: (only when
// the controller itself goes), and for a video ad one
// videoPlaybackEndedInAd:… and one completion postback, whichever way it is
// dismissed. Later dismissals only run their completion handler.
//
// Main thread only. Delayed calls (fades, the failsafe, close delays) are
// never cancelled but hold the controller weakly: an ad's delays may be of
// any length, and a dismissed controller goes with its player and web views
// as soon as its presenter lets it go; a step that comes later does nothing.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/display/HLAdVideoPlaybackDelegate.h"
#include "halcyon/display/HLInterstitialProtocols.h"
#include "halcyon/display/HLWebViewButton.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/media/AVPlayer.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UIViewController.h"

class HLAd;
class HLCircularCountdownView;
class HLCloseButton;
class HLHtmlAdView;
class HLIncentivizedWarningManager;
class HLInterstitialAd;
class HLLogManager;
class HLSdk;
class HLVideoButtonProperties;
class HLVideoPlayer;
class HLVideoView;
class HLVideoViewControllerClickForwarder;

class HLVideoViewController : public UIViewController,
                              public HLInterstitialControlProxy,
                              public HLApplicationControlProtocol,
                              public HLWebViewButtonDelegate {
public:
    ~HLVideoViewController() override;

    // ---- presenter side
    // Creates the player (video ads), the poststitial and its click
    // forwarder, and the warning manager; loads the root view.
    Ref<NSObject> initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAd>& currentAd,
                              const std::optional<std::string>& currentPlacement,
                              const Ref<HLInterstitialAd>& wrapper) override;
    void dismissWithCompletionHandler(Block completion) override;
    void dismiss();
    bool dismissesOnClick() const override { return dismissesOnClick_; }
    void setDismissesOnClick(bool dismisses) override { dismissesOnClick_ = dismisses; }
    PLATFORM_RESPONDS_TO("dismissesOnClick", "setDismissesOnClick:", "didReceiveClickCommandOnWebViewButton:",
                         "didReceiveCloseCommandOnWebViewButton:", "didReceiveSkipCommandOnWebViewButton:")
    Ref<HLAd> currentAd() const override;
    std::optional<std::string> currentPlacement() const;
    Ref<UIView> containingView() override { return view(); }
    // The wrapper's; null once it is gone.
    Ref<HLAdDisplayDelegate> adDisplayDelegate() const override;
    void setAdDisplayDelegate(const Ref<HLAdDisplayDelegate>& delegate) override;
    Ref<HLAdVideoPlaybackDelegate> adVideoPlaybackDelegate() const override;
    void setAdVideoPlaybackDelegate(const Ref<HLAdVideoPlaybackDelegate>& delegate) override;

    // ---- application
    void appPaused(const Ref<NSObject>& sender) override;
    void appResumed(const Ref<NSObject>& sender) override;
    void applicationDidEnterBackground(const NSNotification&) { appPaused(nullptr); }
    void applicationDidBecomeActive(const NSNotification&) { appResumed(nullptr); }

    // ---- view controller
    void viewDidLoad() override;
    void viewWillDisappear(bool animated) override;
    bool prefersStatusBarHidden() override;
    UIStatusBarStyle preferredStatusBarStyle() override { return 1; }

    // ---- player observation
    void observeValueForKeyPath(const std::string& keyPath, Ref<NSObject> object, const Value& change,
                                void* context) override;
    void playerRateDidChange(const Value& rate);
    void playerStatusDidChange(const Ref<NSObject>& object, const Value& status);
    void itemDidPlayToEnd(const NSNotification& notification);
    void itemDidFailToPlayToEnd(const NSNotification& notification);
    void handleVideoPlayerError();
    void performBrokenVideoFailsafe();

    // ---- poststitial
    void showPoststitial();
    void hidePoststitial();

    // ---- countdown and progress
    // Whole seconds the clock counts down from (per class).
    virtual Value countdownTime();
    // countdownTime less the whole seconds played; 0 when that is negative
    // or not finite (the clock then shows zero and hides).
    Value timeLeft();
    // The share of the asset's duration played, 0–100; 0 while the duration
    // is unknown or not positive (a broken video).
    Value percentViewed();
    bool isFullyWatched();
    double videoDurationSeconds();
    Ref<NSObject> createCountdownTimeObserver();

    // ---- mute toggle
    bool videoMutedInitially();
    bool isVideoMuted();
    void setVideoMuted(bool muted);
    // Hidden when slot 102 is off; with 102 and 103 on, shown for a video
    // that starts muted, else only with slot 108; with 103 off, shown.
    bool muteButtonShouldBeHidden();
    // The cached image file the ad names; null when it is missing or no image.
    Ref<UIImage> muteImageForMuteState(bool muted);
    void toggleMute();

    // ---- taps, clicks and skipping
    void handleVideoTap();
    void fadeCountdownClockIfNeeded();
    void fadeVideoButtonIfNeeded();
    void clickThroughFromVideo();
    void handleSkipButtonTap();
    bool shouldWarnIncentivizedAdClose();
    void skipVideo();
    void didReceiveClickCommandOnWebViewButton(const Ref<HLWebViewButton>& button) override;
    void didReceiveCloseCommandOnWebViewButton(const Ref<HLWebViewButton>& button) override;
    void didReceiveSkipCommandOnWebViewButton(const Ref<HLWebViewButton>& button) override;

    // ---- button fades (the precondition read on the calling thread, the
    // change queued on the main queue)
    void fadeInCloseButton();
    void fadeInSkipButton();
    void fadeOutSkipButton();
    void fadeInVideoButton();
    void fadeOutVideoButton();
    // To the front of the root view, its layer at z 1000.
    void bringSubviewAboveVideoLayer(const Ref<UIView>& view);

    // Slot 35 in seconds.
    double standardAnimationTime() const;

    // ---- state
    bool wasPlayedToEnd() const { return wasPlayedToEnd_; }
    bool didEnterBackground() const { return didEnterBackground_; }
    bool isSkippable() const { return skippable_; }
    void setSkippable(bool skippable) { skippable_ = skippable; }
    bool wasPoststitialShown() const { return poststitialShown_; }
    bool isDismissed() const { return dismissed_; }
    bool isVideoAd() const;
    Ref<HLSdk> sdk() const { return sdk_; }
    Ref<HLInterstitialAd> wrapper() const { return wrapper_.lock(); }
    Ref<HLVideoPlayer> videoPlayer() const { return videoPlayer_; }
    Ref<AVPlayer> avPlayer() const;
    Ref<HLVideoView> videoView() const;
    Ref<HLCloseButton> closeButton() const { return closeButton_; }
    Ref<HLCloseButton> skipButton() const { return skipButton_; }
    Ref<HLHtmlAdView> videoPoststitial() const { return videoPoststitial_; }
    Ref<HLCircularCountdownView> countdownClock() const { return countdownClock_; }
    Ref<UIImageView> muteImageView() const { return muteImageView_; }
    Ref<HLWebViewButton> videoButton() const { return videoButton_; }
    Ref<NSObject> countdownTextTimeObserver() const { return countdownTextTimeObserver_; }
    Ref<HLVideoViewControllerClickForwarder> clickForwarder() const { return clickForwarder_; }
    Ref<HLIncentivizedWarningManager> incentivizedWarningManager() const { return incentivizedWarningManager_; }
    Ref<HLLogManager> logger() const;

protected:
    // The log lines' source: the class name.
    virtual const char* logSource() const = 0;
    // The key-value observation context, private to each class.
    virtual void* observationContext() const = 0;
    // Whether the first dismissal step (stop, invalidate clicks) covers
    // every ad or video ads only.
    virtual bool stopsEveryAdOnDismissal() const = 0;
    // Stored and retried (Auto Layout) or sent once (frame).
    virtual void sendCompletionPostback(const Ref<NSURL>& url) = 0;
    virtual void presentPoststitial() = 0;
    virtual void removePoststitial() = 0;
    virtual double countdownTapToFadeDuration() const = 0;
    // Sets the toggle's image for the new state.
    virtual void changeMuteImage(const Ref<UIImage>& image) = 0;
    // The video button's fade-in animation (alpha; the frame class also shows it).
    virtual void animateVideoButtonIn(const Ref<HLWebViewButton>& button) = 0;
    virtual void removeObservers();

    // Steps of the appearance sequence, shared by both classes.
    // True the first time only: the sequence runs once per controller.
    bool beginAppearance();
    void statusBarStep();
    void observerStep();
    void startStep();
    // The video button's fades armed from the ad's properties.
    void armVideoButtonFades();
    void failsafeStep();
    void closeTimerStep();
    void reportDisplayed();
    // A one-finger single tap on `view` calls `action`.
    Ref<UIGestureRecognizer> addTapHandler(void (HLVideoViewController::*action)(), const Ref<UIView>& view);
    // Stops the video and reports the end of playback (a video not played to
    // the end) with its completion postback; once.
    void finishPresentation();
    Ref<HLWebViewButton> createVideoButton();
    // The current ad's video button properties; null when it has none.
    Ref<HLVideoButtonProperties> videoButtonProperties() const;
    // The same, or the defaults where the button must be placed anyway.
    Ref<HLVideoButtonProperties> videoButtonPropertiesOrDefaults() const;
    // A countdown clock at `frame` counting from `totalSeconds`, its font
    // and stroke sizes from slots 93 and 94.
    Ref<HLCircularCountdownView> makeCountdownClock(CGRect frame, uint32_t totalSeconds) const;
    // Values of the settings table.
    bool setting(int64_t slot) const;
    double secondsFromMilliseconds(int64_t slot) const;
    // The completion postback for `percent` (the URL the ad builds for it).
    void submitCompletionPostback(uint32_t percent);
    Ref<NSURL> placementAwareVideoCompletionURLForPercentViewed(uint32_t percent);

    bool dismissesOnClick_ = true;
    bool wasPlayedToEnd_ = false;
    bool statusBarOriginallyHidden_ = false;
    bool didEnterBackground_ = false;
    bool skippable_ = false;
    bool poststitialShown_ = false;
    bool appeared_ = false;
    bool dismissed_ = false;
    bool observing_ = false;  // the player's key paths and notifications
    bool hiddenReported_ = false;
    Ref<HLSdk> sdk_;
    Weak<HLInterstitialAd> wrapper_;
    Ref<HLVideoPlayer> videoPlayer_;
    Ref<HLCloseButton> closeButton_;
    Ref<HLCloseButton> skipButton_;
    Ref<HLHtmlAdView> videoPoststitial_;
    Ref<HLCircularCountdownView> countdownClock_;
    Ref<UIImageView> muteImageView_;
    Ref<HLWebViewButton> videoButton_;
    Ref<NSObject> countdownTextTimeObserver_;
    Ref<AVPlayer> observedPlayer_;          // the player the time observer belongs to
    Ref<AVPlayerItem> observedItem_;        // the item whose notifications are observed
    Ref<HLVideoViewControllerClickForwarder> clickForwarder_;
    Ref<HLIncentivizedWarningManager> incentivizedWarningManager_;
    std::vector<Ref<NSObject>> tapTargets_;

private:
    mutable std::mutex mutex_;  // guards the two fields below (atomic properties)
    Ref<HLAd> currentAd_;
    std::optional<std::string> currentPlacement_;
};

// The poststitial's display delegate: passes its hides and clicks on to the
// controller's display delegate with the controller's ad and view, and
// dismisses the controller after a click while it dismisses on clicks.
// Holds the controller weakly: once it is gone, nothing is passed on.
class HLVideoViewControllerClickForwarder : public NSObject, public HLAdDisplayDelegate {
public:
    Ref<HLVideoViewControllerClickForwarder> initWithParentInterstitial(const Ref<HLVideoViewController>& parent);
    void adWasDisplayedIn(const Ref<HLAd>&, const Ref<UIView>&) override {}
    void adWasHiddenIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override;
    void adWasClickedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override;

private:
    Weak<HLVideoViewController> parentInterstitial_;
};
