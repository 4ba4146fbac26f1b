#include "halcyon/display/HLIncentivizedInterstitialAd.h"

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/display/HLIncentivizedAlertManagers.h"
#include "halcyon/display/HLInterstitialAd.h"
#include "halcyon/display/HLPendingRewardReportManager.h"
#include "halcyon/display/HLTaskReportReward.h"
#include "halcyon/display/HLTaskValidateReward.h"
#include "halcyon/display/HLVideoConstants.h"
#include "platform/runtime/Log.h"
#include "platform/ui/UIApplication.h"

namespace {
constexpr const char* kHLIncentivizedLogSource = "HLIncentivizedInterstitialAd";

struct HLIncentivizedUserIdentifier {
    std::mutex mutex;  // guards value
    std::optional<std::string> value;
};

HLIncentivizedUserIdentifier& hlIncentivizedUserIdentifier() {
    // Never destroyed: other threads may use it during exit.
    static HLIncentivizedUserIdentifier& identifier = *new HLIncentivizedUserIdentifier();
    return identifier;
}

Ref<UIWindow> hlIncentivizedKeyWindow() { return UIApplication::sharedApplication()->keyWindow(); }
}  // namespace

// ---- class operations

Ref<HLIncentivizedInterstitialAd> HLIncentivizedInterstitialAd::shared() {
    static const Ref<HLIncentivizedInterstitialAd> instance =
        NSObject::alloc<HLIncentivizedInterstitialAd>()->initWithSdk(HLSdk::shared());
    return instance;
}

void HLIncentivizedInterstitialAd::preloadAndNotifyShared(const Ref<HLAdLoadDelegate>& delegate) {
    shared()->preloadAndNotify(delegate);
}

void HLIncentivizedInterstitialAd::showOverShared(const Ref<UIWindow>& window, const Ref<HLAdRewardDelegate>& delegate) {
    shared()->showOver(window, delegate);
}

void HLIncentivizedInterstitialAd::showOverShared(const Ref<UIWindow>& window,
                                                  const std::optional<std::string>& placement,
                                                  const Ref<HLAdRewardDelegate>& delegate) {
    shared()->showOver(window, placement, delegate);
}

void HLIncentivizedInterstitialAd::showAndNotifyShared(const Ref<HLAdRewardDelegate>& delegate) {
    shared()->showAndNotify(delegate);
}

bool HLIncentivizedInterstitialAd::isReadyForDisplayShared() { return shared()->isReadyForDisplay(); }

void HLIncentivizedInterstitialAd::showShared() { shared()->show(); }

void HLIncentivizedInterstitialAd::showOverPlacementShared(const std::optional<std::string>& placement) {
    shared()->showOverPlacement(placement);
}

void HLIncentivizedInterstitialAd::showOverPlacementShared(const std::optional<std::string>& placement,
                                                           const Ref<HLAdRewardDelegate>& delegate) {
    shared()->showOverPlacement(placement, delegate);
}

void HLIncentivizedInterstitialAd::setUserIdentifier(const std::optional<std::string>& identifier) {
    auto& stored = hlIncentivizedUserIdentifier();
    std::scoped_lock lock(stored.mutex);
    stored.value = identifier;
}

std::optional<std::string> HLIncentivizedInterstitialAd::userIdentifier() {
    auto& stored = hlIncentivizedUserIdentifier();
    std::scoped_lock lock(stored.mutex);
    return stored.value;
}

// ---- creation and loading

Ref<HLIncentivizedInterstitialAd> HLIncentivizedInterstitialAd::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    interstitialAd_ = NSObject::alloc<HLInterstitialAd>()->initWithSdk(sdk);
    return self<HLIncentivizedInterstitialAd>();
}

Ref<HLIncentivizedInterstitialAd> HLIncentivizedInterstitialAd::initIncentivizedInterstitialWithSdk(
    const Ref<HLSdk>& sdk) {
    return initWithSdk(sdk);
}

void HLIncentivizedInterstitialAd::preloadAndNotify(const Ref<HLAdLoadDelegate>& delegate) {
    if (!sdk_) {
        platform::log(platform::LogLevel::Error, "HLIncentivizedInterstitialAd: no SDK object; nothing is loaded");
        return;
    }
    sdk_->logManager()->d(kHLIncentivizedLogSource, "User requested preload of incentivized ad...");
    if (Ref<HLAd> ready = lastAd()) {
        sdk_->logManager()->userErrorMessage(
            kHLIncentivizedLogSource,
            "Attempted to call preloadAndNotify: while an ad was already loaded or currently being played. Do not call "
            "preloadAndNotify: again until the last ad has been closed (adWasHidden).");
        if (delegate) delegate->adServiceDidLoadAd(sdk_->adService(), ready);
        return;
    }
    interstitialAd_->setAdLoadDelegate(delegate);
    {
        std::scoped_lock lock(mutex_);
        lastLoadDelegate_ = delegate;
    }
    loadNextAd();
}

void HLIncentivizedInterstitialAd::loadNextAd() {
    sdk_->adService()->loadNextAd(HLAdSize::sizeInterstitial(), HLAdType::typeIncentivized(),
                                  self<HLIncentivizedInterstitialAd>());
}

void HLIncentivizedInterstitialAd::adServiceDidLoadAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) {
    setLastAd(ad);
    if (Ref<HLAdLoadDelegate> delegate = interstitialAd_->adLoadDelegate()) delegate->adServiceDidLoadAd(service, ad);
}

void HLIncentivizedInterstitialAd::adServiceDidFailToLoadAdWithError(const Ref<HLAdService>& service, int32_t code) {
    if (Ref<HLAdLoadDelegate> delegate = interstitialAd_->adLoadDelegate())
        delegate->adServiceDidFailToLoadAdWithError(service, code);
}

// ---- showing

void HLIncentivizedInterstitialAd::showOver(const Ref<UIWindow>& window, const Ref<HLAdRewardDelegate>& delegate) {
    showOver(window, std::optional<std::string>(), delegate);
}

void HLIncentivizedInterstitialAd::showAndNotify(const Ref<HLAdRewardDelegate>& delegate) {
    showOver(hlIncentivizedKeyWindow(), delegate);
}

void HLIncentivizedInterstitialAd::show() { showAndNotify(nullptr); }

void HLIncentivizedInterstitialAd::showOverPlacement(const std::optional<std::string>& placement) {
    showOver(hlIncentivizedKeyWindow(), placement, nullptr);
}

void HLIncentivizedInterstitialAd::showOverPlacement(const std::optional<std::string>& placement,
                                                     const Ref<HLAdRewardDelegate>& delegate) {
    showOver(hlIncentivizedKeyWindow(), placement, delegate);
}

void HLIncentivizedInterstitialAd::showOver(const Ref<UIWindow>& window, const std::optional<std::string>& placement,
                                            const Ref<HLAdRewardDelegate>& delegate) {
    if (!sdk_) return;
    Ref<HLAd> ready = lastAd();
    if (!ready) {
        sdk_->logManager()->userErrorMessage(kHLIncentivizedLogSource,
                                             "Unable to show incentivized interstitial: no advertisement preloaded. "
                                             "Please invoke preloadAndNotify: before calling this method");
        Ref<HLAdLoadDelegate> last;
        {
            std::scoped_lock lock(mutex_);
            last = lastLoadDelegate_.lock();
        }
        if (last) last->adServiceDidFailToLoadAdWithError(sdk_->adService(), kHLRewardNoPreloadedAd);
        return;
    }
    if (sdk_->boolForKey(kHLSlotShowIncentPrepopup)) {
        promptManager_ = NSObject::alloc<HLIncentivizedPromptManager>()->initWithSdk(
            sdk_, ready, placement, window, self<HLIncentivizedInterstitialAd>(), delegate);
        promptManager_->promptUserToShowAd();
    } else {
        showOver(window, placement, ready, delegate);
    }
}

void HLIncentivizedInterstitialAd::showOver(const Ref<UIWindow>& window, const std::optional<std::string>& placement,
                                            const Ref<HLAd>& ad, const Ref<HLAdRewardDelegate>& delegate) {
    clearRewardState();
    auto proxy = NSObject::alloc<HLIncentivizedDelegateProxy>()->initWithSdk(sdk_);
    proxy->setIncentController(self<HLIncentivizedInterstitialAd>());
    proxy->setDisplayDelegate(adDisplayDelegate());
    proxy->setVideoDelegate(adVideoPlaybackDelegate());
    proxy->setRewardDelegate(delegate);
    wasFullyWatched_ = false;
    interstitialAd_->setAdVideoPlaybackDelegate(proxy);
    interstitialAd_->setAdDisplayDelegate(proxy);
    if (ad && ad->type() && ad->type()->isEqualToType(HLAdType::typeIncentivized())) {
        interstitialAd_->showOver(window, placement, Ref<NSObject>(ad));
        launchRewardTaskForAd(ad, proxy);
        return;
    }
    if (sdk_) sdk_->logManager()->e(kHLIncentivizedLogSource, "Asked to render an ad that is not an incentivized ad type.");
    if (Ref<HLAdVideoPlaybackDelegate> video = adVideoPlaybackDelegate())
        video->videoPlaybackEndedInAd(ad, Value(0), false);
}

void HLIncentivizedInterstitialAd::launchRewardTaskForAd(const Ref<HLAd>& ad, const Ref<HLAdRewardDelegate>& delegate) {
    rewardTask_ = NSObject::alloc<HLTaskValidateReward>()->initWithSdk(sdk_, ad, delegate);
    sdk_->taskManager()->execute(rewardTask_, 1);
}

void HLIncentivizedInterstitialAd::dismiss() { interstitialAd_->dismiss(); }

void HLIncentivizedInterstitialAd::clearRewardState() {
    rewardTask_.reset();
    rewardTaskResult_.reset();
    promptManager_.reset();
}

bool HLIncentivizedInterstitialAd::isReadyForDisplay() const { return lastAd() != nullptr; }

Ref<HLAd> HLIncentivizedInterstitialAd::lastAd() const {
    std::scoped_lock lock(mutex_);
    return lastAd_;
}

void HLIncentivizedInterstitialAd::setLastAd(const Ref<HLAd>& ad) {
    std::scoped_lock lock(mutex_);
    lastAd_ = ad;
}

Ref<HLAdDisplayDelegate> HLIncentivizedInterstitialAd::adDisplayDelegate() const {
    std::scoped_lock lock(mutex_);
    return adDisplayDelegate_;
}

void HLIncentivizedInterstitialAd::setAdDisplayDelegate(const Ref<HLAdDisplayDelegate>& delegate) {
    std::scoped_lock lock(mutex_);
    adDisplayDelegate_ = delegate;
}

Ref<HLAdVideoPlaybackDelegate> HLIncentivizedInterstitialAd::adVideoPlaybackDelegate() const {
    std::scoped_lock lock(mutex_);
    return adVideoPlaybackDelegate_;
}

void HLIncentivizedInterstitialAd::setAdVideoPlaybackDelegate(const Ref<HLAdVideoPlaybackDelegate>& delegate) {
    std::scoped_lock lock(mutex_);
    adVideoPlaybackDelegate_ = delegate;
}

// ---- the delegate proxy

Ref<HLIncentivizedDelegateProxy> HLIncentivizedDelegateProxy::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLIncentivizedDelegateProxy>();
}

void HLIncentivizedDelegateProxy::videoPlaybackBeganInAd(const Ref<HLAd>& ad) {
    if (videoDelegate_) videoDelegate_->videoPlaybackBeganInAd(ad);
}

void HLIncentivizedDelegateProxy::videoPlaybackEndedInAd(const Ref<HLAd>& ad, const Value& atPlaybackPercent,
                                                         bool fullyWatched) {
    if (videoDelegate_) videoDelegate_->videoPlaybackEndedInAd(ad, atPlaybackPercent, fullyWatched);
    if (Ref<HLIncentivizedInterstitialAd> controller = incentController()) controller->setWasFullyWatched(fullyWatched);
}

void HLIncentivizedDelegateProxy::adWasDisplayedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) {
    if (displayDelegate_) displayDelegate_->adWasDisplayedIn(ad, view);
}

void HLIncentivizedDelegateProxy::adWasClickedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) {
    if (displayDelegate_) displayDelegate_->adWasClickedIn(ad, view);
}

void HLIncentivizedDelegateProxy::recordVerdict(const char* result, const char* selector,
                                                const std::function<void(const Ref<HLAdRewardDelegate>&)>& call) {
    if (Ref<HLIncentivizedInterstitialAd> controller = incentController()) controller->setRewardTaskResult(result);
    if (rewardDelegate_ && rewardDelegate_->respondsToSelector(selector)) call(rewardDelegate_);
}

void HLIncentivizedDelegateProxy::rewardValidationRequestForAdDidSucceedWithResponse(const Ref<HLAd>& ad,
                                                                                     const Value& response) {
    recordVerdict(kHLRewardResultAccepted, kHLRewardSucceededSelector, [&](const Ref<HLAdRewardDelegate>& delegate) {
        delegate->rewardValidationRequestForAdDidSucceedWithResponse(ad, response);
    });
}

void HLIncentivizedDelegateProxy::rewardValidationRequestForAdDidExceedQuotaWithResponse(const Ref<HLAd>& ad,
                                                                                         const Value& response) {
    recordVerdict(kHLRewardResultQuotaExceeded, kHLRewardQuotaSelector, [&](const Ref<HLAdRewardDelegate>& delegate) {
        delegate->rewardValidationRequestForAdDidExceedQuotaWithResponse(ad, response);
    });
}

void HLIncentivizedDelegateProxy::rewardValidationRequestForAdWasRejectedWithResponse(const Ref<HLAd>& ad,
                                                                                      const Value& response) {
    recordVerdict(kHLRewardResultRejected, kHLRewardRejectedSelector, [&](const Ref<HLAdRewardDelegate>& delegate) {
        delegate->rewardValidationRequestForAdWasRejectedWithResponse(ad, response);
    });
}

void HLIncentivizedDelegateProxy::rewardValidationRequestForAdDidFailWithError(const Ref<HLAd>& ad, int32_t code) {
    recordVerdict(kHLRewardResultNetworkTimeout, kHLRewardFailedSelector,
                  [&](const Ref<HLAdRewardDelegate>& delegate) {
                      delegate->rewardValidationRequestForAdDidFailWithError(ad, code);
                  });
}

void HLIncentivizedDelegateProxy::showPostPopupIfNeededWithResult(const std::string& result) {
    if (!sdk_ || !sdk_->boolForKey(kHLSlotShowIncentPostpopup)) return;
    auto confirmation = NSObject::alloc<HLIncentivizedConfirmationManager>()->initWithSdk(sdk_, result);
    if (Ref<HLIncentivizedInterstitialAd> controller = incentController())
        controller->setConfirmationManager(confirmation);
    confirmation->presentConfirmationToUser();
}

void HLIncentivizedDelegateProxy::adWasHiddenIn(const Ref<HLAd>& ad, const Ref<UIView>& view) {
    auto keep = self<HLIncentivizedDelegateProxy>();
    Ref<HLIncentivizedInterstitialAd> controller = incentController();
    // One settlement per show: a second hide (the poststitial's own, passed
    // on by the click forwarder) must not report -500 after a verdict, show a
    // second alert or queue a second report.
    if (settled_ || !controller) {
        if (displayDelegate_) displayDelegate_->adWasHiddenIn(ad, view);
        return;
    }
    settled_ = true;
    const std::optional<std::string> verdict = controller->rewardTaskResult();
    const bool fullyWatched = controller->wasFullyWatched();
    if (verdict && !verdict->empty() && fullyWatched) {
        showPostPopupIfNeededWithResult(*verdict);
    } else {
        const char* result = fullyWatched ? kHLRewardResultNetworkTimeout : kHLRewardResultUserClosedVideo;
        auto store = HLPendingRewardReportManager::sharedManager();
        {
            // Together with the task's own test-and-store: a verdict either
            // landed before this or is dropped whole.
            std::scoped_lock lock(store->managerLock());
            if (Ref<HLTaskValidateReward> task = controller->rewardTask()) task->setShouldCancelNotification(true);
            store->saveRewardResult(result, ad);
        }
        if (fullyWatched) showPostPopupIfNeededWithResult(kHLRewardResultNetworkTimeout);
        if (rewardDelegate_ && rewardDelegate_->respondsToSelector(kHLRewardFailedSelector))
            rewardDelegate_->rewardValidationRequestForAdDidFailWithError(
                ad, fullyWatched ? kHLRewardNoValidationAnswer : kHLRewardClosedEarly);
    }
    controller->setLastAd(nullptr);
    controller->clearRewardState();
    if (displayDelegate_) displayDelegate_->adWasHiddenIn(ad, view);
    if (sdk_) sdk_->taskManager()->execute(NSObject::alloc<HLTaskReportReward>()->initWithSdk(sdk_, ad), 1);
}
