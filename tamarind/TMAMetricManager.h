// Sends the Tamarind client's metric pixels to the configuration's metric
// endpoint: one GET per metric, whose last path segment is
// "<metric>:<prefix><suffix><SDK version>". Fire and forget: failures are
// logged. Any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/runtime/NSObject.h"

class TMAMetricManager : public NSObject {
public:
    static Ref<TMAMetricManager> sharedAMAMetricManager();

    // Without a metric endpoint only logs "Failed to fire metric. Metric Endpoint: nil".
    void fireMetric(const std::string& metric, const std::string& resourcePrefix, const std::string& resourceSuffix);
    // The pixel URL fireMetric sends; nullopt without an endpoint.
    static std::optional<std::string> metricURL(const std::string& metric, const std::string& resourcePrefix,
                                                const std::string& resourceSuffix);

    // "ATSEnabled_" when the platform's transport security is in force for the
    // application (from system version 9.0, unless the Info.plist's
    // "NSAppTransportSecurity" allows arbitrary loads), else "ATSDisabled_".
    std::string resourcePrefixATS() const;
};
