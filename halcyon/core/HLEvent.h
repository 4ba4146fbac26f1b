// One tracked application event: its type, its parameters (strings only,
// see HLEventService::sanitizeEventParameters), a unique identifier (the
// SHA-1 of a fresh UUID string, 40 lower-case hex digits) and when it was
// tracked. Immutable once made.
#pragma once

#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSDate.h"
#include "platform/runtime/NSObject.h"

class HLEvent : public NSObject {
public:
    Ref<HLEvent> initWithType(std::string eventType, Value parameters, std::string uniqueIdentifier,
                              NSDate creationDate);

    const std::string& eventType() const { return eventType_; }
    const Value& parameters() const { return parameters_; }
    const std::string& uniqueIdentifier() const { return uniqueIdentifier_; }
    const NSDate& creationDate() const { return creationDate_; }

    // Same class and all four fields equal.
    bool isEqualToEvent(const HLEvent& other) const;
    bool isEqual(const NSObject& other) const override;
    // ((h(type) × 31 + h(parameters)) × 31 + h(identifier)) × 31 + h(date), unsigned 32 bits.
    size_t hash() const override;
    std::string description() const override;

private:
    std::string eventType_;
    Value parameters_;
    std::string uniqueIdentifier_;
    NSDate creationDate_;
};
