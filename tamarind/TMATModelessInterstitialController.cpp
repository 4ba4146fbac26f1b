#include "tamarind/TMATModelessInterstitialController.h"

#include <algorithm>

#include "tamarind/TMATBridgeManager.h"
#include "tamarind/TMLog.h"

namespace {

constexpr int kTMATModelessTimerLoad = 2;             // "i_tl"
constexpr int kTMATModelessTimerPrerender = 5;        // "i_pl"
constexpr int kTMATModelessTimerRender = 8;           // "i_rl"
constexpr int kTMATModelessTimerRenderFailure = 10;   // "i_rfl"
constexpr int kTMATModelessTimerShown = 12;           // "mi_sd"
constexpr int kTMATModelessCounterLoadAttempt = 102;  // "lac"
constexpr int kTMATModelessCounterAttempt = 105;      // "mi_adrc"
constexpr int kTMATModelessCounterReload = 113;       // "mi_rc"
constexpr int kTMATModelessCounterReappeared = 114;   // "mi_rac"
constexpr int kTMATModelessCounterRefused = 117;      // "mi_rrcfc"
constexpr int kTMATModelessCounterAspectRatio = 118;  // "mi_rarfc"

}  // namespace

Ref<TMATModelessInterstitialController> TMATModelessInterstitialController::adControllerWithDelegate(
    const Ref<TMATBaseAdControllerDelegate>& delegate, const Ref<UIView>& containerView) {
    return NSObject::alloc<TMATModelessInterstitialController>()->initWithDelegate(delegate, containerView);
}

Ref<TMATModelessInterstitialController> TMATModelessInterstitialController::initWithDelegate(
    const Ref<TMATBaseAdControllerDelegate>& delegate, const Ref<UIView>& containerView) {
    TMATBaseAdController::initWithDelegate(delegate);
    containerView_ = containerView;
    return self<TMATModelessInterstitialController>();
}

Ref<TMATInterstitialAdContainer> TMATModelessInterstitialController::interstitialAdContainer() const {
    return std::dynamic_pointer_cast<TMATInterstitialAdContainer>(adContainer());
}

Ref<UIScreen> TMATModelessInterstitialController::mainScreen() {
    if (!mainScreen_) mainScreen_ = UIScreen::mainScreen();
    return mainScreen_;
}

float TMATModelessInterstitialController::containerWidth() const {
    auto view = containerView();
    return view ? view->bounds().size.width : 0;
}

float TMATModelessInterstitialController::containerHeight() const {
    auto view = containerView();
    return view ? view->bounds().size.height : 0;
}

// ---- loading -------------------------------------------------------------------------------------------

void TMATModelessInterstitialController::resetProperties() {
    previousAppearances_ = numberOfAppearances_.exchange(0);
    previousFailedAttempts_ = failedAttemptsToPresent_.exchange(0);
    previousAspectRatioFailures_ = aspectRatioFailures_.exchange(0);
    prerendered_ = false;
    isDisplayed_.store(false);
    isImpressionPixelFired_ = false;
    if (auto container = interstitialAdContainer()) {
        container->removeFromSuperview();
        // Its page may still be loading: its events must not reach the next ad.
        container->setDelegate(nullptr);
    }
    setAdContainer(nullptr);
}

void TMATModelessInterstitialController::recordMetricsOnLoadAttempt() {
    auto tracker = metricTracker();
    auto model = adModel();
    // The replaced ad's counts go to its own pixel, before this load's.
    if (previousAppearances_ >= 1) {
        tracker->incrementCounter(kTMATModelessCounterReload, model);
        if (previousAppearances_ >= 2) tracker->setCounter(kTMATModelessCounterReappeared, previousAppearances_ - 1, model);
    }
    if (previousFailedAttempts_ >= 1) tracker->setCounter(kTMATModelessCounterRefused, previousFailedAttempts_, model);
    if (previousAspectRatioFailures_ >= 1)
        tracker->setCounter(kTMATModelessCounterAspectRatio, previousAspectRatioFailures_, model);
    previousAppearances_ = previousFailedAttempts_ = previousAspectRatioFailures_ = 0;
    tracker->submitMetricsForObject(model);
    tracker->incrementCounter(kTMATModelessCounterAttempt, model);
    tracker->incrementCounter(kTMATModelessCounterLoadAttempt, model);
    tracker->startTimer(kTMATModelessTimerLoad, model);
}

void TMATModelessInterstitialController::submitMetricsOnSuccess() { submitInterstitialMetricsOnSuccess(); }

void TMATModelessInterstitialController::submitMetricsOnFailure() { submitInterstitialMetricsOnFailure(); }

void TMATModelessInterstitialController::modelLoadedSuccessfully(Ref<TMAJSBridgesEnabled> bridgesEnabled) {
    auto bridges = makeInterstitialBridges(bridgesEnabled);
    auto view = containerView();
    auto container = TMATBaseAdContainer::containerWithFrame<TMATInterstitialAdContainer>(view ? view->bounds()
                                                                                               : CGRectZero);
    setAdContainer(container);
    container->setDelegate(self<TMATModelessInterstitialController>());
    container->setAllowsCloseButton(false);
    container->setUserInteractionEnabled(false);
    container->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    prerenderCreative(container, bridges);
}

// ---- prerender and render ------------------------------------------------------------------------------

void TMATModelessInterstitialController::interstitialDidPrerender() {
    prerendered_ = true;
    metricTracker()->stopTimer(kTMATModelessTimerPrerender, adModel());
    if (auto container = interstitialAdContainer()) container->render();
}

void TMATModelessInterstitialController::interstitialDidFailToPrerenderWithError(Ref<NSError> error) {
    prerendered_ = false;
    reportPrerenderFailure(error, "Modeless");
}

void TMATModelessInterstitialController::interstitialDidRender() {
    auto view = containerView();
    auto container = interstitialAdContainer();
    if (!view || !container) return failRender("The modeless interstitial's view container is gone.");
    view->addSubview(container);
    auto model = adModel();
    metricTracker()->setPixelUrl(model->instrumentationPixelUrl(), model);
    metricTracker()->stopTimer(kTMATModelessTimerRender, model);
    submitMetricsOnSuccess();
    if (auto d = delegate()) d->controllerDidLoadAd();
}

void TMATModelessInterstitialController::interstitialDidFailToRenderWithError(Ref<NSError> error) {
    failRender(error ? error->localizedDescription() : std::string("The interstitial failed to render."));
}

void TMATModelessInterstitialController::failRender(const std::string& message) {
    TMLog::logError("Modeless interstitial failed to render: %@", message);
    isDisplayed_.store(false);
    auto model = adModel();
    metricTracker()->setPixelUrl(model->instrumentationPixelUrl(), model);
    metricTracker()->stopTimer(kTMATModelessTimerRenderFailure, model);
    submitMetricsOnFailure();
    if (auto d = delegate()) d->controllerFailedToLoadAd(controllerError(message));
}

void TMATModelessInterstitialController::interstitialDidClickOnPrivateURL(const std::string& url) {
    openPrivateUrl(NSURL::URLWithString(url));
}

// ---- presented and hidden ------------------------------------------------------------------------------

bool TMATModelessInterstitialController::meetsMinimumSideLengthRequirement() {
    return containerWidth() >= kMinimumSideLength || containerHeight() >= kMinimumSideLength;
}

bool TMATModelessInterstitialController::meetsMinimumScreenPercentage() {
    CGSize screen = mainScreen()->bounds().size;
    double area = static_cast<double>(screen.width) * screen.height;
    if (!(area > 0)) return false;
    double container = static_cast<double>(containerWidth()) * containerHeight();
    return container / area >= kMinimumScreenFraction;
}

bool TMATModelessInterstitialController::meetsRatioCriteria() {
    CGSize screen = mainScreen()->bounds().size;
    double screenLonger = std::max(screen.width, screen.height);
    double width = containerWidth();
    double height = containerHeight();
    double containerLonger = std::max(width, height);
    double screenRatio = screenLonger > 0 ? std::min(screen.width, screen.height) / screenLonger : 0;
    double containerRatio = containerLonger > 0 ? std::min(width, height) / containerLonger : 0;
    if (containerRatio >= screenRatio) return true;
    TMLog::logInfo("The modeless interstitial's view container's aspect ratio is less than the screen aspect ratio.");
    aspectRatioFailures_.fetch_add(1);
    return false;
}

bool TMATModelessInterstitialController::onPresented() {
    failedAttemptsToPresent_.fetch_add(1);
    auto container = interstitialAdContainer();
    if (auto view = containerView(); container && view) container->setFrame(view->bounds());
    if (!container) {
        TMLog::logError("The modeless interstitial has not been loaded. Calling onPresented ignored.");
        return false;
    }
    if (adModel()->adExpired()) {
        TMLog::logError("The modeless interstitial has expired. Calling onPresented ignored.");
        if (auto d = delegate()) d->adHasExpired();
        return false;
    }
    if (!container->containedInScreenBounds()) {
        TMLog::logError("The modeless interstitial is not fully presented on screen. Calling onPresented ignored.");
        return false;
    }
    if (!meetsMinimumSideLengthRequirement()) {
        TMLog::logError("One side of the modeless interstitial's view container must be at least 380 points. "
                        "Calling onPresented ignored.");
        return false;
    }
    if (!meetsMinimumScreenPercentage()) {
        TMLog::logError("The modeless interstitial's view container size must be at least 75% of the area of the "
                        "screen size. Calling onPresented ignored.");
        return false;
    }
    meetsRatioCriteria();
    if (!isDisplayed())
        numberOfAppearances_.fetch_add(1);
    else
        TMLog::logInfo("The modeless interstitial is already presented.");
    metricTracker()->startTimer(kTMATModelessTimerShown, adModel());
    if (!isImpressionPixelFired_) {
        fireImpressionPixel();
        isImpressionPixelFired_ = true;
    }
    container->setUserInteractionEnabled(true);
    isDisplayed_.store(true);
    TMLog::logDebug("Change Ad from Hidden to Presented");
    failedAttemptsToPresent_.fetch_sub(1);
    return true;
}

void TMATModelessInterstitialController::onHidden() {
    if (!isDisplayed()) {
        TMLog::logError("The modeless interstitial is already hidden. Calling onHidden ignored.");
        return;
    }
    auto model = adModel();
    metricTracker()->stopTimer(kTMATModelessTimerShown, model);
    metricTracker()->submitMetricsForObject(model);
    if (auto container = interstitialAdContainer()) container->setUserInteractionEnabled(false);
    isDisplayed_.store(false);
    TMLog::logDebug("Changed Ad from Presented to Hidden");
}
