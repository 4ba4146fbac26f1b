#include "halcyon/display/HLInterstitialDialogView.h"

#include <numbers>

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/core/HLUtils.h"
#include "halcyon/display/HLDelayedStep.h"
#include "halcyon/display/HLDisplayConstants.h"
#include "halcyon/display/HLInterstitialAd.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"

namespace {

constexpr const char* kHLDialogLogSource = "HLInterstitialDialogView";

double hlDialogSeconds(const Ref<HLSdk>& sdk, int64_t slot) {
    return sdk ? HLUtils::timeInSecondsFromMilliseconds(sdk->numberForKey(slot)).doubleValue() : 0;
}

bool hlDialogSetting(const Ref<HLSdk>& sdk, int64_t slot) { return sdk && sdk->boolForKey(slot); }

}  // namespace

HLInterstitialDialogView::~HLInterstitialDialogView() {
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const void*>(this));
    if (adView_) {
        adView_->setAdLoadDelegate(nullptr);
        adView_->setAdDisplayDelegate(nullptr);
        adView_->setAdVideoPlaybackDelegate(nullptr);
    }
}

// ---- creation

Ref<HLInterstitialDialogView> HLInterstitialDialogView::initWithFrame(CGRect frame, const Ref<HLSdk>& sdk) {
    UIView::initWithFrame(frame);
    sdk_ = sdk;
    logger_ = sdk ? sdk->logManager() : nullptr;
    setUserInteractionEnabled(true);
    setBackgroundColor(UIColor::colorWithRed(0, 0, 0, 0.2f));
    setAutoresizesSubviews(true);
    dismissesOnClick_ = !hlDialogSetting(sdk, kHLSlotClickOverlayEnabled);

    auto dialog = self<HLInterstitialDialogView>();
    adView_ = HLHtmlAdView::alloc()->initWithSdk(sdk, HLAdSize::sizeInterstitial());
    adView_->setWeakAdDisplayDelegate(dialog);
    adView_->setWeakAdLoadDelegate(dialog);
    adView_->setWeakInterstitialDismissalDelegate(dialog);
    adView_->setAlpha(0);
    addSubview(adView_);
    if (!hlDialogSetting(sdk, kHLSlotAutolayoutInterstitials)) {
        adView_->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleWidth |
                                     UIViewAutoresizingFlexibleRightMargin | UIViewAutoresizingFlexibleTopMargin |
                                     UIViewAutoresizingFlexibleHeight | UIViewAutoresizingFlexibleBottomMargin);
    } else if (sdk) {
        addConstraints(sdk->constraintsForKeys({kHLSlotAdViewH, kHLSlotAdViewV}, {{"adView", adView_}}));
    }
    return dialog;
}

Ref<UIView> HLInterstitialDialogView::initWithFrame(CGRect frame) { return initWithFrame(frame, HLSdk::shared()); }

Ref<HLInterstitialDialogView> HLInterstitialDialogView::initInterstitialAdWithSdk(const Ref<HLSdk>& sdk) {
    return initWithFrame(UIScreen::mainScreen()->applicationFrame(), sdk);
}

Ref<NSObject> HLInterstitialDialogView::initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAd>&,
                                                    const std::optional<std::string>&, const Ref<HLInterstitialAd>&) {
    return initInterstitialAdWithSdk(sdk);
}

Ref<HLInterstitialDialogView> HLInterstitialDialogView::shared() {
    static const Ref<HLInterstitialDialogView> dialog = [] {
        auto made = alloc();
        made->initWithFrame(UIScreen::mainScreen()->applicationFrame());
        return made;
    }();
    return dialog;
}

Ref<HLInterstitialDialogView> HLInterstitialDialogView::showOver(const Ref<UIWindow>& window) {
    Ref<HLInterstitialDialogView> dialog = shared();
    if (dialog->superview()) {
        if (Ref<HLSdk> sdk = HLSdk::shared())
            sdk->logManager()->w(kHLDialogLogSource, "An interstitial dialog is already showing");
        return dialog;
    }
    dialog->showOver(window, true);
    return dialog;
}

// ---- showing

void HLInterstitialDialogView::showOver(const Ref<UIWindow>& window, bool andLoadNextAd) {
    currentWindow_ = window;
    if (andLoadNextAd && adView_) adView_->loadNextAd();
}

void HLInterstitialDialogView::showOver(const Ref<UIWindow>& window, const std::optional<std::string>& placement,
                                        const Ref<HLAd>& ad) {
    showOver(window, false);
    prepareViewAndRender(ad, placement);
}

Ref<HLInterstitialDialogView> HLInterstitialDialogView::prepareViewAndRender(
    const Ref<HLAd>& ad, const std::optional<std::string>& placement) {
    if (adView_) {
        adView_->clearAds();
        adView_->render(ad, placement);
    }
    currentAd_ = ad;
    createCloseButton(ad ? ad->closeButtonStyle() : 0);
    closeButton_->setHidden(true);
    return self<HLInterstitialDialogView>();
}

void HLInterstitialDialogView::attachTo(const Ref<UIWindow>& window) {
    currentWindow_ = window;
    attachToWindow(window);
}

void HLInterstitialDialogView::attachToWindow(const Ref<UIWindow>& window) {
    if (!window) return;
    auto dialog = self<HLInterstitialDialogView>();
    NSNotificationCenter::defaultCenter()->addObserver(dialog, &HLInterstitialDialogView::deviceOrientationDidChange,
                                                       UIDeviceOrientationDidChangeNotification);
    setAlpha(1);
    setHidden(false);
    window->addSubview(dialog);
    if (hlDialogSetting(sdk_, kHLSlotTransformDialogs)) updateTransform();

    if (!hlDialogSetting(sdk_, kHLSlotAutolayoutInterstitials)) {
        setFrame(UIScreen::mainScreen()->applicationFrame());
    } else {
        setTranslatesAutoresizingMaskIntoConstraints(false);
        std::vector<Ref<NSLayoutConstraint>> constraints = windowConstraintsForSlot(kHLSlotInterstitialH);
        std::vector<Ref<NSLayoutConstraint>> vertical = windowConstraintsForSlot(kHLSlotInterstitialV);
        constraints.insert(constraints.end(), vertical.begin(), vertical.end());
        window->addConstraints(constraints);
        windowConstraints_ = constraints;
    }

    const double delay = closeDelay();
    Ref<HLHtmlAdView> adView = adView_;
    Ref<HLCloseButton> button = closeButton_;
    if (!hlDialogSetting(sdk_, kHLSlotGraphicAdAnimEnabled)) {
        if (adView) adView->setAlpha(1);
        if (button) button->setAlpha(1);
        if (adView) bringSubviewToFront(adView);
        if (button) bringSubviewToFront(button);
        HLPerformStepAfterDelay(dialog, &HLInterstitialDialogView::showCloseButton, delay);
        reportDisplayed();
        return;
    }
    if (delay == 0 && button) button->setHidden(false);
    UIView::animateWithDuration(
        hlDialogSeconds(sdk_, kHLSlotGraphicAdAnimTime), hlDialogSeconds(sdk_, kHLSlotGraphicAdAnimDelay),
        UIViewAnimationOptionAllowUserInteraction,
        [adView, button, delay] {
            if (adView) adView->setAlpha(1);
            if (delay == 0 && button) button->setAlpha(1);
        },
        [dialog, adView, button, delay](bool) {
            if (adView) dialog->bringSubviewToFront(adView);
            if (button) dialog->bringSubviewToFront(button);
            if (delay != 0) HLPerformStepAfterDelay(dialog, &HLInterstitialDialogView::showCloseButton, delay);
            dialog->reportDisplayed();
        });
}

void HLInterstitialDialogView::reportDisplayed() {
    // A dialog closed while it faded in is not reported displayed afterwards.
    if (dismissed_) return;
    displayed_ = true;
    if (Ref<HLAdDisplayDelegate> delegate = wrapperDisplayDelegate())
        delegate->adWasDisplayedIn(currentAd_, self<UIView>());
}

std::vector<Ref<NSLayoutConstraint>> HLInterstitialDialogView::windowConstraintsForSlot(int64_t slot) {
    std::map<std::string, Ref<UIView>> views{{"interstitial", self<UIView>()}};
    auto parse = [&](std::string format) {
        if (slot == kHLSlotInterstitialV && NSString::containsString(format, "{statusBarHeight}")) {
            const CGFloat height = UIApplication::sharedApplication()->statusBarFrame().size.height;
            format = NSString::stringByReplacingOccurrencesOfString(format, "{statusBarHeight}",
                                                                    NSString::stringWithFormat("%f", double(height)));
        }
        Ref<NSError> error;
        auto constraints = NSLayoutConstraint::constraintsWithVisualFormat(format, 0, Value(), views, &error);
        return std::make_pair(constraints, error == nullptr);
    };
    const std::string format = sdk_ ? sdk_->stringForKey(slot).value_or("") : std::string();
    auto [constraints, parsed] = parse(format);
    if (parsed || !sdk_) return constraints;
    // A server-set format that does not parse must not break the dialog: the
    // slot's default stands in.
    const std::string fallback = sdk_->settingsManager()->defaultForKey(slot).stringValue();
    if (logger_)
        logger_->e(kHLDialogLogSource, "Layout format \"%@\" of setting %@ cannot be used; using \"%@\"",
                   platform::shortenedForLog(format), slot, fallback);
    return parse(fallback).first;
}

double HLInterstitialDialogView::closeDelay() const {
    return currentAd_ ? static_cast<double>(currentAd_->closeDelay().floatValue()) : 0;
}

// ---- close button

void HLInterstitialDialogView::createCloseButton(uint32_t style) {
    if (closeButton_) closeButton_->removeFromSuperview();
    if (!hlDialogSetting(sdk_, kHLSlotAutolayoutInterstitials)) {
        closeButton_ = HLCloseButton::closeButtonWithStyle(style, closeButtonFrame());
        closeButton_->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin |
                                          UIViewAutoresizingFlexibleBottomMargin);
        addSubview(closeButton_);
    } else {
        closeButton_ = HLCloseButton::closeButtonWithStyle(style, CGRectZero);
        closeButton_->setTranslatesAutoresizingMaskIntoConstraints(false);
        addSubview(closeButton_);
        if (sdk_)
            addConstraints(sdk_->constraintsForKeys({kHLSlotCloseH, kHLSlotCloseV}, {{"closeButton", closeButton_}}));
    }
    closeButton_->setAlpha(0);
    closeButton_->setHidden(true);
    auto tap = UITapGestureRecognizer::alloc();
    tap->initWithTarget(self<HLInterstitialDialogView>(), &HLInterstitialDialogView::closeButtonTapped);
    closeButton_->addGestureRecognizer(tap);
}

void HLInterstitialDialogView::closeButtonTapped(Ref<UIGestureRecognizer>) { dismiss(); }

CGRect HLInterstitialDialogView::closeButtonFrame() const {
    const CGFloat side = sdk_ ? static_cast<CGFloat>(sdk_->integerForKey(kHLSlotCloseButtonSizeGraphic)) : 50;
    const CGFloat margin = sdk_ ? static_cast<CGFloat>(sdk_->integerForKey(kHLSlotCloseButtonMarginGraphic)) : 0;
    // The margin is not applied on the right-hand side.
    if (hlDialogSetting(sdk_, kHLSlotLhsCloseButtonGraphic)) return CGRectMake(margin, margin, side, side);
    return CGRectMake(frame().size.width - side, margin, side, side);
}

void HLInterstitialDialogView::showCloseButton() {
    Ref<HLCloseButton> button = closeButton_;
    if (!button) return;
    UIView::animateWithDuration(hlDialogSeconds(sdk_, kHLSlotGraphicAdAnimTime), [button] {
        button->setHidden(false);
        button->setAlpha(1);
    });
}

// ---- orientation

void HLInterstitialDialogView::updateTransform() {
    // Kept as written: upside down turns a whole 2π.
    switch (UIApplication::sharedApplication()->statusBarOrientation()) {
        case UIInterfaceOrientationPortrait:
            setTransform(CGAffineTransformMakeRotation(0));
            break;
        case UIInterfaceOrientationPortraitUpsideDown:
            setTransform(CGAffineTransformMakeRotation(6.2831855f));
            break;
        case UIInterfaceOrientationLandscapeLeft:
            setTransform(CGAffineTransformMakeRotation(1.5707964f));
            break;
        case UIInterfaceOrientationLandscapeRight:
            setTransform(CGAffineTransformMakeRotation(4.712389f));
            break;
        default:
            break;
    }
}

void HLInterstitialDialogView::deviceOrientationDidChange(const NSNotification&) {
    if (!hlDialogSetting(sdk_, kHLSlotAutolayoutInterstitials)) setFrame(UIScreen::mainScreen()->applicationFrame());
}

void HLInterstitialDialogView::setCurrentFrame(CGRect frame) {
    if (hlDialogSetting(sdk_, kHLSlotAutolayoutInterstitials)) return;
    setFrame(frame);
    if (adView_) adView_->setFrame(frame);
}

// ---- dismissal

void HLInterstitialDialogView::dismiss() {
    if (adView_) adView_->setForegroundClickInvalidated(true);
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const void*>(this));
    // The ad view and the ad are taken now, so that exactly the first
    // dismissal reports hidden.
    Ref<HLHtmlAdView> adView = std::move(adView_);
    Ref<HLAd> ad = std::move(currentAd_);
    dismissed_ = true;
    // Hidden pairs with displayed: a dialog whose ad never showed (its load
    // failed, or it closed before its page loaded) reports neither.
    const bool report = displayed_;
    auto dialog = self<HLInterstitialDialogView>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([dialog, adView, ad, report] {
        dialog->removeFromSuperview();
        if (!adView) {
            if (dialog->logger_)
                dialog->logger_->d(kHLDialogLogSource, "Attempting to dismiss ad when already dismissed.");
            return;
        }
        adView->setAlpha(0);
        adView->clearAds();
        if (!report) return;
        if (Ref<HLAdDisplayDelegate> delegate = dialog->wrapperDisplayDelegate()) delegate->adWasHiddenIn(ad, dialog);
    });
}

void HLInterstitialDialogView::dismissWithCompletionHandler(Block completion) {
    dismiss();
    if (completion) completion();
}

// ---- the ad view's reports

void HLInterstitialDialogView::adServiceDidLoadAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) {
    currentAd_ = ad;
    if (!ad) return;
    if (Ref<HLAdLoadDelegate> delegate = wrapperLoadDelegate()) delegate->adServiceDidLoadAd(service, ad);
}

void HLInterstitialDialogView::adServiceDidFailToLoadAdWithError(const Ref<HLAdService>& service, int32_t code) {
    dismiss();
    if (Ref<HLAdLoadDelegate> delegate = wrapperLoadDelegate())
        delegate->adServiceDidFailToLoadAdWithError(service, code);
}

void HLInterstitialDialogView::adWasDisplayedIn(const Ref<HLAd>& ad, const Ref<UIView>&) {
    if (dismissed_) return;
    currentAd_ = ad;
    if (!superview() && currentWindow_)
        attachToWindow(currentWindow_);
    else if (logger_)
        logger_->w(kHLDialogLogSource, "An interstitial dialog is already showing");
}

void HLInterstitialDialogView::adWasClickedIn(const Ref<HLAd>&, const Ref<UIView>& view) {
    // The click that dismissed the dialog was reported; nothing after it is.
    if (dismissed_) return;
    auto dialog = self<HLInterstitialDialogView>();
    Ref<HLAd> ad = currentAd_;
    NSOperationQueue::mainQueue()->addOperationWithBlock([dialog, ad, view] {
        if (Ref<HLAdDisplayDelegate> delegate = dialog->wrapperDisplayDelegate()) delegate->adWasClickedIn(ad, view);
    });
    if (dismissesOnClick_) dismiss();
}

void HLInterstitialDialogView::adWasHiddenIn(const Ref<HLAd>& ad, const Ref<UIView>& view) {
    // The dismissal reported hidden already: a later report of the ad view
    // (a second "/close_ad" queued behind the first) is not passed on.
    if (dismissed_) return;
    // The ad view hid its current ad ("/close_ad"): the dismissal reports it, once.
    if (ad == currentAd_) return dismiss();
    auto dialog = self<HLInterstitialDialogView>();
    Ref<HLAd> current = currentAd_;
    NSOperationQueue::mainQueue()->addOperationWithBlock([dialog, current, view] {
        if (Ref<HLAdDisplayDelegate> delegate = dialog->wrapperDisplayDelegate())
            delegate->adWasHiddenIn(current, view);
    });
}

Ref<HLAdDisplayDelegate> HLInterstitialDialogView::wrapperDisplayDelegate() const {
    Ref<HLInterstitialAd> wrapper = wrapper_.lock();
    return wrapper ? wrapper->adDisplayDelegate() : nullptr;
}

Ref<HLAdLoadDelegate> HLInterstitialDialogView::wrapperLoadDelegate() const {
    Ref<HLInterstitialAd> wrapper = wrapper_.lock();
    return wrapper ? wrapper->adLoadDelegate() : nullptr;
}
