#include "tamarind/TMATAdModel.h"

#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"
#include "tamarind/TMAAdRequestBuilder.h"
#include "tamarind/TMAJSONUtil.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMLog.h"
#include "tamarind/TMSISClient.h"

namespace {
constexpr int kTMATTimerAdLoad = 0;        // "al"
constexpr int kTMATTimerPrerender = 5;     // "i_pl"
constexpr int kTMATCounterLoadFailed = 100;  // "alf"
constexpr int kTMATCounterNoRetry = 101;     // "ttl"
}  // namespace

Ref<TMATAdModel> TMATAdModel::defaultModel() {
    auto model = NSObject::alloc<TMATAdModel>();
    model->reset();
    return model;
}

void TMATAdModel::reset() {
    slotID_.reset();
    htmlContent_.reset();
    impressionPixelUrl_.reset();
    instrumentationPixelUrl_.reset();
    expirationDateTime_ = 0;
    creativeType_ = 0;
    loadStatus_.store(TMATLoadStatusNoAd);
}

Ref<TMAdConfiguration> TMATAdModel::sharedConfiguration() {
    if (!sharedConfiguration_) sharedConfiguration_ = TMAdConfiguration::sharedAMAdConfiguration();
    return sharedConfiguration_;
}

Ref<TMAMetricManager> TMATAdModel::metricManager() {
    if (!metricManager_) metricManager_ = TMAMetricManager::sharedAMAMetricManager();
    return metricManager_;
}

Ref<TMMetricTracker> TMATAdModel::tracker() { return sharedConfiguration()->metricTracker(); }

double TMATAdModel::now() const {
    return date_ ? date_->timeIntervalSinceReferenceDate() : NSDate::date().timeIntervalSinceReferenceDate();
}

bool TMATAdModel::adExpired() const { return expirationDateTime_ > 0 && now() > expirationDateTime_; }

// ---- the load -------------------------------------------------------------------------------

void TMATAdModel::loadWithOptions(const Ref<TamarindAdOptions>& options, const std::string& size,
                                  const std::optional<std::string>& adViewSize, const Ref<NSObject>& adView) {
    if (auto delegate = delegate_.lock()) delegate->recordMetricsOnLoadAttempt();
    if (invalidApplicationId() || noRetryForTTL() || invalidSizeRequest(size, adViewSize)) return;
    extractSpecialAdvTargetingOptions(options);

    Weak<TMATAdModel> weak = self<TMATAdModel>();
    sharedConfiguration()->bootstrapConfigurationOnSuccess(
        [weak, options, size, adViewSize, adView] {
            auto model = weak.lock();
            if (!model) return;
            NSObject::alloc<TMSISClient>()->init()->bootstrapDevice();
            Ref<NSError> error;
            auto request = TMAAdRequestBuilder::adRequestBuilder()->adRequestWithOptions(options, size, adViewSize,
                                                                                       adView, &error);
            if (!request) {
                // As the builder made it; the status is not touched.
                if (auto delegate = model->delegate()) delegate->modelFailedToLoadWithError(error);
                return;
            }
            model->loadAdWithRequest(request);
        },
        [weak](Ref<NSError> error) {
            if (auto model = weak.lock())
                model->failBeforeRequest(NSString::stringWithFormat("Failed to load configuration. %@",
                                                                    error ? error->localizedDescription() : ""),
                                         2);
        });
}

bool TMATAdModel::invalidApplicationId() {
    auto applicationId = sharedConfiguration()->retrieveApplicationId();
    if (applicationId && !applicationId->empty()) return false;
    failBeforeRequest(NSString::stringWithFormat("Invalid application Id - %@.", applicationId), 0);
    return true;
}

bool TMATAdModel::noRetryForTTL() {
    double remaining = sharedConfiguration()->remainingNoRetryTTLSeconds();
    if (remaining <= 0) return false;
    failBeforeRequest(
        NSString::stringWithFormat("Load ad velocity limit reached. Try again in %f seconds.", remaining), 0);
    return true;
}

bool TMATAdModel::invalidSizeRequest(const std::string& size, const std::optional<std::string>& containerSize) {
    if (size == "interstitial") return false;
    std::string chosen = size == "auto" ? containerSize.value_or("") : size;
    CGSize parsed = TMAdConfiguration::getParsedSizeString(chosen);
    const char* side = parsed.width == 0 ? "width" : parsed.height == 0 ? "height" : nullptr;
    if (!side) return false;
    failBeforeRequest(NSString::stringWithFormat("Invalid %@ of 0", side), 0);
    return true;
}

void TMATAdModel::extractSpecialAdvTargetingOptions(const Ref<TamarindAdOptions>& options) {
    if (!options) return;
    const Value& slot = options->advancedOptions()[TMAWire::kSlotIdOption];
    if (!slot.isNull()) slotID_ = slot.stringValue();
}

bool TMATAdModel::canLoadAdAndSetStatus() {
    PLATFORM_SYNCHRONIZED(*this);
    std::string who = className();
    std::string address = TMLog::pointerText(this);
    if (loadStatus_.load() == TMATLoadStatusLoading) {
        TMLog::logError("%@ (%@) is already loading an ad. Wait for previous load to finish.", who, address);
        return false;
    }
    auto delegate = delegate_.lock();
    if (delegate && delegate->isControllerReadyToLoadAd()) {
        loadStatus_.store(TMATLoadStatusLoading);
        return true;
    }
    TMLog::logInfo("%@ (%@) already has an ad ready. Ignored the ad load request.", who, address);
    return false;
}

void TMATAdModel::loadAdWithRequest(const Ref<TMAWebRequest>& request) {
    if (!request || !canLoadAdAndSetStatus()) return;
    expirationDateTime_ = 0;
    tracker()->startTimer(kTMATTimerAdLoad, self<NSObject>());
    request->setDelegate(self<TMATAdModel>());
    request->makeCall();
    TMLog::logInfo("%@ (%@) fired initial ad request.\nAd Request URL %@ %@\nHttp headers %@\nHttp body%@", className(),
                   TMLog::pointerText(this), request->httpMethod(),
                   platform::urlForLog(request->urlString().value_or("(null)")),
                   platform::shortenedForLog(TMAJSONUtil::jsonStringFromObject(request->headers()).value_or("{}")),
                   platform::shortenedForLog(request->requestBodyString().value_or("(null)")));
}

// ---- the answer --------------------------------------------------------------------------------

void TMATAdModel::responseReceived(Ref<TMAWebResponse> response) {
    TMLog::logInfo("%@ (%@) received valid response from TMX server.", className(), TMLog::pointerText(this));
    loadAdDidFinishWithWebRequest(response);
}

void TMATAdModel::errorReceived(Ref<NSError> error, int64_t statusCode) { loadAdDidFailWithWebRequest(error, statusCode); }

void TMATAdModel::loadAdDidFinishWithWebRequest(const Ref<TMAWebResponse>& response) {
    auto self = this->self<NSObject>();
    tracker()->stopTimer(kTMATTimerAdLoad, self);
    auto content = NSObject::alloc<TMAdContent>()->initWithWebResponse(response);
    impressionPixelUrl_ = content->impressionPixelURL();
    instrumentationPixelUrl_ = content->pixelURL();
    tracker()->setPixelUrl(instrumentationPixelUrl_, self);
    auto delegate = delegate_.lock();
    if (content->validAdContent() && delegate && delegate->handlesAdCreativeType(content->creativeType()))
        handleValidAdContent(content);
    else
        handleInvalidAdContent(content);
}

void TMATAdModel::loadAdDidFailWithWebRequest(const Ref<NSError>& error, int64_t statusCode) {
    if (error) {
        errorHandler(error->localizedDescription(), error->code());
        return;
    }
    // An answer other than 200 carries no error object: its status is the code.
    errorHandler(NSString::stringWithFormat("The ad server answered with HTTP status %lld.", statusCode), statusCode);
}

void TMATAdModel::handleValidAdContent(const Ref<TMAdContent>& content) {
    htmlContent_ = content->creativeContent();
    creativeType_ = content->creativeType();
    bridgesEnabled_ = content->bridgesEnabled();
    impressionPixelUrl_ = content->impressionPixelURL();
    if (!impressionPixelUrl_ || impressionPixelUrl_->empty()) {
        errorHandler("No impression pixel is returned from TMX", 2);
        return;
    }
    if (content->cacheTTL() >= 1) expirationDateTime_ = now() + static_cast<double>(content->cacheTTL());
    auto delegate = delegate_.lock();
    if (delegate && delegate->adType() == 1) tracker()->startTimer(kTMATTimerPrerender, self<NSObject>());
    auto metrics = metricManager();
    metrics->fireMetric("MobileAdsiOSSDK_", metrics->resourcePrefixATS(), "LoadAd_");
    loadStatus_.store(TMATLoadStatusLoaded);
    if (delegate) delegate->modelLoadedSuccessfully(bridgesEnabled_);
}

void TMATAdModel::handleInvalidAdContent(const Ref<TMAdContent>& content) {
    tracker()->incrementCounter(kTMATCounterLoadFailed, self<NSObject>());
    int64_t code = content->errorType();
    std::string message = errorMessage(code);
    auto delegate = delegate_.lock();
    if (code == 0 && !(delegate && delegate->handlesAdCreativeType(content->creativeType()))) {
        code = 2;
        message = "Creative type cannot be handled by this ad view.";
    }
    if (content->noretryTTL() >= 1) message = handleNoRetryTTL(content);
    TMLog::logInfo("%@ (%@) failed to get a valid response from TMX server. Error: %@. Code: %d", className(),
                   TMLog::pointerText(this), message, code);
    errorHandler(message, code);
}

std::string TMATAdModel::handleNoRetryTTL(const Ref<TMAdContent>& content) {
    auto configuration = sharedConfiguration();
    if (configuration->remainingNoRetryTTLSeconds() <= 0) {
        configuration->setExchangeNoRetryTTLTimestamp(now());
        configuration->setNoretryTTLSeconds(static_cast<int>(content->noretryTTL()));
        tracker()->incrementCounter(kTMATCounterNoRetry, self<NSObject>());
    }
    return NSString::stringWithFormat("Try again in %f seconds.", configuration->remainingNoRetryTTLSeconds());
}

std::string TMATAdModel::errorMessage(int64_t code) {
    switch (code) {
        case 0: return "An invalid request was sent.";
        case 1: return "Ad not found.";
        case 2: return "An internal server error occurred.";
        case 3: return "Network connection error.";
        default: return "";
    }
}

// ---- failing -------------------------------------------------------------------------------------

void TMATAdModel::errorHandler(const std::string& message, int64_t code) { fail(message, code, false); }

void TMATAdModel::failBeforeRequest(const std::string& message, int64_t code) { fail(message, code, true); }

void TMATAdModel::fail(const std::string& message, int64_t code, bool keepLoadInFlight) {
    TMLog::logError("%@", platform::shortenedForLog(message));
    auto error = NSError::errorWithDomain(kTMAAdModelErrorDomain, code,
                                          Value::dictionary({{NSLocalizedDescriptionKey, message}}));
    if (!(keepLoadInFlight && loadStatus_.load() == TMATLoadStatusLoading)) loadStatus_.store(TMATLoadStatusNoAd);
    if (auto delegate = delegate_.lock()) delegate->modelFailedToLoadWithError(error);
}
