#include "halcyon/display/HLVideoViewController.h"

#include <cmath>

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSdkSettings.h"
#include "halcyon/core/HLStringUtils.h"
#include "halcyon/core/HLUtils.h"
#include "halcyon/core/HLValueUtils.h"
#include "halcyon/core/HLVideoButtonProperties.h"
#include "halcyon/display/HLCircularCountdownView.h"
#include "halcyon/display/HLCloseButton.h"
#include "halcyon/display/HLDelayedStep.h"
#include "halcyon/display/HLHtmlAdView.h"
#include "halcyon/display/HLIncentivizedAlertManagers.h"
#include "halcyon/display/HLInterstitialAd.h"
#include "halcyon/display/HLVideoConstants.h"
#include "halcyon/display/HLVideoPlayer.h"
#include "halcyon/display/HLVideoView.h"
#include "platform/foundation/NSData.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/runtime/SaturatingCast.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIGestureRecognizer.h"

namespace {
constexpr double kHLVideoFailsafeDelay = 5.0;
constexpr double kHLVideoCountdownInterval = 1.0;
constexpr int32_t kHLVideoCountdownTimescale = 1000000000;
}  // namespace

HLVideoViewController::~HLVideoViewController() {
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const void*>(this));
}

// ---- creation

Ref<NSObject> HLVideoViewController::initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAd>& currentAd,
                                                 const std::optional<std::string>& currentPlacement,
                                                 const Ref<HLInterstitialAd>& wrapper) {
    UIViewController::init();
    wasPlayedToEnd_ = false;
    didEnterBackground_ = false;
    poststitialShown_ = false;
    dismissesOnClick_ = true;
    sdk_ = sdk;
    {
        std::scoped_lock lock(mutex_);
        currentAd_ = currentAd;
        currentPlacement_ = currentPlacement;
    }
    wrapper_ = wrapper;
    // Touching the root view loads it: viewDidLoad runs here.
    if (isVideoAd()) {
        videoPlayer_ = NSObject::alloc<HLVideoPlayer>()->initWithSdk(sdk, *currentAd->videoFilename());
        view()->setBackgroundColor(UIColor::blackColor());
    } else {
        view()->setBackgroundColor(UIColor::colorWithRed(0, 0, 0, 0.2f));
    }
    auto controller = self<HLVideoViewController>();
    videoPoststitial_ = HLHtmlAdView::alloc()->initWithSdk(sdk, HLAdSize::sizeInterstitial());
    videoPoststitial_->setWeakInterstitialDismissalDelegate(controller);
    // Rendered at appearance, shown only by showPoststitial.
    videoPoststitial_->setCommandsSuspended(true);
    clickForwarder_ = NSObject::alloc<HLVideoViewControllerClickForwarder>()->initWithParentInterstitial(controller);
    videoPoststitial_->setAdDisplayDelegate(clickForwarder_);
    skippable_ = setting(kHLSlotIsVideoSkippable);
    incentivizedWarningManager_ = NSObject::alloc<HLIncentivizedWarningManager>()->initWithSdk(sdk);
    return controller;
}

void HLVideoViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    auto controller = self<HLVideoViewController>();
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(controller, &HLVideoViewController::applicationDidEnterBackground,
                        UIApplicationDidEnterBackgroundNotification, nullptr);
    center->addObserver(controller, &HLVideoViewController::applicationDidBecomeActive,
                        UIApplicationDidBecomeActiveNotification, nullptr);
}

// ---- properties

Ref<HLAd> HLVideoViewController::currentAd() const {
    std::scoped_lock lock(mutex_);
    return currentAd_;
}

std::optional<std::string> HLVideoViewController::currentPlacement() const {
    std::scoped_lock lock(mutex_);
    return currentPlacement_;
}

bool HLVideoViewController::isVideoAd() const {
    Ref<HLAd> ad = currentAd();
    return ad && ad->isVideoAd();
}

Ref<AVPlayer> HLVideoViewController::avPlayer() const {
    Ref<HLVideoView> view = videoView();
    return view ? view->player() : nullptr;
}

Ref<HLVideoView> HLVideoViewController::videoView() const { return videoPlayer_ ? videoPlayer_->videoView() : nullptr; }

Ref<HLLogManager> HLVideoViewController::logger() const { return sdk_ ? sdk_->logManager() : nullptr; }

Ref<HLAdDisplayDelegate> HLVideoViewController::adDisplayDelegate() const {
    Ref<HLInterstitialAd> interstitial = wrapper();
    return interstitial ? interstitial->adDisplayDelegate() : nullptr;
}

void HLVideoViewController::setAdDisplayDelegate(const Ref<HLAdDisplayDelegate>& delegate) {
    if (Ref<HLInterstitialAd> interstitial = wrapper()) interstitial->setAdDisplayDelegate(delegate);
}

Ref<HLAdVideoPlaybackDelegate> HLVideoViewController::adVideoPlaybackDelegate() const {
    Ref<HLInterstitialAd> interstitial = wrapper();
    return interstitial ? interstitial->adVideoPlaybackDelegate() : nullptr;
}

void HLVideoViewController::setAdVideoPlaybackDelegate(const Ref<HLAdVideoPlaybackDelegate>& delegate) {
    if (Ref<HLInterstitialAd> interstitial = wrapper()) interstitial->setAdVideoPlaybackDelegate(delegate);
}

bool HLVideoViewController::setting(int64_t slot) const { return sdk_ && sdk_->boolForKey(slot); }

double HLVideoViewController::secondsFromMilliseconds(int64_t slot) const {
    if (!sdk_) return 0;
    const double seconds = HLUtils::timeInSecondsFromMilliseconds(sdk_->numberForKey(slot)).doubleValue();
    return std::isfinite(seconds) && seconds > 0 ? seconds : 0;
}

double HLVideoViewController::standardAnimationTime() const { return secondsFromMilliseconds(kHLSlotVideoAnimationTime); }

bool HLVideoViewController::prefersStatusBarHidden() { return setting(kHLSlotVideoPreferHiddenStatusBar); }

// ---- appearance steps

bool HLVideoViewController::beginAppearance() {
    // Once per controller: a sheet presented over it and gone again must not
    // report the display, start playback or render the poststitial again.
    if (appeared_) return false;
    appeared_ = true;
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "Starting video view controller...");
    return true;
}

void HLVideoViewController::statusBarStep() {
    if (!setting(kHLSlotVideoHideStatusBar)) return;
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "Hiding status bar");
    auto application = UIApplication::sharedApplication();
    statusBarOriginallyHidden_ = application->isStatusBarHidden();
    application->setStatusBarHidden(true, UIStatusBarAnimationFade);
}

void HLVideoViewController::observerStep() {
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "Adding KVO observers...");
    Ref<AVPlayer> player = avPlayer();
    if (!player) return;
    auto controller = self<HLVideoViewController>();
    void* context = observationContext();
    player->addObserver(controller, "rate", NSKeyValueObservingOptionNew, context);
    player->addObserver(controller, "status", NSKeyValueObservingOptionNew | NSKeyValueObservingOptionInitial, context);
    observedItem_ = videoPlayer_->playerItem();
    if (observedItem_)
        observedItem_->addObserver(controller, "status",
                                   NSKeyValueObservingOptionNew | NSKeyValueObservingOptionInitial, context);
    observing_ = true;
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(controller, &HLVideoViewController::itemDidPlayToEnd, AVPlayerItemDidPlayToEndTimeNotification,
                        observedItem_);
    center->addObserver(controller, &HLVideoViewController::itemDidFailToPlayToEnd,
                        AVPlayerItemFailedToPlayToEndTimeNotification, observedItem_);
}

void HLVideoViewController::startStep() {
    setVideoMuted(videoMutedInitially());
    if (videoPlayer_) videoPlayer_->playVideo();
    if (Ref<HLAdVideoPlaybackDelegate> delegate = adVideoPlaybackDelegate()) delegate->videoPlaybackBeganInAd(currentAd());
}

void HLVideoViewController::armVideoButtonFades() {
    Ref<HLVideoButtonProperties> properties = videoButtonProperties();
    if (!videoButton_) return;
    auto controller = self<HLVideoViewController>();
    if (properties && properties->fadeInDelay() > 0) {
        videoButton_->setAlpha(0);
        HLPerformStepAfterDelay(controller, &HLVideoViewController::fadeInVideoButton, properties->fadeInDelay());
    } else {
        videoButton_->setAlpha(1);
    }
    if (properties && properties->fadeOutDelay() > 0)
        HLPerformStepAfterDelay(controller, &HLVideoViewController::fadeOutVideoButton, properties->fadeOutDelay());
}

void HLVideoViewController::failsafeStep() {
    HLPerformStepAfterDelay(self<HLVideoViewController>(), &HLVideoViewController::performBrokenVideoFailsafe,
                            kHLVideoFailsafeDelay);
}

void HLVideoViewController::closeTimerStep() {
    Ref<HLAd> ad = currentAd();
    if (!ad || !ad->videoCloseDelay().isNumber()) return;
    const double delay = HLUtils::hl_timeIntervalValue(ad->videoCloseDelay());
    // A missing or negative delay arms nothing.
    if (!std::isfinite(delay) || delay < 0) return;
    HLPerformStepAfterDelay(self<HLVideoViewController>(),
                            isSkippable() ? &HLVideoViewController::fadeInSkipButton
                                          : &HLVideoViewController::fadeInCloseButton,
                            delay);
}

void HLVideoViewController::reportDisplayed() {
    if (Ref<HLAdDisplayDelegate> delegate = adDisplayDelegate()) delegate->adWasDisplayedIn(currentAd(), view());
}

namespace {
// The target of one tap recognizer: a controller method, the controller held
// weakly (the recognizer itself holds its target weakly; the controller
// keeps the target).
class HLVideoTapTarget : public NSObject {
public:
    HLVideoTapTarget(Weak<HLVideoViewController> controller, void (HLVideoViewController::*action)())
        : controller_(std::move(controller)), action_(action) {}
    void fire(Ref<UIGestureRecognizer>) {
        if (Ref<HLVideoViewController> controller = controller_.lock()) ((*controller).*action_)();
    }

private:
    Weak<HLVideoViewController> controller_;
    void (HLVideoViewController::*action_)();
};
}  // namespace

Ref<UIGestureRecognizer> HLVideoViewController::addTapHandler(void (HLVideoViewController::*action)(),
                                                              const Ref<UIView>& view) {
    if (!view) return nullptr;
    auto target = std::make_shared<HLVideoTapTarget>(self<HLVideoViewController>(), action);
    auto recognizer = UITapGestureRecognizer::alloc();
    recognizer->initWithTarget(target, &HLVideoTapTarget::fire);
    recognizer->setNumberOfTapsRequired(1);
    recognizer->setNumberOfTouchesRequired(1);
    view->addGestureRecognizer(recognizer);
    view->setUserInteractionEnabled(true);
    tapTargets_.push_back(target);
    return recognizer;
}

Ref<HLWebViewButton> HLVideoViewController::createVideoButton() {
    Ref<HLAd> ad = currentAd();
    const std::string html = ad && ad->videoButtonHTMLSource() ? *ad->videoButtonHTMLSource() : std::string();
    if (Ref<HLLogManager> log = logger())
        log->d(logSource(), "Creating video button with HTML = %@", platform::shortenedForLog(html));
    auto button = HLWebViewButton::alloc()->initWithSdk(sdk_);
    button->setClickDelegate(self<HLVideoViewController>());
    button->loadHTMLString(html, nullptr);
    return button;
}

Ref<HLVideoButtonProperties> HLVideoViewController::videoButtonProperties() const {
    Ref<HLAd> ad = currentAd();
    return ad ? ad->videoButtonProperties() : nullptr;
}

Ref<HLVideoButtonProperties> HLVideoViewController::videoButtonPropertiesOrDefaults() const {
    if (Ref<HLVideoButtonProperties> properties = videoButtonProperties()) return properties;
    return NSObject::alloc<HLVideoButtonProperties>()->initWithSdk(sdk_, Value());
}

Ref<HLCircularCountdownView> HLVideoViewController::makeCountdownClock(CGRect frame, uint32_t totalSeconds) const {
    const auto fontSize = static_cast<CGFloat>(sdk_ ? sdk_->numberForKey(kHLSlotCountdownClockFontSize).doubleValue() : 12);
    const auto strokeSize =
        static_cast<CGFloat>(sdk_ ? sdk_->numberForKey(kHLSlotCountdownClockStrokeSize).doubleValue() : 1);
    return HLCircularCountdownView::alloc()->initWithFrame(frame, fontSize, strokeSize, totalSeconds);
}

// ---- dismissal

void HLVideoViewController::dismiss() { dismissWithCompletionHandler(nullptr); }

void HLVideoViewController::dismissWithCompletionHandler(Block completion) {
    // Reached twice in ordinary use (a poststitial click through the
    // forwarder and the click path, the extended close area and the button,
    // the failsafe after a close): the end of playback is reported once.
    if (dismissed_) {
        if (completion) NSOperationQueue::mainQueue()->addOperationWithBlock(completion);
        return;
    }
    finishPresentation();
    dismissViewControllerAnimated(true, completion);
}

void HLVideoViewController::finishPresentation() {
    dismissed_ = true;
    if (isVideoAd() || stopsEveryAdOnDismissal()) {
        if (videoPlayer_) videoPlayer_->stopVideo();
        if (Ref<HLVideoView> view = videoView()) view->setForegroundClickInvalidated(true);
        if (videoPoststitial_) videoPoststitial_->setForegroundClickInvalidated(true);
    }
    if (isVideoAd() && !wasPlayedToEnd_) {
        const Value percent = percentViewed();
        if (Ref<HLAdVideoPlaybackDelegate> delegate = adVideoPlaybackDelegate())
            delegate->videoPlaybackEndedInAd(currentAd(), percent, isFullyWatched());
        submitCompletionPostback(platform::saturatingCast<uint32_t>(percent.doubleValue()));
    }
}

void HLVideoViewController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    // Only the controller's own going ends the ad; a controller covered by
    // another one (the store page) is still showing it.
    if (!isBeingDismissed() || hiddenReported_) return;
    hiddenReported_ = true;
    // Dismissed from outside (the application took it down): the end of
    // playback is still reported once.
    if (!dismissed_) finishPresentation();
    if (appeared_ && setting(kHLSlotVideoHideStatusBar))
        UIApplication::sharedApplication()->setStatusBarHidden(statusBarOriginallyHidden_, UIStatusBarAnimationFade);
    if (Ref<HLAdDisplayDelegate> delegate = adDisplayDelegate()) delegate->adWasHiddenIn(currentAd(), view());
    removeObservers();
}

void HLVideoViewController::removeObservers() {
    auto controller = self<HLVideoViewController>();
    if (observing_) {
        observing_ = false;
        void* context = observationContext();
        if (Ref<AVPlayer> player = avPlayer()) {
            player->removeObserver(controller.get(), "rate", context);
            player->removeObserver(controller.get(), "status", context);
        }
        if (observedItem_) observedItem_->removeObserver(controller.get(), "status", context);
    }
    if (countdownTextTimeObserver_ && observedPlayer_) observedPlayer_->removeTimeObserver(countdownTextTimeObserver_);
    countdownTextTimeObserver_.reset();
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const void*>(this));
}

// ---- completion postback

Ref<NSURL> HLVideoViewController::placementAwareVideoCompletionURLForPercentViewed(uint32_t percent) {
    Ref<HLAd> ad = currentAd();
    return ad ? ad->parameterizedVideoCompletionURL(percent, false, currentPlacement()) : nullptr;
}

void HLVideoViewController::submitCompletionPostback(uint32_t percent) {
    Ref<NSURL> url = placementAwareVideoCompletionURLForPercentViewed(percent);
    if (!url) {
        if (Ref<HLLogManager> log = logger()) log->w(logSource(), "The ad has no video completion URL; none is sent");
        return;
    }
    sendCompletionPostback(url);
}

// ---- player observation

void HLVideoViewController::observeValueForKeyPath(const std::string& keyPath, Ref<NSObject> object,
                                                   const Value& change, void* context) {
    if (context != observationContext()) {
        UIViewController::observeValueForKeyPath(keyPath, object, change, context);
        return;
    }
    if (keyPath == "rate")
        playerRateDidChange(change[NSKeyValueChangeNewKey]);
    else if (keyPath == "status")
        playerStatusDidChange(object, change[NSKeyValueChangeNewKey]);
}

void HLVideoViewController::playerRateDidChange(const Value& rate) {
    if (rate.isNumber()) {
        const double value = rate.doubleValue();
        if (std::isnan(value)) return;
        if (value > 0) {
            hidePoststitial();
            return;
        }
    }
    // A stall or pause before the end keeps the video on screen (slot 68).
    if (setting(kHLSlotVideoSmoothResumes) && !isFullyWatched()) return;
    showPoststitial();
}

void HLVideoViewController::playerStatusDidChange(const Ref<NSObject>& object, const Value& status) {
    if (!status.isNumber() || status.doubleValue() != 2) return;
    if (Ref<HLLogManager> log = logger())
        log->e(logSource(), object && object->isKindOfClass<AVPlayerItem>() ? "AVPlayerItemStatusFailed"
                                                                             : "AVPlayerStatusFailed");
    handleVideoPlayerError();
}

void HLVideoViewController::itemDidPlayToEnd(const NSNotification&) {
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "itemDidPlayToEnd...");
    if (wasPlayedToEnd_ || dismissed_) return;
    wasPlayedToEnd_ = true;
    showPoststitial();
    if (Ref<HLAdVideoPlaybackDelegate> delegate = adVideoPlaybackDelegate())
        delegate->videoPlaybackEndedInAd(currentAd(), Value(100), true);
    submitCompletionPostback(100);
}

void HLVideoViewController::itemDidFailToPlayToEnd(const NSNotification& notification) {
    if (Ref<HLLogManager> log = logger())
        log->e(logSource(), "itemDidFailToPlayToEnd: %@", hlValueForLog(notification.userInfo));
    showPoststitial();
    if (closeButton_) bringSubviewAboveVideoLayer(closeButton_);
}

void HLVideoViewController::handleVideoPlayerError() {
    if (Ref<HLLogManager> log = logger()) {
        Ref<AVPlayer> player = avPlayer();
        Ref<AVPlayerItem> item = videoPlayer_ ? videoPlayer_->playerItem() : nullptr;
        log->e(logSource(), "Video player error, AVPlayer = %@, AVPlayerItem = %@", player ? player->error() : nullptr,
               item ? item->error() : nullptr);
    }
    if (setting(kHLSlotDismissVideoOnError)) {
        dismiss();
        return;
    }
    if (closeButton_) {
        closeButton_->setHidden(false);
        closeButton_->setAlpha(1);
    }
    showPoststitial();
}

void HLVideoViewController::performBrokenVideoFailsafe() {
    Ref<AVPlayer> player = avPlayer();
    Ref<AVPlayerItem> item = videoPlayer_ ? videoPlayer_->playerItem() : nullptr;
    const bool failed = (player && player->status() == AVPlayerStatusFailed) ||
                        (item && item->status() == AVPlayerItemStatusFailed);
    Ref<HLLogManager> log = logger();
    if (failed) {
        if (log) log->e(logSource(), "Video Failsafe detected error state, failing...");
        handleVideoPlayerError();
    } else if (log) {
        log->d(logSource(), "Delayed Video Failsafe passed, continuing video...");
    }
}

// ---- poststitial

void HLVideoViewController::showPoststitial() {
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "Showing poststitial...");
    poststitialShown_ = true;
    fadeOutSkipButton();
    if (Ref<HLVideoView> view = videoView()) view->setHidden(true);
    if (countdownClock_) countdownClock_->setHidden(true);
    if (videoButton_) videoButton_->setHidden(true);
    if (muteImageView_) muteImageView_->setHidden(true);
    presentPoststitial();
    videoPoststitial_->setCommandsSuspended(false);
    Ref<HLAd> ad = currentAd();
    double delay = ad && ad->closeDelay().isNumber() ? HLUtils::hl_timeIntervalValue(ad->closeDelay()) : 0;
    if (!std::isfinite(delay) || delay < 0) delay = 0;
    HLPerformStepAfterDelay(self<HLVideoViewController>(), &HLVideoViewController::fadeInCloseButton, delay);
}

void HLVideoViewController::hidePoststitial() {
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "Hiding poststitial...");
    if (Ref<HLVideoView> view = videoView()) view->setHidden(false);
    removePoststitial();
    videoPoststitial_->setCommandsSuspended(true);
}

// ---- countdown and progress

Value HLVideoViewController::countdownTime() { return Value(0); }

double HLVideoViewController::videoDurationSeconds() {
    Ref<AVAsset> asset = videoPlayer_ ? videoPlayer_->playerAsset() : nullptr;
    return asset ? CMTimeGetSeconds(asset->duration()) : std::nan("");
}

Value HLVideoViewController::timeLeft() {
    Ref<AVPlayer> player = avPlayer();
    double played = player ? CMTimeGetSeconds(player->currentTime()) : 0;
    if (!std::isfinite(played)) played = 0;
    const double left = static_cast<float>(countdownTime().doubleValue()) - std::trunc(played);
    return Value(std::isfinite(left) && left > 0 ? left : 0.0);
}

Value HLVideoViewController::percentViewed() {
    const double duration = videoDurationSeconds();
    Ref<AVPlayer> player = avPlayer();
    const double played = player ? CMTimeGetSeconds(player->currentTime()) : 0;
    if (!std::isfinite(duration) || duration <= 0 || !std::isfinite(played)) return Value(0.0);
    return Value(std::clamp(played / duration * 100, 0.0, 100.0));
}

bool HLVideoViewController::isFullyWatched() {
    return platform::saturatingCast<int64_t>(percentViewed().doubleValue()) > 94;
}

Ref<NSObject> HLVideoViewController::createCountdownTimeObserver() {
    Ref<AVPlayer> player = avPlayer();
    if (!player) return nullptr;
    observedPlayer_ = player;
    Weak<HLVideoViewController> weak = self<HLVideoViewController>();
    return player->addPeriodicTimeObserverForInterval(
        CMTimeMakeWithSeconds(kHLVideoCountdownInterval, kHLVideoCountdownTimescale), dispatch_get_main_queue(),
        [weak](CMTime) {
            Ref<HLVideoViewController> controller = weak.lock();
            if (!controller || !controller->countdownClock_) return;
            controller->countdownClock_->setRemainingSeconds(
                platform::saturatingCast<uint32_t>(controller->timeLeft().doubleValue()));
        });
}

// ---- mute toggle

bool HLVideoViewController::videoMutedInitially() {
    if (setting(kHLSlotMuteWithUserSettings)) return sdk_ && sdk_->settings() && sdk_->settings()->muted();
    return setting(kHLSlotMuteVideos);
}

bool HLVideoViewController::isVideoMuted() {
    Ref<AVPlayer> player = avPlayer();
    return player && player->respondsToSelector("isMuted") && player->isMuted();
}

void HLVideoViewController::setVideoMuted(bool muted) {
    Ref<AVPlayer> player = avPlayer();
    if (player && player->respondsToSelector("setMuted:")) player->setMuted(muted);
}

bool HLVideoViewController::muteButtonShouldBeHidden() {
    if (!setting(kHLSlotMuteControlsEnabled)) return true;
    if (!setting(kHLSlotAllowUserMuting)) return false;
    return !(videoMutedInitially() || setting(kHLSlotShowMuteByDefault));
}

Ref<UIImage> HLVideoViewController::muteImageForMuteState(bool muted) {
    Ref<HLAd> ad = currentAd();
    if (!ad || !sdk_ || !sdk_->fileManager()) return nullptr;
    const std::optional<std::string>& name = muted ? ad->muteImageFilename() : ad->unmuteImageFilename();
    if (!name || name->empty()) return nullptr;
    Ref<NSURL> url = sdk_->fileManager()->urlForResourceNamed(*name);
    std::optional<NSData> data = url ? NSData::dataWithContentsOfURL(url) : std::nullopt;
    return data ? UIImage::imageWithData(*data) : nullptr;
}

void HLVideoViewController::toggleMute() {
    const bool muted = !isVideoMuted();
    setVideoMuted(muted);
    changeMuteImage(muteImageForMuteState(muted));
}

// ---- taps, clicks and skipping

void HLVideoViewController::handleVideoTap() {
    Ref<HLAd> ad = currentAd();
    if (ad && ad->videoClickableDuringPlayback()) {
        if (Ref<HLLogManager> log = logger()) log->d(logSource(), "Clicking through video...");
        clickThroughFromVideo();
        return;
    }
    fadeCountdownClockIfNeeded();
    fadeVideoButtonIfNeeded();
}

void HLVideoViewController::fadeCountdownClockIfNeeded() {
    if (!setting(kHLSlotCountdownTapToFade) || platform::saturatingCast<int64_t>(countdownTime().doubleValue()) < 1 ||
        poststitialShown_ || !countdownClock_)
        return;
    Ref<HLCircularCountdownView> clock = countdownClock_;
    const CGFloat target = clock->alpha() > 0 ? 0 : 1;
    UIView::animateWithDuration(countdownTapToFadeDuration(), [clock, target] { clock->setAlpha(target); });
}

void HLVideoViewController::fadeVideoButtonIfNeeded() {
    Ref<HLVideoButtonProperties> properties = videoButtonProperties();
    if (!properties || !properties->tapToFade() || poststitialShown_ || !videoButton_) return;
    Ref<HLWebViewButton> button = videoButton_;
    const CGFloat target = button->alpha() > 0 ? 0 : 1;
    UIView::animateWithDuration(properties->tapToFadeDuration(), [button, target] { button->setAlpha(target); });
}

void HLVideoViewController::clickThroughFromVideo() {
    if (videoPlayer_) videoPlayer_->stopVideo();
    Ref<HLAd> ad = currentAd();
    if (sdk_ && sdk_->adService() && ad)
        sdk_->adService()->trackVideoClickOn(ad, currentPlacement(),
                                             videoView(),
                                             ad->clickDestinationURL(), self<UIViewController>());
    if (Ref<HLAdDisplayDelegate> delegate = adDisplayDelegate()) delegate->adWasClickedIn(ad, view());
}

void HLVideoViewController::didReceiveClickCommandOnWebViewButton(const Ref<HLWebViewButton>&) {
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "Clicking through from video button...");
    clickThroughFromVideo();
}

void HLVideoViewController::didReceiveCloseCommandOnWebViewButton(const Ref<HLWebViewButton>&) {
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "Closing ad from video button...");
    dismiss();
}

void HLVideoViewController::didReceiveSkipCommandOnWebViewButton(const Ref<HLWebViewButton>&) {
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "Skipping video from video button...");
    skipVideo();
}

bool HLVideoViewController::shouldWarnIncentivizedAdClose() {
    Ref<HLAd> ad = currentAd();
    return ad && ad->type() && ad->type()->isEqualToType(HLAdType::typeIncentivized()) &&
           setting(kHLSlotIncentWarningEnabled) && !isFullyWatched();
}

void HLVideoViewController::handleSkipButtonTap() {
    if (!shouldWarnIncentivizedAdClose()) {
        skipVideo();
        return;
    }
    if (videoPlayer_) videoPlayer_->stopVideo();
    Weak<HLVideoViewController> weak = self<HLVideoViewController>();
    incentivizedWarningManager_->promptWarningWithCompletion([weak](bool leave) {
        Ref<HLVideoViewController> controller = weak.lock();
        if (!controller) return;
        if (leave)
            controller->skipVideo();
        else if (controller->videoPlayer_)
            controller->videoPlayer_->playVideo();
    });
}

void HLVideoViewController::skipVideo() {
    Ref<HLAd> ad = currentAd();
    Ref<HLLogManager> log = logger();
    if (ad && ad->dismissOnSkip()) {
        if (log) log->d(logSource(), "Dismissing ad on video skip...");
        dismiss();
        return;
    }
    if (log) log->d(logSource(), "Skipping video...");
    if (videoPlayer_) videoPlayer_->stopVideo();
    showPoststitial();
}

// ---- background and foreground

void HLVideoViewController::appPaused(const Ref<NSObject>&) {
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "App paused...");
    if (!didEnterBackground_) {
        didEnterBackground_ = true;
        if (setting(kHLSlotShowCloseOnExit)) {
            if (poststitialShown_)
                fadeInCloseButton();
            else if (isSkippable())
                fadeInSkipButton();
            else
                fadeInCloseButton();
        }
    }
    incentivizedWarningManager_->hidePrompt();
}

void HLVideoViewController::appResumed(const Ref<NSObject>&) {
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "App resumed..");
    if (didEnterBackground_ && !poststitialShown_ && !incentivizedWarningManager_->promptIsVisible()) {
        didEnterBackground_ = false;
        Ref<AVPlayer> player = avPlayer();
        if (player && player->rate() < 1.0f && !wasPlayedToEnd_) player->play();
        if (player && !dismissed_) {
            if (countdownTextTimeObserver_ && observedPlayer_) observedPlayer_->removeTimeObserver(countdownTextTimeObserver_);
            countdownTextTimeObserver_ = createCountdownTimeObserver();
        }
    }
    if (Ref<HLVideoView> view = videoView()) view->removeClickTrackingOverlay();
}

// ---- button fades

void HLVideoViewController::bringSubviewAboveVideoLayer(const Ref<UIView>& subview) {
    if (!subview || !isViewLoaded()) return;
    view()->bringSubviewToFront(subview);
    subview->layer()->setZPosition(1000);
}

void HLVideoViewController::fadeInCloseButton() {
    auto controller = self<HLVideoViewController>();
    const bool fade = closeButton_ && closeButton_->alpha() < 1;
    NSOperationQueue::mainQueue()->addOperationWithBlock([controller, fade] {
        Ref<HLCloseButton> button = controller->closeButton_;
        if (fade && button) {
            controller->bringSubviewAboveVideoLayer(button);
            UIView::animateWithDuration(
                controller->standardAnimationTime(), 0, UIViewAnimationOptionCurveLinear,
                [button] {
                    button->setHidden(false);
                    button->setAlpha(1);
                },
                [button](bool) {
                    button->setHidden(false);
                    button->setAlpha(1);
                });
        }
        // The close button replaces the skip button.
        controller->fadeOutSkipButton();
    });
}

void HLVideoViewController::fadeInSkipButton() {
    if (!skipButton_ || skipButton_->alpha() >= 1 || poststitialShown_) return;
    auto controller = self<HLVideoViewController>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([controller] {
        Ref<HLCloseButton> button = controller->skipButton_;
        controller->bringSubviewAboveVideoLayer(controller->closeButton_);
        UIView::animateWithDuration(
            controller->standardAnimationTime(), 0, UIViewAnimationOptionCurveLinear,
            [button] {
                button->setHidden(false);
                button->setAlpha(1);
            },
            [weak = Weak<HLVideoViewController>(controller), button](bool) {
                Ref<HLVideoViewController> owner = weak.lock();
                if (!owner) return;
                const bool shown = owner->poststitialShown_;
                button->setHidden(shown);
                button->setAlpha(shown ? 0 : 1);
            });
    });
}

void HLVideoViewController::fadeOutSkipButton() {
    if (!skipButton_ || skipButton_->alpha() != 1) return;
    auto controller = self<HLVideoViewController>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([controller] {
        Ref<HLCloseButton> button = controller->skipButton_;
        controller->bringSubviewAboveVideoLayer(controller->closeButton_);
        UIView::animateWithDuration(
            controller->secondsFromMilliseconds(kHLSlotCloseFadeOutTime), 0, UIViewAnimationOptionCurveLinear,
            [button] { button->setAlpha(0); },
            [button](bool) {
                button->setHidden(true);
                button->setAlpha(0);
            });
    });
}

void HLVideoViewController::fadeInVideoButton() {
    if (!videoButton_ || videoButton_->alpha() >= 1 || poststitialShown_) return;
    Ref<HLVideoButtonProperties> properties = videoButtonProperties();
    const double duration = properties ? properties->fadeInDuration() : 0;
    auto controller = self<HLVideoViewController>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([controller, duration] {
        Ref<HLWebViewButton> button = controller->videoButton_;
        controller->bringSubviewAboveVideoLayer(controller->closeButton_);
        UIView::animateWithDuration(
            duration, 0, UIViewAnimationOptionCurveLinear, [controller, button] { controller->animateVideoButtonIn(button); },
            // The ad sets the duration: the completion holds nothing.
            [weak = Weak<HLVideoViewController>(controller)](bool) {
                Ref<HLVideoViewController> owner = weak.lock();
                if (!owner || !owner->videoButton_) return;
                const bool shown = owner->poststitialShown_;
                owner->videoButton_->setHidden(shown);
                owner->videoButton_->setAlpha(shown ? 0 : 1);
            });
    });
}

void HLVideoViewController::fadeOutVideoButton() {
    if (!videoButton_ || videoButton_->alpha() != 1) return;
    Ref<HLVideoButtonProperties> properties = videoButtonProperties();
    const double duration = properties ? properties->fadeOutDuration() : 0;
    auto controller = self<HLVideoViewController>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([controller, duration] {
        Ref<HLWebViewButton> button = controller->videoButton_;
        controller->bringSubviewAboveVideoLayer(button);
        UIView::animateWithDuration(
            duration, 0, UIViewAnimationOptionCurveLinear, [button] { button->setAlpha(0); },
            [weak = Weak<HLWebViewButton>(button)](bool) {
                if (Ref<HLWebViewButton> faded = weak.lock()) {
                    faded->setHidden(true);
                    faded->setAlpha(0);
                }
            });
    });
}

// ---- the click forwarder

Ref<HLVideoViewControllerClickForwarder> HLVideoViewControllerClickForwarder::initWithParentInterstitial(
    const Ref<HLVideoViewController>& parent) {
    parentInterstitial_ = parent;
    return self<HLVideoViewControllerClickForwarder>();
}

void HLVideoViewControllerClickForwarder::adWasHiddenIn(const Ref<HLAd>&, const Ref<UIView>&) {
    Ref<HLVideoViewController> parent = parentInterstitial_.lock();
    if (!parent) return;
    if (Ref<HLAdDisplayDelegate> delegate = parent->adDisplayDelegate())
        delegate->adWasHiddenIn(parent->currentAd(), parent->containingView());
}

void HLVideoViewControllerClickForwarder::adWasClickedIn(const Ref<HLAd>&, const Ref<UIView>&) {
    Ref<HLVideoViewController> parent = parentInterstitial_.lock();
    if (!parent) return;
    if (Ref<HLAdDisplayDelegate> delegate = parent->adDisplayDelegate())
        delegate->adWasClickedIn(parent->currentAd(), parent->containingView());
    if (parent->dismissesOnClick()) parent->dismissWithCompletionHandler(nullptr);
}
