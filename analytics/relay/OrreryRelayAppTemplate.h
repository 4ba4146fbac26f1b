// The older form of a partner callback, with its own list of events. Nothing
// creates one any more; it is kept as a plain archivable record.
#pragma once

#include "analytics/relay/OrreryRelayCallbackTemplate.h"
#include "platform/foundation/NSCoder.h"
#include "platform/foundation/Value.h"

class OrreryRelayAppTemplate : public OrreryRelayCallbackTemplate, public NSCoding {
public:
    Ref<OrreryRelayAppTemplate> init() { return self<OrreryRelayAppTemplate>(); }

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

    // An array value, or Null.
    const Value& events() const { return events_; }
    void setEvents(Value v) { events_ = std::move(v); }

private:
    Value events_;
};
