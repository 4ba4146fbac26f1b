// The resource cache folder "hl" in the caches folder, with expiry and a size
// limit. Its caching comes with the resource cache work; until then
// compacting finds nothing to do.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include "platform/runtime/NSObject.h"

class HLSdk;

class HLFileManager : public NSObject {
public:
    Ref<HLFileManager> initWithSdk(const Ref<HLSdk>& sdk);
    void compactCache();

private:
    Weak<HLSdk> sdk_;
};
