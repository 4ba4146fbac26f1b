#include "platform/ui/UIView.h"

#include <algorithm>
#include <cmath>

#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"
#include "platform/ui/MainThreadOnly.h"
#include "platform/ui/CairoContext.h"
#include "platform/ui/LayoutSolver.h"
#include "platform/ui/Snapshot.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIPasses.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

namespace platform {

namespace {

bool finiteRect(const CGRect& r) {
    return std::isfinite(r.origin.x) && std::isfinite(r.origin.y) && std::isfinite(r.size.width) &&
           std::isfinite(r.size.height);
}

bool rejectNonFinite(bool ok, const char* method) {
    if (!ok) logError(std::string(method) + ": ignored a value that is not a finite number");
    return !ok;
}

// On one axis, shares the change of the parent's length among the flexible
// parts in proportion to their lengths (equally when they are all 0).
void resizeAxis(double oldParent, double newParent, double& min, double& size, bool flexMin, bool flexSize,
                bool flexMax) {
    double delta = newParent - oldParent;
    int flexible = int(flexMin) + int(flexSize) + int(flexMax);
    if (delta == 0 || flexible == 0) return;
    double lengths[3] = {flexMin ? std::max(0.0, min) : 0, flexSize ? std::max(0.0, size) : 0,
                         flexMax ? std::max(0.0, oldParent - min - size) : 0};
    double sum = lengths[0] + lengths[1] + lengths[2];
    auto share = [&](int part, bool isFlexible) {
        if (!isFlexible) return 0.0;
        return sum > 0 ? delta * lengths[part] / sum : delta / flexible;
    };
    double minShare = share(0, flexMin), sizeShare = share(1, flexSize);
    min += minShare;
    size += sizeShare;
}

}  // namespace

// ---- creation ------------------------------------------------------------------

Ref<UIView> UIView::initWithFrame(CGRect frame) {
    MainThreadOnly mainThreadOnly("UIView::initWithFrame");
    UIPasses::install();
    layer();
    layer_->view_ = self<UIView>();
    if (rejectNonFinite(finiteRect(frame), "UIView::initWithFrame")) frame = CGRectZero;
    CGRect f = CGRectStandardize(frame);
    layer_->position_ = {CGRectGetMidX(f), CGRectGetMidY(f)};
    layer_->bounds_ = CGRectMake(0, 0, f.size.width, f.size.height);
    UIPasses::markLayoutDirty();
    UIPasses::markDisplayDirty();
    return self<UIView>();
}

UIView::~UIView() = default;

Ref<CALayer> UIView::makeLayer() { return CALayer::alloc()->init(); }

Ref<CALayer> UIView::layer() const {
    if (!layer_) {
        layer_ = const_cast<UIView*>(this)->makeLayer();
        if (!layer_) layer_ = CALayer::alloc()->init();
    }
    return layer_;
}

// ---- geometry --------------------------------------------------------------------

CGRect UIView::frame() const { return layer()->frame(); }
CGRect UIView::bounds() const { return layer()->bounds_; }
CGPoint UIView::center() const { return layer()->position_; }
CGAffineTransform UIView::transform() const { return layer()->transform_; }

void UIView::setFrame(CGRect frame) {
    MainThreadOnly mainThreadOnly("UIView::setFrame");
    if (rejectNonFinite(finiteRect(frame), "UIView::setFrame")) return;
    UIViewAnimation::noteChange(this);
    CGRect f = CGRectStandardize(frame);
    CGSize oldSize = layer()->bounds_.size;
    layer_->position_ = {CGRectGetMidX(f), CGRectGetMidY(f)};
    layer_->bounds_.size = f.size;
    if (!(oldSize == f.size)) boundsSizeChanged(oldSize);
}

void UIView::setBounds(CGRect bounds) {
    MainThreadOnly mainThreadOnly("UIView::setBounds");
    if (rejectNonFinite(finiteRect(bounds), "UIView::setBounds")) return;
    UIViewAnimation::noteChange(this);
    CGSize oldSize = layer()->bounds_.size;
    layer_->bounds_ = bounds;
    if (!(oldSize == bounds.size)) boundsSizeChanged(oldSize);
}

void UIView::setCenter(CGPoint center) {
    MainThreadOnly mainThreadOnly("UIView::setCenter");
    if (rejectNonFinite(std::isfinite(center.x) && std::isfinite(center.y), "UIView::setCenter")) return;
    UIViewAnimation::noteChange(this);
    layer()->position_ = center;
}

void UIView::setTransform(const CGAffineTransform& t) {
    MainThreadOnly mainThreadOnly("UIView::setTransform");
    bool ok = std::isfinite(t.a) && std::isfinite(t.b) && std::isfinite(t.c) && std::isfinite(t.d) &&
              std::isfinite(t.tx) && std::isfinite(t.ty);
    if (rejectNonFinite(ok, "UIView::setTransform")) return;
    UIViewAnimation::noteChange(this);
    layer()->transform_ = t;
}

void UIView::boundsSizeChanged(CGSize oldSize) {
    Ref<UIView> keep = self<UIView>();
    if (autoresizesSubviews_) resizeSubviewsWithOldSize(oldSize);
    setNeedsLayout();
    setNeedsDisplay();
}

void UIView::resizeSubviewsWithOldSize(CGSize oldSize) {
    CGRect b = bounds();
    for (const auto& sub : std::vector<Ref<UIView>>(subviews_)) {
        UIViewAutoresizing m = sub->autoresizingMask_;
        if (!sub->translatesMask_ || m == UIViewAutoresizingNone) continue;
        CGRect f = sub->frame();
        double x = double(f.origin.x) - b.origin.x, w = f.size.width;
        double y = double(f.origin.y) - b.origin.y, h = f.size.height;
        resizeAxis(oldSize.width, b.size.width, x, w, m & UIViewAutoresizingFlexibleLeftMargin,
                   m & UIViewAutoresizingFlexibleWidth, m & UIViewAutoresizingFlexibleRightMargin);
        resizeAxis(oldSize.height, b.size.height, y, h, m & UIViewAutoresizingFlexibleTopMargin,
                   m & UIViewAutoresizingFlexibleHeight, m & UIViewAutoresizingFlexibleBottomMargin);
        CGRect n = CGRectMake(static_cast<CGFloat>(x + b.origin.x), static_cast<CGFloat>(y + b.origin.y),
                              static_cast<CGFloat>(w), static_cast<CGFloat>(h));
        if (!(n == f)) sub->setFrame(n);
    }
}

// ---- appearance ------------------------------------------------------------------

bool UIView::isHidden() const { return layer()->hidden_; }

void UIView::setHidden(bool hidden) {
    MainThreadOnly mainThreadOnly("UIView::setHidden");
    layer()->hidden_ = hidden;
}

CGFloat UIView::alpha() const { return layer()->opacity_; }

void UIView::setAlpha(CGFloat alpha) {
    MainThreadOnly mainThreadOnly("UIView::setAlpha");
    if (rejectNonFinite(std::isfinite(alpha), "UIView::setAlpha")) return;
    UIViewAnimation::noteChange(this);
    layer()->opacity_ = std::clamp<CGFloat>(alpha, 0, 1);
}

Ref<UIColor> UIView::backgroundColor() const { return UIColor::colorWithCGColor(layer()->backgroundColor_); }

void UIView::setBackgroundColor(Ref<UIColor> color) {
    MainThreadOnly mainThreadOnly("UIView::setBackgroundColor");
    UIViewAnimation::noteChange(this);
    layer()->backgroundColor_ = color ? color->CGColor() : nullptr;
}

bool UIView::clipsToBounds() const { return layer()->masksToBounds_; }
void UIView::setClipsToBounds(bool clips) { layer()->masksToBounds_ = clips; }

void UIView::setContentMode(UIViewContentMode mode) {
    contentMode_ = mode;
    setNeedsDisplay();
}

void UIView::setTranslatesAutoresizingMaskIntoConstraints(bool t) {
    translatesMask_ = t;
    if (auto s = superview()) s->setNeedsLayout();
}

Ref<UIView> UIView::viewWithTag(int64_t tag) {
    if (tag_ == tag) return self<UIView>();
    for (const auto& sub : subviews_)
        if (auto found = sub->viewWithTag(tag)) return found;
    return nullptr;
}

// ---- hierarchy ---------------------------------------------------------------------

Ref<UIWindow> UIView::window() const {
    for (auto v = std::const_pointer_cast<UIView>(self<UIView>()); v; v = v->superview())
        if (auto w = std::dynamic_pointer_cast<UIWindow>(v)) return w;
    return nullptr;
}

bool UIView::isDescendantOfView(const Ref<UIView>& view) const {
    if (!view) return false;
    for (const UIView* v = this; v;) {
        if (v == view.get()) return true;
        auto s = v->superview_.lock();
        v = s.get();
    }
    return false;
}

void UIView::setWindowRecursively(const Ref<UIWindow>& window, bool will) {
    Ref<UIView> keep = self<UIView>();
    if (will)
        willMoveToWindow(window);
    else
        didMoveToWindow();
    for (const auto& sub : std::vector<Ref<UIView>>(subviews_)) sub->setWindowRecursively(window, will);
}

void UIView::insertSubview(const Ref<UIView>& view, size_t index) {
    MainThreadOnly mainThreadOnly("UIView::addSubview");
    if (!view) return;
    if (view.get() == this || isDescendantOfView(view)) {
        logError("UIView::addSubview: a view cannot be added inside itself");
        return;
    }
    Ref<UIView> keep = view;
    Ref<UIView> me = self<UIView>();
    auto oldSuper = view->superview();
    if (oldSuper.get() == this) return moveSubview(view, index);

    Ref<UIWindow> newWindow = window();
    Ref<UIWindow> oldWindow = view->window();
    bool windowChanges = newWindow != oldWindow;
    view->willMoveToSuperview(me);
    if (windowChanges) view->setWindowRecursively(newWindow, true);
    if (oldSuper) {
        oldSuper->willRemoveSubview(view);
        oldSuper->removeConstraintsInvolvingSubtree(view.get());
        auto& list = oldSuper->subviews_;
        list.erase(std::remove(list.begin(), list.end(), view), list.end());
        view->layer()->detachFromSuperlayer();
        oldSuper->setNeedsLayout();
    }
    // The index may have gone stale if a hook changed the subviews.
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
    view->superview_ = me;
    if (index + 1 < subviews_.size())
        layer()->insertSublayerBelow(view->layer(), subviews_[index + 1]->layer());
    else
        layer()->addSublayer(view->layer());
    if (windowChanges) view->setWindowRecursively(newWindow, false);
    if (windowChanges && newWindow) UIPasses::markDisplayDirty();
    view->didMoveToSuperview();
    didAddSubview(view);
    setNeedsLayout();
    view->setNeedsLayout();
}

void UIView::moveSubview(const Ref<UIView>& view, size_t index) {
    Ref<UIView> keep = view;
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    if (it == subviews_.end()) return;
    subviews_.erase(it);
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
    view->layer()->detachFromSuperlayer();
    if (index + 1 < subviews_.size())
        layer()->insertSublayerBelow(view->layer(), subviews_[index + 1]->layer());
    else
        layer()->addSublayer(view->layer());
    setNeedsLayout();
    UIPasses::markDisplayDirty();
}

void UIView::addSubview(const Ref<UIView>& view) { insertSubview(view, subviews_.size()); }

void UIView::insertSubviewAtIndex(const Ref<UIView>& view, int64_t index) {
    insertSubview(view, index < 0 ? 0 : static_cast<size_t>(index));
}

// Next to `sibling`: `offset` 0 below it, 1 above it (at the front when it is
// not a subview).
void UIView::insertSubviewNextTo(const Ref<UIView>& view, const Ref<UIView>& sibling, size_t offset) {
    auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
    if (!view || it == subviews_.end()) return insertSubview(view, subviews_.size());
    size_t at = size_t(it - subviews_.begin()) + offset;
    if (view->superview().get() != this) return insertSubview(view, at);
    // Moving within: the sibling's index once the view is taken out.
    if (std::find(subviews_.begin(), subviews_.end(), view) < it) --at;
    moveSubview(view, at);
}

void UIView::insertSubviewBelowSubview(const Ref<UIView>& view, const Ref<UIView>& sibling) {
    insertSubviewNextTo(view, sibling, 0);
}

void UIView::insertSubviewAboveSubview(const Ref<UIView>& view, const Ref<UIView>& sibling) {
    insertSubviewNextTo(view, sibling, 1);
}

void UIView::bringSubviewToFront(const Ref<UIView>& view) {
    MainThreadOnly mainThreadOnly("UIView::bringSubviewToFront");
    if (view && view->superview().get() == this) moveSubview(view, subviews_.size());
}

void UIView::sendSubviewToBack(const Ref<UIView>& view) {
    MainThreadOnly mainThreadOnly("UIView::sendSubviewToBack");
    if (view && view->superview().get() == this) moveSubview(view, 0);
}

void UIView::removeConstraintsInvolvingSubtree(const UIView* root) {
    auto inSubtree = [root](const Ref<UIView>& v) { return v && v->isDescendantOfView(std::const_pointer_cast<UIView>(root->self<UIView>())); };
    for (auto a = self<UIView>(); a; a = a->superview()) {
        std::vector<Ref<NSLayoutConstraint>> gone;
        for (const auto& c : a->constraints_)
            if (inSubtree(c->firstItem()) || inSubtree(c->secondItem())) gone.push_back(c);
        if (!gone.empty()) a->removeConstraints(gone);
    }
}

void UIView::removeFromSuperview() {
    MainThreadOnly mainThreadOnly("UIView::removeFromSuperview");
    auto sup = superview();
    if (!sup) return;
    Ref<UIView> keep = self<UIView>();
    Ref<UIWindow> oldWindow = window();
    willMoveToSuperview(nullptr);
    if (oldWindow) setWindowRecursively(nullptr, true);
    sup->willRemoveSubview(keep);
    sup->removeConstraintsInvolvingSubtree(this);
    auto& list = sup->subviews_;
    list.erase(std::remove(list.begin(), list.end(), keep), list.end());
    layer()->detachFromSuperlayer();
    superview_.reset();
    sup->setNeedsLayout();
    UIPasses::markDisplayDirty();
    if (oldWindow) setWindowRecursively(nullptr, false);
    didMoveToSuperview();
}

// ---- hooks (defaults) ---------------------------------------------------------------

void UIView::willMoveToSuperview(Ref<UIView>) {}
void UIView::didMoveToSuperview() {}
void UIView::willMoveToWindow(Ref<UIWindow>) {}
void UIView::didMoveToWindow() {}
void UIView::didAddSubview(Ref<UIView>) {}
void UIView::willRemoveSubview(Ref<UIView>) {}
void UIView::layoutSubviews() {}
void UIView::drawRect(CGRect) {}
CGSize UIView::sizeThatFits(CGSize) { return bounds().size; }
CGSize UIView::intrinsicContentSize() { return {UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric}; }

bool UIView::pointInside(CGPoint point, const Ref<UIEvent>&) { return CGRectContainsPoint(bounds(), point); }

Ref<UIView> UIView::hitTest(CGPoint point, const Ref<UIEvent>& event) {
    if (isHidden() || alpha() < 0.01f || !userInteractionEnabled_ || !pointInside(point, event)) return nullptr;
    Ref<UIView> keep = self<UIView>();
    auto subs = subviews_;
    for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
        if (auto hit = (*it)->hitTest((*it)->pointFromSuperview(point), event)) return hit;
    }
    return keep;
}

// ---- layout and display ---------------------------------------------------------------

void UIView::setNeedsLayout() {
    MainThreadOnly mainThreadOnly("UIView::setNeedsLayout");
    needsLayout_ = true;
    UIPasses::markLayoutDirty();
}

void UIView::layoutIfNeeded() {
    MainThreadOnly mainThreadOnly("UIView::layoutIfNeeded");
    UIPasses::layoutTree(self<UIView>());
}

void UIView::layoutOwnSubviews() {
    if (inLayout_) return;
    Ref<UIView> keep = self<UIView>();
    inLayout_ = true;
    needsLayout_ = false;
    auto controller = viewController();
    if (controller) runtime::callAtBoundary([&] { controller->viewWillLayoutSubviews(); }, "viewWillLayoutSubviews");
    LayoutSolver::solve(this);
    runtime::callAtBoundary([&] { layoutSubviews(); }, "layoutSubviews");
    if (controller) runtime::callAtBoundary([&] { controller->viewDidLayoutSubviews(); }, "viewDidLayoutSubviews");
    inLayout_ = false;
}

void UIView::setNeedsDisplay() {
    MainThreadOnly mainThreadOnly("UIView::setNeedsDisplay");
    needsDisplay_ = true;
    UIPasses::markDisplayDirty();
}

void UIView::displayNow(CGFloat scale) {
    Ref<UIView> keep = self<UIView>();
    needsDisplay_ = false;
    CGRect b = bounds();
    auto context = CGContext::Impl::create(b.size, scale, false, b.origin);
    UIGraphicsPushContext(context.get());
    runtime::callAtBoundary([&] { drawRect(b); }, "drawRect");
    UIGraphicsPopContext();
    lastDrawOperations_ = context->operations();
    backing_ = context->impl().surface;
    backingScale_ = context->impl().scale;
}

void UIView::drawSnapshotContent(CGContextRef context) {
    if (!backing_ || !context) return;
    cairo_t* cr = context->impl().cairo();
    CGRect b = bounds();
    cairo_save(cr);
    cairo_translate(cr, b.origin.x, b.origin.y);
    cairo_scale(cr, 1.0 / backingScale_, 1.0 / backingScale_);
    cairo_set_source_surface(cr, backing_->surface, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

void UIView::sizeToFit() {
    MainThreadOnly mainThreadOnly("UIView::sizeToFit");
    CGSize size = sizeThatFits(bounds().size);
    CGRect f = frame();
    f.size = size;
    setFrame(f);
}

void UIView::invalidateIntrinsicContentSize() {
    if (auto s = superview()) s->setNeedsLayout();
    setNeedsLayout();
}

// ---- coordinates -----------------------------------------------------------------------

CGPoint UIView::pointToSuperview(CGPoint p) const {
    CGRect b = bounds();
    CGPoint c = center();
    CGPoint local{static_cast<CGFloat>(double(p.x) - b.origin.x - b.size.width / 2.0),
                  static_cast<CGFloat>(double(p.y) - b.origin.y - b.size.height / 2.0)};
    CGPoint t = CGPointApplyAffineTransform(local, transform());
    return {static_cast<CGFloat>(double(c.x) + t.x), static_cast<CGFloat>(double(c.y) + t.y)};
}

CGPoint UIView::pointFromSuperview(CGPoint p) const {
    CGRect b = bounds();
    CGPoint c = center();
    CGPoint rel{static_cast<CGFloat>(double(p.x) - c.x), static_cast<CGFloat>(double(p.y) - c.y)};
    CGAffineTransform t = transform();
    CGPoint local = CGAffineTransformIsIdentity(t) ? rel : CGPointApplyAffineTransform(rel, CGAffineTransformInvert(t));
    return {static_cast<CGFloat>(double(local.x) + b.origin.x + b.size.width / 2.0),
            static_cast<CGFloat>(double(local.y) + b.origin.y + b.size.height / 2.0)};
}

namespace {
// Up the chain to the root; through the root too when it is a window
// (window frames are screen coordinates).
CGPoint toScreen(const UIView* v, CGPoint p) {
    while (v) {
        auto s = v->superview();
        if (!s && !dynamic_cast<const UIWindow*>(v)) return p;
        p = v->pointToSuperview(p);
        v = s.get();
    }
    return p;
}
CGPoint fromScreen(const UIView* v, CGPoint p) {
    std::vector<const UIView*> chain;
    for (const UIView* c = v; c;) {
        chain.push_back(c);
        auto s = c->superview();
        c = s.get();
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it == chain.rbegin() && !dynamic_cast<const UIWindow*>(*it)) continue;
        p = (*it)->pointFromSuperview(p);
    }
    return p;
}
}  // namespace


CGPoint UIView::convertPointToView(CGPoint point, const Ref<UIView>& view) const {
    const UIView* target = view.get();
    Ref<UIWindow> w;
    if (!target) {
        w = window();
        if (!w) return toScreen(this, point);
        target = w.get();
    }
    if (target == this) return point;
    return fromScreen(target, toScreen(this, point));
}

CGPoint UIView::convertPointFromView(CGPoint point, const Ref<UIView>& view) const {
    const UIView* source = view.get();
    Ref<UIWindow> w;
    if (!source) {
        w = window();
        if (!w) return fromScreen(this, point);
        source = w.get();
    }
    if (source == this) return point;
    return fromScreen(this, toScreen(source, point));
}

namespace {
template <class Convert> CGRect convertCorners(CGRect r, Convert convert) {
    if (CGRectIsNull(r)) return CGRectNull;
    CGRect s = CGRectStandardize(r);
    CGPoint corners[4] = {s.origin,
                          {s.origin.x + s.size.width, s.origin.y},
                          {s.origin.x, s.origin.y + s.size.height},
                          {s.origin.x + s.size.width, s.origin.y + s.size.height}};
    CGRect box = CGRectNull;
    for (const CGPoint& c : corners) {
        CGPoint p = convert(c);
        box = CGRectUnion(box, CGRectMake(p.x, p.y, 0, 0));
    }
    return box;
}
}  // namespace

CGRect UIView::convertRectToView(CGRect rect, const Ref<UIView>& view) const {
    return convertCorners(rect, [&](CGPoint p) { return convertPointToView(p, view); });
}

CGRect UIView::convertRectFromView(CGRect rect, const Ref<UIView>& view) const {
    return convertCorners(rect, [&](CGPoint p) { return convertPointFromView(p, view); });
}

// ---- constraints --------------------------------------------------------------------------

void UIView::addConstraint(const Ref<NSLayoutConstraint>& constraint) {
    MainThreadOnly mainThreadOnly("UIView::addConstraint");
    if (!constraint) return;
    auto holder = constraint->holder();
    if (holder.get() == this) return;
    if (holder) holder->removeConstraint(constraint);
    constraints_.push_back(constraint);
    constraint->holder_ = self<UIView>();
    setNeedsLayout();
}

void UIView::addConstraints(const std::vector<Ref<NSLayoutConstraint>>& constraints) {
    for (const auto& c : constraints) addConstraint(c);
}

void UIView::removeConstraint(const Ref<NSLayoutConstraint>& constraint) {
    MainThreadOnly mainThreadOnly("UIView::removeConstraint");
    auto it = std::find(constraints_.begin(), constraints_.end(), constraint);
    if (it == constraints_.end()) return;
    constraints_.erase(it);
    constraint->holder_.reset();
    setNeedsLayout();
}

void UIView::removeConstraints(const std::vector<Ref<NSLayoutConstraint>>& constraints) {
    for (const auto& c : constraints) removeConstraint(c);
}

// ---- gestures ---------------------------------------------------------------------------------

void UIView::addGestureRecognizer(const Ref<UIGestureRecognizer>& recognizer) {
    MainThreadOnly mainThreadOnly("UIView::addGestureRecognizer");
    if (!recognizer) return;
    if (auto old = recognizer->view()) {
        if (old.get() == this) return;
        old->removeGestureRecognizer(recognizer);
    }
    gestureRecognizers_.push_back(recognizer);
    recognizer->attachToView(self<UIView>());
}

void UIView::removeGestureRecognizer(const Ref<UIGestureRecognizer>& recognizer) {
    MainThreadOnly mainThreadOnly("UIView::removeGestureRecognizer");
    auto it = std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer);
    if (it == gestureRecognizers_.end()) return;
    gestureRecognizers_.erase(it);
    recognizer->attachToView(nullptr);
}

// ---- animations -----------------------------------------------------------------------------------

void UIView::animateWithDuration(double duration, double delay, UIViewAnimationOptions options, Block animations,
                                 std::function<void(bool)> completion) {
    UIViewAnimation::run(duration, delay, options, animations, std::move(completion), nullptr);
}

void UIView::animateWithDuration(double duration, Block animations, std::function<void(bool)> completion) {
    UIViewAnimation::run(duration, 0, 0, animations, std::move(completion), nullptr);
}

void UIView::animateWithDuration(double duration, Block animations) {
    UIViewAnimation::run(duration, 0, 0, animations, nullptr, nullptr);
}

void UIView::transitionWithView(const Ref<UIView>& view, double duration, UIViewAnimationOptions options,
                                Block animations, std::function<void(bool)> completion) {
    UIViewAnimation::run(duration, 0, options, animations, std::move(completion), view.get());
}

// ---- snapshots ------------------------------------------------------------------------------------------

bool UIView::renderToPNG(const std::string& path) {
    MainThreadOnly mainThreadOnly("UIView::renderToPNG");
    return Snapshot::writePNG(self<UIView>(), path);
}

}  // namespace platform
