// A template interstitial shown full screen: after the model has loaded an ad
// the creative is prerendered off screen in the container of a new
// TMATInterstitialAdViewController, the load is reported once the page has
// finished, and presentFromViewController renders it, fires the impression
// pixel and presents it modally; the native close button dismisses it, and
// its area stays tappable whatever the creative does to the button. A
// dismissal made by anyone else ends the presentation the same way. At
// most one modal interstitial shows in the process (the showing flag every
// controller reads). A shown interstitial keeps its controller alive and
// refuses new loads until it is dismissed; a presentation the client's
// controller cannot make (not on screen, already presenting) is a render
// failure. Metrics (the model is their key): load attempt counters 104
// "i_adrc" and 102 "lac", timers 2 "i_tl", 5 "i_pl", 8 "i_rl", 11 "i_sd".
// Main thread.
#pragma once

#include <atomic>

#include "tamarind/TMATBaseAdController.h"
#include "tamarind/TMATInterstitialAdViewController.h"

class TMATModalInterstitialController : public TMATBaseAdController, public TMATInterstitialAdContainerDelegate {
public:
    static Ref<TMATModalInterstitialController> adControllerWithDelegate(
        const Ref<TMATBaseAdControllerDelegate>& delegate) {
        return TMATBaseAdController::adControllerWithDelegate<TMATModalInterstitialController>(delegate);
    }

    // Loaded, prerendered, not expired and no interstitial showing (each
    // refusal logged).
    bool isReady();
    // Renders and presents the prerendered ad over the controller; refused
    // (logged) without a controller or when not ready.
    void presentFromViewController(const Ref<UIViewController>& viewController);
    // The interstitial's own view controller: what the creative opens shows over it.
    Ref<UIViewController> viewControllerForPresentingModalView() override;
    // The process-wide showing flag.
    static bool isAnyInterstitialDisplayed();

    // ---- TMATBaseAdController ----
    int adType() override { return 1; }
    bool handlesAdCreativeType(int creativeType) override { return creativeType == 3; }
    bool isControllerReadyToLoadAd() override { return !isDisplayed() && !prerendered_; }
    // Refused while the ad shows: the visible ad's close must keep working.
    bool acceptsNewLoad() override;
    // Clears the flags and lets go of an ad not shown (its late page events go nowhere).
    void resetProperties() override;
    void recordMetricsOnLoadAttempt() override;
    void submitMetricsOnSuccess() override;
    void submitMetricsOnFailure() override;
    // Makes the bridges (MRAID placement interstitial) and a new view
    // controller whose container prerenders the creative with the slot id.
    void modelLoadedSuccessfully(Ref<TMAJSBridgesEnabled> bridgesEnabled) override;

    // ---- TMATInterstitialAdContainerDelegate ----
    void interstitialDidPrerender() override;
    void interstitialDidFailToPrerenderWithError(Ref<NSError> error) override;
    // Impression pixel, willPresent, the presentation, didPresent; a
    // presentation the client's controller cannot make fails the render.
    void interstitialDidRender() override;
    void interstitialDidFailToRenderWithError(Ref<NSError> error) override;
    void interstitialDidClickOnPrivateURL(const std::string& url) override;
    // willDismiss, the animated dismissal (the container goes when it ends),
    // and at once the clean-up and didDismiss. Ignored when nothing shows.
    void closeButtonPressed() override;
    // Its screen was dismissed by someone else: willDismiss, the clean-up
    // and didDismiss, as the close button. Ignored when `screen` is not the
    // one that shows.
    void interstitialScreenDidGo(const Ref<TMATInterstitialAdViewController>& screen);
    PLATFORM_RESPONDS_TO("closeButtonPressed")

    // ---- state ----
    bool prerendered() const override { return prerendered_; }
    bool isDisplayed() const override { return isDisplayed_.load(); }
    Ref<TMATInterstitialAdViewController> interstitialAdViewController() const { return interstitialAdViewController_; }
    Ref<UIViewController> clientViewController() const { return clientViewController_.lock(); }

private:
    // Why the client's controller cannot present the interstitial now ("" when it can).
    std::string presentationRefusal(const Ref<UIViewController>& client) const;
    // The refused or failed render: flags cleared, metrics, the delegate told.
    void failRender(const std::string& message);
    // The close of the shown screen, dismissing it when `dismiss`.
    void endPresentation(bool dismiss);
    // The presentation is over (closed or failed): the process-wide flag
    // cleared, the shown controller and the keep-alive let go, the
    // properties reset. The caller holds the controller meanwhile.
    void endShowing();

    bool prerendered_ = false;
    std::atomic<bool> isDisplayed_{false};
    Ref<TMATInterstitialAdViewController> interstitialAdViewController_;
    Weak<UIViewController> clientViewController_;
    // The view controller actually presented, for the close.
    Ref<TMATInterstitialAdViewController> presentedAdViewController_;
    // Set while the ad shows: the publisher may drop its ad object meanwhile.
    Ref<TMATModalInterstitialController> keepAlive_;
};
