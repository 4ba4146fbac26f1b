// The view: a rectangle in a tree of views with geometry (centre, bounds,
// transform), appearance, autoresizing and constraints, hooks the platform
// calls (moves, layout, drawing, touches), hit-testing, animations, and the
// drawing seams lastDrawOperations and renderToPNG.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/CALayer.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIResponder.h"
#include "platform/ui/UIViewAnimation.h"

namespace platform {

class UIWindow;
class UIViewController;
class UIGestureRecognizer;
struct CairoSurface;

using UIViewAutoresizing = uint64_t;
inline constexpr UIViewAutoresizing UIViewAutoresizingNone = 0;
inline constexpr UIViewAutoresizing UIViewAutoresizingFlexibleLeftMargin = 1;
inline constexpr UIViewAutoresizing UIViewAutoresizingFlexibleWidth = 2;
inline constexpr UIViewAutoresizing UIViewAutoresizingFlexibleRightMargin = 4;
inline constexpr UIViewAutoresizing UIViewAutoresizingFlexibleTopMargin = 8;
inline constexpr UIViewAutoresizing UIViewAutoresizingFlexibleHeight = 16;
inline constexpr UIViewAutoresizing UIViewAutoresizingFlexibleBottomMargin = 32;

using UIViewContentMode = int64_t;
inline constexpr UIViewContentMode UIViewContentModeScaleToFill = 0;
inline constexpr UIViewContentMode UIViewContentModeScaleAspectFit = 1;
inline constexpr UIViewContentMode UIViewContentModeScaleAspectFill = 2;
inline constexpr UIViewContentMode UIViewContentModeRedraw = 3;
inline constexpr UIViewContentMode UIViewContentModeCenter = 4;

// "No intrinsic size on this axis".
inline constexpr CGFloat UIViewNoIntrinsicMetric = -1;

class UIView : public UIResponder {
public:
    static Ref<UIView> alloc() { return std::make_shared<UIView>(); }
    virtual Ref<UIView> initWithFrame(CGRect frame);
    Ref<UIView> init() { return initWithFrame(CGRectZero); }
    ~UIView() override;

    // ---- geometry: the view stores centre, bounds and transform ----
    // The bounding box of the bounds transformed about the centre.
    CGRect frame() const;
    // Centre at the frame's midpoint, bounds size = the frame's size.
    virtual void setFrame(CGRect frame);
    CGRect bounds() const;
    virtual void setBounds(CGRect bounds);
    CGPoint center() const;
    virtual void setCenter(CGPoint center);
    CGAffineTransform transform() const;
    virtual void setTransform(const CGAffineTransform& transform);

    // ---- appearance and behaviour ----
    bool isHidden() const;
    virtual void setHidden(bool hidden);
    CGFloat alpha() const;
    virtual void setAlpha(CGFloat alpha);
    // Null: none.
    Ref<UIColor> backgroundColor() const;
    virtual void setBackgroundColor(Ref<UIColor> color);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool o) { opaque_ = o; }
    bool clipsToBounds() const;
    void setClipsToBounds(bool clips);
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool e) { userInteractionEnabled_ = e; }
    int64_t tag() const { return tag_; }
    void setTag(int64_t t) { tag_ = t; }
    // Depth first, the view itself first.
    Ref<UIView> viewWithTag(int64_t tag);
    UIViewAutoresizing autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(UIViewAutoresizing mask) { autoresizingMask_ = mask; }
    bool autoresizesSubviews() const { return autoresizesSubviews_; }
    void setAutoresizesSubviews(bool a) { autoresizesSubviews_ = a; }
    UIViewContentMode contentMode() const { return contentMode_; }
    virtual void setContentMode(UIViewContentMode mode);
    bool translatesAutoresizingMaskIntoConstraints() const { return translatesMask_; }
    void setTranslatesAutoresizingMaskIntoConstraints(bool t);
    const std::optional<std::string>& accessibilityLabel() const { return accessibilityLabel_; }
    void setAccessibilityLabel(std::optional<std::string> s) { accessibilityLabel_ = std::move(s); }
    const std::optional<std::string>& accessibilityIdentifier() const { return accessibilityIdentifier_; }
    void setAccessibilityIdentifier(std::optional<std::string> s) { accessibilityIdentifier_ = std::move(s); }
    bool isAccessibilityElement() const { return accessibilityElement_; }
    void setIsAccessibilityElement(bool e) { accessibilityElement_ = e; }

    // ---- hierarchy: subviews back to front (later is above) ----
    Ref<UIView> superview() const { return superview_.lock(); }
    std::vector<Ref<UIView>> subviews() const { return subviews_; }
    // The window the view is in (the window itself for a window), or null.
    Ref<UIWindow> window() const;
    // To the front; a view in another superview is moved.
    void addSubview(const Ref<UIView>& view);
    void insertSubviewAtIndex(const Ref<UIView>& view, int64_t index);
    void insertSubviewBelowSubview(const Ref<UIView>& view, const Ref<UIView>& sibling);
    void insertSubviewAboveSubview(const Ref<UIView>& view, const Ref<UIView>& sibling);
    void bringSubviewToFront(const Ref<UIView>& view);
    void sendSubviewToBack(const Ref<UIView>& view);
    // Also removes every constraint held by an ancestor that involves the
    // view or its subtree.
    void removeFromSuperview();
    // True for the view itself too.
    bool isDescendantOfView(const Ref<UIView>& view) const;

    // ---- hooks the platform calls (it holds the view meanwhile) ----
    virtual void willMoveToSuperview(Ref<UIView> newSuperview);
    virtual void didMoveToSuperview();
    // Null when leaving a window.
    virtual void willMoveToWindow(Ref<UIWindow> newWindow);
    virtual void didMoveToWindow();
    virtual void didAddSubview(Ref<UIView> subview);
    virtual void willRemoveSubview(Ref<UIView> subview);
    virtual void layoutSubviews();
    virtual void drawRect(CGRect rect);
    // Default: the current bounds size.
    virtual CGSize sizeThatFits(CGSize size);
    // Default: no intrinsic size (UIViewNoIntrinsicMetric on both axes).
    virtual CGSize intrinsicContentSize();
    // The bounds contain the point.
    virtual bool pointInside(CGPoint point, const Ref<UIEvent>& event);
    // Null for a hidden view, alpha below 0.01, no user interaction, or a
    // point outside; else the first hit among the subviews front to back,
    // else the view itself. The point is in this view's coordinates.
    virtual Ref<UIView> hitTest(CGPoint point, const Ref<UIEvent>& event);

    // ---- layout and display ----
    void setNeedsLayout();
    bool needsLayout() const { return needsLayout_; }
    // Lays out this view and its subtree now where marked.
    void layoutIfNeeded();
    void setNeedsDisplay();
    // Resizes to sizeThatFits(current size), keeping the origin.
    void sizeToFit();
    // The superview's layout is redone (the size the solver uses changed).
    void invalidateIntrinsicContentSize();

    // ---- coordinates: through the superview chain, each transform about
    // its view's centre; a null view means the window; between windows
    // through the window frames ----
    CGPoint convertPointToView(CGPoint point, const Ref<UIView>& view) const;
    CGPoint convertPointFromView(CGPoint point, const Ref<UIView>& view) const;
    CGRect convertRectToView(CGRect rect, const Ref<UIView>& view) const;
    CGRect convertRectFromView(CGRect rect, const Ref<UIView>& view) const;

    // ---- layer ----
    Ref<CALayer> layer() const;
    // Makes the view's layer; override to choose the layer class.
    virtual Ref<CALayer> makeLayer();

    // ---- constraints ----
    void addConstraint(const Ref<NSLayoutConstraint>& constraint);
    void addConstraints(const std::vector<Ref<NSLayoutConstraint>>& constraints);
    void removeConstraint(const Ref<NSLayoutConstraint>& constraint);
    void removeConstraints(const std::vector<Ref<NSLayoutConstraint>>& constraints);
    std::vector<Ref<NSLayoutConstraint>> constraints() const { return constraints_; }

    // ---- gestures ----
    void addGestureRecognizer(const Ref<UIGestureRecognizer>& recognizer);
    void removeGestureRecognizer(const Ref<UIGestureRecognizer>& recognizer);
    std::vector<Ref<UIGestureRecognizer>> gestureRecognizers() const { return gestureRecognizers_; }

    // ---- animations ----
    static void animateWithDuration(double duration, double delay, UIViewAnimationOptions options, Block animations,
                                    std::function<void(bool)> completion);
    static void animateWithDuration(double duration, Block animations, std::function<void(bool)> completion);
    static void animateWithDuration(double duration, Block animations);
    static void transitionWithView(const Ref<UIView>& view, double duration, UIViewAnimationOptions options,
                                   Block animations, std::function<void(bool)> completion);

    // ---- drawing seams ----
    // The calls of the view's last drawRect.
    std::vector<DrawOperation> lastDrawOperations() const { return lastDrawOperations_; }
    // Lays out and draws the subtree, then writes it as a PNG at the screen
    // scale. False (logged) when the file cannot be written.
    bool renderToPNG(const std::string& path);

    // ---- used by the platform ----
    // The controller whose view this is.
    Ref<UIViewController> viewController() const { return controller_.lock(); }
    void setViewController(const Ref<UIViewController>& controller) { controller_ = controller; }
    bool needsDisplay() const { return needsDisplay_; }
    // Runs drawRect into a fresh context over the bounds × scale now.
    void displayNow(CGFloat scale);
    // The image drawRect produced last (null when it drew nothing).
    const std::shared_ptr<CairoSurface>& backingSurface() const { return backing_; }
    // What a snapshot draws for the view itself, in its bounds' space after
    // the background: the drawRect image by default.
    virtual void drawSnapshotContent(CGContextRef context);
    // One layout step of this view: solve its constraints, then the
    // controller's and its own layout hooks.
    void layoutOwnSubviews();
    // A point in this view's coordinates in its superview's, and back.
    CGPoint pointToSuperview(CGPoint p) const;
    CGPoint pointFromSuperview(CGPoint p) const;

protected:
    // Resizes the subviews that follow their autoresizing masks after a
    // bounds size change.
    void resizeSubviewsWithOldSize(CGSize oldSize);

private:
    friend class UIWindow;
    void insertSubview(const Ref<UIView>& view, size_t index);
    void moveSubview(const Ref<UIView>& view, size_t index);
    void insertSubviewNextTo(const Ref<UIView>& view, const Ref<UIView>& sibling, size_t offset);
    void setWindowRecursively(const Ref<UIWindow>& window, bool will);
    void boundsSizeChanged(CGSize oldSize);
    void removeConstraintsInvolvingSubtree(const UIView* root);

    mutable Ref<CALayer> layer_;
    Weak<UIView> superview_;
    std::vector<Ref<UIView>> subviews_;
    Weak<UIViewController> controller_;
    std::vector<Ref<NSLayoutConstraint>> constraints_;
    std::vector<Ref<UIGestureRecognizer>> gestureRecognizers_;
    std::vector<DrawOperation> lastDrawOperations_;
    std::shared_ptr<CairoSurface> backing_;
    CGFloat backingScale_ = 1;
    bool opaque_ = true;
    bool userInteractionEnabled_ = true;
    int64_t tag_ = 0;
    UIViewAutoresizing autoresizingMask_ = UIViewAutoresizingNone;
    bool autoresizesSubviews_ = true;
    UIViewContentMode contentMode_ = UIViewContentModeScaleToFill;
    bool translatesMask_ = true;
    std::optional<std::string> accessibilityLabel_;
    std::optional<std::string> accessibilityIdentifier_;
    bool accessibilityElement_ = false;
    bool needsLayout_ = true;
    bool needsDisplay_ = true;
    bool inLayout_ = false;
};

}  // namespace platform

using platform::UIView;
using platform::UIViewAutoresizing;
using platform::UIViewAutoresizingFlexibleBottomMargin;
using platform::UIViewAutoresizingFlexibleHeight;
using platform::UIViewAutoresizingFlexibleLeftMargin;
using platform::UIViewAutoresizingFlexibleRightMargin;
using platform::UIViewAutoresizingFlexibleTopMargin;
using platform::UIViewAutoresizingFlexibleWidth;
using platform::UIViewAutoresizingNone;
using platform::UIViewContentMode;
using platform::UIViewContentModeCenter;
using platform::UIViewContentModeRedraw;
using platform::UIViewContentModeScaleAspectFill;
using platform::UIViewContentModeScaleAspectFit;
using platform::UIViewContentModeScaleToFill;
using platform::UIViewNoIntrinsicMetric;
