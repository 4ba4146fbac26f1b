// The rewarded flow's three alerts, their texts from the settings table
// (slots 37–51, so the server can change them): the prompt before a rewarded
// ad, the confirmation of its outcome after it, and the warning when the
// user tries to leave a rewarded video early. Each alert is built and shown
// on the main queue; callers may be on any thread. The platform holds a
// shown alert until it is dismissed; each manager is its alert's (weak)
// delegate, so its owner keeps it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIWindow.h"

class HLAd;
class HLAdRewardDelegate;
class HLIncentivizedInterstitialAd;
class HLSdk;

// "Would you like to watch a video for a reward?": any button but the
// cancel button shows the ad through the rewarded interstitial (once the
// alert has gone); the cancel button tells the reward delegate
// userDeclinedToViewAd, when it implements it.
class HLIncentivizedPromptManager : public NSObject, public UIAlertViewDelegate {
public:
    Ref<HLIncentivizedPromptManager> initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAd>& ad,
                                                 const std::optional<std::string>& placement,
                                                 const Ref<UIWindow>& window,
                                                 const Ref<HLIncentivizedInterstitialAd>& incentivizedInterstitial,
                                                 const Ref<HLAdRewardDelegate>& rewardDelegate);
    void promptUserToShowAd();
    void alertViewDidDismissWithButtonIndex(const Ref<UIAlertView>& alertView, int64_t buttonIndex) override;

    Ref<HLSdk> sdk() const { return sdk_; }
    Ref<HLAd> parentAd() const { return parentAd_.lock(); }
    const std::optional<std::string>& placement() const { return placement_; }

private:
    Ref<HLSdk> sdk_;
    Weak<HLAd> parentAd_;
    std::optional<std::string> placement_;
    Weak<UIWindow> parentWindow_;
    Weak<HLIncentivizedInterstitialAd> parentIncentInter_;
    Weak<HLAdRewardDelegate> parentRewardDelegate_;
};

// The outcome after the ad: slot 42 for "accepted", 43 for
// "quota_exceeded", 44 for "rejected", 45 for any other result. One button;
// nothing follows the tap.
class HLIncentivizedConfirmationManager : public NSObject {
public:
    Ref<HLIncentivizedConfirmationManager> initWithSdk(const Ref<HLSdk>& sdk, const std::string& result);
    void presentConfirmationToUser();
    std::string confirmationTextFromResult() const;

    const std::string& result() const { return result_; }

private:
    Ref<HLSdk> sdk_;
    std::string result_;
};

// "You won't get your reward…": the completion hears true when the user
// chose to leave (any button but the cancel button) and false for "Keep
// Watching". hidePrompt takes the alert away without calling it.
class HLIncentivizedWarningManager : public NSObject, public UIAlertViewDelegate {
public:
    using Completion = std::function<void(bool leave)>;

    Ref<HLIncentivizedWarningManager> initWithSdk(const Ref<HLSdk>& sdk);
    void promptWarningWithCompletion(Completion completion);
    void alertViewClickedButtonAtIndex(const Ref<UIAlertView>& alertView, int64_t buttonIndex) override;
    // Main thread.
    bool promptIsVisible() const;
    void hidePrompt();

    Ref<UIAlertView> alert() const { return alert_; }

private:
    Weak<HLSdk> sdk_;
    Completion completionBlock_;
    Ref<UIAlertView> alert_;
};
