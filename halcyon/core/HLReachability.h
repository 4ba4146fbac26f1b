// How the device is connected ("wifi", "mobile" or "none"), judged on the
// zero IPv4 address and asked synchronously on the caller's thread.
#pragma once

#include <string>

#include "platform/net/SCNetworkReachability.h"
#include "platform/runtime/NSObject.h"

class HLReachability : public NSObject {
public:
    static std::string currentNetworkType();
    static bool isReachable();
    static bool isReachableViaWiFi();
    static bool isReachableViaWWAN();
    // Reachable, and not both a transient connection and a required one.
    static bool isReachableWithFlags(SCNetworkReachabilityFlags flags);

private:
    static bool currentFlags(SCNetworkReachabilityFlags* flags);
};
