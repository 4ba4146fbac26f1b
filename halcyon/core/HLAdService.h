// The Halcyon client's loading service (public; HLSdk owns one as
// adService). A caller asks for the next ad of a size and type and names a
// load delegate, which hears exactly one answer: at once, on the caller's
// thread, with the kept ad while it is fresh (sizes that refresh keep their
// last ad for slot 21, 22 or 24 seconds) or with -1 for a size and type the
// service has no load state for; otherwise later, on the main thread, with a
// preloaded ad or the outcome of an ad request. Loads of one size and type
// while one is in flight share its answer, in the order they called; the
// first load of a preloaded spec may share the start-up preload's request.
// Ad views registered as update observers (held weakly) get each new ad of
// their size and the refresh ticks that load them. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdType.h"
#include "platform/runtime/NSObject.h"

class HLAdLoadState;
class HLAdServiceLoadProxy;
class HLLogManager;
class HLPreloadedAdManager;
class HLSdk;

class HLAdService : public NSObject {
public:
    // The load states: regular banner, medium rectangle, leaderboard and
    // interstitial; incentivized interstitial.
    Ref<HLAdService> initWithSdk(const Ref<HLSdk>& sdk);

    // Sent by every ad request as "accept".
    static std::string accepts() { return "video"; }

    // Of the regular type.
    void loadNextAd(const Ref<HLAdSize>& size, const Ref<HLAdLoadDelegate>& delegate);
    // A null size, delegate or type raises NSInvalidArgumentException ("No ad
    // size specified", "No delegate specified", "No ad type specified").
    void loadNextAd(const Ref<HLAdSize>& size, const Ref<HLAdType>& type, const Ref<HLAdLoadDelegate>& delegate);
    void preloadAdOfSize(const Ref<HLAdSize>& size);
    bool hasPreloadedAdOfSize(const Ref<HLAdSize>& size);
    // Fills the preload queues slots 27 and 28 name (the start-up task).
    void scheduleAdPreload();
    // In the regular-type state of the size; a null observer or size raises.
    void addAdUpdateObserver(const Ref<HLAdUpdateObserver>& observer, const Ref<HLAdSize>& size);
    void removeAdUpdateObserver(const Ref<HLAdUpdateObserver>& observer, const Ref<HLAdSize>& size);
    // Forgets the kept ad of the ad's size and type (a click left it).
    void expireLoadStateForAd(const Ref<HLAd>& ad);

    // ---- Steps
    void doLoadAdForSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type,
                         const Ref<HLAdServiceLoadProxy>& delegateProxy);
    bool shouldMergeInitialPreloadsForSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type);
    bool hasUserEnabledPreloadTypeForAdSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type);
    bool autoRefreshEnabledForSize(const Ref<HLAdSize>& size);
    // -1 for a size that does not refresh.
    int64_t autoRefreshSecondsForSize(const Ref<HLAdSize>& size);
    // A refresh tick s + 2 seconds from now on queue 0 (s ≥ 1), unless one
    // is pending for the size already.
    void scheduleAdUpdateFor(const Ref<HLAdSize>& size);
    // A tick: the observers are asked on the main thread whether they would
    // show an ad; a load starts when one would and the kept ad has expired.
    void updateAdIfNecessary(const Ref<HLAdSize>& size);
    // The tick that was pending for the size is running or gone.
    void updateTickEnded(const Ref<HLAdSize>& size);

    Ref<HLSdk> sdk() const { return sdk_.lock(); }
    Ref<HLPreloadedAdManager> preloadManager() const;
    // The state of a type and size; null outside the table.
    Ref<HLAdLoadState> loadStateFor(const Ref<HLAdType>& type, const Ref<HLAdSize>& size) const;

private:
    Ref<HLLogManager> logger() const;

    Weak<HLSdk> sdk_;
    // Built once at creation, never changed: read without a lock.
    std::vector<std::pair<Ref<HLAdType>, std::vector<Ref<HLAdLoadState>>>> adLoadStates_;
};
