// The Trillium remote configuration: fetched from the ad platform
// ("getadsmetadata?"), kept in the user defaults under "TRA" keys until its
// time to live runs out, and read through one getter per setting, each with
// its default. Listeners hear once when the configuration is next ready.
// Main thread (the getters also from any thread: they only read the defaults).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Trillium/NSMutableArrayWeakReferences.h"
#include "platform/foundation/NSData.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "platform/net/NSURLResponse.h"
#include "platform/runtime/NSObject.h"

class TRAMetadataDelegate : public virtual NSObjectProtocol {
public:
    virtual void didFinishLoadMetadata() = 0;
};

class TRAMetadata : public NSObject {
public:
    static Ref<TRAMetadata> sharedMetadata();

    // Fetches the configuration unless the stored one is still fresh (an
    // expired one sets the session reason "METADATA_TTL" first); the
    // process's first fetch carries the session the process began, later
    // ones with a pending reason begin a new one. The
    // listeners are told when it is ready: at once when fresh, else when the
    // answer (or the failure, which leaves the stored configuration in force)
    // has come. A fetch already under way is not started twice.
    void loadMetadata(const std::optional<std::string>& appId, const std::optional<std::string>& devId);
    // Adds a listener (held weakly, no duplicate check); the list is emptied
    // at each notification, so one registration is answered once.
    void setDelegateWithDelegate(const Ref<TRAMetadataDelegate>& delegate);
    // Removes every registration of the listener.
    void removeMetadataDelegation(const Ref<TRAMetadataDelegate>& delegate);
    // Starts a new Trillium session and fetches the configuration again with
    // the entry point's identifiers, fresh or not; during a fetch, once that
    // one has come back.
    void startNewSession();

    bool isLoading() const { return loading_; }
    // No stored configuration, or one whose time to live has run out.
    bool isExpired() const;

    // Takes a configuration answer's body: true when it was accepted and
    // stored; otherwise the stored configuration stays and the reason is logged.
    bool applyMetadataAnswer(const NSData& body);

    // ---- getters (user-defaults key, default) ----
    std::string getAdPlatformHost() const;                // "TRAAdPlatformHost"
    std::string getEulaUrl() const;                       // "TRAEulaUrl"
    std::string getPolicyImageUrl() const;                // "TRAPolicyImageUrl"
    std::optional<std::string> getProfileId() const;      // "TRAProfileId", nil when absent
    // "TRAAnalyticsHost", else the scheme and authority of the ad platform host.
    std::string getAnalyticsHost() const;
    bool isAnalyticsEnabled() const;                      // "TRAAnalyticsEnabled", YES when absent

    int64_t getDefaultMinSplashTime() const;              // "TRASplashMinTime", 5 s
    int64_t getDefaultMaxLoadTime() const;                // "TRASplashDefaultMaxLoadTime", 7 s
    int64_t getDefaultMaxAdDisplayTime() const;           // "TRASplashAdDisplayTime", 86400 s
    int64_t getDefaultTheme() const;                      // "TRASplashDefaultTheme", 0
    bool isHtmlSplash() const;                            // "TRAHtmlSplash" non-zero

    int64_t getReturnAdMinBackgroundTime() const;         // "TRAReturnAdMinBackgroundTime", 300 s
    int64_t getReturnAdRetryLoadingTime() const;          // "TRAReturnAdRetryLoadingTime", 30 s
    int64_t getSessionMaxBackgroundTime() const;          // "TRASessionMaxBackgroundTime", 300 s
    bool isDisableReturnAd() const;                       // "TRADisableReturnAd" non-zero
    bool isAutoLoad() const;                              // "TRAAutoLoad", YES when absent
    bool isDNS() const;                                   // "TRADNS", NO when absent

    bool isDisableTwoClicks() const;                      // lowest bit of "TRADisableTwoClicks"
    bool isTrilliumBrowserEnabled() const;                // "TRATrilliumBrowserEnabled", YES when absent
    bool isInAppStoreEnabled() const;                     // "TRAInAppStoreEnabled", NO when absent

    int64_t getSmartRedirectTimeout() const;              // "TRASmartRedirectTimeout", 7 s
    int64_t getAnalyticsHopLatencyMaxTime() const;        // "TRAAnalyticsHopLatencyMaxTime", 30 s
    int64_t getAnalyticsSendHopsLatencyOnceInXClicks() const;  // "TRAAnalyticsSendHopLatencyOnceInXClicks", 0
    int64_t getAnalyticsSendHopsStatsOnceInXClicks() const;    // "TRAAnalyticsSendHopsStatsOnceInXClicks", 0

    // Whole seconds between banner refreshes from "TRARefreshRate" (ms); below
    // one second (or absent) 30.
    int64_t getRefreshRate() const;
    int64_t getBannerAdsNumber() const;                   // "TRABannerAdsNumber", 1

    int64_t getMaxCachedVideos() const;                   // "TRAMaxCachedVideos", 3
    int64_t getMinAvailableStorageRequired() const;       // "TRAMinAvailableStorageRequired", 1 MiB
    int32_t getRewardGrantPercentage() const;             // "TRARewardGrantPercentage", 100
    int64_t getStatusBarMode() const;                     // "TRAStatusBarMode", 0

    bool isApplyAdRulesOnBannerRefresh() const;           // "TRAApplyAdRulesOnBannerRefresh", NO
    Value getAdRules() const;                             // "TRAAdRules", Null when absent

private:
    void fetch(const std::optional<std::string>& appId, const std::optional<std::string>& devId, bool adoptSession);
    void didFetch(uint64_t generation, const Ref<NSHTTPURLResponse>& response, const std::optional<NSData>& data,
                  const Ref<NSError>& error);
    void notifyDelegates();

    WeakReferenceArray<TRAMetadataDelegate> delegates_ =
        WeakReferences::mutableArrayUsingWeakReferences<TRAMetadataDelegate>();
    bool loading_ = false;
    bool fetchedBefore_ = false;
    bool followUpFetch_ = false;  // a new session began during the fetch under way
    uint64_t generation_ = 0;
};
