#include "halcyon/display/HalcyonDisplayClasses.h"

#include "halcyon/core/HLDisplayHooks.h"
#include "halcyon/core/HalcyonCoreClasses.h"
#include "halcyon/display/HLAdDisplayProxy.h"
#include "halcyon/display/HLAutoLayoutVideoViewController.h"
#include "halcyon/display/HLCircularCountdownView.h"
#include "halcyon/display/HLClickTrackingOverlayView.h"
#include "halcyon/display/HLCloseButton.h"
#include "halcyon/display/HLFrameVideoViewController.h"
#include "halcyon/display/HLIncentivizedAlertManagers.h"
#include "halcyon/display/HLIncentivizedInterstitialAd.h"
#include "halcyon/display/HLHtmlAdView.h"
#include "halcyon/display/HLInterstitialAd.h"
#include "halcyon/display/HLInterstitialDialogView.h"
#include "halcyon/display/HLPendingRewardReportManager.h"
#include "halcyon/display/HLStoreKitProductPage.h"
#include "halcyon/display/HLTaskReportReward.h"
#include "halcyon/display/HLTaskValidateReward.h"
#include "halcyon/display/HLVideoPlayer.h"
#include "halcyon/display/HLVideoView.h"
#include "halcyon/display/HLWebViewButton.h"
#include "halcyon/display/HLWebViewProvider.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/store/StoreClasses.h"

void registerHalcyonDisplayClasses() {
    registerHalcyonCoreClasses();
    platform::registerStoreClasses();
    NSClassRegistry::registerClass<HLCloseButton>();
    NSClassRegistry::registerClass<HLCloseButtonClassic>();
    NSClassRegistry::registerClass<HLCloseButtonWhiteGrey>();
    NSClassRegistry::registerClass<HLCloseButtonExtendedClickArea>();
    NSClassRegistry::registerClass<HLCircularCountdownView>();
    NSClassRegistry::registerClass<HLClickTrackingOverlayView>();
    NSClassRegistry::registerClass<HLVideoPlayer>();
    NSClassRegistry::registerClass<HLVideoView>();
    NSClassRegistry::registerClass<HLStoreKitProductPage>();
    NSClassRegistry::registerClass<HLUIWebView>();
    NSClassRegistry::registerClass<HLWebViewButton>();
    NSClassRegistry::registerClass<HLHtmlAdView>();
    NSClassRegistry::registerClass<HLAdDisplayProxy>();
    NSClassRegistry::registerClass<HLAdVideoPlaybackProxy>();
    NSClassRegistry::registerClass<HLInterstitialAd>();
    NSClassRegistry::registerClass<HLInterstitialAdLoadDelegateProxy>();
    NSClassRegistry::registerClass<HLInterstitialDialogView>();
    NSClassRegistry::registerClass<HLAutoLayoutVideoViewController>();
    NSClassRegistry::registerClass<HLFrameVideoViewController>();
    NSClassRegistry::registerClass<HLVideoViewControllerClickForwarder>();
    NSClassRegistry::registerClass<HLIncentivizedInterstitialAd>();
    NSClassRegistry::registerClass<HLIncentivizedDelegateProxy>();
    NSClassRegistry::registerClass<HLIncentivizedPromptManager>();
    NSClassRegistry::registerClass<HLIncentivizedConfirmationManager>();
    NSClassRegistry::registerClass<HLIncentivizedWarningManager>();
    NSClassRegistry::registerClass<HLPendingRewardReportManager>();
    NSClassRegistry::registerClass<HLTaskValidateReward>();
    NSClassRegistry::registerClass<HLTaskReportReward>();

    HLDisplayHooks::shared().storeKitProductViewController =
        [](const Ref<HLAd>& ad, const Ref<HLAdViewInternalProtocol>& adView,
           const Ref<UIViewController>& interstitialViewController) -> Ref<HLStoreKitProductViewController> {
        return HLStoreKitProductPage::alloc()->initWithAd(ad, adView, interstitialViewController);
    };
}
