// Event pixels ("landing", "checkout", "iap") handed to the persisted postback
// queue. Its tracking comes with the event tracking work; until then an
// event goes nowhere.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include <string>

#include "platform/runtime/NSObject.h"

class HLSdk;

class HLEventService : public NSObject {
public:
    Ref<HLEventService> initWithSdk(const Ref<HLSdk>& sdk);
    void trackEvent(const std::string& eventType);

private:
    Weak<HLSdk> sdk_;
};
