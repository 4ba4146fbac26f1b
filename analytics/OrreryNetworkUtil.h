// Network facts for the analytics client: whether the network is reachable
// (with "OrreryNetworkStatusChangedNotification" posted when that changes)
// and the Relay configuration endpoint.
#pragma once

#include <string>

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

    static std::string relayServerUrl();
    // A text that is no URL is logged and refused.
    static void setRelayServerUrl(const std::string& url);
};
