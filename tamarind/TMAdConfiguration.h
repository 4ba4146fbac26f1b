// The Tamarind client's remote configuration: fetched from the configuration
// URL, kept in the user defaults under "TamarindAd:" keys (so a current one
// serves a restarted process without a fetch), and read through getters.
// bootstrapConfigurationOnSuccess:onError: makes sure a current configuration
// is loaded, with one fetch for every caller waiting meanwhile. Also keeps
// the no-retry period the ad server asks for and the shared metric tracker.
// Any thread; the waiting callers' blocks run on the main thread.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/NSData.h"
#include "platform/foundation/NSError.h"
#include "platform/ui/CGGeometry.h"
#include "tamarind/TMAWebResponse.h"
#include "tamarind/TMMetricTracker.h"

inline constexpr const char* kTMAdConfigurationErrorDomain = "TMAdConfigurationError";

class TMAdConfiguration : public NSObject {
public:
    using SuccessBlock = std::function<void()>;
    using ErrorBlock = std::function<void(Ref<NSError>)>;

    static Ref<TMAdConfiguration> sharedAMAdConfiguration();

    // The application key stored by TamarindAdRegistration; nullopt when none.
    std::optional<std::string> retrieveApplicationId() const;

    // Seconds left of the no-retry period (0 or less outside one).
    double remainingNoRetryTTLSeconds() const;
    // Seconds since 1 January 2001.
    void setExchangeNoRetryTTLTimestamp(double timestamp);
    void setNoretryTTLSeconds(int seconds);

    // "320x50" → 320 × 50. Fewer than two parts: logged, 0 × 0. A part that
    // is not a finite positive number reads as 0.
    static CGSize getParsedSizeString(const std::string& size);

    // A current configuration (all three endpoints, time to live not run
    // out): `success` at once, on the calling thread. Otherwise both blocks
    // wait for the fetch (started unless one is under way); on the main
    // thread, the successes when it is accepted, the errors with its NSError
    // when it fails: a transport error as it came, a status other than 200
    // (code = the status) or a rejected answer (code -1) in domain
    // kTMAdConfigurationErrorDomain. A failure leaves the stored
    // configuration in force. Null blocks are skipped.
    void bootstrapConfigurationOnSuccess(SuccessBlock success, ErrorBlock error);

    Ref<TMMetricTracker> metricTracker() const { return metricTracker_; }

    // Seconds between viewability measurements: "viewableInterval" ms / 1000; 0.2 when absent.
    double viewableInterval() const;
    // Seconds between identity registrations; 86400 when absent.
    double registrationInterval() const;
    std::optional<std::string> adServerHost() const;
    std::optional<std::string> adServerPath() const;
    std::optional<std::string> sisHost() const;
    std::optional<std::string> metricEndpoint() const;
    // The viewability script the configuration offers, and its version.
    std::optional<std::string> viewabilityScriptURL() const;
    std::optional<std::string> viewabilityScriptVersion() const;

    // The URL configurations are fetched from (kDefaultConfigurationURL unless
    // changed); nullopt restores the default. Kept in the user defaults.
    std::string configurationURL() const;
    void setConfigurationURL(const std::optional<std::string>& url);

    // The stored configuration has its endpoints and time left to live.
    bool isCurrent() const;
    // Checks a configuration answer's body whole and stores it; false (with
    // the reason) leaves the stored configuration as it was.
    bool applyConfigurationAnswer(const NSData& body, std::string* why);

private:
    void fetch();
    void didFetch(const Ref<TMAWebResponse>& response, const Ref<NSError>& error, int64_t status);

    Ref<TMMetricTracker> metricTracker_ = NSObject::alloc<TMMetricTracker>();
    // Guards the fields below.
    std::mutex mutex_;
    bool fetching_ = false;
    std::vector<std::pair<SuccessBlock, ErrorBlock>> waiting_;
};
