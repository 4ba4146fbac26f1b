// One Relay configuration as the server sent it: refresh and expiry times,
// the partner callbacks by id, which trigger fires which callbacks, report
// limits and the report URL. Stored (archived) in the analytics client's
// persisted globals map under "relaySettings"; not changed once filled.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "analytics/relay/OrreryRelayCallback.h"
#include "analytics/relay/OrreryRelayEventTrigger.h"
#include "platform/foundation/NSCoder.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

// Trigger key to callback ids, in the order the keys were first seen. A key
// is an event name (a string Value) or an OrreryRelayEventTrigger (an Object
// Value); keys compare by value, triggers by their event and parameter name.
class OrreryRelayCallbackEventsMap {
public:
    struct Entry {
        Value key;
        std::vector<int64_t> callbackIds;
    };

    // Appends the id under the key, making the entry on first use.
    void appendCallbackId(const Value& key, int64_t callbackId);
    // The ids under the key; null when the key is not in the map.
    const std::vector<int64_t>* callbackIdsForKey(const Value& key) const;
    const std::vector<Entry>& entries() const { return entries_; }
    // Indexes (into entries(), in order) of the keys of one event name: the
    // name itself and the triggers on it; null when there are none.
    const std::vector<size_t>* entriesNamed(const std::string& eventName) const;
    size_t count() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

private:
    std::optional<size_t> indexOf(const Value& key) const;

    std::vector<Entry> entries_;
    // Entry indexes by key hash, so that an answer with many keys maps in linear time.
    std::unordered_multimap<size_t, size_t> index_;
    // Entry indexes by event name, so that matching costs the same with any number of keys.
    std::unordered_map<std::string, std::vector<size_t>> byEventName_;
};

class OrreryRelaySettings : public NSObject, public NSCoding {
public:
    using Callbacks = std::map<int64_t, Ref<OrreryRelayCallback>>;

    // The key of the settings in the persisted globals map.
    static constexpr const char* kStorageKey = "relaySettings";
    // Bounds on what one configuration can make the client do: callbacks
    // kept from an answer, and callbacks one trigger fires (the rest are
    // dropped, logged).
    static constexpr size_t kMaxCallbacks = 500;
    static constexpr size_t kMaxCallbacksPerTrigger = 100;

    Ref<OrreryRelaySettings> init() { return self<OrreryRelaySettings>(); }
    Ref<OrreryRelaySettings> initWithDictionary(const Value& dictionary);
    Value dataDictionary() const;

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

    // Time of the configuration response, milliseconds since 1970.
    int64_t lastResponseTime() const { return lastResponseTime_; }
    void setLastResponseTime(int64_t v) { lastResponseTime_ = v; }
    // Absolute time (ms since 1970) after which a new configuration is requested.
    int64_t nextRefreshTTL() const { return nextRefreshTTL_; }
    void setNextRefreshTTL(int64_t v) { nextRefreshTTL_ = v; }
    // Absolute time (ms since 1970) after which the configuration is discarded.
    int64_t expirationTTL() const { return expirationTTL_; }
    void setExpirationTTL(int64_t v) { expirationTTL_ = v; }
    // The device's time (ms since 1970) when the configuration arrived, from
    // which both times above were counted; 0 when unknown (stored by an
    // earlier version).
    int64_t fetchTime() const { return fetchTime_; }
    void setFetchTime(int64_t v) { fetchTime_ = v; }
    // Whether the device's clock is now behind the time the configuration
    // arrived (it ran ahead then): its times were counted from a wrong now.
    bool fetchedAfter(int64_t nowMillis) const { return fetchTime_ > nowMillis; }
    // A copy whose times are counted from `nowMillis` instead: fetched now,
    // due for refresh now, expiring its lifetime from now.
    Ref<OrreryRelaySettings> countedFrom(int64_t nowMillis) const;
    // Every partner callback by its id; nullopt when the configuration has none.
    const std::optional<Callbacks>& callbacks() const { return callbacks_; }
    void setCallbacks(std::optional<Callbacks> v) { callbacks_ = std::move(v); }
    Ref<OrreryRelayCallback> callbackWithId(int64_t callbackId) const;
    // Which callbacks each trigger fires; nullopt when the configuration has none.
    const std::optional<OrreryRelayCallbackEventsMap>& callbackEventsMap() const { return callbackEventsMap_; }
    void setCallbackEventsMap(std::optional<OrreryRelayCallbackEventsMap> v) { callbackEventsMap_ = std::move(v); }
    // The attempt number at which a failed callback is no longer retried.
    int32_t maxCallbackRetries() const { return maxCallbackRetries_; }
    void setMaxCallbackRetries(int32_t v) { maxCallbackRetries_ = v; }
    // Attempts collected before a callback report is sent.
    int32_t maxCallbackAttemptsPerReport() const { return maxCallbackAttemptsPerReport_; }
    void setMaxCallbackAttemptsPerReport(int32_t v) { maxCallbackAttemptsPerReport_ = v; }
    // Longest wait, in seconds, before a callback report is sent.
    int32_t maxReportDelaySecs() const { return maxReportDelaySecs_; }
    void setMaxReportDelaySecs(int32_t v) { maxReportDelaySecs_ = v; }
    // Where callback reports are posted.
    const std::optional<std::string>& agentReportUrl() const { return agentReportUrl_; }
    void setAgentReportUrl(std::optional<std::string> v) { agentReportUrl_ = std::move(v); }
    // A dictionary holding "logLevel", or Null.
    const Value& globalSettings() const { return globalSettings_; }
    void setGlobalSettings(Value v) { globalSettings_ = std::move(v); }
    // A dictionary holding "analytics_enabled" and "max_session_properties", or Null.
    const Value& analytics() const { return analytics_; }
    void setAnalytics(Value v) { analytics_ = std::move(v); }

    // Keys of the two small dictionaries.
    static constexpr const char* kLogLevelKey = "logLevel";
    static constexpr const char* kAnalyticsEnabledKey = "analytics_enabled";
    static constexpr const char* kMaxSessionPropertiesKey = "max_session_properties";

private:
    int64_t lastResponseTime_ = 0;
    int64_t nextRefreshTTL_ = 0;
    int64_t expirationTTL_ = 0;
    int64_t fetchTime_ = 0;
    std::optional<Callbacks> callbacks_;
    std::optional<OrreryRelayCallbackEventsMap> callbackEventsMap_;
    int32_t maxCallbackRetries_ = 0;
    int32_t maxCallbackAttemptsPerReport_ = 0;
    int32_t maxReportDelaySecs_ = 0;
    std::optional<std::string> agentReportUrl_;
    Value globalSettings_;
    Value analytics_;
};
