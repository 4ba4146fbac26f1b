#include "halcyon/core/HLEvent.h"

#include <typeinfo>

#include "platform/foundation/NSString.h"

Ref<HLEvent> HLEvent::initWithType(std::string eventType, Value parameters, std::string uniqueIdentifier,
                                   NSDate creationDate) {
    eventType_ = std::move(eventType);
    parameters_ = parameters.isDictionary() ? std::move(parameters) : Value::dictionary({});
    uniqueIdentifier_ = std::move(uniqueIdentifier);
    creationDate_ = creationDate;
    return self<HLEvent>();
}

bool HLEvent::isEqualToEvent(const HLEvent& other) const {
    return eventType_ == other.eventType_ && parameters_.isEqual(other.parameters_) &&
           uniqueIdentifier_ == other.uniqueIdentifier_ && creationDate_ == other.creationDate_;
}

bool HLEvent::isEqual(const NSObject& other) const {
    if (this == &other) return true;
    const auto* event = dynamic_cast<const HLEvent*>(&other);
    return event && typeid(*event) == typeid(*this) && isEqualToEvent(*event);
}

size_t HLEvent::hash() const {
    uint32_t result = static_cast<uint32_t>(Value(eventType_).hash());
    result = result * 31 + static_cast<uint32_t>(parameters_.hash());
    result = result * 31 + static_cast<uint32_t>(Value(uniqueIdentifier_).hash());
    return result * 31 + static_cast<uint32_t>(Value(creationDate_).hash());
}

std::string HLEvent::description() const {
    return NSString::stringWithFormat("<HLEvent: eventType = %@, creationDate = %@, parameters = %@>", eventType_,
                                      creationDate_, parameters_);
}
