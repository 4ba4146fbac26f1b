// The ad service's bookkeeping for one size and type: the load in flight and
// the callers waiting for it, the last loaded ad with its expiry (kept only
// for sizes that refresh), the update observers (held weakly, pruned as they
// go) and whether a refresh tick is pending. Every field is read and written
// under adLoadLock, which is re-entrant and taken before the preload
// manager's lock; it is never held while a delegate or observer runs.
#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/core/HLAdSize.h"
#include "platform/runtime/NSDate.h"
#include "platform/runtime/NSObject.h"

class HLSdk;

class HLAdLoadState : public NSObject {
public:
    Ref<HLAdLoadState> initWithSize(Ref<HLAdSize> size) {
        size_ = std::move(size);
        pendingAdLoadDelegates.reserve(5);
        adUpdateObservers.reserve(5);
        return self<HLAdLoadState>();
    }
    const Ref<HLAdSize>& size() const { return size_; }

    // The live observers, the expired ones pruned. Under adLoadLock.
    std::vector<Ref<HLAdUpdateObserver>> liveObserversLocked();

    mutable std::recursive_mutex adLoadLock;  // guards the fields below
    bool isWaitingForAd = false;
    Ref<HLAd> loadedAd;
    std::optional<NSDate> loadedAdExpiration;
    std::vector<Ref<HLAdLoadDelegate>> pendingAdLoadDelegates;
    std::vector<Weak<HLAdUpdateObserver>> adUpdateObservers;
    bool isUpdateTickPending = false;

private:
    Ref<HLAdSize> size_;
};

// The delegate of every load the service starts for one state: files the
// outcome in the state and tells the waiting callers (and, after a success,
// the accepting observers) on the main thread, in the order they called.
// Called on any thread, at most once per load.
class HLAdServiceLoadProxy : public NSObject, public HLAdLoadDelegate {
public:
    Ref<HLAdServiceLoadProxy> initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAdLoadState>& loadState) {
        sdk_ = sdk;
        loadState_ = loadState;
        return self<HLAdServiceLoadProxy>();
    }
    void adServiceDidLoadAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) override;
    void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>& service, int32_t code) override;

private:
    Ref<HLSdk> sdk_;
    Ref<HLAdLoadState> loadState_;
};
