#include "halcyon/display/HLAutoLayoutVideoViewController.h"

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLColorUtils.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLStringUtils.h"
#include "halcyon/core/HLVideoButtonProperties.h"
#include "halcyon/display/HLCircularCountdownView.h"
#include "halcyon/display/HLCloseButton.h"
#include "halcyon/display/HLHtmlAdView.h"
#include "halcyon/display/HLVideoConstants.h"
#include "halcyon/display/HLVideoPlayer.h"
#include "halcyon/display/HLVideoView.h"
#include "platform/foundation/NSError.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SaturatingCast.h"
#include "platform/ui/NSLayoutConstraint.h"

namespace {
char kHLAutoLayoutObservationContext;
}  // namespace

void* HLAutoLayoutVideoViewController::observationContext() const { return &kHLAutoLayoutObservationContext; }

void HLAutoLayoutVideoViewController::viewWillAppear(bool animated) {
    HLVideoViewController::viewWillAppear(animated);
    if (!beginAppearance()) return;
    statusBarStep();
    prepareInterface();
    addTapHandler(&HLVideoViewController::dismiss, closeButton_);
    if (sdk_ && sdk_->integerForKey(kHLSlotVideoCloseButtonTouchArea) >= 1) prepareAdditionalTouchArea();
    reportDisplayed();
    if (!isVideoAd()) {
        showPoststitial();
        return;
    }
    addTapHandler(&HLVideoViewController::toggleMute, muteImageView_);
    addTapHandler(&HLVideoViewController::handleSkipButtonTap, skipButton_);
    addTapHandler(&HLVideoViewController::handleVideoTap, videoView());
    muteImageView_->setHidden(muteButtonShouldBeHidden());
    playVideo();
    prepareCountdownClock();
    Ref<HLAd> ad = currentAd();
    if (ad && HLUtils::hl_isValidString(ad->videoButtonHTMLSource())) {
        videoButton_->setHidden(false);
        armVideoButtonFades();
    }
    failsafeStep();
    closeTimerStep();
}

void HLAutoLayoutVideoViewController::playVideo() {
    startStep();
    observerStep();
}

void HLAutoLayoutVideoViewController::prepareCountdownClock() {
    const uint32_t total = platform::saturatingCast<uint32_t>(countdownTime().doubleValue());
    if (total < 1) return;
    countdownTextTimeObserver_ = createCountdownTimeObserver();
    countdownClock_->setTotalSeconds(total);
    countdownClock_->setRemainingSeconds(platform::saturatingCast<uint32_t>(timeLeft().doubleValue()));
    countdownClock_->setHidden(false);
}

void HLAutoLayoutVideoViewController::prepareInterface() {
    Ref<HLAd> ad = currentAd();
    Ref<UIView> root = view();
    Ref<HLVideoView> video = videoView();
    videoPoststitial_->setHidden(true);
    videoPoststitial_->setAlpha(0);
    if (Ref<HLLogManager> log = logger()) log->d(logSource(), "Prerendering poststitial...");
    videoPoststitial_->render(ad, currentPlacement());

    const uint32_t style = ad ? ad->closeButtonStyle() : 0;
    closeButton_ = HLCloseButton::closeButtonWithStyle(style, CGRectZero);
    closeButton_->setAlpha(0);
    skipButton_ = HLCloseButton::closeButtonWithStyle(style, CGRectZero);
    skipButton_->setAlpha(0);

    countdownClock_ = makeCountdownClock(CGRectZero, 0);
    countdownClock_->setHidden(true);
    if (sdk_) countdownClock_->setCountdownColor(HLUtils::hl_colorWithHexString(sdk_->stringForKey(kHLSlotCountdownColor).value_or("")));

    videoButton_ = createVideoButton();
    videoButton_->setTranslatesAutoresizingMaskIntoConstraints(false);
    videoButton_->setAlpha(0);
    videoButton_->setHidden(true);

    setVideoMuted(videoMutedInitially());
    muteImageView_ = UIImageView::alloc()->initWithImage(muteImageForMuteState(isVideoMuted()));
    muteImageView_->setContentMode(UIViewContentModeScaleAspectFill);
    muteImageView_->setUserInteractionEnabled(true);

    if (video) root->addSubview(video);
    root->addSubview(videoPoststitial_);
    root->addSubview(closeButton_);
    root->addSubview(skipButton_);
    root->addSubview(countdownClock_);
    root->addSubview(muteImageView_);
    root->addSubview(videoButton_);

    if (!sdk_) return;
    if (video) root->addConstraints(sdk_->constraintsForKeys({kHLSlotVideoPlayerH, kHLSlotVideoPlayerV}, {{"videoView", video}}));
    root->addConstraints(sdk_->constraintsForKeys(
        {kHLSlotVideoAdViewH, kHLSlotVideoAdViewV, kHLSlotVideoCloseH, kHLSlotVideoCloseV, kHLSlotVideoSkipH,
         kHLSlotVideoSkipV, kHLSlotVideoCountdownH, kHLSlotVideoCountdownV, kHLSlotVideoMuteH, kHLSlotVideoMuteV},
        {{"adView", videoPoststitial_},
         {"closeButton", closeButton_},
         {"skipButton", skipButton_},
         {"countdownClock", countdownClock_},
         {"muteToggle", muteImageView_}}));
    Ref<HLVideoButtonProperties> properties = videoButtonPropertiesOrDefaults();
    root->addConstraints(videoButtonConstraints(properties->verticalConstraint(), "v_constraint"));
    root->addConstraints(videoButtonConstraints(properties->horizontalConstraint(), "h_constraint"));
}

std::vector<Ref<NSLayoutConstraint>> HLAutoLayoutVideoViewController::videoButtonConstraints(const std::string& format,
                                                                                             const char* key) {
    const std::map<std::string, Ref<UIView>> views{{"videoButton", videoButton_}};
    Ref<NSError> error;
    auto constraints = NSLayoutConstraint::constraintsWithVisualFormat(format, 0, Value(), views, &error);
    if (!error) return constraints;
    // An ad's format that does not parse must not break the layout: the
    // button takes the default placement.
    const std::string fallback = HLVideoButtonProperties::defaultProperties()[key].stringValue();
    if (Ref<HLLogManager> log = logger())
        log->e(logSource(), "Video button format \"%@\" cannot be used; using \"%@\"",
               platform::shortenedForLog(format), fallback);
    error.reset();
    return NSLayoutConstraint::constraintsWithVisualFormat(fallback, 0, Value(), views, &error);
}

// ---- extended close area

void HLAutoLayoutVideoViewController::prepareAdditionalTouchArea() {
    auto recognizer = UITapGestureRecognizer::alloc();
    recognizer->init();
    recognizer->setNumberOfTouchesRequired(1);
    recognizer->setNumberOfTapsRequired(1);
    recognizer->setCancelsTouchesInView(false);
    recognizer->setDelegate(self<HLAutoLayoutVideoViewController>());
    view()->addGestureRecognizer(recognizer);
    closeRecognizer_ = recognizer;
}

bool HLAutoLayoutVideoViewController::gestureRecognizerShouldReceiveTouch(const Ref<UIGestureRecognizer>& recognizer,
                                                                         const Ref<UITouch>& touch) {
    if (!closeRecognizer_ || recognizer != closeRecognizer_) return false;
    // Acted on as the touch begins, not when a tap ends.
    handleExtendedCloseAreaTouch(touch);
    return true;
}

void HLAutoLayoutVideoViewController::handleExtendedCloseAreaTouch(const Ref<UITouch>& touch) {
    if (!touch || !sdk_) return;
    const CGPoint point = touch->locationInView(view());
    const auto e = static_cast<CGFloat>(sdk_->integerForKey(kHLSlotVideoCloseButtonTouchArea));
    // The area grows by e to the left and upward only.
    auto area = [e](const Ref<UIView>& button) {
        const CGRect frame = button->frame();
        return CGRectMake(frame.origin.x - e, frame.origin.y - e, frame.size.width + e, frame.size.height + e);
    };
    if (closeButton_ && CGRectContainsPoint(area(closeButton_), point) && isViewVisible(closeButton_))
        dismiss();
    else if (skipButton_ && CGRectContainsPoint(area(skipButton_), point) && isViewVisible(skipButton_))
        handleSkipButtonTap();
}

bool HLAutoLayoutVideoViewController::isViewVisible(const Ref<UIView>& view) {
    return view && !view->isHidden() && view->alpha() > 0.5f;
}

// ---- per-class behaviour

Value HLAutoLayoutVideoViewController::countdownTime() {
    Ref<HLAd> ad = currentAd();
    const Value length = ad ? ad->countdownLength() : Value();
    if (length.isNumber() && length.doubleValue() >= 1) return length;
    if (setting(kHLSlotVideoZeroLengthAsComputed)) return Value(videoDurationSeconds());
    return Value(0);
}

void HLAutoLayoutVideoViewController::sendCompletionPostback(const Ref<NSURL>& url) {
    // Stored before it is sent: the report survives the process.
    if (sdk_ && sdk_->persistentPostbackManager()) sdk_->persistentPostbackManager()->submitPostback(url, Value());
}

void HLAutoLayoutVideoViewController::presentPoststitial() {
    Ref<HLHtmlAdView> poststitial = videoPoststitial_;
    poststitial->setHidden(false);
    auto controller = self<HLAutoLayoutVideoViewController>();
    if (!setting(kHLSlotVideoFadePoststitials) || !isVideoAd()) {
        poststitial->setAlpha(1);
        bringSubviewAboveVideoLayer(closeButton_);
        return;
    }
    UIView::animateWithDuration(
        standardAnimationTime(), 0, UIViewAnimationOptionCurveLinear,
        [controller, poststitial] {
            poststitial->setAlpha(1);
            controller->bringSubviewAboveVideoLayer(controller->closeButton_);
        },
        [weak = Weak<HLAutoLayoutVideoViewController>(controller)](bool) {
            if (auto owner = weak.lock()) owner->bringSubviewAboveVideoLayer(owner->closeButton_);
        });
}

void HLAutoLayoutVideoViewController::removePoststitial() {
    videoPoststitial_->setHidden(true);
    if (countdownClock_)
        countdownClock_->setHidden(platform::saturatingCast<int64_t>(countdownTime().doubleValue()) < 1);
}

void HLAutoLayoutVideoViewController::changeMuteImage(const Ref<UIImage>& image) {
    if (!muteImageView_) return;
    Ref<UIImageView> toggle = muteImageView_;
    const double duration = setting(kHLSlotVideoFadeMuteTransitions) ? standardAnimationTime() : 0;
    UIView::transitionWithView(toggle, duration, UIViewAnimationOptionTransitionCrossDissolve,
                               [toggle, image] { toggle->setImage(image); }, nullptr);
}
