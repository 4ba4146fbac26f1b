// What the core asks of the display side (halcyon/display) when an ad is
// clicked: the public display delegate, the members of ad views and video
// views the click path uses, the presenter's dismissal and the video
// controller's pause and resume. The display library implements them; the
// core never depends on it. Every method here is called on the main thread.
#pragma once

#include "platform/runtime/NSObject.h"

namespace platform {
class UIView;
}

class HLAd;

// The application's display callbacks (public).
class HLAdDisplayDelegate : public virtual NSObjectProtocol {
public:
    virtual void adWasDisplayedIn(const Ref<HLAd>& ad, const Ref<platform::UIView>& view) = 0;
    virtual void adWasHiddenIn(const Ref<HLAd>& ad, const Ref<platform::UIView>& view) = 0;
    virtual void adWasClickedIn(const Ref<HLAd>& ad, const Ref<platform::UIView>& view) = 0;
};

// A presenter that can take its ad off the screen.
class HLInterstitialAdDismissProxy : public virtual NSObjectProtocol {
public:
    // `completion` may be empty.
    virtual void dismissWithCompletionHandler(Block completion) = 0;
    // Optional: whether a click takes the ad away (false when not told).
    virtual bool dismissesOnClick() const { return false; }
    virtual void setDismissesOnClick(bool) {}
};

// A controller that shows a video and pauses while the store page covers it.
class HLApplicationControlProtocol : public virtual NSObjectProtocol {
public:
    virtual void appPaused(const Ref<NSObject>& sender) = 0;
    virtual void appResumed(const Ref<NSObject>& sender) = 0;
};

// A view whose click waits for the click-tracking request, showing an overlay
// meanwhile. foregroundClickInvalidated() turns true when the view's
// presenter has gone, so that a late tracking answer opens nothing.
class HLAdViewForegroundClickTrackingProtocol : public virtual NSObjectProtocol {
public:
    virtual void removeClickTrackingOverlay() = 0;
    virtual bool foregroundClickInvalidated() const = 0;
    // Optional: the view shows the overlay on its own otherwise.
    virtual void showClickTrackingOverlay() {}
};

// An HTML ad view, as the click path sees it. It is a UIView (the view the
// display delegates are told about).
class HLAdViewInternalProtocol : public virtual HLAdViewForegroundClickTrackingProtocol {
public:
    virtual Ref<HLAdDisplayDelegate> adDisplayDelegate() const = 0;
    virtual Ref<HLAdDisplayDelegate> weakAdDisplayDelegate() const = 0;
    virtual Ref<HLInterstitialAdDismissProxy> weakInterstitialDismissalDelegate() const = 0;
};
