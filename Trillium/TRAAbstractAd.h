// The base of the public Trillium ad objects: the publisher's delegate (held
// weakly), whether it has been told about the current load, and the event
// type (0 ordinary, 1 return ad, 2 splash).
#pragma once

#include <cstdint>

#include "Trillium/TRADelegateProtocol.h"
#include "platform/runtime/NSObject.h"

class TRAAbstractAd : public NSObject {
public:
    Ref<TRADelegateProtocol> trilliumDelegate() const { return trilliumDelegate_.lock(); }
    void setTrilliumDelegate(const Ref<TRADelegateProtocol>& delegate) { trilliumDelegate_ = delegate; }
    bool delegateWasNotified() const { return delegateWasNotified_; }
    void setDelegateWasNotified(bool notified) { delegateWasNotified_ = notified; }
    int64_t eventType() const { return eventType_; }
    virtual void setEventType(int64_t eventType) { eventType_ = eventType; }

private:
    Weak<TRADelegateProtocol> trilliumDelegate_;
    bool delegateWasNotified_ = false;
    int64_t eventType_ = 0;
};
