// Postback dispatch on the postback queue with retries. Its dispatching comes
// with the postback work; until then it holds only its owner.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include "platform/runtime/NSObject.h"

class HLSdk;

class HLPostbackService : public NSObject {
public:
    Ref<HLPostbackService> initWithSdk(const Ref<HLSdk>& sdk);

private:
    Weak<HLSdk> sdk_;
};
