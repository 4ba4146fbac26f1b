// Network facts for the analytics client: whether the network is reachable
// (with "OrreryNetworkStatusChangedNotification" posted when that changes)
// and the Relay configuration endpoint.
#pragma once

#include <string>

#include "platform/foundation/NSURL.h"

inline constexpr const char* OrreryNetworkStatusChangedNotification = "OrreryNetworkStatusChangedNotification";

class OrreryNetworkUtil {
public:
    // User-info key of the notification: whether the network is now reachable.
    static constexpr const char* kReachableKey = "reachable";
    // The Relay configuration endpoint until Orrery::setRelayServerURL replaces it.
    static constexpr const char* kDefaultRelayServerUrl = "https://relay.orrery.example/sdk/v1/config";

    static bool isNetworkReachable();
    // Starts watching reachability (once; later calls do nothing). From then
    // on every change posts OrreryNetworkStatusChangedNotification, on the
    // client's reachability queue, with {"reachable": bool}.
    static void startReachabilityNotifier();

    // Whether the URL is an http or https one (the only requests the client
    // sends; the platform would read a file URL). False for null.
    static bool isWebURL(const Ref<NSURL>& url);

    static std::string relayServerUrl();
    // A text that is no URL is logged and refused.
    static void setRelayServerUrl(const std::string& url);
};
