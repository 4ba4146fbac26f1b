// Network reachability: flags for a host name or address, answered
// synchronously from the current network state, and callbacks when the
// state changes (see platform::testing::NetworkConditions).
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/NSObject.h"
#include "platform/runtime/NSRunLoop.h"

namespace platform {

using SCNetworkReachabilityFlags = uint32_t;

inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsTransientConnection = 1u << 0;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsReachable = 1u << 1;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionRequired = 1u << 2;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsInterventionRequired = 1u << 4;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsLocalAddress = 1u << 16;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsDirect = 1u << 17;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsWWAN = 1u << 18;

using SCNetworkReachabilityCallBack = std::function<void(SCNetworkReachabilityFlags)>;

// One reachability target. Create it with the functions below.
class SCNetworkReachability : public NSObject {
public:
    const std::string& name() const { return name_; }

private:
    friend struct ReachabilityAccess;
    std::mutex mutex_;
    std::string name_;
    SCNetworkReachabilityCallBack callback_;
    dispatch_queue_t queue_;
    bool onRunLoop_ = false;
    SCNetworkReachabilityFlags lastFlags_ = 0;  // as last told (or when scheduled)
};

using SCNetworkReachabilityRef = Ref<SCNetworkReachability>;

// Null for an empty name / a null address.
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(std::string_view nodename);
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(const sockaddr* address);
// The current flags at once (any thread): Wi-Fi Reachable, mobile
// Reachable | IsWWAN, none 0. False for a null target.
bool SCNetworkReachabilityGetFlags(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags* flags);
// A null callback clears it.
bool SCNetworkReachabilitySetCallback(const SCNetworkReachabilityRef& target, SCNetworkReachabilityCallBack callout);
// Callbacks go to `queue`; a null queue unschedules.
bool SCNetworkReachabilitySetDispatchQueue(const SCNetworkReachabilityRef& target, dispatch_queue_t queue);
// Callbacks go to the main run loop (the only run loop); modes are accepted.
bool SCNetworkReachabilityScheduleWithRunLoop(const SCNetworkReachabilityRef& target, const Ref<NSRunLoop>& runLoop,
                                              std::string_view mode);
bool SCNetworkReachabilityUnscheduleFromRunLoop(const SCNetworkReachabilityRef& target, const Ref<NSRunLoop>& runLoop,
                                                std::string_view mode);

}  // namespace platform

using platform::kSCNetworkReachabilityFlagsConnectionRequired;
using platform::kSCNetworkReachabilityFlagsInterventionRequired;
using platform::kSCNetworkReachabilityFlagsIsDirect;
using platform::kSCNetworkReachabilityFlagsIsLocalAddress;
using platform::kSCNetworkReachabilityFlagsIsWWAN;
using platform::kSCNetworkReachabilityFlagsReachable;
using platform::kSCNetworkReachabilityFlagsTransientConnection;
using platform::SCNetworkReachability;
using platform::SCNetworkReachabilityCallBack;
using platform::SCNetworkReachabilityCreateWithAddress;
using platform::SCNetworkReachabilityCreateWithName;
using platform::SCNetworkReachabilityFlags;
using platform::SCNetworkReachabilityGetFlags;
using platform::SCNetworkReachabilityRef;
using platform::SCNetworkReachabilityScheduleWithRunLoop;
using platform::SCNetworkReachabilitySetCallback;
using platform::SCNetworkReachabilitySetDispatchQueue;
using platform::SCNetworkReachabilityUnscheduleFromRunLoop;
