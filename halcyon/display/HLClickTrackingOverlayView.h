// The dimming overlay with a spinner that covers an ad view or a video view
// while a click waits for its tracking request. Colour, spinner style and
// layout come from the settings table (slots 116 to 121). Main thread.
#pragma once

#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIView.h"

class HLSdk;

class HLClickTrackingOverlayView : public UIView {
public:
    static Ref<HLClickTrackingOverlayView> alloc() { return std::make_shared<HLClickTrackingOverlayView>(); }
    Ref<HLClickTrackingOverlayView> initWithSdk(const Ref<HLSdk>& sdk);
    void baseInit();
    // On the main queue: added at alpha 0 as the view's front subview, pinned
    // by slots 118 and 119, then faded in over `duration` seconds.
    void attachToView(const Ref<UIView>& view, double duration);
    // The overlay's fade in and out: slot 122 in seconds; 0.5 without an SDK.
    static double fadeTimeForSdk(const Ref<HLSdk>& sdk);

    Ref<HLSdk> sdk() const { return sdk_.lock(); }
    Ref<UIActivityIndicatorView> activityIndicator() const { return activityIndicator_; }

private:
    Weak<HLSdk> sdk_;
    Ref<UIActivityIndicatorView> activityIndicator_;
};
