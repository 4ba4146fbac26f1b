// How a template ad controller reports to its public ad object. Main thread,
// never on the caller's stack; each load ends in exactly one of the two
// required calls, except a refused load, which hears nothing.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/ui/UIViewController.h"

class TMATBaseAdControllerDelegate : public virtual NSObjectProtocol {
public:
    // The ad is loaded and ready (prerendered or rendered).
    virtual void controllerDidLoadAd() = 0;
    // The load failed: domain "TMAAdModelError", "TMAAdRequestBuilderError" or
    // "TMAAdControllerError", with its code and message.
    virtual void controllerFailedToLoadAd(Ref<NSError> error) = 0;

    // Optional (sent without asking; the defaults do nothing).
    virtual void adHasExpired() {}
    virtual void controllerWillPresentAd() {}
    virtual void controllerDidPresentAd() {}
    virtual void controllerWillDismissAd() {}
    virtual void controllerDidDismissAd() {}
    // Asked only when listed by respondsToSelector ("viewControllerForPresentingModalView").
    virtual Ref<UIViewController> viewControllerForPresentingModalView() { return nullptr; }
};
