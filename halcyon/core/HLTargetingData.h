// The publisher's targeting values, kept in the user-defaults store under the
// settings prefix + ".targeting" and sent with the device data and ad
// requests. Its setters come with the targeting work; until then it keeps
// nothing and its dictionary is empty.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLSdk;

class HLTargetingData : public NSObject {
public:
    Ref<HLTargetingData> initWithSdk(const Ref<HLSdk>& sdk);
    void clearAll();
    // The stored values (an empty dictionary for now).
    Value allData() const;

private:
    Weak<HLSdk> sdk_;
};
