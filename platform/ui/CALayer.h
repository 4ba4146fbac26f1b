// The layer behind every view (and free-standing layers such as gradients and
// video): geometry, stacking by zPosition, corner radius, border, background,
// opacity and the sublayer tree that snapshots draw.
#pragma once

#include <vector>

#include "platform/runtime/NSObject.h"
#include "platform/ui/CGAffineTransform.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/UIColor.h"

namespace platform {

class UIView;

class CALayer : public NSObject {
public:
    static Ref<CALayer> alloc() { return std::make_shared<CALayer>(); }
    static Ref<CALayer> layer() { return alloc()->init(); }
    Ref<CALayer> init() { return self<CALayer>(); }

    // Geometry. position is the centre of the bounds (anchor point 0.5, 0.5);
    // frame is the bounding box of the bounds transformed about it.
    CGRect frame() const;
    void setFrame(CGRect frame);
    CGRect bounds() const { return bounds_; }
    void setBounds(CGRect bounds);
    CGPoint position() const { return position_; }
    void setPosition(CGPoint position);
    CGAffineTransform affineTransform() const { return transform_; }
    void setAffineTransform(const CGAffineTransform& transform);
    // Applied to the sublayers when drawing.
    CGAffineTransform sublayerTransform() const { return sublayerTransform_; }
    void setSublayerTransform(const CGAffineTransform& t) { sublayerTransform_ = t; }

    // Siblings draw by increasing zPosition; equal ones in sublayer order.
    CGFloat zPosition() const { return zPosition_; }
    void setZPosition(CGFloat z) { zPosition_ = z; }
    CGFloat cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(CGFloat r) { cornerRadius_ = r; }
    bool masksToBounds() const { return masksToBounds_; }
    void setMasksToBounds(bool m) { masksToBounds_ = m; }
    CGFloat borderWidth() const { return borderWidth_; }
    void setBorderWidth(CGFloat w) { borderWidth_ = w; }
    CGColorRef borderColor() const { return borderColor_; }
    void setBorderColor(CGColorRef c) { borderColor_ = std::move(c); }
    CGColorRef backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(CGColorRef c) { backgroundColor_ = std::move(c); }
    float opacity() const { return opacity_; }
    void setOpacity(float o);
    bool isHidden() const { return hidden_; }
    void setHidden(bool h);

    // The tree. Sublayers are held strongly, the superlayer weakly.
    Ref<CALayer> superlayer() const { return superlayer_.lock(); }
    std::vector<Ref<CALayer>> sublayers() const { return sublayers_; }
    void addSublayer(const Ref<CALayer>& layer);
    // Past the end: at the end.
    void insertSublayerAtIndex(const Ref<CALayer>& layer, uint64_t index);
    void insertSublayerBelow(const Ref<CALayer>& layer, const Ref<CALayer>& sibling);
    void insertSublayerAbove(const Ref<CALayer>& layer, const Ref<CALayer>& sibling);
    void removeFromSuperlayer();

    // The view whose layer this is (null for free-standing layers).
    Ref<UIView> delegateView() const { return view_.lock(); }

    // Ends the owning view's running animations: their completions run at
    // the next pass with finished false.
    void removeAllAnimations();

    // The layer's own content, drawn by snapshots in the layer's bounds
    // (after the background, below the sublayers). Nothing by default.
    virtual void drawInContext(CGContextRef context);

private:
    friend class UIView;
    void detachFromSuperlayer();

    CGRect bounds_{};
    CGPoint position_{};
    CGAffineTransform transform_{};
    CGAffineTransform sublayerTransform_{};
    CGFloat zPosition_ = 0;
    CGFloat cornerRadius_ = 0;
    bool masksToBounds_ = false;
    CGFloat borderWidth_ = 0;
    CGColorRef borderColor_ = CGColorCreate(0, 0, 0, 1);
    CGColorRef backgroundColor_;
    float opacity_ = 1;
    bool hidden_ = false;
    Weak<CALayer> superlayer_;
    std::vector<Ref<CALayer>> sublayers_;
    Weak<UIView> view_;
};

}  // namespace platform

using platform::CALayer;
