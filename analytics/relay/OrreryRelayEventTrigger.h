// A trigger on a logged event with a parameter condition: the event name, the
// parameter name and the parameter values that fire it. Two triggers are the
// same key when event name and parameter name agree (the values take no part),
// so a configuration holds at most one trigger per event and parameter name.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NSCoder.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class OrreryRelayEventTrigger : public NSObject, public NSCoding {
public:
    Ref<OrreryRelayEventTrigger> init() { return self<OrreryRelayEventTrigger>(); }
    Ref<OrreryRelayEventTrigger> initWithDictionary(const Value& dictionary);
    Value dataDictionary() const;
    Ref<OrreryRelayEventTrigger> copy() const;

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

    // Equal when the other is a trigger with the same "<eventName>+<eventParamName>".
    bool isEqual(const NSObject& other) const override;
    size_t hash() const override;
    std::string description() const override;

    const std::optional<std::string>& eventName() const { return eventName_; }
    void setEventName(std::optional<std::string> v) { eventName_ = std::move(v); }
    const std::optional<std::string>& eventParamName() const { return eventParamName_; }
    void setEventParamName(std::optional<std::string> v) { eventParamName_ = std::move(v); }
    const std::optional<std::vector<std::string>>& eventParamValues() const { return eventParamValues_; }
    void setEventParamValues(std::optional<std::vector<std::string>> v) { eventParamValues_ = std::move(v); }

private:
    // The identity string, formed with "%@+%@" (a missing name prints "(null)").
    std::string identity() const;

    std::optional<std::string> eventName_;
    std::optional<std::string> eventParamName_;
    std::optional<std::vector<std::string>> eventParamValues_;
};
