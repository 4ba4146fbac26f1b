#include "analytics/relay/OrreryRelayResponse.h"

#include <cmath>

#include "analytics/OrreryLog.h"
#include "analytics/relay/OrreryRelayLog.h"
#include "analytics/relay/OrreryRelaySchemas.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SaturatingCast.h"

namespace {

using OrreryAvro::field;

// A field read as T, or nothing (logged with `missing`) when the value lacks
// it or holds another type.
template <class T, class Reader>
std::optional<T> read(const avro_value_t* record, const char* name, Reader reader, const char* missing) {
    std::optional<avro_value_t> value = field(record, name);
    std::optional<T> result = value ? reader(&*value) : std::nullopt;
    if (!result && missing) OrreryRelayLog::log(missing);
    return result;
}

std::optional<std::string> readString(const avro_value_t* record, const char* name, const char* missing) {
    return read<std::string>(record, name, OrreryAvro::stringValue, missing);
}
std::optional<int64_t> readLong(const avro_value_t* record, const char* name, const char* missing) {
    return read<int64_t>(record, name, OrreryAvro::longValue, missing);
}
std::optional<int32_t> readInt(const avro_value_t* record, const char* name, const char* missing) {
    return read<int32_t>(record, name, OrreryAvro::intValue, missing);
}

std::optional<std::string> nonEmpty(std::optional<std::string> s) {
    if (s && s->empty()) return std::nullopt;
    return s;
}

// now + seconds, in whole milliseconds since 1970 (truncated, saturating).
int64_t millisecondsAfter(const NSDate& now, int64_t seconds) {
    long double ms = (static_cast<long double>(now.timeIntervalSince1970()) + static_cast<long double>(seconds)) * 1000.0L;
    return platform::saturatingCast<int64_t>(static_cast<double>(std::trunc(ms)));
}

// The strings of an array value; nothing when it is not an array of strings.
std::optional<std::vector<std::string>> stringsOf(const avro_value_t* array) {
    std::optional<size_t> count = OrreryAvro::elementCount(array);
    if (!count) return std::nullopt;
    std::vector<std::string> strings;
    for (size_t i = 0; i < *count; ++i) {
        std::optional<avro_value_t> element = OrreryAvro::element(array, i);
        std::optional<std::string> s = element ? OrreryAvro::stringValue(&*element) : std::nullopt;
        if (!s) return std::nullopt;
        strings.push_back(std::move(*s));
    }
    return strings;
}

// The trigger record of an events element; null (logged) when a field is missing.
Ref<OrreryRelayEventTrigger> triggerOf(const avro_value_t* record) {
    auto eventName = readString(record, "event_name", "event_name is not present");
    if (!eventName) return nullptr;
    auto paramName = readString(record, "event_parameter_name", "event_parameter_name is not present");
    if (!paramName) return nullptr;
    std::optional<avro_value_t> valuesField = field(record, "event_parameter_values");
    std::optional<std::vector<std::string>> values = valuesField ? stringsOf(&*valuesField) : std::nullopt;
    if (!values) {
        OrreryRelayLog::log("event_parameter_values is not present");
        return nullptr;
    }
    auto trigger = OrreryRelayEventTrigger::alloc<OrreryRelayEventTrigger>()->init();
    trigger->setEventName(std::move(eventName));
    trigger->setEventParamName(std::move(paramName));
    trigger->setEventParamValues(std::move(values));
    return trigger;
}

// The trigger keys of a callback's events, in order; nothing when an
// element cannot be read. Records of another name are skipped.
std::optional<std::vector<Value>> eventKeysOf(const avro_value_t* callback) {
    std::optional<avro_value_t> events = field(callback, "events");
    std::optional<size_t> count = events ? OrreryAvro::elementCount(&*events) : std::nullopt;
    if (!count) {
        OrreryRelayLog::log("events datum not present");
        return std::nullopt;
    }
    std::vector<Value> keys;
    for (size_t i = 0; i < *count; ++i) {
        std::optional<avro_value_t> element = OrreryAvro::element(&*events, i);
        std::optional<avro_value_t> chosen = element ? OrreryAvro::branch(&*element) : std::nullopt;
        if (!chosen) {
            OrreryRelayLog::log("event is not present in the event array at index: %d", static_cast<int>(i));
            return std::nullopt;
        }
        if (std::optional<std::string> name = OrreryAvro::stringValue(&*chosen)) {
            keys.emplace_back(std::move(*name));
            continue;
        }
        avro_schema_t schema = avro_value_get_schema(&*chosen);
        if (avro_value_get_type(&*chosen) != AVRO_RECORD || !schema ||
            std::string_view(avro_schema_name(schema)) != "EventParameterCallbackTrigger")
            continue;
        Ref<OrreryRelayEventTrigger> trigger = triggerOf(&*chosen);
        if (!trigger) return std::nullopt;
        keys.emplace_back(trigger);
    }
    return keys;
}

// Header fields of a callback: a dictionary of strings, or Null.
Value headersOf(const avro_value_t* callback) {
    std::optional<avro_value_t> headers = field(callback, "headers");
    if (!headers) return Value();
    if (avro_value_get_type(&*headers) != AVRO_UNION) {
        OrreryRelayLog::log("headers is null");
        return Value();
    }
    std::optional<avro_value_t> map = OrreryAvro::branch(&*headers);
    std::optional<size_t> count = map ? OrreryAvro::elementCount(&*map) : std::nullopt;
    if (!count || *count == 0) return Value();
    Value dictionary = Value(ValueDictionary());
    for (size_t i = 0; i < *count; ++i) {
        std::string key;
        std::optional<avro_value_t> value = OrreryAvro::element(&*map, i, &key);
        std::optional<std::string> text = value ? OrreryAvro::stringValue(&*value) : std::nullopt;
        if (text) dictionary.set(key, Value(*text));
    }
    return dictionary;
}

// One callback; null (logged) when a required field is missing.
Ref<OrreryRelayCallback> callbackOf(const avro_value_t* record) {
    auto callback = OrreryRelayCallback::alloc<OrreryRelayCallback>()->init();
    auto partner = readString(record, "partner", "partner is not present");
    if (!partner) return nullptr;
    callback->setPartner(std::move(partner));
    std::optional<avro_value_t> methodField = field(record, "method");
    std::optional<std::string> method = methodField ? OrreryAvro::enumSymbol(&*methodField) : std::nullopt;
    if (!method) {
        OrreryRelayLog::log("method is not present");
        return nullptr;
    }
    callback->setMethod(OrreryRelayCallback::relayMethodStringToEnum(method));
    auto uri = readString(record, "uri_template", "uri_template is not present");
    if (!uri) return nullptr;
    callback->setUriTemplate(nonEmpty(std::move(uri)));
    std::optional<avro_value_t> bodyField = field(record, "body_template");
    if (!bodyField) {
        OrreryRelayLog::log("body_template is not present");
    } else if (std::optional<avro_value_t> body = OrreryAvro::branch(&*bodyField)) {
        callback->setBodyTemplate(nonEmpty(OrreryAvro::stringValue(&*body)));
    }
    auto id = readLong(record, "callback_id", "callback_id is not present");
    if (!id) return nullptr;
    callback->setCallbackId(*id);
    callback->setMaxRedirects(readInt(record, "max_redirects", "max_redirects is not present")
                                  .value_or(OrreryRelayResponse::kDefaultMaxRedirects));
    callback->setConnectTimeout(readInt(record, "connect_timeout", "connect_timeout is not present")
                                    .value_or(OrreryRelayResponse::kDefaultConnectTimeout));
    callback->setRequestTimeout(readInt(record, "request_timeout", "request_timeout is not present")
                                    .value_or(OrreryRelayResponse::kDefaultRequestTimeout));
    callback->setHeaders(headersOf(record));
    return callback;
}

// The relay record: callbacks, their triggers, limits and the report URL.
bool applyRelay(const avro_value_t* relay, OrreryRelaySettings& settings) {
    std::optional<avro_value_t> callbacks = field(relay, "callbacks");
    std::optional<size_t> count = callbacks ? OrreryAvro::elementCount(&*callbacks) : std::nullopt;
    if (count && *count > OrreryRelaySettings::kMaxCallbacks) {
        OrreryLog::error("OrreryRelayResponse: the configuration has " + std::to_string(*count) + " callbacks; the first " +
                         std::to_string(OrreryRelaySettings::kMaxCallbacks) + " are kept, the other " +
                         std::to_string(*count - OrreryRelaySettings::kMaxCallbacks) + " (from the " +
                         std::to_string(OrreryRelaySettings::kMaxCallbacks + 1) + "th on) are dropped");
        count = OrreryRelaySettings::kMaxCallbacks;
    }
    if (count && *count > 0) {
        OrreryRelaySettings::Callbacks byId;
        OrreryRelayCallbackEventsMap eventsMap;
        for (size_t i = 0; i < *count; ++i) {
            std::optional<avro_value_t> element = OrreryAvro::element(&*callbacks, i);
            Ref<OrreryRelayCallback> callback = element ? callbackOf(&*element) : nullptr;
            if (!callback) return false;
            std::optional<std::vector<Value>> keys = eventKeysOf(&*element);
            if (!keys) return false;
            byId[callback->callbackId()] = callback;
            for (const Value& key : *keys) eventsMap.appendCallbackId(key, callback->callbackId());
        }
        settings.setCallbacks(std::move(byId));
        settings.setCallbackEventsMap(std::move(eventsMap));
    }
    settings.setMaxCallbackRetries(readInt(relay, "max_callback_retries", "max_callbacks is not present")
                                       .value_or(OrreryRelayResponse::kDefaultMaxCallbackRetries));
    settings.setMaxCallbackAttemptsPerReport(
        readInt(relay, "max_callback_attempts_per_report", "max_callback_attempts_per_report is not present")
            .value_or(OrreryRelayResponse::kDefaultMaxCallbackAttemptsPerReport));
    // Narrowed to its low 32 bits, as the report manager's limit is an int.
    int64_t delay = readLong(relay, "max_report_delay_seconds", "max_report_delay_seconds is not present")
                        .value_or(OrreryRelayResponse::kDefaultMaxReportDelaySeconds);
    settings.setMaxReportDelaySecs(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(delay))));
    settings.setAgentReportUrl(nonEmpty(readString(relay, "agent_report_url", "agent_report_url is not present")));
    return true;
}

}  // namespace

void OrreryRelayResponse::initSchema() {
    if (relayResponseSchema_) return;
    relayResponseSchema_ = OrreryAvro::Schema::parse(OrreryRelaySchemas::kConfigResponse);
    OrreryRelayLog::log(relayResponseSchema_ ? "Successfully parsed a relay response schema"
                                             : "Unable to parse relay response schema");
}

Ref<OrreryRelaySettings> OrreryRelayResponse::parseRelayResponse(const NSData& body) {
    return parseRelayResponse(body, NSDate::date());
}

Ref<OrreryRelaySettings> OrreryRelayResponse::parseRelayResponse(const NSData& body, const NSDate& now) {
    initSchema();
    if (!relayResponseSchema_) return nullptr;
    std::string error;
    OrreryAvro::Datum response = OrreryAvro::decode(relayResponseSchema_, body.bytes(), body.length(), &error);
    if (!response) {
        OrreryRelayLog::log("Relay configuration answer rejected: %@", platform::shortenedForLog(error));
        return nullptr;
    }
    return settingsFromResponseValue(response.get(), now);
}

Ref<OrreryRelaySettings> OrreryRelayResponse::settingsFromResponseValue(const avro_value_t* response, const NSDate& now) {
    auto settings = OrreryRelaySettings::alloc<OrreryRelaySettings>()->init();
    auto issuedAt = readLong(response, "issued_at", "issued_at is not present");
    if (!issuedAt) return nullptr;
    settings->setLastResponseTime(*issuedAt);
    int64_t refreshTtl = readLong(response, "refresh_ttl", "refresh_ttl is not present. Using default")
                             .value_or(kDefaultRefreshTtlSeconds);
    auto expirationTtl = readLong(response, "expiration_ttl", "expiration_ttl is not present");
    if (!expirationTtl) return nullptr;
    settings->setFetchTime(millisecondsAfter(now, 0));
    settings->setNextRefreshTTL(millisecondsAfter(now, refreshTtl));
    settings->setExpirationTTL(millisecondsAfter(now, *expirationTtl));

    if (std::optional<avro_value_t> global = field(response, "global_settings")) {
        Value globalSettings = Value(ValueDictionary());
        std::optional<avro_value_t> level = field(&*global, "log_level");
        std::optional<std::string> symbol = level ? OrreryAvro::enumSymbol(&*level) : std::nullopt;
        if (symbol) globalSettings.set(OrreryRelaySettings::kLogLevelKey, Value(*symbol));
        else OrreryRelayLog::log("log_level is not present");
        settings->setGlobalSettings(globalSettings);
    }

    if (std::optional<avro_value_t> relay = field(response, "relay")) {
        if (!applyRelay(&*relay, *settings)) return nullptr;
    }

    if (std::optional<avro_value_t> analytics = field(response, "analytics")) {
        Value dictionary = Value(ValueDictionary());
        bool enabled = read<bool>(&*analytics, "analytics_enabled", OrreryAvro::boolValue,
                                  "analytics_enabled is not present")
                           .value_or(kDefaultAnalyticsEnabled);
        int32_t maxProperties = readInt(&*analytics, "max_session_properties", "max_session_properties is not present")
                                    .value_or(kDefaultMaxSessionProperties);
        dictionary.set(OrreryRelaySettings::kAnalyticsEnabledKey, Value(enabled));
        dictionary.set(OrreryRelaySettings::kMaxSessionPropertiesKey, Value(maxProperties));
        settings->setAnalytics(dictionary);
    }
    return settings;
}
