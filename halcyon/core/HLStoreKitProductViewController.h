// The in-app store page an ad click may open, as the core sees it: a store
// product sheet carrying the ad, the ad view and the video controller that
// led to it, which tells its delegate when the user closes it. The display
// library supplies the pages through HLDisplayHooks; with none supplied a
// store click is logged and goes no further. Main thread.
#pragma once

#include <functional>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {
class UIViewController;
}

class HLAd;
class HLAdViewInternalProtocol;
class HLStoreKitProductViewController;

// Told once when the user closes the page; the delegate dismisses it.
class HLStoreKitProductViewControllerDelegate : public virtual NSObjectProtocol {
public:
    virtual void productViewControllerDidFinish(const Ref<HLStoreKitProductViewController>& page,
                                                const Ref<HLAd>& ad, const Ref<HLAdViewInternalProtocol>& adView,
                                                const Ref<platform::UIViewController>& interstitialViewController) = 0;
};

class HLStoreKitProductViewController : public virtual NSObjectProtocol {
public:
    using LoadCompletion = std::function<void(bool result, Ref<platform::NSError> error)>;

    // The controller to present (the page itself).
    virtual Ref<platform::UIViewController> viewController() = 0;
    // Held weakly.
    virtual void setStoreViewControllerDelegate(const Ref<HLStoreKitProductViewControllerDelegate>& delegate) = 0;
    // The completion runs once, on the main queue, after this call; a failed
    // load is the page's own concern (it opens the store through the system).
    virtual void loadProductWithParameters(const Value& parameters, LoadCompletion completion) = 0;
    virtual Ref<HLAd> ad() const = 0;
    virtual Ref<HLAdViewInternalProtocol> adView() const = 0;
    virtual Ref<platform::UIViewController> interstitialViewController() const = 0;
};
