#include "platform/ui/CALayer.h"

#include <algorithm>

#include "platform/ui/UIView.h"
#include "platform/ui/UIViewAnimation.h"

namespace platform {

CGRect CALayer::frame() const {
    CGRect local = CGRectMake(-bounds_.size.width / 2, -bounds_.size.height / 2, bounds_.size.width, bounds_.size.height);
    CGRect box = CGRectApplyAffineTransform(local, transform_);
    return CGRectOffset(box, position_.x, position_.y);
}

void CALayer::setFrame(CGRect frame) {
    if (auto v = view_.lock()) return v->setFrame(frame);
    CGRect f = CGRectStandardize(frame);
    position_ = {CGRectGetMidX(f), CGRectGetMidY(f)};
    bounds_.size = f.size;
}

void CALayer::setBounds(CGRect bounds) {
    if (auto v = view_.lock()) return v->setBounds(bounds);
    bounds_ = bounds;
}

void CALayer::setPosition(CGPoint position) {
    if (auto v = view_.lock()) return v->setCenter(position);
    position_ = position;
}

void CALayer::setAffineTransform(const CGAffineTransform& transform) {
    if (auto v = view_.lock()) return v->setTransform(transform);
    transform_ = transform;
}

void CALayer::setOpacity(float o) {
    if (auto v = view_.lock()) return v->setAlpha(o);
    opacity_ = o;
}

void CALayer::setHidden(bool h) {
    if (auto v = view_.lock()) return v->setHidden(h);
    hidden_ = h;
}

void CALayer::detachFromSuperlayer() {
    auto parent = superlayer_.lock();
    superlayer_.reset();
    if (!parent) return;
    auto& list = parent->sublayers_;
    list.erase(std::remove_if(list.begin(), list.end(), [this](const Ref<CALayer>& l) { return l.get() == this; }),
               list.end());
}

void CALayer::addSublayer(const Ref<CALayer>& layer) { insertSublayerAtIndex(layer, UINT64_MAX); }

void CALayer::insertSublayerAtIndex(const Ref<CALayer>& layer, uint64_t index) {
    if (!layer || layer.get() == this) return;
    Ref<CALayer> keep = layer;
    layer->detachFromSuperlayer();
    index = std::min<uint64_t>(index, sublayers_.size());
    sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(index), layer);
    layer->superlayer_ = self<CALayer>();
}

void CALayer::insertSublayerBelow(const Ref<CALayer>& layer, const Ref<CALayer>& sibling) {
    if (!layer || layer == sibling) return;
    Ref<CALayer> keep = layer;
    layer->detachFromSuperlayer();
    auto at = std::find(sublayers_.begin(), sublayers_.end(), sibling);
    insertSublayerAtIndex(layer, at == sublayers_.end() ? 0 : uint64_t(at - sublayers_.begin()));
}

void CALayer::insertSublayerAbove(const Ref<CALayer>& layer, const Ref<CALayer>& sibling) {
    if (!layer || layer == sibling) return;
    Ref<CALayer> keep = layer;
    layer->detachFromSuperlayer();
    auto at = std::find(sublayers_.begin(), sublayers_.end(), sibling);
    insertSublayerAtIndex(layer, at == sublayers_.end() ? UINT64_MAX : uint64_t(at - sublayers_.begin()) + 1);
}

void CALayer::removeFromSuperlayer() {
    if (auto v = view_.lock()) return v->removeFromSuperview();
    Ref<CALayer> keep = self<CALayer>();
    detachFromSuperlayer();
}

void CALayer::removeAllAnimations() {
    if (auto v = view_.lock()) UIViewAnimation::cancelAnimationsOf(v.get());
}

void CALayer::drawInContext(CGContextRef) {}

}  // namespace platform
