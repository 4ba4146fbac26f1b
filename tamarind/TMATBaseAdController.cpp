#include "tamarind/TMATBaseAdController.h"

#include "platform/runtime/Log.h"
#include "tamarind/TMATBridgeManager.h"
#include "tamarind/TMATInterstitialAdContainer.h"
#include "tamarind/TMAWebRequestFactory.h"
#include "tamarind/TMLog.h"

namespace {

struct TMATFailureMetric {
    int64_t code;
    int counter;
    const char* suffix;
};
constexpr TMATFailureMetric kTMATFailureMetrics[] = {
    {-1001, 109, "LoadAdNetworkTimeout_"},
    {0, 111, "LoadAdRequestError_"},
    {1, 107, "LoadAdNoFill_"},
    {2, 110, "LoadAdInternalError_"},
};
constexpr TMATFailureMetric kTMATOtherFailure = {0, 108, "LoadAdNetworkError_"};

const TMATFailureMetric& failureMetricFor(int64_t code) {
    for (const auto& row : kTMATFailureMetrics)
        if (row.code == code) return row;
    return kTMATOtherFailure;
}

}  // namespace

Ref<TMATBaseAdController> TMATBaseAdController::initWithDelegate(const Ref<TMATBaseAdControllerDelegate>& delegate) {
    resetProperties();
    delegate_ = delegate;
    return self<TMATBaseAdController>();
}

// ---- accessors ------------------------------------------------------------------------------------

Ref<TMAdConfiguration> TMATBaseAdController::sharedConfiguration() {
    PLATFORM_SYNCHRONIZED(*this);
    if (!sharedConfiguration_) sharedConfiguration_ = TMAdConfiguration::sharedAMAdConfiguration();
    return sharedConfiguration_;
}

Ref<TMATAdModel> TMATBaseAdController::adModel() {
    PLATFORM_SYNCHRONIZED(*this);
    if (!adModel_) {
        adModel_ = TMATAdModel::defaultModel();
        adModel_->setDelegate(self<TMATBaseAdController>());
    }
    return adModel_;
}

void TMATBaseAdController::setAdModel(const Ref<TMATAdModel>& model) {
    PLATFORM_SYNCHRONIZED(*this);
    adModel_ = model;
}

Ref<TMATBrowsingController> TMATBaseAdController::browsingController() {
    if (!browsingController_) {
        auto self = this->self<TMATBaseAdController>();
        browsingController_ = NSObject::alloc<TMATBrowsingController>()->initWithAdController(self);
        browsingController_->setDelegate(self);
    }
    return browsingController_;
}

Ref<TMAMetricManager> TMATBaseAdController::metricManager() {
    if (!metricManager_) metricManager_ = TMAMetricManager::sharedAMAMetricManager();
    return metricManager_;
}

std::optional<std::string> TMATBaseAdController::instrumentationPixelUrl() { return adModel()->instrumentationPixelUrl(); }

Ref<TMMetricTracker> TMATBaseAdController::metricTracker() { return sharedConfiguration()->metricTracker(); }

// ---- loading ---------------------------------------------------------------------------------------

void TMATBaseAdController::loadWithOptions(const Ref<TamarindAdOptions>& options, const std::string& size,
                                           const Ref<NSObject>& ad) {
    loadWithOptions(options, size, std::nullopt, ad);
}

void TMATBaseAdController::loadWithOptions(const Ref<TamarindAdOptions>& options, const std::string& size,
                                           const std::optional<std::string>& containerSize, const Ref<NSObject>& ad) {
    if (!acceptsNewLoad()) return;
    resetProperties();
    adModel()->loadWithOptions(options, size, containerSize, ad);
}

void TMATBaseAdController::modelFailedToLoadWithError(Ref<NSError> error) {
    int64_t code = error ? error->code() : 0;
    recordMetricOnLoadAdFailure(code);
    metricTracker()->incrementCounter(retrieveLoadAdFailureMetricName(code), adModel());
    submitMetricsOnFailure();
    if (auto delegate = delegate_.lock()) delegate->controllerFailedToLoadAd(error);
}

int TMATBaseAdController::retrieveLoadAdFailureMetricName(int64_t errorCode) const {
    return failureMetricFor(errorCode).counter;
}

void TMATBaseAdController::recordMetricOnLoadAdFailure(int64_t errorCode) {
    metricManager()->fireMetric("MobileAdsiOSSDK_", "Failure_", failureMetricFor(errorCode).suffix);
}

// ---- pixels, presenting, clicks ------------------------------------------------------------------

void TMATBaseAdController::fireImpressionPixel() {
    auto pixel = adModel()->impressionPixelUrl();
    if (!pixel || pixel->empty()) return;
    auto request = TMAWebRequestFactory::initJSONGetWebRequest();
    request->setUrlString(pixel);
    request->makeCallWithCompletionBlock([sent = *pixel](Ref<TMAWebResponse>, Ref<NSError> error, int64_t status) {
        if (error)
            TMLog::logError("Failed to fire impression pixel with error %@", error->localizedDescription());
        else if (status != 200)
            TMLog::logError("Failed to fire impression pixel with error HTTP status %lld", status);
        else
            TMLog::logInfo("Impression pixel was successfully fired. %@", platform::urlForLog(sent));
    });
}

Ref<UIViewController> TMATBaseAdController::viewControllerForPresentingModalView() {
    auto delegate = delegate_.lock();
    if (delegate && delegate->respondsToSelector("viewControllerForPresentingModalView"))
        return delegate->viewControllerForPresentingModalView();
    TMLog::logError("viewControllerForPresentingModalView delegate method not implemented");
    return nullptr;
}

bool TMATBaseAdController::openUrlLink(const Ref<NSURL>& url, bool useExternal) {
    return browsingController()->openBrowserWithUrl(url, useExternal);
}

void TMATBaseAdController::openPrivateUrl(Ref<NSURL>) {}

// ---- abstract operations --------------------------------------------------------------------------

void TMATBaseAdController::logAbstractCall(const char* selector) const {
    TMLog::logError("%@ called from the base class %@", className(), selector);
}

void TMATBaseAdController::modelLoadedSuccessfully(Ref<TMAJSBridgesEnabled>) {
    logAbstractCall("modelLoadedSuccessfully:");
}
bool TMATBaseAdController::handlesAdCreativeType(int) {
    logAbstractCall("handlesAdCreativeType:");
    return false;
}
void TMATBaseAdController::recordMetricsOnLoadAttempt() { logAbstractCall("recordMetricsOnLoadAttempt"); }
int TMATBaseAdController::adType() {
    logAbstractCall("adType");
    return 2;
}
bool TMATBaseAdController::isControllerReadyToLoadAd() {
    logAbstractCall("isControllerReadyToLoadAd");
    return false;
}
void TMATBaseAdController::submitMetricsOnSuccess() { logAbstractCall("submitMetricsOnSuccess"); }
void TMATBaseAdController::submitMetricsOnFailure() { logAbstractCall("submitMetricsOnFailure"); }

std::string TMATBaseAdController::presenterRefusal(const Ref<UIViewController>& presenter, const std::string& name) {
    if (!presenter->isViewLoaded() || !presenter->view()->window()) return name + " is not on screen";
    if (auto shown = presenter->presentedViewController()) return name + " already presents " + shown->className();
    return "";
}

// ---- shared by the interstitial controllers -------------------------------------------------------

void TMATBaseAdController::submitInterstitialMetricsOnSuccess() {
    metricTracker()->stopTimer(2, adModel());
    metricTracker()->submitMetricsForObject(adModel());
}

void TMATBaseAdController::submitInterstitialMetricsOnFailure() {
    auto tracker = metricTracker();
    auto model = adModel();
    tracker->stopTimer(4, model);
    tracker->incrementCounter(106, model);
    tracker->submitMetricsForObject(model);
}

Ref<TMATBridgeManager> TMATBaseAdController::makeInterstitialBridges(const Ref<TMAJSBridgesEnabled>& bridgesEnabled) {
    auto bridges = TMATBridgeManager::bridgeManager(bridgesEnabled, self<TMATBaseAdController>());
    if (auto mraid = bridges->mraidBridge()) mraid->setPlacementType(TMATMraidPlacementTypeInterstitial);
    setBridgeManager(bridges);
    return bridges;
}

void TMATBaseAdController::prerenderCreative(const Ref<TMATInterstitialAdContainer>& container,
                                             const Ref<TMATBridgeManager>& bridges) {
    auto model = adModel();
    container->setSlotID(model->slotID().value_or(""));
    container->prerenderHtml(model->htmlContent().value_or(""), bridges);
}

Ref<NSError> TMATBaseAdController::controllerError(const std::string& description) {
    return NSError::errorWithDomain(kTMAAdControllerErrorDomain, 2,
                                    Value::dictionary({{NSLocalizedDescriptionKey, description}}));
}

void TMATBaseAdController::reportPrerenderFailure(const Ref<NSError>& error, const char* kind) {
    metricTracker()->stopTimer(6, adModel());
    submitMetricsOnFailure();
    adModel()->reset();
    auto failure =
        controllerError(error ? error->localizedDescription() : std::string("The interstitial page failed to load."));
    TMLog::logError("%@ interstitial failed to prerender: %@", kind, failure->localizedDescription());
    if (auto d = delegate()) d->controllerFailedToLoadAd(failure);
}
