// How a public Trillium ad object reports to the publisher; every method is
// optional (implementers list what they implement with PLATFORM_RESPONDS_TO).
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/runtime/NSObject.h"

class TRAAbstractAd;

class TRADelegateProtocol : public virtual NSObjectProtocol {
public:
    virtual void didLoadAd(const Ref<TRAAbstractAd>& ad) { (void)ad; }
    virtual void failedLoadAd(const Ref<TRAAbstractAd>& ad, const Ref<NSError>& error) { (void)ad, (void)error; }
    virtual void didShowAd(const Ref<TRAAbstractAd>& ad) { (void)ad; }
    virtual void failedShowAd(const Ref<TRAAbstractAd>& ad, const Ref<NSError>& error) { (void)ad, (void)error; }
    virtual void didCloseAd(const Ref<TRAAbstractAd>& ad) { (void)ad; }
    virtual void didClickAd(const Ref<TRAAbstractAd>& ad) { (void)ad; }
    virtual void didCloseInAppStore(const Ref<TRAAbstractAd>& ad) { (void)ad; }
    virtual void didCompleteVideo(const Ref<TRAAbstractAd>& ad) { (void)ad; }
};
