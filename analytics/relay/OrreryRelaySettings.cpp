#include "analytics/relay/OrreryRelaySettings.h"

#include <cstdint>
#include <string>

#include "analytics/relay/OrreryRelayCoding.h"
#include "platform/foundation/NSString.h"

using namespace OrreryRelayCoding;

// ---------------------------------------------------------------- events map

std::optional<size_t> OrreryRelayCallbackEventsMap::indexOf(const Value& key) const {
    auto [begin, end] = index_.equal_range(key.hash());
    for (auto it = begin; it != end; ++it)
        if (entries_[it->second].key.isEqual(key)) return it->second;
    return std::nullopt;
}

void OrreryRelayCallbackEventsMap::appendCallbackId(const Value& key, int64_t callbackId) {
    if (std::optional<size_t> i = indexOf(key)) {
        entries_[*i].callbackIds.push_back(callbackId);
        return;
    }
    index_.emplace(key.hash(), entries_.size());
    std::optional<std::string> eventName;
    if (key.isString()) eventName = *key.string();
    else if (auto trigger = key.object<OrreryRelayEventTrigger>()) eventName = trigger->eventName();
    if (eventName) byEventName_[*eventName].push_back(entries_.size());
    entries_.push_back(Entry{key, {callbackId}});
}

const std::vector<size_t>* OrreryRelayCallbackEventsMap::entriesNamed(const std::string& eventName) const {
    auto found = byEventName_.find(eventName);
    return found == byEventName_.end() ? nullptr : &found->second;
}

const std::vector<int64_t>* OrreryRelayCallbackEventsMap::callbackIdsForKey(const Value& key) const {
    std::optional<size_t> i = indexOf(key);
    return i ? &entries_[*i].callbackIds : nullptr;
}

// ---------------------------------------------------------------- stored forms

namespace {

// Numbers and records cannot be dictionary keys in the stored forms, so both
// maps are stored as arrays of [key, value] pairs.
Value pair(Value key, Value value) { return Value::array({std::move(key), std::move(value)}); }

Value idsValue(const std::vector<int64_t>& ids) {
    Value::Array array;
    for (int64_t id : ids) array.emplace_back(id);
    return Value(std::move(array));
}

std::vector<int64_t> idsOf(const Value& value) {
    std::vector<int64_t> ids;
    if (const Value::Array* array = value.array())
        for (const Value& id : *array)
            if (id.isNumber()) ids.push_back(id.integerValue());
    return ids;
}

// In the dictionary form a trigger key is the trigger's own dictionary.
Value eventsMapValue(const std::optional<OrreryRelayCallbackEventsMap>& map, bool dictionaryForm) {
    if (!map) return Value();
    Value::Array pairs;
    for (const auto& entry : map->entries()) {
        Value key = entry.key;
        if (dictionaryForm)
            if (auto trigger = entry.key.object<OrreryRelayEventTrigger>()) key = trigger->dataDictionary();
        pairs.push_back(pair(key, idsValue(entry.callbackIds)));
    }
    return Value(std::move(pairs));
}

std::optional<OrreryRelayCallbackEventsMap> eventsMapOf(const Value& value) {
    const Value::Array* pairs = value.array();
    if (!pairs) return std::nullopt;
    OrreryRelayCallbackEventsMap map;
    for (const Value& entry : *pairs) {
        Value key = entry.at(0);
        if (key.isDictionary())
            key = Value(OrreryRelayEventTrigger::alloc<OrreryRelayEventTrigger>()->initWithDictionary(key));
        // Only event names and triggers are keys; anything else is damage.
        if (!key.isString() && !key.object<OrreryRelayEventTrigger>()) continue;
        for (int64_t id : idsOf(entry.at(1))) map.appendCallbackId(key, id);
    }
    return map;
}

Value pick(const Value& dictionary, std::initializer_list<const char*> keys) {
    if (!dictionary.isDictionary()) return Value();
    Value picked = Value(ValueDictionary());
    for (const char* key : keys)
        if (dictionary.contains(key)) picked.set(key, dictionary[key]);
    return picked;
}

}  // namespace

Ref<OrreryRelayCallback> OrreryRelaySettings::callbackWithId(int64_t callbackId) const {
    if (!callbacks_) return nullptr;
    auto it = callbacks_->find(callbackId);
    return it == callbacks_->end() ? nullptr : it->second;
}

Ref<OrreryRelaySettings> OrreryRelaySettings::countedFrom(int64_t nowMillis) const {
    auto copy = alloc<OrreryRelaySettings>()->init();
    copy->lastResponseTime_ = lastResponseTime_;
    copy->fetchTime_ = nowMillis;
    copy->nextRefreshTTL_ = nowMillis;
    const int64_t lifetime = expirationTTL_ > fetchTime_ ? expirationTTL_ - fetchTime_ : 0;
    copy->expirationTTL_ = nowMillis > INT64_MAX - lifetime ? INT64_MAX : nowMillis + lifetime;
    copy->callbacks_ = callbacks_;
    copy->callbackEventsMap_ = callbackEventsMap_;
    copy->maxCallbackRetries_ = maxCallbackRetries_;
    copy->maxCallbackAttemptsPerReport_ = maxCallbackAttemptsPerReport_;
    copy->maxReportDelaySecs_ = maxReportDelaySecs_;
    copy->agentReportUrl_ = agentReportUrl_;
    copy->globalSettings_ = globalSettings_;
    copy->analytics_ = analytics_;
    return copy;
}

void OrreryRelaySettings::encodeWithCoder(NSCoder& coder) const {
    coder.encodeInt64(lastResponseTime_, "lastResponseTime");
    coder.encodeInt64(nextRefreshTTL_, "nextRefreshTTL");
    coder.encodeInt64(expirationTTL_, "expirationTTL");
    coder.encodeInt64(fetchTime_, "fetchTime");
    Value callbacks;
    if (callbacks_) {
        callbacks = Value(Value::Array());
        for (const auto& [id, callback] : *callbacks_)
            if (callback) callbacks.append(pair(Value(id), Value(callback)));
    }
    coder.encodeObject(callbacks, "callbacks");
    coder.encodeObject(eventsMapValue(callbackEventsMap_, false), "callbackEventsMap");
    coder.encodeObject(Value(maxCallbackRetries_), "maxCallbackRetries");
    coder.encodeObject(Value(maxCallbackAttemptsPerReport_), "maxCallbackAttemptsPerReport");
    coder.encodeObject(Value(maxReportDelaySecs_), "maxReportDelaySecs");
    coder.encodeObject(Value(agentReportUrl_), "agentReportUrl");
    coder.encodeObject(globalSettings_, "globalSettings");
    coder.encodeObject(analytics_, "analytics");
}

void OrreryRelaySettings::initWithCoder(const NSCoder& coder) {
    lastResponseTime_ = coder.decodeInt64ForKey("lastResponseTime");
    nextRefreshTTL_ = coder.decodeInt64ForKey("nextRefreshTTL");
    expirationTTL_ = coder.decodeInt64ForKey("expirationTTL");
    fetchTime_ = coder.decodeInt64ForKey("fetchTime");
    callbacks_.reset();
    Value archivedCallbacks = coder.decodeObjectForKey("callbacks");
    if (const Value::Array* pairs = archivedCallbacks.array()) {
        callbacks_.emplace();
        for (const Value& entry : *pairs) {
            auto callback = entry.at(1).object<OrreryRelayCallback>();
            if (entry.at(0).isNumber() && callback) (*callbacks_)[entry.at(0).integerValue()] = callback;
        }
    }
    callbackEventsMap_ = eventsMapOf(coder.decodeObjectForKey("callbackEventsMap"));
    maxCallbackRetries_ = coder.decodeObjectForKey("maxCallbackRetries").intValue();
    maxCallbackAttemptsPerReport_ = coder.decodeObjectForKey("maxCallbackAttemptsPerReport").intValue();
    maxReportDelaySecs_ = coder.decodeObjectForKey("maxReportDelaySecs").intValue();
    agentReportUrl_ = optionalString(coder.decodeObjectForKey("agentReportUrl"));
    globalSettings_ = dictionaryOrNull(coder.decodeObjectForKey("globalSettings"));
    analytics_ = dictionaryOrNull(coder.decodeObjectForKey("analytics"));
}

Ref<OrreryRelaySettings> OrreryRelaySettings::initWithDictionary(const Value& dictionary) {
    lastResponseTime_ = dictionary["lastResponseTime"].integerValue();
    nextRefreshTTL_ = dictionary["nextRefreshTTL"].integerValue();
    expirationTTL_ = dictionary["expirationTTL"].integerValue();
    fetchTime_ = dictionary["fetchTime"].integerValue();
    callbacks_.reset();
    if (const ValueDictionary* callbacks = dictionary["callbacks"].dictionary()) {
        callbacks_.emplace();
        for (const auto& [key, callback] : *callbacks)
            if (callback.isDictionary())
                (*callbacks_)[NSString::longLongValue(key)] =
                    OrreryRelayCallback::alloc<OrreryRelayCallback>()->initWithDictionary(callback);
    }
    callbackEventsMap_ = eventsMapOf(dictionary["callbackEventsMap"]);
    maxCallbackRetries_ = dictionary["maxCallbackRetries"].intValue();
    maxCallbackAttemptsPerReport_ = dictionary["maxCallbackAttemptsPerReport"].intValue();
    maxReportDelaySecs_ = dictionary["maxReportDelaySecs"].intValue();
    agentReportUrl_ = optionalString(dictionary["agentReportUrl"]);
    globalSettings_ = pick(dictionary["globalSettings"], {kLogLevelKey});
    analytics_ = pick(dictionary["analytics"], {kAnalyticsEnabledKey, kMaxSessionPropertiesKey});
    return self<OrreryRelaySettings>();
}

Value OrreryRelaySettings::dataDictionary() const {
    Value dictionary = Value(ValueDictionary());
    dictionary.set("lastResponseTime", Value(lastResponseTime_));
    dictionary.set("nextRefreshTTL", Value(nextRefreshTTL_));
    dictionary.set("expirationTTL", Value(expirationTTL_));
    dictionary.set("fetchTime", Value(fetchTime_));
    if (callbacks_) {
        Value callbacks = Value(ValueDictionary());
        for (const auto& [id, callback] : *callbacks_)
            if (callback) callbacks.set(std::to_string(id), callback->dataDictionary());
        dictionary.set("callbacks", callbacks);
    }
    dictionary.set("callbackEventsMap", eventsMapValue(callbackEventsMap_, true));
    dictionary.set("maxCallbackRetries", Value(maxCallbackRetries_));
    dictionary.set("maxCallbackAttemptsPerReport", Value(maxCallbackAttemptsPerReport_));
    dictionary.set("maxReportDelaySecs", Value(maxReportDelaySecs_));
    dictionary.set("agentReportUrl", Value(agentReportUrl_));
    dictionary.set("globalSettings", pick(globalSettings_, {kLogLevelKey}));
    dictionary.set("analytics", pick(analytics_, {kAnalyticsEnabledKey, kMaxSessionPropertiesKey}));
    return dictionary;
}
