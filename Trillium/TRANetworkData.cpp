#include "Trillium/TRANetworkData.h"

#include <netinet/in.h>

#include <cstring>

Ref<TRAReachability> TRAReachability::reachabilityForInternetConnection() {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    auto reachability = NSObject::alloc<TRAReachability>();
    reachability->target_ = SCNetworkReachabilityCreateWithAddress(reinterpret_cast<const sockaddr*>(&zero));
    return reachability;
}

TRANetworkStatus TRAReachability::currentReachabilityStatus() const {
    SCNetworkReachabilityFlags flags = 0;
    if (!SCNetworkReachabilityGetFlags(target_, &flags)) return TRANotReachable;
    if (!(flags & kSCNetworkReachabilityFlagsReachable)) return TRANotReachable;
    // A connection that must first be established (and needs the user) is not there yet.
    if ((flags & kSCNetworkReachabilityFlagsConnectionRequired) && (flags & kSCNetworkReachabilityFlagsInterventionRequired))
        return TRANotReachable;
    return (flags & kSCNetworkReachabilityFlagsIsWWAN) ? TRAReachableViaWWAN : TRAReachableViaWiFi;
}

Ref<TRANetworkData> TRANetworkData::sharedInstance() {
    static Ref<TRANetworkData> shared = [] {
        auto data = NSObject::alloc<TRANetworkData>();
        data->internetReachability_ = TRAReachability::reachabilityForInternetConnection();
        return data;
    }();
    return shared;
}
