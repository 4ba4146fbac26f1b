// The client's shared internet reachability monitor (TRANetworkData) and the
// monitor itself (TRAReachability): 0 without a connection, 1 on Wi-Fi, 2 on
// a mobile network, answered from the current state at once.
#pragma once

#include <cstdint>

#include "platform/net/SCNetworkReachability.h"
#include "platform/runtime/NSObject.h"

enum TRANetworkStatus : int64_t { TRANotReachable = 0, TRAReachableViaWiFi = 1, TRAReachableViaWWAN = 2 };

class TRAReachability : public NSObject {
public:
    // Reachability of the internet at large (the zero address).
    static Ref<TRAReachability> reachabilityForInternetConnection();
    TRANetworkStatus currentReachabilityStatus() const;

private:
    SCNetworkReachabilityRef target_;
};

class TRANetworkData : public NSObject {
public:
    static Ref<TRANetworkData> sharedInstance();
    const Ref<TRAReachability>& internetReachability() const { return internetReachability_; }

private:
    Ref<TRAReachability> internetReachability_;
};
