#include "halcyon/display/HLInterstitialAd.h"

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLPreloadedAdManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSystemVersioning.h"
#include "halcyon/core/HLUtils.h"
#include "halcyon/display/HLDisplayConstants.h"
#include "halcyon/display/HLInterstitialDialogView.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIViewController.h"

namespace {
constexpr const char* kHLInterstitialLogSource = "HLInterstitialAd";
}  // namespace

// ---- the shared instance

Ref<HLInterstitialAd> HLInterstitialAd::shared() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<HLInterstitialAd>& instance =
        *new Ref<HLInterstitialAd>(NSObject::alloc<HLInterstitialAd>()->initWithSdk(HLSdk::shared()));
    return instance;
}

bool HLInterstitialAd::isReadyForDisplayShared() { return shared()->isReadyForDisplay(); }

Ref<HLInterstitialAd> HLInterstitialAd::showShared() {
    auto instance = shared();
    instance->show();
    return instance;
}

Ref<HLInterstitialAd> HLInterstitialAd::showOverShared(const Ref<UIWindow>& window) {
    auto instance = shared();
    instance->showOver(window);
    return instance;
}

Ref<HLInterstitialAd> HLInterstitialAd::showOverPlacementShared(const std::optional<std::string>& placement) {
    auto instance = shared();
    instance->showOverPlacement(placement);
    return instance;
}

Ref<HLInterstitialAd> HLInterstitialAd::showOverShared(const Ref<UIWindow>& window,
                                                       const std::optional<std::string>& placement) {
    auto instance = shared();
    instance->showOver(window, placement);
    return instance;
}

// ---- creation

Ref<HLInterstitialAd> HLInterstitialAd::initWithFrame(CGRect frame, const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    setFrame(frame);
    hidden_ = false;
    return self<HLInterstitialAd>();
}

Ref<HLInterstitialAd> HLInterstitialAd::initWithSdk(const Ref<HLSdk>& sdk) { return initWithFrame(CGRectZero, sdk); }

Ref<HLInterstitialAd> HLInterstitialAd::initInterstitialAdWithSdk(const Ref<HLSdk>& sdk) { return initWithSdk(sdk); }

Ref<HLInterstitialAd> HLInterstitialAd::initWithFrame(CGRect frame) { return initWithFrame(frame, HLSdk::shared()); }

// ---- showing

void HLInterstitialAd::show() { showOver(UIApplication::sharedApplication()->keyWindow()); }

void HLInterstitialAd::showOverPlacement(const std::optional<std::string>& placement) {
    showOver(UIApplication::sharedApplication()->keyWindow(), placement);
}

void HLInterstitialAd::showOver(const Ref<UIWindow>& window) { showOver(window, std::optional<std::string>()); }

void HLInterstitialAd::showOver(const Ref<UIWindow>& window, const std::optional<std::string>& placement) {
    if (!sdk_) {
        platform::log(platform::LogLevel::Error, "HLInterstitialAd: no SDK object; nothing is shown");
        return;
    }
    auto proxy = NSObject::alloc<HLInterstitialAdLoadDelegateProxy>()->initWithParent(self<HLInterstitialAd>(), window,
                                                                                      placement);
    sdk_->adService()->loadNextAd(HLAdSize::sizeInterstitial(), proxy);
}

void HLInterstitialAd::showOver(const Ref<UIWindow>& window, const Ref<NSObject>& ad) {
    showOver(window, std::nullopt, ad);
}

void HLInterstitialAd::showOver(const Ref<UIWindow>& window, const std::optional<std::string>& placement,
                                const Ref<NSObject>& ad) {
    // Without an ad the presentation stops after the developer messages.
    if (!HLUtils::assertValidAd(ad)) return;
    displayInterstitialAd(std::dynamic_pointer_cast<HLAd>(ad), window, placement);
}

void HLInterstitialAd::displayInterstitialAd(const Ref<HLAd>& ad, const Ref<UIWindow>& window,
                                             const std::optional<std::string>& placement) {
    if (ad->presentationMode() == 1)
        showInterstitialInViewController(ad, window, placement);
    else
        showInterstitialInSubview(ad, window, placement);
}

void HLInterstitialAd::showInterstitialInViewController(const Ref<HLAd>& ad, const Ref<UIWindow>& window,
                                                        const std::optional<std::string>& placement) {
    const bool autoLayout = sdk_ && sdk_->boolForKey(kHLSlotAutolayoutVideoControllers) &&
                            HLSystemVersioning::currentDeviceVersionIsAtMinimum("9.0");
    const char* className = autoLayout ? kAutoLayoutVideoControllerClass : kFrameVideoControllerClass;
    auto presenter = std::dynamic_pointer_cast<HLInterstitialControlProxy>(NSClassFromString(className).alloc());
    Ref<UIViewController> controller;
    if (presenter)
        controller = std::dynamic_pointer_cast<UIViewController>(
            presenter->initWithSdk(sdk_, ad, placement, self<HLInterstitialAd>()));
    if (!controller) {
        if (sdk_)
            sdk_->logManager()->e(kHLInterstitialLogSource, "No %@ to present ad #%@", className,
                                  hlValueForLog(ad->adIdNumber()));
        return;
    }

    bool animated = false;
    switch (ad->transitionStyle()) {
        case 0:
        case 2:
            controller->setModalTransitionStyle(UIModalTransitionStyleCrossDissolve);
            break;
        case 1:
            controller->setModalTransitionStyle(UIModalTransitionStyleCoverVertical);
            animated = true;
            break;
        default:
            break;
    }
    if (ad->isVideoAd()) {
        controller->setModalPresentationStyle(UIModalPresentationFullScreen);
        animated = true;
    } else if (HLSystemVersioning::currentDeviceVersionIsAtMinimum("8.0")) {
        controller->setModalPresentationStyle(UIModalPresentationOverFullScreen);
    } else {
        controller->setModalPresentationStyle(UIModalPresentationFullScreen);
        animated = true;
    }
    Ref<UIViewController> top = HLUtils::topViewControllerFromWindow(window);
    setCurrentInterstitialController(presenter);
    if (top) top->presentViewController(controller, animated, nullptr);
}

void HLInterstitialAd::showInterstitialInSubview(const Ref<HLAd>& ad, const Ref<UIWindow>& window,
                                                 const std::optional<std::string>& placement) {
    Ref<HLInterstitialDialogView> dialog;
    const CGRect custom = frame();
    if (CGRectEqualToRect(custom, CGRectZero)) {
        dialog = HLInterstitialDialogView::alloc()->initInterstitialAdWithSdk(sdk_);
    } else {
        dialog = HLInterstitialDialogView::alloc()->initWithFrame(custom, sdk_);
        // A custom frame serves one show.
        std::scoped_lock lock(mutex_);
        frame_ = CGRectZero;
    }
    dialog->setAdHidden(isHidden());
    dialog->setWrapper(self<HLInterstitialAd>());
    setCurrentInterstitialController(dialog);
    dialog->showOver(window, placement, ad);
}

// ---- dismissal, readiness, frame and hidden

void HLInterstitialAd::dismiss() { dismissWithCompletionHandler(nullptr); }

void HLInterstitialAd::dismissWithCompletionHandler(Block completion) {
    auto interstitial = self<HLInterstitialAd>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([interstitial, completion] {
        if (Ref<HLInterstitialControlProxy> presenter = interstitial->currentInterstitialController())
            presenter->dismissWithCompletionHandler(completion);
    });
}

bool HLInterstitialAd::isReadyForDisplay() {
    if (!sdk_ || !sdk_->preloadedAdManager()) return false;
    return sdk_->preloadedAdManager()->hasPreloadedAdOfSpec(
        HLAdSpec::specWithSize(HLAdSize::sizeInterstitial(), HLAdType::typeRegular()));
}

CGRect HLInterstitialAd::frame() const {
    std::scoped_lock lock(mutex_);
    return frame_;
}

void HLInterstitialAd::setFrame(CGRect frame) {
    {
        std::scoped_lock lock(mutex_);
        frame_ = frame;
    }
    Ref<HLInterstitialControlProxy> presenter = currentInterstitialController();
    if (presenter && presenter->respondsToSelector("setCurrentFrame:")) presenter->setCurrentFrame(frame);
}

void HLInterstitialAd::setHidden(bool hidden) {
    hidden_ = hidden;
    Ref<HLInterstitialControlProxy> presenter = currentInterstitialController();
    if (presenter && presenter->respondsToSelector("setAdHidden:")) presenter->setAdHidden(hidden);
}

#define HL_INTERSTITIAL_LOCKED_PROPERTY(Type, getter, setter, field) \
    Type HLInterstitialAd::getter() const {                          \
        std::scoped_lock lock(mutex_);                               \
        return field;                                                \
    }                                                                \
    void HLInterstitialAd::setter(const Type& value) {               \
        std::scoped_lock lock(mutex_);                               \
        field = value;                                               \
    }
HL_INTERSTITIAL_LOCKED_PROPERTY(Ref<HLInterstitialControlProxy>, currentInterstitialController,
                                setCurrentInterstitialController, currentInterstitialController_)
HL_INTERSTITIAL_LOCKED_PROPERTY(Ref<HLAdVideoPlaybackDelegate>, adVideoPlaybackDelegate, setAdVideoPlaybackDelegate,
                                adVideoPlaybackDelegate_)
HL_INTERSTITIAL_LOCKED_PROPERTY(Ref<HLAdDisplayDelegate>, adDisplayDelegate, setAdDisplayDelegate, adDisplayDelegate_)
HL_INTERSTITIAL_LOCKED_PROPERTY(Ref<HLAdLoadDelegate>, adLoadDelegate, setAdLoadDelegate, adLoadDelegate_)
#undef HL_INTERSTITIAL_LOCKED_PROPERTY

// ---- the load proxy

Ref<HLInterstitialAdLoadDelegateProxy> HLInterstitialAdLoadDelegateProxy::initWithParent(
    const Ref<HLInterstitialAd>& parent, const Ref<UIWindow>& window, const std::optional<std::string>& placement) {
    parentAdObject_ = parent;
    window_ = window;
    placement_ = placement;
    return self<HLInterstitialAdLoadDelegateProxy>();
}

void HLInterstitialAdLoadDelegateProxy::adServiceDidLoadAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) {
    // The application hears of the ad first; then it goes on screen, on the
    // main thread whichever thread the service answered on.
    auto proxy = self<HLInterstitialAdLoadDelegateProxy>();
    auto answer = [proxy, service, ad] {
        if (Ref<HLAdLoadDelegate> delegate = proxy->parentAdObject_->adLoadDelegate())
            delegate->adServiceDidLoadAd(service, ad);
        if (!ad) return;
        proxy->parentAdObject_->displayInterstitialAd(ad, proxy->window_, proxy->placement_);
    };
    HLUtils::performOnMainThread(std::move(answer));
}

void HLInterstitialAdLoadDelegateProxy::adServiceDidFailToLoadAdWithError(const Ref<HLAdService>& service,
                                                                          int32_t code) {
    auto parent = parentAdObject_;
    auto answer = [parent, service, code] {
        if (Ref<HLAdLoadDelegate> delegate = parent->adLoadDelegate())
            delegate->adServiceDidFailToLoadAdWithError(service, code);
    };
    HLUtils::performOnMainThread(std::move(answer));
}
