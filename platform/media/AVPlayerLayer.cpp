#include "platform/media/AVPlayerLayer.h"

#include <algorithm>

#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSThread.h"

namespace platform {

Ref<AVPlayerLayer> AVPlayerLayer::playerLayerWithPlayer(const Ref<AVPlayer>& player) {
    auto layer = alloc()->init();
    layer->setPlayer(player);
    return layer;
}

AVPlayerLayer::~AVPlayerLayer() {
    if (player_) player_->removeLayer(this);
}

void AVPlayerLayer::setPlayer(const Ref<AVPlayer>& player) {
    assertMainThread("AVPlayerLayer::setPlayer");
    if (player == player_) return;
    if (player_) player_->removeLayer(this);
    player_ = player;
    if (player_) player_->addLayer(this);
    playerDidChange();
}

void AVPlayerLayer::setVideoGravity(const std::string& gravity) {
    if (gravity != AVLayerVideoGravityResizeAspect && gravity != AVLayerVideoGravityResizeAspectFill &&
        gravity != AVLayerVideoGravityResize) {
        logError("AVPlayerLayer::setVideoGravity: unknown gravity " + gravity);
        return;
    }
    videoGravity_ = gravity;
}

Value AVPlayerLayer::observableValue(const std::string& keyPath) const {
    if (keyPath == "readyForDisplay") return Value(ready_);
    return Value();
}

bool AVPlayerLayer::wouldBeReady() const {
    auto item = player_ ? player_->currentItem() : nullptr;
    return item && item->status() == AVPlayerItemStatusReadyToPlay && item->asset()->probe().hasVideo();
}

void AVPlayerLayer::setReady(bool ready) {
    if (ready == ready_) return;
    ready_ = ready;
    didChange("readyForDisplay", Value(!ready), Value(ready));
}

void AVPlayerLayer::playerDidChange() {
    auto item = player_ ? player_->currentItem() : nullptr;
    bool would = wouldBeReady();
    if (ready_ && would && item.get() == readyItem_) return;
    uint64_t generation = ++readyGeneration_;
    auto keepAlive = self<AVPlayerLayer>();
    setReady(false);
    if (!would) return;
    // The first frame shows at the next pass.
    Weak<AVPlayerLayer> weak = keepAlive;
    dispatch_async(dispatch_get_main_queue(), [weak, generation] {
        auto layer = weak.lock();
        if (!layer || layer->readyGeneration_ != generation || !layer->wouldBeReady()) return;
        layer->readyItem_ = layer->player_->currentItem().get();
        layer->setReady(true);
    });
}

CGRect AVPlayerLayer::videoRect() const {
    auto item = player_ ? player_->currentItem() : nullptr;
    if (!item || item->status() != AVPlayerItemStatusReadyToPlay) return CGRectZero;
    CGSize natural = item->presentationSize();
    CGRect b = bounds();
    if (natural.width <= 0 || natural.height <= 0) return CGRectZero;
    if (videoGravity_ == AVLayerVideoGravityResize) return b;
    double sx = static_cast<double>(b.size.width) / natural.width;
    double sy = static_cast<double>(b.size.height) / natural.height;
    double scale = videoGravity_ == AVLayerVideoGravityResizeAspectFill ? std::max(sx, sy) : std::min(sx, sy);
    double w = natural.width * scale;
    double h = natural.height * scale;
    return CGRectMake(static_cast<CGFloat>(b.origin.x + (b.size.width - w) / 2),
                      static_cast<CGFloat>(b.origin.y + (b.size.height - h) / 2), static_cast<CGFloat>(w),
                      static_cast<CGFloat>(h));
}

void AVPlayerLayer::drawInContext(CGContextRef context) {
    CGContextSetRGBFillColor(context, 0, 0, 0, 1);
    CGContextFillRect(context, bounds());
}

}  // namespace platform
