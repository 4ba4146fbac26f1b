// One-call full-screen ads: a process-wide public ad, loaded on first use and
// shown when it is ready and nothing stands in the way. Class methods only;
// main thread.
#pragma once

#include "Trillium/TRATrilliumAd.h"
#include "platform/runtime/NSObject.h"

class TRATrilliumAdBasic : public NSObject {
public:
    // YES when the loaded ad was shown. The first call starts the load and
    // answers NO; a call while the ad is not ready loads again and answers NO;
    // a ready ad that may not be shown now (another ad screen is up, no
    // network, no ad screen in this build) answers NO without a new load.
    static bool showAd();

    // The shared ad (null before the first showAd).
    static Ref<TRATrilliumAd> sharedAd();
};
