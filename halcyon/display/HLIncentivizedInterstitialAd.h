// The rewarded interstitial (public): a full-screen video ad of the
// incentivized type that tells the application whether the user earned the
// reward. The application preloads an ad (preloadAndNotify), shows it (after
// a yes/no prompt while slot 52 is on) and hears display, video and reward
// callbacks. While the video plays the server is asked ("vr") whether the
// reward stands; when the ad is hidden the outcome is settled once, from the
// server's answer and whether the video was watched to the end, shown in an
// alert (slot 53) and reported ("cr"). After hiding, the application
// preloads again before the next show.
//
// Threads: the public operations, the prompt and the alerts, the callbacks
// and the settlement run on the main thread; validation and report run on
// task queue 1. The delegates are held strongly.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/display/HLAdRewardDelegate.h"
#include "halcyon/display/HLAdVideoPlaybackDelegate.h"
#include "platform/ui/UIWindow.h"

class HLAd;
class HLIncentivizedConfirmationManager;
class HLIncentivizedPromptManager;
class HLInterstitialAd;
class HLSdk;
class HLTaskValidateReward;

class HLIncentivizedInterstitialAd : public NSObject, public HLAdLoadDelegate {
public:
    // The one instance over HLSdk::shared(), made once (thread-safe).
    static Ref<HLIncentivizedInterstitialAd> shared();
    // The class operations: the instance operations on the shared instance.
    static void preloadAndNotifyShared(const Ref<HLAdLoadDelegate>& delegate);
    static void showOverShared(const Ref<UIWindow>& window, const Ref<HLAdRewardDelegate>& delegate);
    static void showOverShared(const Ref<UIWindow>& window, const std::optional<std::string>& placement,
                               const Ref<HLAdRewardDelegate>& delegate);
    static void showAndNotifyShared(const Ref<HLAdRewardDelegate>& delegate);
    static bool isReadyForDisplayShared();
    static void showShared();
    static void showOverPlacementShared(const std::optional<std::string>& placement);
    static void showOverPlacementShared(const std::optional<std::string>& placement,
                                        const Ref<HLAdRewardDelegate>& delegate);
    // Sent as "user_id" with every reward request; any thread.
    static void setUserIdentifier(const std::optional<std::string>& identifier);
    static std::optional<std::string> userIdentifier();

    // Keeps the SDK and makes the private interstitial that shows the ads.
    Ref<HLIncentivizedInterstitialAd> initWithSdk(const Ref<HLSdk>& sdk);
    Ref<HLIncentivizedInterstitialAd> initIncentivizedInterstitialWithSdk(const Ref<HLSdk>& sdk);

    // While an ad is ready: a user error, and the delegate hears the ready ad
    // at once (no request). Otherwise the delegate hears the next
    // incentivized ad's load.
    void preloadAndNotify(const Ref<HLAdLoadDelegate>& delegate);
    void loadNextAd();
    // Without a ready ad: a user error and -300 to the last load delegate.
    void showOver(const Ref<UIWindow>& window, const Ref<HLAdRewardDelegate>& delegate);
    void showOver(const Ref<UIWindow>& window, const std::optional<std::string>& placement,
                  const Ref<HLAdRewardDelegate>& delegate);
    // Over the key window.
    void showAndNotify(const Ref<HLAdRewardDelegate>& delegate);
    void show();
    void showOverPlacement(const std::optional<std::string>& placement);
    void showOverPlacement(const std::optional<std::string>& placement, const Ref<HLAdRewardDelegate>& delegate);
    // Shows `ad` at once (the prompt's acceptance): a new delegate proxy for
    // the show, the validation started. An ad of another type is not shown:
    // an error line and a video-ended callback with 0 %.
    void showOver(const Ref<UIWindow>& window, const std::optional<std::string>& placement, const Ref<HLAd>& ad,
                  const Ref<HLAdRewardDelegate>& delegate);
    void launchRewardTaskForAd(const Ref<HLAd>& ad, const Ref<HLAdRewardDelegate>& delegate);
    void dismiss();
    void clearRewardState();
    bool isReadyForDisplay() const;

    // The ad service's answers to loadNextAd.
    void adServiceDidLoadAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) override;
    void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>& service, int32_t code) override;

    Ref<HLSdk> sdk() const { return sdk_; }
    Ref<HLInterstitialAd> interstitialAd() const { return interstitialAd_; }
    Ref<HLAd> lastAd() const;
    void setLastAd(const Ref<HLAd>& ad);
    // Main thread: the state of the show under way.
    Ref<HLTaskValidateReward> rewardTask() const { return rewardTask_; }
    const std::optional<std::string>& rewardTaskResult() const { return rewardTaskResult_; }
    void setRewardTaskResult(const std::optional<std::string>& result) { rewardTaskResult_ = result; }
    bool wasFullyWatched() const { return wasFullyWatched_; }
    void setWasFullyWatched(bool watched) { wasFullyWatched_ = watched; }
    Ref<HLIncentivizedPromptManager> promptManager() const { return promptManager_; }
    Ref<HLIncentivizedConfirmationManager> confirmationManager() const { return confirmationManager_; }
    void setConfirmationManager(const Ref<HLIncentivizedConfirmationManager>& manager) {
        confirmationManager_ = manager;
    }

    Ref<HLAdDisplayDelegate> adDisplayDelegate() const;
    void setAdDisplayDelegate(const Ref<HLAdDisplayDelegate>& delegate);
    Ref<HLAdVideoPlaybackDelegate> adVideoPlaybackDelegate() const;
    void setAdVideoPlaybackDelegate(const Ref<HLAdVideoPlaybackDelegate>& delegate);

private:
    Ref<HLSdk> sdk_;
    Ref<HLInterstitialAd> interstitialAd_;
    // Main thread only.
    Ref<HLTaskValidateReward> rewardTask_;
    std::optional<std::string> rewardTaskResult_;
    bool wasFullyWatched_ = false;
    Ref<HLIncentivizedPromptManager> promptManager_;
    Ref<HLIncentivizedConfirmationManager> confirmationManager_;

    mutable std::mutex mutex_;  // guards the fields below
    Ref<HLAd> lastAd_;
    Weak<HLAdLoadDelegate> lastLoadDelegate_;
    Ref<HLAdDisplayDelegate> adDisplayDelegate_;
    Ref<HLAdVideoPlaybackDelegate> adVideoPlaybackDelegate_;
};

// Stands between the presenters of one show and the application's
// delegates: passes display and video events on, records the reward verdicts
// on the rewarded interstitial, and settles the reward once, at the first
// hide (a later hide of the same show is only passed on).
class HLIncentivizedDelegateProxy : public NSObject,
                                    public HLAdDisplayDelegate,
                                    public HLAdVideoPlaybackDelegate,
                                    public HLAdRewardDelegate {
public:
    Ref<HLIncentivizedDelegateProxy> initWithSdk(const Ref<HLSdk>& sdk);

    void videoPlaybackBeganInAd(const Ref<HLAd>& ad) override;
    void videoPlaybackEndedInAd(const Ref<HLAd>& ad, const Value& atPlaybackPercent, bool fullyWatched) override;
    void adWasDisplayedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override;
    void adWasClickedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override;
    void adWasHiddenIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override;

    void rewardValidationRequestForAdDidSucceedWithResponse(const Ref<HLAd>& ad, const Value& response) override;
    void rewardValidationRequestForAdDidExceedQuotaWithResponse(const Ref<HLAd>& ad, const Value& response) override;
    void rewardValidationRequestForAdWasRejectedWithResponse(const Ref<HLAd>& ad, const Value& response) override;
    void rewardValidationRequestForAdDidFailWithError(const Ref<HLAd>& ad, int32_t code) override;
    void userDeclinedToViewAd(const Ref<HLAd>&) override {}
    PLATFORM_RESPONDS_TO("rewardValidationRequestForAd:didSucceedWithResponse:",
                         "rewardValidationRequestForAd:didExceedQuotaWithResponse:",
                         "rewardValidationRequestForAd:wasRejectedWithResponse:",
                         "rewardValidationRequestForAd:didFailWithError:", "userDeclinedToViewAd:")

    void showPostPopupIfNeededWithResult(const std::string& result);

    Ref<HLIncentivizedInterstitialAd> incentController() const { return incentController_.lock(); }
    void setIncentController(const Ref<HLIncentivizedInterstitialAd>& controller) { incentController_ = controller; }
    void setDisplayDelegate(const Ref<HLAdDisplayDelegate>& delegate) { displayDelegate_ = delegate; }
    void setVideoDelegate(const Ref<HLAdVideoPlaybackDelegate>& delegate) { videoDelegate_ = delegate; }
    void setRewardDelegate(const Ref<HLAdRewardDelegate>& delegate) { rewardDelegate_ = delegate; }

private:
    // The verdict recorded, then passed on when the delegate implements it.
    void recordVerdict(const char* result, const char* selector,
                       const std::function<void(const Ref<HLAdRewardDelegate>&)>& call);

    Ref<HLSdk> sdk_;
    Weak<HLIncentivizedInterstitialAd> incentController_;
    Ref<HLAdDisplayDelegate> displayDelegate_;
    Ref<HLAdVideoPlaybackDelegate> videoDelegate_;
    Ref<HLAdRewardDelegate> rewardDelegate_;
    bool settled_ = false;  // main thread
};
