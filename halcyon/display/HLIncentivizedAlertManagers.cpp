#include "halcyon/display/HLIncentivizedAlertManagers.h"

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/display/HLAdRewardDelegate.h"
#include "halcyon/display/HLIncentivizedInterstitialAd.h"
#include "halcyon/display/HLVideoConstants.h"
#include "platform/runtime/NSOperationQueue.h"

namespace {
std::string hlAlertText(const Ref<HLSdk>& sdk, int64_t slot) {
    return sdk ? sdk->stringForKey(slot).value_or("") : std::string();
}
}  // namespace

// ---- prompt

Ref<HLIncentivizedPromptManager> HLIncentivizedPromptManager::initWithSdk(
    const Ref<HLSdk>& sdk, const Ref<HLAd>& ad, const std::optional<std::string>& placement,
    const Ref<UIWindow>& window, const Ref<HLIncentivizedInterstitialAd>& incentivizedInterstitial,
    const Ref<HLAdRewardDelegate>& rewardDelegate) {
    sdk_ = sdk;
    parentAd_ = ad;
    placement_ = placement;
    parentWindow_ = window;
    parentIncentInter_ = incentivizedInterstitial;
    parentRewardDelegate_ = rewardDelegate;
    return self<HLIncentivizedPromptManager>();
}

void HLIncentivizedPromptManager::promptUserToShowAd() {
    auto manager = self<HLIncentivizedPromptManager>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([manager] {
        const Ref<HLSdk>& sdk = manager->sdk_;
        auto alert = UIAlertView::alloc()->initWithTitle(
            hlAlertText(sdk, kHLSlotIncentPromptTitle), hlAlertText(sdk, kHLSlotIncentPromptBody),
            Weak<UIAlertViewDelegate>(manager), hlAlertText(sdk, kHLSlotIncentPromptNoOption),
            {hlAlertText(sdk, kHLSlotIncentPromptYesOption)});
        alert->show();
    });
}

void HLIncentivizedPromptManager::alertViewDidDismissWithButtonIndex(const Ref<UIAlertView>& alertView,
                                                                     int64_t buttonIndex) {
    auto keep = self<HLIncentivizedPromptManager>();  // the show below may release the manager
    Ref<HLAd> ad = parentAd_.lock();
    Ref<HLAdRewardDelegate> delegate = parentRewardDelegate_.lock();
    if (buttonIndex != alertView->cancelButtonIndex()) {
        if (Ref<HLIncentivizedInterstitialAd> parent = parentIncentInter_.lock())
            parent->showOver(parentWindow_.lock(), placement_, ad, delegate);
    } else if (delegate && delegate->respondsToSelector(kHLRewardDeclinedSelector)) {
        delegate->userDeclinedToViewAd(ad);
    }
}

// ---- confirmation

Ref<HLIncentivizedConfirmationManager> HLIncentivizedConfirmationManager::initWithSdk(const Ref<HLSdk>& sdk,
                                                                                      const std::string& result) {
    sdk_ = sdk;
    result_ = result;
    return self<HLIncentivizedConfirmationManager>();
}

std::string HLIncentivizedConfirmationManager::confirmationTextFromResult() const {
    if (result_ == kHLRewardResultAccepted) return hlAlertText(sdk_, kHLSlotIncentCompletionBodySuccess);
    if (result_ == kHLRewardResultQuotaExceeded) return hlAlertText(sdk_, kHLSlotIncentCompletionBodyQuotaExceeded);
    if (result_ == kHLRewardResultRejected) return hlAlertText(sdk_, kHLSlotIncentCompletionBodyRewardRejected);
    return hlAlertText(sdk_, kHLSlotIncentCompletionBodyNetworkFailure);
}

void HLIncentivizedConfirmationManager::presentConfirmationToUser() {
    auto manager = self<HLIncentivizedConfirmationManager>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([manager] {
        auto alert = UIAlertView::alloc()->initWithTitle(
            hlAlertText(manager->sdk_, kHLSlotIncentCompletionTitle), manager->confirmationTextFromResult(),
            Weak<UIAlertViewDelegate>(), hlAlertText(manager->sdk_, kHLSlotIncentCompletionCloseOption), {});
        alert->show();
    });
}

// ---- warning

Ref<HLIncentivizedWarningManager> HLIncentivizedWarningManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLIncentivizedWarningManager>();
}

void HLIncentivizedWarningManager::promptWarningWithCompletion(Completion completion) {
    auto manager = self<HLIncentivizedWarningManager>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([manager, completion = std::move(completion)] {
        Ref<HLSdk> sdk = manager->sdk_.lock();
        manager->completionBlock_ = completion;
        manager->alert_ = UIAlertView::alloc()->initWithTitle(
            hlAlertText(sdk, kHLSlotIncentWarningTitle), hlAlertText(sdk, kHLSlotIncentWarningBody),
            Weak<UIAlertViewDelegate>(manager), hlAlertText(sdk, kHLSlotIncentWarningContinueOption),
            {hlAlertText(sdk, kHLSlotIncentWarningCloseOption)});
        manager->alert_->show();
    });
}

void HLIncentivizedWarningManager::alertViewClickedButtonAtIndex(const Ref<UIAlertView>& alertView,
                                                                 int64_t buttonIndex) {
    if (!completionBlock_) return;
    Completion completion = completionBlock_;
    completion(buttonIndex != alertView->cancelButtonIndex());
}

bool HLIncentivizedWarningManager::promptIsVisible() const { return alert_ && alert_->isVisible(); }

void HLIncentivizedWarningManager::hidePrompt() {
    auto manager = self<HLIncentivizedWarningManager>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([manager] {
        if (manager->alert_) manager->alert_->dismissWithClickedButtonIndex(-1, true);
    });
}
