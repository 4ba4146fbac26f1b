// The lifecycle manager's splash operations: the splash request, the splash
// screen at launch or later, the minimum, maximum and display timers, the
// endings with and without the ad, and the splash ad's callbacks.
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAHtmlAd.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/TRAEventAdManager.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIWindow.h"

namespace {

Ref<UIViewController> splashKeyWindowRoot() {
    auto window = UIApplication::sharedApplication()->keyWindow();
    return window ? window->rootViewController() : nullptr;
}

}  // namespace

void TRAEventAdManager::setSplashAdDelegate(const Ref<TRADelegateProtocol>& delegate) { splashAdDelegate_ = delegate; }

void TRAEventAdManager::invalidateTimer(Ref<NSTimer>& timer) {
    if (!timer) return;
    timer->invalidate();
    timer = nullptr;
}

// ---- the request ------------------------------------------------------------------------------

void TRAEventAdManager::showSplashAdWithPreferences(const Ref<TRASplashPreferences>& splashPreferences,
                                                    const Ref<TRAAdPreferences>& adPreferences,
                                                    const std::optional<std::string>& adTag) {
    // The running splash keeps its ad and its state: resetting them under its
    // timers would leave its screen up for good once its ad arrives.
    if (splashViewController_) {
        TRALog::error("A splash is already running; the splash request is refused.");
        return;
    }
    splashAdTag_ = adTag;
    isSplashScreenFinish_ = false;
    // A new splash waits for its own ad: an earlier splash's load does not count.
    isSplashAdReady_ = false;
    isSplashPreferencesUsed_ = splashPreferences != nullptr;
    splashPreferences_ = splashPreferences ? splashPreferences : NSObject::alloc<TRASplashPreferences>()->init();
    if (!trilliumSplashAd_) trilliumSplashAd_ = NSObject::alloc<TRATrilliumAd>()->init();
    trilliumSplashAd_->setEventType(TRATrilliumAd::EventTypeSplash);
    Value params = splashPreferences_->getUserSplashPreferencesDict();
    // The splash fields go with the request only when the application chose them.
    if (isSplashPreferencesUsed_ && params.count() > 0)
        trilliumSplashAd_->loadAd(TRATrilliumAd::AdTypeOverlay, self<TRAEventAdManager>(), adPreferences, params);
    else trilliumSplashAd_->loadAd(TRATrilliumAd::AdTypeOverlay, self<TRAEventAdManager>(), adPreferences);
    isSplashAdEnabled_ = true;
}

void TRAEventAdManager::loadSecondSplashForReferenceWithAdPreferences(const Ref<TRAAdPreferences>& adPreferences) {
    if (!trilliumSplashAd2_) trilliumSplashAd2_ = NSObject::alloc<TRATrilliumAd>()->init();
    trilliumSplashAd2_->setEventType(TRATrilliumAd::EventTypeSplash);
    trilliumSplashAd2_->loadAd(TRATrilliumAd::AdTypeOverlay, self<TRAEventAdManager>(), adPreferences);
}

// ---- the screen --------------------------------------------------------------------------------

void TRAEventAdManager::appDidFinishLaunchingForInterstitialSplash() {
    if (!splashViewController_) isSplashScreenFinish_ = false;
    showSplashAd();
}

void TRAEventAdManager::startSplashAtLaunch() {
    if (!TRATrilliumSDK::sharedInstance()->isUnityEnvironment()) {
        showSplashAd();
        return;
    }
    int64_t version = TRAAdSDKUtils::getUnityVersionInt();
    if (version >= 5 && TRAAdSDKUtils::getUnityAutoRotation() != 2 && TRAAdSDKUtils::UnityDefaultViewControllerDisplayed()) {
        Ref<TRAEventAdManager> me = self<TRAEventAdManager>();
        performSelector([me] { me->checkIfUnityDefaultViewControllerDisplayed(); }, 0.2);
        return;
    }
    if (version >= 5) showSplashAd();
    else TRALog::error("Splash ad is not supported for Unity version < 5");
}

void TRAEventAdManager::checkIfUnityDefaultViewControllerDisplayed() {
    if (TRAAdSDKUtils::UnityDefaultViewControllerDisplayed()) {
        Ref<TRAEventAdManager> me = self<TRAEventAdManager>();
        performSelector([me] { me->checkIfUnityDefaultViewControllerDisplayed(); }, 0.2);
        return;
    }
    showSplashAd();
}

void TRAEventAdManager::showSplashAd() {
    if (splashViewController_) {
        TRALog::error("A splash screen is already up; no second one is shown.");
        return;
    }
    if (!splashPreferences_) splashPreferences_ = NSObject::alloc<TRASplashPreferences>()->init();
    splashEndRequested_ = false;
    splashViewController_ = TRASplashViewController::alloc()->init();
    splashViewController_->setSplashPreferences(splashPreferences_);

    Ref<UIViewController> root = splashKeyWindowRoot();
    styledRootViewController_ = root;
    if (root) {
        parentPresentationStyle_ = root->modalPresentationStyle();
        if (platform::systemVersionAtLeast(8, 0)) {
            splashViewController_->setModalPresentationCapturesStatusBarAppearance(true);
            splashViewController_->setModalPresentationStyle(UIModalPresentationOverFullScreen);
            root->setModalPresentationStyle(UIModalPresentationOverFullScreen);
        } else {
            root->setModalPresentationStyle(UIModalPresentationCurrentContext);
        }
        TRAAdSDKUtils::topViewControllerWithRootViewController(root)->presentViewController(splashViewController_,
                                                                                           false, nullptr);
    } else {
        TRALog::error("No key window to show the splash screen on; the splash runs without it.");
    }

    auto metadata = TRAMetadata::sharedMetadata();
    Ref<TRAEventAdManager> me = self<TRAEventAdManager>();
    invalidateTimer(splashMinTimer_);
    int64_t minTime = splashPreferences_->splashMinTime();
    if (minTime == 0) minTime = metadata->getDefaultMinSplashTime();
    splashMinTimer_ = NSTimer::scheduledTimerWithTimeInterval(static_cast<double>(minTime), me,
                                                              &TRAEventAdManager::showAdIfAlreadyLoaded, Value(), false);
    invalidateTimer(maxSplashTimer_);
    maxSplashTimer_ = NSTimer::scheduledTimerWithTimeInterval(static_cast<double>(metadata->getDefaultMaxLoadTime()), me,
                                                              &TRAEventAdManager::cancelAdTimeout, Value(), false);
    invalidateTimer(splashAdDisplayTimer_);
}

// ---- the endings -------------------------------------------------------------------------------

void TRAEventAdManager::showAdIfAlreadyLoaded(Ref<NSTimer>) {
    isSplashScreenFinish_ = true;
    if (isSplashAdReady_) endSplash(true);
}

void TRAEventAdManager::cancelAdTimeout(Ref<NSTimer>) {
    if (!isSplashAdReady_) endSplash(false);
}

void TRAEventAdManager::endSplash(bool withAd) {
    // One ending per screen: a late load, or the maximum timer after a load
    // failure, finds the splash already ending and changes nothing.
    if (splashEndRequested_) return;
    splashEndRequested_ = true;
    bool htmlPage = splashPreferences_ && splashPreferences_->splashMode() == TRASplashPreferences::SplashModeTemplate &&
                    TRAMetadata::sharedMetadata()->isHtmlSplash();
    if (htmlPage && splashViewController_) splashViewController_->sendSplashFadeoutToHtmlWebviewWithShowAd(withAd);
    else splashViewControllerEndFadeOutWithShowAd(withAd);
}

void TRAEventAdManager::splashViewControllerEndFadeOutWithShowAd(bool showAd) {
    Ref<TRASplashViewController> controller = std::move(splashViewController_);
    splashViewController_ = nullptr;
    // Dismissed from its presenter, so that whatever stands above it goes too.
    if (auto presenter = controller ? controller->presentingViewController() : nullptr)
        presenter->dismissViewControllerAnimated(false, nullptr);
    if (auto root = styledRootViewController_.lock()) root->setModalPresentationStyle(parentPresentationStyle_);
    if (showAd) {
        if (trilliumSplashAd_) trilliumSplashAd_->showAdWithAdTag(splashAdTag_);
    } else {
        trilliumSplashAd_ = nullptr;
    }
}

void TRAEventAdManager::closeAd(Ref<NSTimer>) {
    if (!trilliumSplashAd_) return;
    if (auto html = std::dynamic_pointer_cast<TRAHtmlAd>(trilliumSplashAd_->internalAd())) html->closeAd(false, false);
}

// ---- the splash ad's callbacks -----------------------------------------------------------------

bool TRAEventAdManager::isSplashAd(const Ref<TRAAbstractAd>& ad) const {
    return ad && ad == std::static_pointer_cast<TRAAbstractAd>(trilliumSplashAd_);
}

Ref<TRADelegateProtocol> TRAEventAdManager::splashAdDelegateFor(std::string_view selector) const {
    auto delegate = splashAdDelegate_.lock();
    return delegate && delegate->respondsToSelector(selector) ? delegate : nullptr;
}

void TRAEventAdManager::splashAdDidLoad(const Ref<TRAAbstractAd>& ad) {
    Ref<TRAEventAdManager> keep = self<TRAEventAdManager>();
    if (auto delegate = splashAdDelegateFor("didLoadAd:")) delegate->didLoadAd(ad);
    isSplashAdReady_ = true;
    if (isSplashScreenFinish_) endSplash(true);
}

void TRAEventAdManager::splashAdFailedLoad(const Ref<TRAAbstractAd>& ad, const Ref<NSError>& error) {
    if (auto delegate = splashAdDelegateFor("failedLoadAd:withError:")) delegate->failedLoadAd(ad, error);
    invalidateTimer(splashMinTimer_);
    cancelAdTimeout(nullptr);
}

void TRAEventAdManager::splashAdDidShow(const Ref<TRAAbstractAd>& ad) {
    invalidateTimer(splashAdDisplayTimer_);
    int64_t displayTime = splashPreferences_ ? splashPreferences_->splashAdDisplayTime() : 0;
    if (displayTime == 0) displayTime = TRAMetadata::sharedMetadata()->getDefaultMaxAdDisplayTime();
    splashAdDisplayTimer_ = NSTimer::scheduledTimerWithTimeInterval(
        static_cast<double>(displayTime), self<TRAEventAdManager>(), &TRAEventAdManager::closeAd, Value(), false);
    if (auto delegate = splashAdDelegateFor("didShowAd:")) delegate->didShowAd(ad);
}

void TRAEventAdManager::splashAdFailedShow(const Ref<TRAAbstractAd>& ad, const Ref<NSError>& error) {
    if (auto delegate = splashAdDelegateFor("failedShowAd:withError:")) delegate->failedShowAd(ad, error);
}

void TRAEventAdManager::splashAdDidClose(const Ref<TRAAbstractAd>& ad) {
    invalidateTimer(splashAdDisplayTimer_);
    if (auto delegate = splashAdDelegateFor("didCloseAd:")) delegate->didCloseAd(ad);
}

void TRAEventAdManager::splashAdDidClick(const Ref<TRAAbstractAd>& ad) {
    invalidateTimer(splashAdDisplayTimer_);
    if (auto delegate = splashAdDelegate_.lock()) {
        if (delegate->respondsToSelector("didClickAd:")) delegate->didClickAd(ad);
        else if (delegate->respondsToSelector("didCloseAd:")) delegate->didCloseAd(ad);
    }
}

void TRAEventAdManager::splashAdDidCloseInAppStore(const Ref<TRAAbstractAd>& ad) {
    if (auto delegate = splashAdDelegateFor("didCloseInAppStore:")) delegate->didCloseInAppStore(ad);
}
