#include "analytics/OrreryNetworkUtil.h"

#include <cctype>

#include <netinet/in.h>

#include <mutex>

#include "analytics/OrreryLog.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSURL.h"
#include "platform/net/SCNetworkReachability.h"
#include "platform/runtime/Log.h"

namespace {

bool isReachable(SCNetworkReachabilityFlags flags) {
    return (flags & kSCNetworkReachabilityFlagsReachable) && !(flags & kSCNetworkReachabilityFlagsConnectionRequired);
}

// Reachability of the network as a whole (the zero address).
const SCNetworkReachabilityRef& reachability() {
    static const SCNetworkReachabilityRef* target = new SCNetworkReachabilityRef([] {
        sockaddr_in zero{};
        zero.sin_family = AF_INET;
        return SCNetworkReachabilityCreateWithAddress(reinterpret_cast<const sockaddr*>(&zero));
    }());
    return *target;
}

std::mutex urlMutex;
std::string& relayUrl() {
    static auto* url = new std::string(OrreryNetworkUtil::kDefaultRelayServerUrl);
    return *url;
}

}  // namespace

bool OrreryNetworkUtil::isNetworkReachable() {
    SCNetworkReachabilityFlags flags = 0;
    return SCNetworkReachabilityGetFlags(reachability(), &flags) && isReachable(flags);
}

void OrreryNetworkUtil::startReachabilityNotifier() {
    static std::once_flag once;
    std::call_once(once, [] {
        SCNetworkReachabilitySetCallback(reachability(), [](SCNetworkReachabilityFlags flags) {
            bool reachable = isReachable(flags);
            OrreryLog::log(OrreryLog::kDiagnostics,
                           std::string("the network is ") + (reachable ? "reachable" : "not reachable"));
            NSNotificationCenter::defaultCenter()->postNotificationName(
                OrreryNetworkStatusChangedNotification, nullptr, Value::dictionary({{kReachableKey, reachable}}));
        });
        SCNetworkReachabilitySetDispatchQueue(reachability(),
                                              dispatch_queue_create("orrery.reachability", DISPATCH_QUEUE_SERIAL));
    });
}

std::string OrreryNetworkUtil::relayServerUrl() {
    std::lock_guard lock(urlMutex);
    return relayUrl();
}

bool OrreryNetworkUtil::isWebURL(const Ref<NSURL>& url) {
    if (!url) return false;
    std::string scheme = url->scheme();
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme == "http" || scheme == "https";
}

void OrreryNetworkUtil::setRelayServerUrl(const std::string& url) {
    if (!NSURL::URLWithString(url) || NSURL::URLWithString(url)->scheme().empty()) {
        OrreryLog::error("setRelayServerURL: \"" + platform::urlForLog(url) +
                         "\" is no absolute URL; the endpoint stays as it was");
        return;
    }
    std::lock_guard lock(urlMutex);
    relayUrl() = url;
}
