#include "analytics/relay/OrreryRelayAppTemplate.h"

void OrreryRelayAppTemplate::encodeWithCoder(NSCoder& coder) const {
    encodeTemplateFields(coder);
    coder.encodeObject(events_, "events");
}

void OrreryRelayAppTemplate::initWithCoder(const NSCoder& coder) {
    decodeTemplateFields(coder);
    Value events = coder.decodeObjectForKey("events");
    events_ = events.isArray() ? events : Value();
}
