// HLAdService: clicks, click tracking and the store page.
#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLAdServicePostbackProxy.h"
#include "halcyon/core/HLDisplayHooks.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLPostbackService.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLUtils.h"
#include "platform/foundation/NSException.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIViewController.h"

namespace {
constexpr const char* kHLClickTag = "AdService";
// "click_tracking_retry_count", "…_retry_delay" (ms), "…_timeout" (ms).
constexpr int64_t kHLClickSlotRetryCount = 123;
constexpr int64_t kHLClickSlotRetryDelay = 124;
constexpr int64_t kHLClickSlotTimeout = 125;

void hlRequireAd(const Ref<HLAd>& ad) {
    if (!ad) NSException::raise(NSInvalidArgumentException, "No ad specified");
}

// Both display delegates of the view hear the click.
void hlTellClicked(const Ref<HLAdViewInternalProtocol>& adView, const Ref<HLAd>& ad) {
    Ref<UIView> view = std::dynamic_pointer_cast<UIView>(adView);
    if (Ref<HLAdDisplayDelegate> delegate = adView->adDisplayDelegate()) delegate->adWasClickedIn(ad, view);
    if (Ref<HLAdDisplayDelegate> delegate = adView->weakAdDisplayDelegate()) delegate->adWasClickedIn(ad, view);
}

bool hlIsStorePage(const Ref<UIViewController>& controller) {
    return controller && std::dynamic_pointer_cast<HLStoreKitProductViewController>(controller);
}
}  // namespace

void HLAdService::trackClickOn(const Ref<HLAd>& ad, const std::optional<std::string>& placement,
                               const Ref<HLAdViewInternalProtocol>& adView, const Ref<NSURL>& launchURL) {
    hlRequireAd(ad);
    if (Ref<HLLogManager> log = logger()) log->d(kHLClickTag, "Tracking click on an ad...");
    dispatchPersistentPostbackForAd(ad, placement);
    this->launchURL(launchURL, ad, adView);
}

void HLAdService::trackForegroundClickOn(const Ref<HLAd>& ad, const std::optional<std::string>& placement,
                                         const Ref<HLAdViewInternalProtocol>& adView, const Ref<NSURL>& launchURL) {
    hlRequireAd(ad);
    if (Ref<HLLogManager> log = logger()) log->d(kHLClickTag, "Tracking foreground click on an ad...");
    auto proxy = NSObject::alloc<HLAdServicePostbackProxy>()->initWithAdService(self<HLAdService>(), adView, ad,
                                                                                launchURL);
    // Without a tracking request nothing would ever take the overlay away.
    if (!dispatchPostbackForAd(ad, placement, proxy) && adView) adView->removeClickTrackingOverlay();
}

void HLAdService::trackVideoClickOn(const Ref<HLAd>& ad, const std::optional<std::string>& placement,
                                    const Ref<HLAdViewForegroundClickTrackingProtocol>& videoView,
                                    const Ref<NSURL>&, const Ref<UIViewController>& viewController) {
    hlRequireAd(ad);
    if (Ref<HLLogManager> log = logger()) log->d(kHLClickTag, "Tracking VIDEO click on an ad...");
    if (ad->opensInStoreKit()) {
        dispatchPersistentPostbackForAd(ad, placement);
        showStoreKitControllerForAd(ad, viewController);
        return;
    }
    if (videoView) videoView->showClickTrackingOverlay();
    auto proxy = NSObject::alloc<HLAdServiceVideoPostbackProxy>()->initWithAdService(self<HLAdService>(), videoView,
                                                                                     ad, viewController);
    if (!dispatchPostbackForAd(ad, placement, proxy) && videoView) videoView->removeClickTrackingOverlay();
}

void HLAdService::launchURL(const Ref<NSURL>& url, const Ref<HLAd>& ad, const Ref<HLAdViewInternalProtocol>& adView) {
    if (!ad) return;
    if (ad->opensInStoreKit()) {
        showStoreKitControllerForAd(ad, adView);
        return;
    }
    if (adView) {
        adView->removeClickTrackingOverlay();
        hlTellClicked(adView, ad);
        if (Ref<HLInterstitialAdDismissProxy> presenter = adView->weakInterstitialDismissalDelegate())
            presenter->dismissWithCompletionHandler(nullptr);
    }
    expireLoadStateForAd(ad);
    HLUtils::openURL(url, sdk());
}

void HLAdService::launchURL(const Ref<NSURL>& url, const Ref<HLAd>& ad, const Ref<UIViewController>& viewController) {
    if (ad && ad->opensInStoreKit()) showStoreKitControllerForAd(ad, viewController);
    else HLUtils::openURL(url, sdk());
}

// ---- Click postbacks

void HLAdService::dispatchPersistentPostbackForAd(const Ref<HLAd>& ad, const std::optional<std::string>& placement) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !ad) return;
    Ref<NSURL> url = HLUtils::replacePlacementMacroInURL(ad->clickTrackingURL(), placement);
    if (!url) {
        sdk->logManager()->w(kHLClickTag, "Unable to submit persistent postback for AD #%@",
                             hlValueForLog(ad->adIdNumber()));
        return;
    }
    sdk->persistentPostbackManager()->submitPostback(url, Value());
}

bool HLAdService::dispatchPostbackForAd(const Ref<HLAd>& ad, const std::optional<std::string>& placement,
                                        const Ref<HLPostbackDelegate>& notify) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !ad) return false;
    Ref<NSURL> url = HLUtils::replacePlacementMacroInURL(ad->clickTrackingURL(), placement);
    if (!url) {
        sdk->logManager()->w(kHLClickTag, "Unable to submit postback for AD #%@", hlValueForLog(ad->adIdNumber()));
        return false;
    }
    sdk->postbackService()->dispatchPostbackAsync(
        url, Value(), static_cast<int32_t>(sdk->integerForKey(kHLClickSlotRetryCount)),
        sdk->timeIntervalForKey(kHLClickSlotRetryDelay), sdk->timeIntervalForKey(kHLClickSlotTimeout), notify);
    return true;
}

// ---- The store page

Ref<HLStoreKitProductViewController> HLAdService::createAndLoadStoreKitProductViewControllerWithAd(
    const Ref<HLAd>& ad, const Ref<HLAdViewInternalProtocol>& adView, const Ref<UIViewController>& viewController) {
    Ref<HLLogManager> log = logger();
    const auto& make = HLDisplayHooks::shared().storeKitProductViewController;
    Ref<HLStoreKitProductViewController> page = make ? make(ad, adView, viewController) : nullptr;
    if (!page) {
        if (log)
            log->e(kHLClickTag, "Unable to show the store page for AD #%@: no store page is available",
                   hlValueForLog(ad ? ad->adIdNumber() : Value()));
        return nullptr;
    }
    page->setStoreViewControllerDelegate(self<HLAdService>());
    page->loadProductWithParameters(ad ? ad->storeKitParameters() : Value(), [log](bool result, Ref<NSError> error) {
        if ((!result || error) && log)
            log->e(kHLClickTag, "Unable to load products because of: %@. Opening App Store manually",
                   error ? error->description() : std::string("nil"));
    });
    return page;
}

void HLAdService::showStoreKitControllerForAd(const Ref<HLAd>& ad, const Ref<UIViewController>& viewController) {
    Ref<HLAdService> self = this->self<HLAdService>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([self, ad, viewController] {
        Ref<HLStoreKitProductViewController> page =
            self->createAndLoadStoreKitProductViewControllerWithAd(ad, nullptr, viewController);
        if (!page || !viewController) return;
        if (auto control = std::dynamic_pointer_cast<HLApplicationControlProtocol>(viewController))
            control->appPaused(nullptr);
        viewController->presentViewController(page->viewController(), true, nullptr);
    });
}

void HLAdService::showStoreKitControllerForAd(const Ref<HLAd>& ad, const Ref<HLAdViewInternalProtocol>& adView) {
    Ref<HLAdService> self = this->self<HLAdService>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([self, ad, adView] {
        Ref<HLStoreKitProductViewController> page =
            self->createAndLoadStoreKitProductViewControllerWithAd(ad, adView, nullptr);
        if (!page) {
            if (adView) adView->removeClickTrackingOverlay();
            return;
        }
        self->handleClickForStoreKit(adView, ad, page);
    });
}

void HLAdService::handleClickForStoreKit(const Ref<HLAdViewInternalProtocol>& adView, const Ref<HLAd>& ad,
                                         const Ref<HLStoreKitProductViewController>& page) {
    if (adView) adView->removeClickTrackingOverlay();
    Ref<UIViewController> top = HLUtils::topViewControllerFromKeyWindow();
    if (!top || !page) return;
    // A store page already on screen (the top one, or presented by it).
    if (hlIsStorePage(top) || hlIsStorePage(top->presentedViewController())) return;
    if (adView) {
        if (Ref<HLInterstitialAdDismissProxy> presenter = adView->weakInterstitialDismissalDelegate())
            presenter->setDismissesOnClick(false);
        hlTellClicked(adView, ad);
    }
    top->presentViewController(page->viewController(), true, nullptr);
}

void HLAdService::productViewControllerDidFinish(const Ref<HLStoreKitProductViewController>& page,
                                                 const Ref<HLAd>& ad, const Ref<HLAdViewInternalProtocol>&,
                                                 const Ref<UIViewController>& interstitialViewController) {
    Ref<UIViewController> sheet = page ? page->viewController() : nullptr;
    if (!sheet) return;
    Weak<HLAdService> weakSelf = self<HLAdService>();
    sheet->dismissViewControllerAnimated(true, [weakSelf, ad, interstitialViewController] {
        Ref<HLAdService> self = weakSelf.lock();
        if (self && ad) self->expireLoadStateForAd(ad);
        if (auto control = std::dynamic_pointer_cast<HLApplicationControlProtocol>(interstitialViewController))
            control->appResumed(nullptr);
    });
}
