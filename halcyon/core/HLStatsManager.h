// The client's named counters and values, kept in the user-defaults store under
// the settings prefix + ".stats" and sent with the device data. Its counting
// and storing come with the event tracking work; until then it keeps nothing
// and its dictionary is empty.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLSdk;

class HLStatsManager : public NSObject {
public:
    Ref<HLStatsManager> initWithSdk(const Ref<HLSdk>& sdk);
    void loadAll();
    void clearKey(const std::string& key);
    void clearAll();
    void persistAll();
    // The counters (an empty dictionary for now).
    Value stats() const;

private:
    Weak<HLSdk> sdk_;
};
