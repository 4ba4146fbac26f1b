#include "tamarind/TMATModalInterstitialController.h"

#include "tamarind/TMATBridgeManager.h"
#include "tamarind/TMLog.h"

namespace {

// Set while a modal interstitial shows; written on the main thread only.
std::atomic<bool> gTMATModalInterstitialShowing{false};

constexpr int kTMATModalTimerLoad = 2;            // "i_tl"
constexpr int kTMATModalTimerPrerender = 5;       // "i_pl"
constexpr int kTMATModalTimerRender = 8;          // "i_rl"
constexpr int kTMATModalTimerRenderFailure = 10;  // "i_rfl"
constexpr int kTMATModalTimerShown = 11;          // "i_sd"
constexpr int kTMATModalCounterAttempt = 104;     // "i_adrc"
constexpr int kTMATModalCounterLoadAttempt = 102; // "lac"

}  // namespace

bool TMATModalInterstitialController::isAnyInterstitialDisplayed() { return gTMATModalInterstitialShowing.load(); }

Ref<UIViewController> TMATModalInterstitialController::viewControllerForPresentingModalView() {
    return interstitialAdViewController_;
}

// ---- loading -------------------------------------------------------------------------------------------

bool TMATModalInterstitialController::acceptsNewLoad() {
    if (!isDisplayed()) return true;
    TMLog::logInfo("%@ (%@) is showing an ad. Ignored the ad load request.", className(), TMLog::pointerText(this));
    return false;
}

void TMATModalInterstitialController::resetProperties() {
    isDisplayed_.store(false);
    prerendered_ = false;
    // An ad that is not shown is let go: a page still loading off screen
    // must not report into the next load.
    if (interstitialAdViewController_ && interstitialAdViewController_ != presentedAdViewController_) {
        if (auto container = interstitialAdViewController_->interstitialAdContainer()) container->setDelegate(nullptr);
        interstitialAdViewController_.reset();
    }
}

void TMATModalInterstitialController::recordMetricsOnLoadAttempt() {
    auto tracker = metricTracker();
    auto model = adModel();
    tracker->incrementCounter(kTMATModalCounterAttempt, model);
    tracker->incrementCounter(kTMATModalCounterLoadAttempt, model);
    tracker->startTimer(kTMATModalTimerLoad, model);
}

void TMATModalInterstitialController::submitMetricsOnSuccess() { submitInterstitialMetricsOnSuccess(); }

void TMATModalInterstitialController::submitMetricsOnFailure() { submitInterstitialMetricsOnFailure(); }

void TMATModalInterstitialController::modelLoadedSuccessfully(Ref<TMAJSBridgesEnabled> bridgesEnabled) {
    auto bridges = makeInterstitialBridges(bridgesEnabled);
    interstitialAdViewController_ =
        TMATInterstitialAdViewController::alloc()->initWithDelegate(self<TMATModalInterstitialController>());
    auto container = interstitialAdViewController_->interstitialAdContainer();
    // The user keeps a close control whatever the creative does with the button.
    container->setKeepsCloseArea(true);
    container->setAllowsCloseButton(true);
    container->setUsesCustomCloseButton(false);
    prerenderCreative(container, bridges);
}

// ---- prerender -----------------------------------------------------------------------------------------

void TMATModalInterstitialController::interstitialDidPrerender() {
    prerendered_ = true;
    metricTracker()->stopTimer(kTMATModalTimerPrerender, adModel());
    submitMetricsOnSuccess();
    if (auto d = delegate()) d->controllerDidLoadAd();
}

void TMATModalInterstitialController::interstitialDidFailToPrerenderWithError(Ref<NSError> error) {
    prerendered_ = false;
    reportPrerenderFailure(error, "Modal");
}

// ---- presenting ----------------------------------------------------------------------------------------

bool TMATModalInterstitialController::isReady() {
    auto model = adModel();
    if (model->loadStatus() != TMATLoadStatusLoaded || !prerendered_) {
        TMLog::logError(
            "Interstitial is not ready. Load interstitial or wait for the load to finish if already loading.");
        return false;
    }
    if (isAnyInterstitialDisplayed()) {
        TMLog::logError("Interstitial is already showing. Skipped presenting the interstitial.");
        return false;
    }
    if (model->adExpired()) {
        TMLog::logError("Interstitial has expired. Please load a new one.");
        return false;
    }
    return true;
}

void TMATModalInterstitialController::presentFromViewController(const Ref<UIViewController>& viewController) {
    if (!viewController) {
        TMLog::logError(
            "Cannot render interstitial. No client view controller is supplied for rendering the interstitial.");
        return;
    }
    if (!isReady()) return;
    auto model = adModel();
    metricTracker()->setPixelUrl(model->instrumentationPixelUrl(), model);
    metricTracker()->startTimer(kTMATModalTimerRender, model);
    clientViewController_ = viewController;
    gTMATModalInterstitialShowing.store(true);
    isDisplayed_.store(true);
    presentedAdViewController_ = interstitialAdViewController_;
    keepAlive_ = self<TMATModalInterstitialController>();
    interstitialAdViewController_->interstitialAdContainer()->render();
}

std::string TMATModalInterstitialController::presentationRefusal(const Ref<UIViewController>& client) const {
    if (!client) return "the client view controller is gone";
    std::string refusal = presenterRefusal(client, "the client view controller");
    if (refusal.empty() && !presentedAdViewController_) return "the interstitial has no view controller";
    return refusal;
}

void TMATModalInterstitialController::interstitialDidRender() {
    auto client = clientViewController();
    // Checked before anything is counted: a presentation UIKit would refuse
    // must not leave the showing flag set for good.
    std::string refusal = presentationRefusal(client);
    if (!refusal.empty()) return failRender("The interstitial cannot be presented: " + refusal + ".");
    fireImpressionPixel();
    auto model = adModel();
    metricTracker()->setPixelUrl(model->instrumentationPixelUrl(), model);
    metricTracker()->stopTimer(kTMATModalTimerRender, model);
    if (auto d = delegate()) d->controllerWillPresentAd();
    Weak<TMATModalInterstitialController> weak = self<TMATModalInterstitialController>();
    Weak<TMATInterstitialAdViewController> screen = presentedAdViewController_;
    presentedAdViewController_->setDismissalHandler([weak, screen] {
        auto controller = weak.lock();
        auto shown = screen.lock();
        if (controller && shown) controller->interstitialScreenDidGo(shown);
    });
    client->presentViewController(presentedAdViewController_, true, nullptr);
    if (client->presentedViewController() != presentedAdViewController_)
        return failRender("The interstitial cannot be presented: the presentation was refused.");
    metricTracker()->startTimer(kTMATModalTimerShown, model);
    if (auto d = delegate()) d->controllerDidPresentAd();
}

void TMATModalInterstitialController::interstitialDidFailToRenderWithError(Ref<NSError> error) {
    failRender(error ? error->localizedDescription() : std::string("The interstitial failed to render."));
}

void TMATModalInterstitialController::failRender(const std::string& message) {
    // Held until the delegate has heard: it may drop its last reference.
    auto keep = self<TMATModalInterstitialController>();
    auto failure = controllerError(message);
    TMLog::logError("Modal interstitial failed to render: %@", message);
    auto model = adModel();
    metricTracker()->setPixelUrl(model->instrumentationPixelUrl(), model);
    metricTracker()->stopTimer(kTMATModalTimerRenderFailure, model);
    endShowing();
    submitMetricsOnFailure();
    if (auto d = delegate()) d->controllerFailedToLoadAd(failure);
}

void TMATModalInterstitialController::interstitialDidClickOnPrivateURL(const std::string& url) {
    openPrivateUrl(NSURL::URLWithString(url));
}

// ---- closing -------------------------------------------------------------------------------------------

void TMATModalInterstitialController::closeButtonPressed() {
    if (!isDisplayed() || !presentedAdViewController_) {
        TMLog::logInfo("The interstitial is not shown; the close button is ignored.");
        return;
    }
    endPresentation(true);
}

void TMATModalInterstitialController::interstitialScreenDidGo(const Ref<TMATInterstitialAdViewController>& screen) {
    if (!isDisplayed() || screen != presentedAdViewController_) return;
    TMLog::logInfo("The interstitial was dismissed by someone else; its presentation ends.");
    endPresentation(false);
}

void TMATModalInterstitialController::endPresentation(bool dismiss) {
    auto keep = self<TMATModalInterstitialController>();
    auto shown = presentedAdViewController_;
    if (auto d = delegate()) d->controllerWillDismissAd();
    if (dismiss) {
        // The screen lets go of its container when the dismissal has ended.
        if (auto presenter = shown->presentingViewController())
            presenter->dismissViewControllerAnimated(true, nullptr);
        else
            shown->releaseInterstitialAdContainer();
    }
    auto model = adModel();
    metricTracker()->stopTimer(kTMATModalTimerShown, model);
    metricTracker()->submitMetricsForObject(model);
    endShowing();
    model->reset();
    if (auto d = delegate()) d->controllerDidDismissAd();
}

void TMATModalInterstitialController::endShowing() {
    gTMATModalInterstitialShowing.store(false);
    if (presentedAdViewController_) presentedAdViewController_->setDismissalHandler(nullptr);
    presentedAdViewController_.reset();
    keepAlive_.reset();
    resetProperties();
}
