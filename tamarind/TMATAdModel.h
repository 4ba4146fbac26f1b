// The template renderer's ad model: loads one ad from the ad server (checks
// in order: application key, no-retry period, size, configuration, then the
// request), reads the answer and keeps the loaded ad: creative, type,
// bridges, pixels and expiry. Every failure but a refused load (one already
// in flight, or an ad the controller still holds) reaches the delegate once.
// Main thread; the load status may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSError.h"
#include "tamarind/TMAJSBridgesEnabled.h"
#include "tamarind/TMAMetricManager.h"
#include "tamarind/TMAWebRequest.h"
#include "tamarind/TMAdConfiguration.h"
#include "tamarind/TMAdContent.h"
#include "tamarind/TamarindAdOptions.h"

inline constexpr const char* kTMAAdModelErrorDomain = "TMAAdModelError";

enum TMATLoadStatus : int { TMATLoadStatusNoAd = 0, TMATLoadStatusLoading = 1, TMATLoadStatusLoaded = 2 };

// The owning controller. Main thread (the checks before the request may run
// on the thread that asked for the load).
class TMATAdModelDelegate : public virtual NSObjectProtocol {
public:
    virtual void modelLoadedSuccessfully(Ref<TMAJSBridgesEnabled> bridgesEnabled) = 0;
    virtual void modelFailedToLoadWithError(Ref<NSError> error) = 0;
    virtual bool handlesAdCreativeType(int creativeType) = 0;
    virtual void recordMetricsOnLoadAttempt() = 0;
    virtual int adType() = 0;
    virtual bool isControllerReadyToLoadAd() = 0;
};

class TMATAdModel : public NSObject, public TMAWebRequestDelegate {
public:
    static Ref<TMATAdModel> defaultModel();
    // Clears the ad (not the bridges or the clock) and the status.
    void reset();

    // The load; see the header's opening lines. `adViewSize` is the container
    // size, which "auto" stands for; `adView` the public ad object.
    void loadWithOptions(const Ref<TamarindAdOptions>& options, const std::string& size,
                         const std::optional<std::string>& adViewSize, const Ref<NSObject>& adView);
    // An expiry is set and the model's clock is past it.
    bool adExpired() const;

    // ---- steps of the load ----
    // Fails the load: logged, NSError "TMAAdModelError" with the code and
    // message, status back to 0, then the delegate.
    void errorHandler(const std::string& message, int64_t code);
    static std::string errorMessage(int64_t code);
    std::string handleNoRetryTTL(const Ref<TMAdContent>& content);
    // Each of these three fails the load and answers true when it must stop.
    bool invalidApplicationId();
    bool noRetryForTTL();
    bool invalidSizeRequest(const std::string& size, const std::optional<std::string>& containerSize);
    bool canLoadAdAndSetStatus();
    void extractSpecialAdvTargetingOptions(const Ref<TamarindAdOptions>& options);
    void loadAdWithRequest(const Ref<TMAWebRequest>& request);
    void handleValidAdContent(const Ref<TMAdContent>& content);
    void handleInvalidAdContent(const Ref<TMAdContent>& content);
    void loadAdDidFinishWithWebRequest(const Ref<TMAWebResponse>& response);
    // A transport error fails with its own code and description; a bare
    // status other than 200 with the status as code.
    void loadAdDidFailWithWebRequest(const Ref<NSError>& error, int64_t statusCode);

    // TMAWebRequestDelegate
    void responseReceived(Ref<TMAWebResponse> response) override;
    void errorReceived(Ref<NSError> error, int64_t statusCode) override;

    // ---- the loaded ad ----
    const std::optional<std::string>& htmlContent() const { return htmlContent_; }
    const std::optional<std::string>& instrumentationPixelUrl() const { return instrumentationPixelUrl_; }
    void setInstrumentationPixelUrl(std::optional<std::string> url) { instrumentationPixelUrl_ = std::move(url); }
    const std::optional<std::string>& impressionPixelUrl() const { return impressionPixelUrl_; }
    // Seconds since 1 January 2001; 0 never expires.
    double expirationDateTime() const { return expirationDateTime_; }
    int loadStatus() const { return loadStatus_.load(); }
    void setLoadStatus(int status) { loadStatus_.store(status); }
    int creativeType() const { return creativeType_; }
    const std::optional<std::string>& slotID() const { return slotID_; }
    Ref<TMAJSBridgesEnabled> bridgesEnabled() const { return bridgesEnabled_; }

    Ref<TMATAdModelDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<TMATAdModelDelegate>& delegate) { delegate_ = delegate; }
    Ref<TMAdConfiguration> sharedConfiguration();
    Ref<TMAMetricManager> metricManager();
    // The model's clock: a date set here stands for now; nullopt reads the clock.
    const std::optional<NSDate>& date() const { return date_; }
    void setDate(std::optional<NSDate> date) { date_ = std::move(date); }

private:
    double now() const;
    Ref<TMMetricTracker> tracker();
    // Failures before the request: a load already in flight keeps its status.
    void failBeforeRequest(const std::string& message, int64_t code);
    void fail(const std::string& message, int64_t code, bool keepLoadInFlight);

    std::optional<std::string> htmlContent_;
    std::optional<std::string> instrumentationPixelUrl_;
    std::optional<std::string> impressionPixelUrl_;
    double expirationDateTime_ = 0;
    std::atomic<int> loadStatus_{TMATLoadStatusNoAd};
    int creativeType_ = 0;
    std::optional<std::string> slotID_;
    Weak<TMATAdModelDelegate> delegate_;
    Ref<TMAJSBridgesEnabled> bridgesEnabled_;
    Ref<TMAdConfiguration> sharedConfiguration_;
    std::optional<NSDate> date_;
    Ref<TMAMetricManager> metricManager_;
};
