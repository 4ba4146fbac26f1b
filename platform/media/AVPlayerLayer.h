// The layer that shows a player's video: the picture's rectangle fitted into
// the bounds by the video gravity, and "readyForDisplay" (observable), true
// from the pass after the player's current item became ready when its asset
// has a video track; never for audio only. Snapshots draw it black.
#pragma once

#include <string>

#include "platform/media/AVObservable.h"
#include "platform/media/AVPlayer.h"
#include "platform/ui/CALayer.h"

namespace platform {

inline constexpr const char* AVLayerVideoGravityResizeAspect = "AVLayerVideoGravityResizeAspect";
inline constexpr const char* AVLayerVideoGravityResizeAspectFill = "AVLayerVideoGravityResizeAspectFill";
inline constexpr const char* AVLayerVideoGravityResize = "AVLayerVideoGravityResize";

class AVPlayerLayer : public CALayer, public AVObservable {
public:
    static Ref<AVPlayerLayer> alloc() { return std::make_shared<AVPlayerLayer>(); }
    static Ref<AVPlayerLayer> layer() { return alloc()->init(); }
    static Ref<AVPlayerLayer> playerLayerWithPlayer(const Ref<AVPlayer>& player);
    Ref<AVPlayerLayer> init() { return self<AVPlayerLayer>(); }
    ~AVPlayerLayer() override;

    Ref<AVPlayer> player() const { return player_; }
    void setPlayer(const Ref<AVPlayer>& player);
    // One of the AVLayerVideoGravity values (others are refused with a log line).
    const std::string& videoGravity() const { return videoGravity_; }
    void setVideoGravity(const std::string& gravity);

    bool isReadyForDisplay() const { return ready_; }
    // The picture's rectangle in the layer's coordinates; zero without a
    // ready item with video.
    CGRect videoRect() const;

    void drawInContext(CGContextRef context) override;

protected:
    Value observableValue(const std::string& keyPath) const override;
    NSObject& observedObject() override { return *this; }

private:
    friend class AVPlayer;
    // The player's current item or its status changed.
    void playerDidChange();
    bool wouldBeReady() const;
    void setReady(bool ready);

    Ref<AVPlayer> player_;
    std::string videoGravity_ = AVLayerVideoGravityResizeAspect;
    bool ready_ = false;
    const AVPlayerItem* readyItem_ = nullptr;  // the item ready_ was set for
    uint64_t readyGeneration_ = 0;             // invalidates a pending "ready" pass
};

}  // namespace platform

using platform::AVLayerVideoGravityResize;
using platform::AVLayerVideoGravityResizeAspect;
using platform::AVLayerVideoGravityResizeAspectFill;
using platform::AVPlayerLayer;
