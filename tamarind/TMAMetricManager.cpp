#include "tamarind/TMAMetricManager.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSCharacterSet.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURL.h"
#include "platform/runtime/Log.h"
#include "platform/ui/UIDevice.h"
#include "tamarind/TMAWebRequestFactory.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMAdConfiguration.h"
#include "tamarind/TMLog.h"

Ref<TMAMetricManager> TMAMetricManager::sharedAMAMetricManager() {
    // Never destroyed: other threads may use it during exit.
    static Ref<TMAMetricManager>& shared = *new Ref<TMAMetricManager>(NSObject::alloc<TMAMetricManager>());
    return shared;
}

std::optional<std::string> TMAMetricManager::metricURL(const std::string& metric, const std::string& resourcePrefix,
                                                       const std::string& resourceSuffix) {
    auto endpoint = TMAdConfiguration::sharedAMAdConfiguration()->metricEndpoint();
    if (!endpoint) return std::nullopt;
    std::string segment = NSString::stringWithFormat("%@:%@%@%@", metric, resourcePrefix, resourceSuffix,
                                                     TMAWire::kSdkVersion);
    std::string url = *endpoint;
    while (!url.empty() && url.back() == '/') url.pop_back();
    // "/" inside the segment would start another one.
    std::string escaped = NSString::stringByAddingPercentEncodingWithAllowedCharacters(
        segment, NSCharacterSet::URLPathAllowedCharacterSet());
    return url + "/" + NSString::stringByReplacingOccurrencesOfString(escaped, "/", "%2F");
}

void TMAMetricManager::fireMetric(const std::string& metric, const std::string& resourcePrefix,
                                  const std::string& resourceSuffix) {
    auto url = metricURL(metric, resourcePrefix, resourceSuffix);
    if (!url) {
        TMLog::logError("Failed to fire metric. Metric Endpoint: nil");
        return;
    }
    auto request = TMAWebRequestFactory::initWebRequest();
    request->setUrlString(url);
    request->makeCallWithCompletionBlock([sent = *url](Ref<TMAWebResponse>, Ref<NSError> error, int64_t status) {
        if (error || status != 200)
            TMLog::logDebug("Metric pixel %@ failed: %@ (status %lld)", platform::urlForLog(sent),
                            error ? error->localizedDescription() : std::string("-"), status);
        else
            TMLog::logDebug("Metric pixel fired: %@", platform::urlForLog(sent));
    });
}

std::string TMAMetricManager::resourcePrefixATS() const {
    if (!platform::systemVersionAtLeast(9, 0)) return "ATSDisabled_";
    Value ats = NSBundle::mainBundle()->objectForInfoDictionaryKey("NSAppTransportSecurity");
    if (ats.isDictionary() && ats["NSAllowsArbitraryLoads"].boolValue()) return "ATSDisabled_";
    return "ATSEnabled_";
}
