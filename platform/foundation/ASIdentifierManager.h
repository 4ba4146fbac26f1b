// The advertising identifier and the user's tracking choice, from the device
// profile (a generated identifier persists across restarts).
#pragma once

#include "platform/foundation/NSUUID.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class ASIdentifierManager : public NSObject {
public:
    static Ref<ASIdentifierManager> sharedManager();
    // The profile's identifier, else the one generated once for this home.
    Ref<NSUUID> advertisingIdentifier() const;
    bool isAdvertisingTrackingEnabled() const;
};

}  // namespace platform

using platform::ASIdentifierManager;
