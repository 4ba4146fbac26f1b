// The public Tamarind ad request options: the request's time-out and a
// dictionary of further options sent with the ad request (the key "slotId"
// names the ad slot). Main thread.
#pragma once

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class TamarindAdOptions : public NSObject {
public:
    static Ref<TamarindAdOptions> options() { return NSObject::alloc<TamarindAdOptions>(); }

    // Seconds without progress before the ad request fails with -1001; 0
    // (the default), a negative or a non-finite value means 10 s.
    double timeout() const { return timeout_; }
    void setTimeout(double seconds) { timeout_ = seconds; }

    // The further options, changed in place. Values of kinds JSON cannot carry
    // (dates, data, objects) are left out of the request with a warning.
    Value& advancedOptions() { return advancedOptions_; }
    const Value& advancedOptions() const { return advancedOptions_; }

private:
    double timeout_ = 0;
    Value advancedOptions_ = Value::dictionary({});
};
