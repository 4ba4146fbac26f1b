// The view a video ad plays in: its layer is the player layer. It also
// carries the click-tracking overlay while a video click waits for its
// tracking request: the ad service shows and removes it from its own queue
// and reads foregroundClickInvalidated there, so that a late answer opens
// nothing once the video controller has gone. The video player creates and
// owns it. Views are changed on the main thread only.
#pragma once

#include <atomic>
#include <mutex>

#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/display/HLClickTrackingOverlayView.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/AVPlayerLayer.h"
#include "platform/ui/UIView.h"

class HLSdk;

class HLVideoView : public UIView, public HLAdViewForegroundClickTrackingProtocol {
public:
    static Ref<HLVideoView> alloc() { return std::make_shared<HLVideoView>(); }
    Ref<HLVideoView> initWithSdk(const Ref<HLSdk>& sdk, const Ref<AVPlayer>& player);
    Ref<CALayer> makeLayer() override;

    Ref<AVPlayerLayer> playerLayer() const;
    Ref<AVPlayer> player() const;
    void setPlayer(const Ref<AVPlayer>& player);

    // Any thread; the view changes on the main queue. Showing while an
    // overlay is up changes nothing; removing fades it out over
    // overlayFadeTime, then takes it away.
    void showClickTrackingOverlay() override;
    void removeClickTrackingOverlay() override;
    // Slot 122 in seconds.
    double overlayFadeTime() const;

    // Any thread.
    bool foregroundClickInvalidated() const override { return foregroundClickInvalidated_.load(); }
    void setForegroundClickInvalidated(bool invalidated) { foregroundClickInvalidated_ = invalidated; }
    Ref<HLClickTrackingOverlayView> trackingOverlay() const;
    Ref<HLSdk> sdk() const { return sdk_; }

private:
    std::atomic<bool> foregroundClickInvalidated_{false};
    mutable std::mutex overlayMutex_;  // guards trackingOverlay_
    Ref<HLClickTrackingOverlayView> trackingOverlay_;
    Ref<HLSdk> sdk_;
};
