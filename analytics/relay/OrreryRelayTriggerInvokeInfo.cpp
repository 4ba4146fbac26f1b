#include "analytics/relay/OrreryRelayTriggerInvokeInfo.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>

#include "analytics/OrreryProtocolData.h"
#include "analytics/relay/OrreryRelayCoding.h"
#include "platform/foundation/NSString.h"

using namespace OrreryRelayCoding;

namespace {

OrreryRelayTriggerInvokeInfo::Callbacks callbacksOf(const Value& value) {
    OrreryRelayTriggerInvokeInfo::Callbacks callbacks;
    // Elements of another class (a damaged archive) are left out.
    if (const Value::Array* array = value.array())
        for (const Value& element : *array)
            if (auto callback = element.object<OrreryRelayCallbackReportInfo>()) callbacks.push_back(callback);
    return callbacks;
}

Value valueOf(const OrreryRelayTriggerInvokeInfo::Callbacks& callbacks) {
    Value::Array array;
    for (const auto& callback : callbacks)
        if (callback) array.emplace_back(callback);
    return Value(std::move(array));
}

}  // namespace

Ref<OrreryRelayTriggerInvokeInfo> OrreryRelayTriggerInvokeInfo::initWithDictionary(const Value& dictionary) {
    PLATFORM_SYNCHRONIZED(*this);
    invokeId_ = optionalString(dictionary["invokeId"]);
    triggerType_ = int32Of(dictionary["triggerType"].integerValue());
    sessionId_ = dictionary["sessionId"].integerValue();
    sessionOffset_ = dictionary["sessionOffset"].integerValue();
    includesEventTrigger_ = dictionary["includesEventTrigger"].boolValue();
    eventOccuranceId_ = dictionary["eventOccuranceId"].integerValue();
    eventName_ = optionalString(dictionary["eventName"]);
    callbacks_ = callbacksOf(dictionary["callbacks"]);
    return self<OrreryRelayTriggerInvokeInfo>();
}

Value OrreryRelayTriggerInvokeInfo::dataDictionary() const {
    PLATFORM_SYNCHRONIZED(*this);
    Value dictionary = Value(ValueDictionary());
    dictionary.set("invokeId", Value(invokeId_));
    dictionary.set("triggerType", Value(triggerType_));
    dictionary.set("sessionId", Value(sessionId_));
    dictionary.set("sessionOffset", Value(sessionOffset_));
    dictionary.set("includesEventTrigger", Value(includesEventTrigger_));
    dictionary.set("eventOccuranceId", Value(eventOccuranceId_));
    dictionary.set("eventName", Value(eventName_));
    dictionary.set("callbacks", valueOf(callbacks_));
    return dictionary;
}

Ref<OrreryRelayTriggerInvokeInfo> OrreryRelayTriggerInvokeInfo::copy() const {
    PLATFORM_SYNCHRONIZED(*this);
    auto c = OrreryRelayTriggerInvokeInfo::alloc<OrreryRelayTriggerInvokeInfo>()->init();
    c->invokeId_ = invokeId_;
    c->triggerType_ = triggerType_;
    c->sessionId_ = sessionId_;
    c->sessionOffset_ = sessionOffset_;
    c->includesEventTrigger_ = includesEventTrigger_;
    c->eventOccuranceId_ = eventOccuranceId_;
    c->eventName_ = eventName_;
    c->callbacks_ = callbacks_;
    return c;
}

void OrreryRelayTriggerInvokeInfo::encodeWithCoder(NSCoder& coder) const {
    PLATFORM_SYNCHRONIZED(*this);
    coder.encodeObject(Value(invokeId_), "invokeId");
    coder.encodeInteger(triggerType_, "triggerType");
    coder.encodeObject(Value(sessionId_), "sessionId");
    coder.encodeObject(Value(sessionOffset_), "sessionOffset");
    coder.encodeBool(includesEventTrigger_, "includesEventTrigger");
    coder.encodeObject(Value(eventOccuranceId_), "eventOccuranceId");
    coder.encodeObject(Value(eventName_), "eventName");
    coder.encodeObject(valueOf(callbacks_), "callbacks");
}

void OrreryRelayTriggerInvokeInfo::initWithCoder(const NSCoder& coder) {
    PLATFORM_SYNCHRONIZED(*this);
    invokeId_ = optionalString(coder.decodeObjectForKey("invokeId"));
    triggerType_ = int32Of(coder.decodeIntegerForKey("triggerType"));
    sessionId_ = coder.decodeObjectForKey("sessionId").integerValue();
    sessionOffset_ = coder.decodeObjectForKey("sessionOffset").integerValue();
    includesEventTrigger_ = coder.decodeBoolForKey("includesEventTrigger");
    eventOccuranceId_ = coder.decodeObjectForKey("eventOccuranceId").integerValue();
    eventName_ = optionalString(coder.decodeObjectForKey("eventName"));
    callbacks_ = callbacksOf(coder.decodeObjectForKey("callbacks"));
}

std::optional<NSData> OrreryRelayTriggerInvokeInfo::data() {
    PLATFORM_SYNCHRONIZED(*this);
    // A hole in the list spoils the whole block; look before any callback
    // marks its attempts as reported.
    if (std::any_of(callbacks_.begin(), callbacks_.end(), [](const auto& c) { return !c; })) return std::nullopt;
    // One buffer for the whole block; the callback count is filled in last.
    OrreryProtocolData::Buffer bytes;
    bytes.reserve(64 + 128 * callbacks_.size());
    OrreryProtocolData::FixedFields(bytes, 21)
        .ushort(static_cast<uint64_t>(static_cast<int64_t>(triggerType_)))
        .long64(sessionId_)
        .long64(sessionOffset_)
        .boolean(includesEventTrigger_)
        .ushort(static_cast<uint64_t>(eventOccuranceId_));
    OrreryProtocolData::appendString(eventName_, bytes);
    const size_t countAt = bytes.size();
    OrreryProtocolData::appendUshort(0, bytes);
    uint64_t count = 0;
    for (const auto& callback : callbacks_) count += callback->appendData(bytes) ? 1 : 0;
    if (count == 0) return std::nullopt;
    bytes[countAt] = static_cast<uint8_t>(count >> 8);
    bytes[countAt + 1] = static_cast<uint8_t>(count);
    return NSData(std::move(bytes));
}

void OrreryRelayTriggerInvokeInfo::setCBAttemptsSent() {
    PLATFORM_SYNCHRONIZED(*this);
    for (const auto& callback : callbacks_)
        if (callback) callback->setAttemptsSent();
}

size_t OrreryRelayTriggerInvokeInfo::removeSentCBAttempts() {
    PLATFORM_SYNCHRONIZED(*this);
    size_t remaining = 0;
    std::erase_if(callbacks_, [&](const auto& callback) {
        if (!callback) return false;
        size_t left = callback->removeSentAttempts();
        remaining += left;
        return left == 0;
    });
    return remaining;
}

void OrreryRelayTriggerInvokeInfo::removeCompletedCallbacks() {
    PLATFORM_SYNCHRONIZED(*this);
    std::erase_if(callbacks_, [](const auto& callback) { return callback && callback->attemptCount() == 0; });
}

std::string OrreryRelayTriggerInvokeInfo::newInvokeId(double now) {
    static std::atomic<uint64_t> firings{0};
    return NSString::stringWithFormat("%f-%llu", now, static_cast<unsigned long long>(firings.fetch_add(1) + 1));
}

std::optional<double> OrreryRelayTriggerInvokeInfo::firingTime() const {
    std::optional<std::string> id = invokeId();
    if (!id || id->empty()) return std::nullopt;
    char* end = nullptr;
    const double seconds = std::strtod(id->c_str(), &end);
    if (end == id->c_str() || !std::isfinite(seconds)) return std::nullopt;
    return seconds;
}

std::optional<std::string> OrreryRelayTriggerInvokeInfo::invokeId() const {
    PLATFORM_SYNCHRONIZED(*this);
    return invokeId_;
}
void OrreryRelayTriggerInvokeInfo::setInvokeId(std::optional<std::string> v) {
    PLATFORM_SYNCHRONIZED(*this);
    invokeId_ = std::move(v);
}
int32_t OrreryRelayTriggerInvokeInfo::triggerType() const {
    PLATFORM_SYNCHRONIZED(*this);
    return triggerType_;
}
void OrreryRelayTriggerInvokeInfo::setTriggerType(int32_t v) {
    PLATFORM_SYNCHRONIZED(*this);
    triggerType_ = v;
}
int64_t OrreryRelayTriggerInvokeInfo::sessionId() const {
    PLATFORM_SYNCHRONIZED(*this);
    return sessionId_;
}
void OrreryRelayTriggerInvokeInfo::setSessionId(int64_t v) {
    PLATFORM_SYNCHRONIZED(*this);
    sessionId_ = v;
}
int64_t OrreryRelayTriggerInvokeInfo::sessionOffset() const {
    PLATFORM_SYNCHRONIZED(*this);
    return sessionOffset_;
}
void OrreryRelayTriggerInvokeInfo::setSessionOffset(int64_t v) {
    PLATFORM_SYNCHRONIZED(*this);
    sessionOffset_ = v;
}
bool OrreryRelayTriggerInvokeInfo::includesEventTrigger() const {
    PLATFORM_SYNCHRONIZED(*this);
    return includesEventTrigger_;
}
void OrreryRelayTriggerInvokeInfo::setIncludesEventTrigger(bool v) {
    PLATFORM_SYNCHRONIZED(*this);
    includesEventTrigger_ = v;
}
int64_t OrreryRelayTriggerInvokeInfo::eventOccuranceId() const {
    PLATFORM_SYNCHRONIZED(*this);
    return eventOccuranceId_;
}
void OrreryRelayTriggerInvokeInfo::setEventOccuranceId(int64_t v) {
    PLATFORM_SYNCHRONIZED(*this);
    eventOccuranceId_ = v;
}
std::optional<std::string> OrreryRelayTriggerInvokeInfo::eventName() const {
    PLATFORM_SYNCHRONIZED(*this);
    return eventName_;
}
void OrreryRelayTriggerInvokeInfo::setEventName(std::optional<std::string> v) {
    PLATFORM_SYNCHRONIZED(*this);
    eventName_ = std::move(v);
}
OrreryRelayTriggerInvokeInfo::Callbacks OrreryRelayTriggerInvokeInfo::callbacks() const {
    PLATFORM_SYNCHRONIZED(*this);
    return callbacks_;
}
void OrreryRelayTriggerInvokeInfo::setCallbacks(Callbacks callbacks) {
    PLATFORM_SYNCHRONIZED(*this);
    callbacks_ = std::move(callbacks);
}
void OrreryRelayTriggerInvokeInfo::addCallback(Ref<OrreryRelayCallbackReportInfo> callback) {
    PLATFORM_SYNCHRONIZED(*this);
    callbacks_.push_back(std::move(callback));
}
