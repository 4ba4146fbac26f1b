// Where the display library (halcyon/display) plugs into the core: it fills
// these slots when it registers its classes, before the first ad is shown.
// While a slot is empty the core logs an error and does what its absence
// allows (a store click ends with the overlay removed).
#pragma once

#include <functional>

#include "platform/runtime/NSObject.h"

namespace platform {
class UIViewController;
}

class HLAd;
class HLAdViewInternalProtocol;
class HLStoreKitProductViewController;

struct HLDisplayHooks {
    // [[HLStoreKitProductViewController alloc] initWithAd:inAdView:interstitialViewController:]:
    // a new store page for the ad (either origin may be null).
    std::function<Ref<HLStoreKitProductViewController>(const Ref<HLAd>& ad,
                                                       const Ref<HLAdViewInternalProtocol>& adView,
                                                       const Ref<platform::UIViewController>& interstitialViewController)>
        storeKitProductViewController;

    // The process's slots (set on the main thread before use).
    static HLDisplayHooks& shared();
};
