// Turns the body of a configuration answer (one Avro ConfigResponse record)
// into OrreryRelaySettings: times to live become absolute times, callbacks
// are indexed by id and the trigger keys are mapped to the callbacks they fire.
#pragma once

#include <avro.h>

#include "analytics/relay/OrreryAvro.h"
#include "analytics/relay/OrreryRelaySettings.h"
#include "platform/foundation/NSData.h"
#include "platform/runtime/NSDate.h"
#include "platform/runtime/NSObject.h"

class OrreryRelayResponse : public NSObject {
public:
    // Defaults for fields a value lacks.
    static constexpr int64_t kDefaultRefreshTtlSeconds = 3600;
    static constexpr int32_t kDefaultMaxRedirects = 5;
    static constexpr int32_t kDefaultConnectTimeout = 20;
    static constexpr int32_t kDefaultRequestTimeout = 20;
    static constexpr int32_t kDefaultMaxCallbackRetries = 3;
    static constexpr int32_t kDefaultMaxCallbackAttemptsPerReport = 15;
    static constexpr int64_t kDefaultMaxReportDelaySeconds = 600;
    static constexpr bool kDefaultAnalyticsEnabled = true;
    static constexpr int32_t kDefaultMaxSessionProperties = 10;

    Ref<OrreryRelayResponse> init() { return self<OrreryRelayResponse>(); }

    // Parses the ConfigResponse schema once.
    void initSchema();
    const OrreryAvro::Schema& relayResponseSchema() const { return relayResponseSchema_; }

    // The settings in the body, or null when it is not exactly one
    // ConfigResponse (bad or truncated bytes, absurd lengths, another schema,
    // trailing bytes) or lacks a required field. Rejections are logged.
    Ref<OrreryRelaySettings> parseRelayResponse(const NSData& body);
    Ref<OrreryRelaySettings> parseRelayResponse(const NSData& body, const NSDate& now);

    // The settings from a ConfigResponse value (decoded, or built otherwise,
    // in which case fields may be missing: see the defaults above).
    static Ref<OrreryRelaySettings> settingsFromResponseValue(const avro_value_t* response, const NSDate& now);

private:
    OrreryAvro::Schema relayResponseSchema_;
};
