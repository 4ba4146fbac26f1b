#include "halcyon/core/HLReachability.h"

#include <netinet/in.h>

#include <cstring>

bool HLReachability::currentFlags(SCNetworkReachabilityFlags* flags) {
    // One reference for the zero address, made on first use.
    static const SCNetworkReachabilityRef reachability = [] {
        sockaddr_in zero;
        std::memset(&zero, 0, sizeof zero);
        zero.sin_family = AF_INET;
        return SCNetworkReachabilityCreateWithAddress(reinterpret_cast<const sockaddr*>(&zero));
    }();
    return SCNetworkReachabilityGetFlags(reachability, flags);
}

bool HLReachability::isReachableWithFlags(SCNetworkReachabilityFlags flags) {
    const SCNetworkReachabilityFlags both =
        kSCNetworkReachabilityFlagsTransientConnection | kSCNetworkReachabilityFlagsConnectionRequired;
    return (flags & kSCNetworkReachabilityFlagsReachable) && (flags & both) != both;
}

bool HLReachability::isReachable() {
    SCNetworkReachabilityFlags flags = 0;
    return currentFlags(&flags) && isReachableWithFlags(flags);
}

bool HLReachability::isReachableViaWiFi() {
    SCNetworkReachabilityFlags flags = 0;
    return currentFlags(&flags) && (flags & kSCNetworkReachabilityFlagsReachable) &&
           !(flags & kSCNetworkReachabilityFlagsIsWWAN);
}

bool HLReachability::isReachableViaWWAN() {
    SCNetworkReachabilityFlags flags = 0;
    return currentFlags(&flags) && (flags & kSCNetworkReachabilityFlagsReachable) &&
           (flags & kSCNetworkReachabilityFlagsIsWWAN);
}

std::string HLReachability::currentNetworkType() {
    if (!isReachable()) return "none";
    if (isReachableViaWiFi()) return "wifi";
    return "mobile";
}
