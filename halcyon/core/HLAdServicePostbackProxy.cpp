#include "halcyon/core/HLAdServicePostbackProxy.h"

#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLSdk.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/ui/UIViewController.h"

namespace {
constexpr int64_t kHLClickSlotThroughOnFailure = 156;  // "click_through_on_tracking_failure"

bool hlClickThroughOnFailure(const Ref<HLAdService>& service) {
    Ref<HLSdk> sdk = service ? service->sdk() : nullptr;
    return sdk && sdk->boolForKey(kHLClickSlotThroughOnFailure);
}
}  // namespace

Ref<HLAdServicePostbackProxy> HLAdServicePostbackProxy::initWithAdService(const Ref<HLAdService>& adService,
                                                                          const Ref<HLAdViewInternalProtocol>& adView,
                                                                          const Ref<HLAd>& ad,
                                                                          const Ref<NSURL>& destinationURL) {
    adService_ = adService;
    adView_ = adView;
    ad_ = ad;
    destinationURL_ = destinationURL;
    return self<HLAdServicePostbackProxy>();
}

void HLAdServicePostbackProxy::postbackServiceDidExecutePostback(const Ref<HLPostbackService>&, const Ref<NSURL>&) {
    finish(true);
}

void HLAdServicePostbackProxy::postbackServiceDidFailToExecutePostback(const Ref<HLPostbackService>&,
                                                                       const Ref<NSURL>&, int32_t) {
    finish(hlClickThroughOnFailure(adService_.lock()));
}

// On the main thread, where the view's flag is written: a click whose view
// went away in the meantime (also after a failed request) never leaves.
void HLAdServicePostbackProxy::finish(bool leadOn) {
    Ref<HLAdServicePostbackProxy> self = this->self<HLAdServicePostbackProxy>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([self, leadOn] {
        Ref<HLAdService> service = self->adService_.lock();
        if (!self->adView_) return;
        if (!leadOn || self->adView_->foregroundClickInvalidated() || !service) {
            self->adView_->removeClickTrackingOverlay();
            return;
        }
        service->launchURL(self->destinationURL_, self->ad_, self->adView_);
    });
}

Ref<HLAdServiceVideoPostbackProxy> HLAdServiceVideoPostbackProxy::initWithAdService(
    const Ref<HLAdService>& adService, const Ref<HLAdViewForegroundClickTrackingProtocol>& videoView,
    const Ref<HLAd>& ad, const Ref<platform::UIViewController>& viewController) {
    adService_ = adService;
    videoView_ = videoView;
    ad_ = ad;
    viewController_ = viewController;
    return self<HLAdServiceVideoPostbackProxy>();
}

void HLAdServiceVideoPostbackProxy::postbackServiceDidExecutePostback(const Ref<HLPostbackService>&,
                                                                      const Ref<NSURL>&) {
    finish(true);
}

void HLAdServiceVideoPostbackProxy::postbackServiceDidFailToExecutePostback(const Ref<HLPostbackService>&,
                                                                            const Ref<NSURL>&, int32_t) {
    finish(hlClickThroughOnFailure(adService_.lock()));
}

// The view and the launch belong to the main thread.
void HLAdServiceVideoPostbackProxy::finish(bool leadOn) {
    Ref<HLAdServiceVideoPostbackProxy> self = this->self<HLAdServiceVideoPostbackProxy>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([self, leadOn] {
        if (!self->videoView_) return;
        self->videoView_->removeClickTrackingOverlay();
        Ref<HLAdService> service = self->adService_.lock();
        if (!leadOn || self->videoView_->foregroundClickInvalidated() || !service || !self->ad_) return;
        service->launchURL(self->ad_->clickDestinationURL(), self->ad_, self->viewController_.lock());
    });
}
