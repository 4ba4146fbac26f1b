// The load callbacks of the ad service and its tasks. A load delegate hears
// exactly one outcome per load it was given to: through the ad service on
// the main thread (except the service's immediate answers, which come on the
// caller's thread before loadNextAd returns); from the request and render
// tasks directly, on task queue 0 or 1. Failure codes: the ad request's HTTP
// status (204: no ad), the client's negative network codes, -1 no usable
// page, -200 the ad's video could not be cached.
#pragma once

#include <cstdint>

#include "platform/runtime/NSObject.h"

class HLAd;
class HLAdService;
class HLAdSpec;

class HLAdLoadDelegate : public virtual NSObjectProtocol {
public:
    virtual void adServiceDidLoadAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) = 0;
    virtual void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>& service, int32_t code) = 0;
};

// A load delegate that also wants the spec of a failed load. Told instead of
// the plain failure; by default it passes the failure on as the plain one.
class HLExtendedAdLoadDelegate : public virtual HLAdLoadDelegate {
public:
    virtual void adServiceDidFailToLoadAdOfSpec(const Ref<HLAdService>& service, const Ref<HLAdSpec>& /*spec*/,
                                                int32_t code) {
        adServiceDidFailToLoadAdWithError(service, code);
    }
};

// An ad view that shows the size's ads as the service refreshes them. Asked
// and told on the main thread; held weakly by the service.
class HLAdUpdateObserver : public virtual NSObjectProtocol {
public:
    virtual void adServiceDidUpdateAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) = 0;
    // Whether the observer would show a new ad now.
    virtual bool canAcceptUpdate() = 0;
};

// The failure to `delegate` (nothing for null): the spec form for an
// extended delegate, the plain one otherwise.
void HLNotifyLoadFailure(const Ref<HLAdLoadDelegate>& delegate, const Ref<HLAdService>& service,
                         const Ref<HLAdSpec>& spec, int32_t code);
