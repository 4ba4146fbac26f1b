// The persisted postback queue ("queued_postbacks_1.plist"). Its queue comes
// with the postback work; until then there is nothing to flush.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include "platform/runtime/NSObject.h"

class HLSdk;

class HLPersistentPostbackManager : public NSObject {
public:
    Ref<HLPersistentPostbackManager> initWithSdk(const Ref<HLSdk>& sdk);
    void flushPostbackQueue();

private:
    Weak<HLSdk> sdk_;
};
