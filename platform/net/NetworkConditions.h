// The network state URL loads and reachability see: the device profile's
// (Wi-Fi by default) until a test sets another. While it is None every URL
// load fails with -1009 without touching the network.
#pragma once

#include <functional>
#include <string>

#include "platform/foundation/DeviceProfile.h"

namespace platform {

NetworkState currentNetworkState();

namespace testing {

class NetworkConditions {
public:
    // Changes the state and calls every scheduled reachability callback whose
    // flags changed, on its queue or the main run loop (never inline).
    static void set(NetworkState state);
    static NetworkState current() { return currentNetworkState(); }
    // Runs on each transfer's thread, with its URL, before each look at its
    // progress: a function that blocks holds the transfer there as a stopped
    // process would be held. Null ends it.
    static void setTransferPause(std::function<void(const std::string& url)> pause);
};

}  // namespace testing

}  // namespace platform

using platform::NetworkState;
