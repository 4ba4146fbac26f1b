// The delegates of the click-tracking request a waiting click sends: when the
// request ends (on the postback queue) they move to the main thread, remove
// the click overlay and, unless the view's click was invalidated meanwhile,
// lead on through the ad service (after a failure only while slot 156 is on).
#pragma once

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/core/HLPostbackService.h"
#include "platform/foundation/NSURL.h"
#include "platform/runtime/NSObject.h"

namespace platform {
class UIViewController;
}

class HLAdService;

// A foreground click in an HTML ad view: leads to the URL it was given.
class HLAdServicePostbackProxy : public NSObject, public HLPostbackDelegate {
public:
    Ref<HLAdServicePostbackProxy> initWithAdService(const Ref<HLAdService>& adService,
                                                    const Ref<HLAdViewInternalProtocol>& adView, const Ref<HLAd>& ad,
                                                    const Ref<NSURL>& destinationURL);
    void postbackServiceDidExecutePostback(const Ref<HLPostbackService>& service, const Ref<NSURL>& url) override;
    void postbackServiceDidFailToExecutePostback(const Ref<HLPostbackService>& service, const Ref<NSURL>& url,
                                                 int32_t errorCode) override;

private:
    void finish(bool leadOn);

    Weak<HLAdService> adService_;
    Ref<HLAd> ad_;
    Ref<HLAdViewInternalProtocol> adView_;
    Ref<NSURL> destinationURL_;
};

// A click in a video: leads to the ad's click destination from the video
// controller (held weakly).
class HLAdServiceVideoPostbackProxy : public NSObject, public HLPostbackDelegate {
public:
    Ref<HLAdServiceVideoPostbackProxy> initWithAdService(const Ref<HLAdService>& adService,
                                                         const Ref<HLAdViewForegroundClickTrackingProtocol>& videoView,
                                                         const Ref<HLAd>& ad,
                                                         const Ref<platform::UIViewController>& viewController);
    void postbackServiceDidExecutePostback(const Ref<HLPostbackService>& service, const Ref<NSURL>& url) override;
    void postbackServiceDidFailToExecutePostback(const Ref<HLPostbackService>& service, const Ref<NSURL>& url,
                                                 int32_t errorCode) override;

private:
    void finish(bool leadOn);

    Weak<HLAdService> adService_;
    Ref<HLAd> ad_;
    Ref<HLAdViewForegroundClickTrackingProtocol> videoView_;
    Weak<platform::UIViewController> viewController_;
};
