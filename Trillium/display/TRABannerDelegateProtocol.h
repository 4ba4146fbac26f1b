// How a Trillium banner reports to the publisher. Every method is optional
// and sent only when the delegate lists it (PLATFORM_RESPONDS_TO); the
// delegate is held weakly. All arrive on the main thread, from the banner's
// own timers, web view and services (a refusing initialiser reports inside
// the initialising call). Per load: one display or one failure, never both.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/runtime/NSObject.h"

class TRABannerView;

class TRABannerDelegateProtocol : public virtual NSObjectProtocol {
public:
    // The page is revealed ("didDisplayBannerAd:").
    virtual void didDisplayBannerAd(const Ref<TRABannerView>& banner) { (void)banner; }
    // A load or a placement failed ("failedLoadBannerAd:withError:"); the
    // banner stays hidden and tries again at its next refresh.
    virtual void failedLoadBannerAd(const Ref<TRABannerView>& banner, const Ref<NSError>& error) {
        (void)banner, (void)error;
    }
    // A navigation inside the shown page: a tap ("didClickBannerAd:").
    virtual void didClickBannerAd(const Ref<TRABannerView>& banner) { (void)banner; }
    // The store sheet a tap opened has closed ("didCloseBannerInAppStore:").
    virtual void didCloseBannerInAppStore(const Ref<TRABannerView>& banner) { (void)banner; }
};
