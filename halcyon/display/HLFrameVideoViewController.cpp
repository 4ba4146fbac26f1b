#include "halcyon/display/HLFrameVideoViewController.h"

#include <cmath>

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLColorUtils.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLPostbackService.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLStringUtils.h"
#include "halcyon/core/HLSystemVersioning.h"
#include "halcyon/core/HLVideoButtonProperties.h"
#include "halcyon/display/HLCircularCountdownView.h"
#include "halcyon/display/HLCloseButton.h"
#include "halcyon/display/HLHtmlAdView.h"
#include "halcyon/display/HLVideoConstants.h"
#include "halcyon/display/HLVideoPlayer.h"
#include "halcyon/display/HLVideoView.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SaturatingCast.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"

namespace {
char kHLFrameObservationContext;

bool hlFrameIsLandscape(UIInterfaceOrientation orientation) { return orientation == 3 || orientation == 4; }
}  // namespace

void* HLFrameVideoViewController::observationContext() const { return &kHLFrameObservationContext; }

int64_t HLFrameVideoViewController::integerSetting(int64_t slot) const { return sdk_ ? sdk_->integerForKey(slot) : 0; }

// ---- appearance

void HLFrameVideoViewController::viewWillAppear(bool animated) {
    HLVideoViewController::viewWillAppear(animated);
    if (!beginAppearance()) return;
    statusBarStep();
    auto controller = self<HLFrameVideoViewController>();
    if (setting(kHLSlotVideoRecalcFramesOnRotation)) {
        NSNotificationCenter::defaultCenter()->addObserver(controller, &HLFrameVideoViewController::deviceOrientationDidChange,
                                                           UIDeviceOrientationDidChangeNotification, nullptr);
        UIDevice::currentDevice()->beginGeneratingDeviceOrientationNotifications();
        generatesOrientation_ = true;
    }
    Ref<HLAd> ad = currentAd();
    const uint32_t style = ad ? ad->closeButtonStyle() : 0;
    closeButton_ = HLCloseButton::closeButtonWithStyle(style, frameForCloseButton());
    closeButton_->setAlpha(0);
    view()->addSubview(closeButton_);
    bringSubviewAboveVideoLayer(closeButton_);
    addTapHandler(&HLVideoViewController::dismiss, closeButton_);
    reportDisplayed();

    if (isVideoAd()) {
        Ref<HLVideoView> video = videoView();
        video->setFrame(appropriateFrame());
        observerStep();
        view()->addSubview(video);
        view()->bringSubviewToFront(video);
        Ref<HLLogManager> log = logger();
        if (log) log->d(logSource(), "Creating other UI elements...");
        if (sdk_) countdownColor_ = HLUtils::hl_colorWithHexString(sdk_->stringForKey(kHLSlotCountdownColor).value_or(""));
        if (platform::saturatingCast<int64_t>(countdownTime().doubleValue()) >= 1) {
            countdownClock_ = createCountdownClockWithTimeLeft(timeLeft());
            countdownTextTimeObserver_ = createCountdownTimeObserver();
        }
        if (ad && HLUtils::hl_isValidString(ad->videoButtonHTMLSource())) {
            videoButton_ = createVideoButton();
            videoButton_->setFrame(frameForVideoButton());
            view()->addSubview(videoButton_);
            bringSubviewAboveVideoLayer(videoButton_);
            armVideoButtonFades();
        }
        attachTimers(avPlayer());
        if (log) log->d(logSource(), "Starting playback of: %@...", platform::shortenedForLog(ad->videoFilename().value_or("(null)")));
        startStep();
        bringSubviewAboveVideoLayer(closeButton_);
        attachSkipButton();
        addTapHandler(&HLVideoViewController::handleVideoTap, video);
        attachMuteButton();
        failsafeStep();
    } else {
        showPoststitial();
    }
    attachAdditionalTouchAreas();
    videoPoststitial_->setFrame(appropriateFrame());
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "Prerendering poststitial...");
    videoPoststitial_->render(ad, currentPlacement());
}

// ---- controls

Ref<HLCircularCountdownView> HLFrameVideoViewController::createCountdownClockWithTimeLeft(const Value& timeLeft) {
    auto clock =
        makeCountdownClock(frameForCountdownClock(), platform::saturatingCast<uint32_t>(countdownTime().doubleValue()));
    clock->setCountdownColor(countdownColor_);
    clock->setRemainingSeconds(platform::saturatingCast<uint32_t>(timeLeft.doubleValue()));
    return clock;
}

Ref<HLCircularCountdownView> HLFrameVideoViewController::createCountdownClockAtCurrentTime() {
    return createCountdownClockWithTimeLeft(timeLeft());
}

void HLFrameVideoViewController::attachSkipButton() {
    Ref<HLAd> ad = currentAd();
    skipButton_ = HLCloseButton::closeButtonWithStyle(ad ? ad->closeButtonStyle() : 0, frameForSkipButton());
    skipButton_->setAlpha(0);
    view()->addSubview(skipButton_);
    bringSubviewAboveVideoLayer(skipButton_);
    addTapHandler(&HLVideoViewController::handleSkipButtonTap, skipButton_);
}

void HLFrameVideoViewController::attachMuteButton() {
    if (muteButtonShouldBeHidden()) return;
    muteImageView_ = UIImageView::alloc()->initWithImage(muteImageForMuteState(videoMutedInitially()));
    muteImageView_->setFrame(frameForMuteButton());
    muteImageView_->setContentMode(UIViewContentModeScaleAspectFit);
    addTapHandler(&HLVideoViewController::toggleMute, muteImageView_);
    muteImageView_->setUserInteractionEnabled(true);
    view()->addSubview(muteImageView_);
    view()->bringSubviewToFront(muteImageView_);
}

void HLFrameVideoViewController::attachAdditionalTouchAreas() {
    const int64_t size = integerSetting(kHLSlotVideoCloseButtonTouchArea);
    if (size < 1) return;
    for (const auto& [button, action] :
         {std::pair{closeButton_, &HLVideoViewController::dismiss},
          std::pair{skipButton_, &HLVideoViewController::handleSkipButtonTap}}) {
        if (!button) continue;
        auto area = HLCloseButtonExtendedClickArea::extendedClickAreaForCloseButton(button, static_cast<uint64_t>(size));
        button->setExtendedClickArea(area);
        addTapHandler(action, area);
    }
}

void HLFrameVideoViewController::attachTimers(const Ref<AVPlayer>&) {
    if (setting(kHLSlotDrawCountdownClock) && countdownClock_) {
        view()->addSubview(countdownClock_);
        bringSubviewAboveVideoLayer(countdownClock_);
    }
    closeTimerStep();
}

// ---- geometry

CGRect HLFrameVideoViewController::appropriateFrame() {
    const UIInterfaceOrientation orientation = UIApplication::sharedApplication()->statusBarOrientation();
    if (HLSystemVersioning::currentDeviceVersionIsAtMaximum("7.3") && hlFrameIsLandscape(orientation))
        return view()->bounds();
    return view()->frame();
}

uint64_t HLFrameVideoViewController::calculateStatusBarOffset() {
    auto application = UIApplication::sharedApplication();
    if (application->isStatusBarHidden() || !HLSystemVersioning::currentDeviceVersionIsAtMinimum("8.0") ||
        !setting(kHLSlotVideoCorrectStatusBarOffset))
        return 0;
    const CGRect bar = application->statusBarFrame();
    return platform::saturatingCast<uint64_t>(double(bar.origin.y) + double(bar.size.height));
}

CGRect HLFrameVideoViewController::frameForButtonOnLeft(bool left) {
    const auto side = static_cast<CGFloat>(integerSetting(kHLSlotCloseButtonSizeVideo));
    const auto margin = static_cast<CGFloat>(integerSetting(kHLSlotCloseButtonMarginVideo));
    const auto offset = static_cast<CGFloat>(calculateStatusBarOffset());
    if (left) return CGRectMake(margin, margin + offset, side, side);
    // As placed by the original layout: no margin at the right edge.
    return CGRectMake(CGRectGetWidth(appropriateFrame()) - side, margin + offset, side, side);
}

CGRect HLFrameVideoViewController::frameForCloseButton() { return frameForButtonOnLeft(setting(kHLSlotLhsCloseButtonVideo)); }

CGRect HLFrameVideoViewController::frameForSkipButton() { return frameForButtonOnLeft(setting(kHLSlotLhsSkipButton)); }

namespace {
CGRect hlFrameCornerRect(const CGRect& frame, CGFloat side, CGFloat margin, bool left) {
    const CGFloat x = left ? CGRectGetMinX(frame) + margin : CGRectGetMaxX(frame) - side - margin;
    return CGRectMake(x, CGRectGetMaxY(frame) - side - margin, side, side);
}
}  // namespace

CGRect HLFrameVideoViewController::frameForCountdownClock() {
    return hlFrameCornerRect(appropriateFrame(), static_cast<CGFloat>(integerSetting(kHLSlotCountdownClockSize)),
                             static_cast<CGFloat>(integerSetting(kHLSlotVideoCountdownClockMargin)),
                             setting(kHLSlotLhsVideoCountdownClock));
}

CGRect HLFrameVideoViewController::frameForMuteButton() {
    return hlFrameCornerRect(appropriateFrame(), static_cast<CGFloat>(integerSetting(kHLSlotMuteButtonSize)),
                             static_cast<CGFloat>(integerSetting(kHLSlotMuteButtonMargin)), setting(kHLSlotMuteOnLeft));
}

CGRect HLFrameVideoViewController::frameForVideoButton() {
    Ref<HLVideoButtonProperties> properties = videoButtonPropertiesOrDefaults();
    const CGRect frame = appropriateFrame();
    const CGRect root = view()->frame();
    const UIInterfaceOrientation orientation = UIApplication::sharedApplication()->statusBarOrientation();
    const bool portrait = orientation == 1 || orientation == 2;
    const CGFloat width = properties->widthPercentOfScreen() / 100 * (portrait ? root.size.width : root.size.height);
    const CGFloat height = properties->heightPercentOfScreen() / 100 * (portrait ? root.size.height : root.size.width);
    const uint32_t gravity = properties->gravity();
    const CGFloat margin = properties->margin();
    Ref<HLLogManager> log = logger();
    CGFloat x = 0, y = 0;
    if (gravity & 2)
        x = CGRectGetMidX(frame) - width / 2;
    else if (gravity & 4)
        x = margin;
    else if (gravity & 8)
        x = CGRectGetMaxX(frame) - width - margin;
    else if (log)
        log->e(logSource(), "Unable to render video button x for gravity = %lu", static_cast<unsigned long>(gravity));
    if (gravity & 16)
        y = CGRectGetMidY(frame) - height / 2;
    else if (gravity & 64)
        y = CGRectGetMaxY(frame) - height - margin;
    else if (gravity & 32)
        y = margin;
    else if (log)
        log->e(logSource(), "Unable to render video button y for gravity = %lu", static_cast<unsigned long>(gravity));
    return CGRectMake(x, y, width, height);
}

void HLFrameVideoViewController::updateAllFramesForSize(CGSize size) {
    const CGRect whole = CGRectMake(0, 0, size.width, size.height);
    if (Ref<HLVideoView> video = videoView()) video->setFrame(whole);
    if (videoPoststitial_) {
        videoPoststitial_->setFrame(whole);
        if (videoPoststitial_->adWebView()) videoPoststitial_->adWebView()->setFrame(whole);
    }
    if (countdownClock_) countdownClock_->setFrame(frameForCountdownClock());
    if (closeButton_) closeButton_->setFrame(frameForCloseButton());
    if (skipButton_) skipButton_->setFrame(frameForSkipButton());
    if (muteImageView_) muteImageView_->setFrame(frameForMuteButton());
    if (videoButton_) videoButton_->setFrame(frameForVideoButton());
}

// ---- orientation

bool HLFrameVideoViewController::shouldAutorotate() { return HLSystemVersioning::currentDeviceVersionIsAtMinimum("8.0"); }

bool HLFrameVideoViewController::shouldAutorotateToInterfaceOrientation(UIInterfaceOrientation) { return false; }

UIInterfaceOrientationMask HLFrameVideoViewController::supportedInterfaceOrientations() {
    return UIInterfaceOrientationMaskAll;
}

UIInterfaceOrientation HLFrameVideoViewController::preferredInterfaceOrientationForPresentation() {
    if (!HLSystemVersioning::currentDeviceVersionIsAtMaximum("7.3"))
        return UIViewController::preferredInterfaceOrientationForPresentation();
    const UIInterfaceOrientation current = UIApplication::sharedApplication()->statusBarOrientation();
    return hlFrameIsLandscape(current) ? current : UIInterfaceOrientation(4);
}

void HLFrameVideoViewController::viewWillTransitionToSize(CGSize size,
                                                          const Ref<UIViewControllerTransitionCoordinator>& coordinator) {
    UIViewController::viewWillTransitionToSize(size, coordinator);
    Weak<HLFrameVideoViewController> weak = self<HLFrameVideoViewController>();
    auto relayout = [weak, size](const Ref<UIViewControllerTransitionCoordinator>&) {
        if (auto controller = weak.lock()) controller->updateAllFramesForSize(size);
    };
    if (coordinator)
        coordinator->animateAlongsideTransition(relayout, nullptr);
    else
        relayout(nullptr);
}

void HLFrameVideoViewController::didRotateFromInterfaceOrientation(UIInterfaceOrientation) {
    updateAllFramesForSize(appropriateFrame().size);
}

void HLFrameVideoViewController::deviceOrientationDidChange(const NSNotification&) {
    if (setting(kHLSlotVideoRecalcFramesOnRotation)) updateAllFramesForSize(view()->bounds().size);
}

// ---- per-class behaviour

Value HLFrameVideoViewController::countdownTime() {
    Ref<HLAd> ad = currentAd();
    const Value length = ad ? ad->countdownLength() : Value();
    if (!length.isNumber() || !(length.doubleValue() >= 1)) return Value(0);
    if (setting(kHLSlotVideoZeroLengthAsComputed)) return Value(videoDurationSeconds());
    return length;
}

void HLFrameVideoViewController::sendCompletionPostback(const Ref<NSURL>& url) {
    if (sdk_ && sdk_->postbackService()) sdk_->postbackService()->dispatchPostbackAsync(url, nullptr);
}

void HLFrameVideoViewController::presentPoststitial() {
    if (HLSystemVersioning::currentDeviceVersionIsAtMaximum("7.3")) videoPoststitial_->setFrame(appropriateFrame());
    view()->addSubview(videoPoststitial_);
    bringSubviewAboveVideoLayer(closeButton_);
}

void HLFrameVideoViewController::removePoststitial() {
    videoPoststitial_->removeFromSuperview();
    if (countdownClock_) countdownClock_->setHidden(false);
}

void HLFrameVideoViewController::changeMuteImage(const Ref<UIImage>& image) {
    if (muteImageView_) muteImageView_->setImage(image);
}

void HLFrameVideoViewController::animateVideoButtonIn(const Ref<HLWebViewButton>& button) {
    button->setAlpha(1);
    button->setHidden(false);
}

void HLFrameVideoViewController::removeObservers() {
    HLVideoViewController::removeObservers();
    if (generatesOrientation_) {
        generatesOrientation_ = false;
        UIDevice::currentDevice()->endGeneratingDeviceOrientationNotifications();
    }
}
