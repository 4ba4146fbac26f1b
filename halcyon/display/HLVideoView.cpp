#include "halcyon/display/HLVideoView.h"

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "platform/runtime/NSOperationQueue.h"

Ref<HLVideoView> HLVideoView::initWithSdk(const Ref<HLSdk>& sdk, const Ref<AVPlayer>& player) {
    UIView::initWithFrame(CGRectZero);
    sdk_ = sdk;
    setPlayer(player);
    return self<HLVideoView>();
}

Ref<CALayer> HLVideoView::makeLayer() { return AVPlayerLayer::alloc()->init(); }

Ref<AVPlayerLayer> HLVideoView::playerLayer() const { return std::dynamic_pointer_cast<AVPlayerLayer>(layer()); }

Ref<AVPlayer> HLVideoView::player() const { return playerLayer()->player(); }

void HLVideoView::setPlayer(const Ref<AVPlayer>& player) { playerLayer()->setPlayer(player); }

double HLVideoView::overlayFadeTime() const { return HLClickTrackingOverlayView::fadeTimeForSdk(sdk_); }

Ref<HLClickTrackingOverlayView> HLVideoView::trackingOverlay() const {
    std::scoped_lock lock(overlayMutex_);
    return trackingOverlay_;
}

void HLVideoView::showClickTrackingOverlay() {
    auto view = self<HLVideoView>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([view] {
        if (view->sdk_) view->sdk_->logManager()->d("HLVideoView", "Performing foreground preclick handling...");
        Ref<HLClickTrackingOverlayView> overlay;
        {
            std::scoped_lock lock(view->overlayMutex_);
            if (view->trackingOverlay_) return;
            overlay = HLClickTrackingOverlayView::alloc()->initWithSdk(view->sdk_);
            view->trackingOverlay_ = overlay;
        }
        overlay->attachToView(view, view->overlayFadeTime());
    });
}

void HLVideoView::removeClickTrackingOverlay() {
    auto view = self<HLVideoView>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([view] {
        Ref<HLClickTrackingOverlayView> overlay = view->trackingOverlay();
        if (!overlay) return;
        UIView::animateWithDuration(
            view->overlayFadeTime(), [overlay] { overlay->setAlpha(0); },
            [view, overlay](bool) {
                overlay->removeFromSuperview();
                // A newer overlay shown meanwhile stays.
                std::scoped_lock lock(view->overlayMutex_);
                if (view->trackingOverlay_ == overlay) view->trackingOverlay_.reset();
            });
    });
}
