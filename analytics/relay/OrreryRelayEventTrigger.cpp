#include "analytics/relay/OrreryRelayEventTrigger.h"

#include "analytics/relay/OrreryRelayCoding.h"
#include "platform/foundation/NSString.h"

using namespace OrreryRelayCoding;

Ref<OrreryRelayEventTrigger> OrreryRelayEventTrigger::initWithDictionary(const Value& dictionary) {
    eventName_ = optionalString(dictionary["eventName"]);
    eventParamName_ = optionalString(dictionary["eventParamName"]);
    eventParamValues_ = optionalStrings(dictionary["eventParamValues"]);
    return self<OrreryRelayEventTrigger>();
}

Value OrreryRelayEventTrigger::dataDictionary() const {
    Value dictionary = Value(ValueDictionary());
    dictionary.set("eventName", Value(eventName_));
    dictionary.set("eventParamName", Value(eventParamName_));
    dictionary.set("eventParamValues", valueOf(eventParamValues_));
    return dictionary;
}

Ref<OrreryRelayEventTrigger> OrreryRelayEventTrigger::copy() const {
    auto c = OrreryRelayEventTrigger::alloc<OrreryRelayEventTrigger>()->init();
    c->eventName_ = eventName_;
    c->eventParamName_ = eventParamName_;
    c->eventParamValues_ = eventParamValues_;
    return c;
}

void OrreryRelayEventTrigger::encodeWithCoder(NSCoder& coder) const {
    coder.encodeObject(Value(eventName_), "eventName");
    coder.encodeObject(Value(eventParamName_), "eventParamName");
    coder.encodeObject(valueOf(eventParamValues_), "eventParamValues");
}

void OrreryRelayEventTrigger::initWithCoder(const NSCoder& coder) {
    eventName_ = optionalString(coder.decodeObjectForKey("eventName"));
    eventParamName_ = optionalString(coder.decodeObjectForKey("eventParamName"));
    eventParamValues_ = optionalStrings(coder.decodeObjectForKey("eventParamValues"));
}

std::string OrreryRelayEventTrigger::identity() const {
    return NSString::stringWithFormat("%@+%@", eventName_, eventParamName_);
}

bool OrreryRelayEventTrigger::isEqual(const NSObject& other) const {
    const auto* trigger = dynamic_cast<const OrreryRelayEventTrigger*>(&other);
    return trigger && trigger->identity() == identity();
}

size_t OrreryRelayEventTrigger::hash() const { return static_cast<size_t>(NSString::hash(identity())); }

std::string OrreryRelayEventTrigger::description() const {
    return NSString::stringWithFormat("<OrreryRelayEventTrigger: %@>", identity());
}
