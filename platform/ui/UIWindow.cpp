#include "platform/ui/UIWindow.h"

#include <algorithm>

#include "platform/ui/MainThreadOnly.h"
#include "platform/ui/Snapshot.h"
#include "platform/ui/UIControl.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UITouch.h"
#include "platform/ui/UIViewController.h"

namespace platform {

namespace {

struct WindowRegistry {
    // Visible windows in the order they became visible. The registry keeps
    // them alive while they are shown.
    std::vector<Ref<UIWindow>> visible;
    Weak<UIWindow> key;
};

WindowRegistry& registry() {
    static WindowRegistry* r = new WindowRegistry();  // never destroyed: views may outlive static teardown
    return *r;
}

}  // namespace

Ref<UIView> UIWindow::initWithFrame(CGRect frame) {
    UIView::initWithFrame(frame);
    UIView::setHidden(true);
    return self<UIView>();
}

void UIWindow::setHidden(bool hidden) {
    MainThreadOnly mainThreadOnly("UIWindow::setHidden");
    bool was = isHidden();
    UIView::setHidden(hidden);
    if (was == hidden) return;
    auto& visible = registry().visible;
    auto me = self<UIWindow>();
    if (!hidden) {
        visible.push_back(me);
        setNeedsLayout();
        setNeedsDisplay();
        if (rootViewController_) rootViewController_->beginAppearance(false);
    } else {
        visible.erase(std::remove(visible.begin(), visible.end(), me), visible.end());
        if (rootViewController_) rootViewController_->beginDisappearance(false);
    }
}

void UIWindow::setRootViewController(const Ref<UIViewController>& controller) {
    MainThreadOnly mainThreadOnly("UIWindow::setRootViewController");
    if (controller == rootViewController_) return;
    Ref<UIWindow> keep = self<UIWindow>();
    bool visible = !isHidden();
    if (auto old = rootViewController_) {
        if (visible) old->beginDisappearance(false);
        if (old->isViewLoaded() && old->view()->superview().get() == this) old->view()->removeFromSuperview();
    }
    rootViewController_ = controller;
    if (!controller) return;
    auto view = controller->view();
    view->setFrame(bounds());
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    insertSubviewAtIndex(view, 0);
    if (visible) controller->beginAppearance(false);
}

void UIWindow::makeKeyAndVisible() {
    makeKeyWindow();
    setHidden(false);
}

void UIWindow::makeKeyWindow() {
    MainThreadOnly mainThreadOnly("UIWindow::makeKeyWindow");
    registry().key = self<UIWindow>();
}

bool UIWindow::isKeyWindow() const { return registry().key.lock().get() == this; }

std::vector<Ref<UIWindow>> UIWindow::visibleWindows() {
    auto list = registry().visible;
    std::stable_sort(list.begin(), list.end(),
                     [](const Ref<UIWindow>& a, const Ref<UIWindow>& b) { return a->windowLevel() < b->windowLevel(); });
    return list;
}

Ref<UIWindow> UIWindow::keyWindow() { return registry().key.lock(); }

void UIWindow::simulateTap(CGPoint point) {
    MainThreadOnly mainThreadOnly("UIWindow::simulateTap");
    auto me = self<UIWindow>();
    Ref<UIView> hit = hitTest(point, nullptr);
    if (!hit) return;
    auto touch = UITouch::alloc()->initWithWindow(me, hit, point);
    auto event = UIEvent::alloc()->initWithTouches({touch});
    std::vector<Ref<UITouch>> touches{touch};

    // Touch begin: recognizers of the hit view, then of each ancestor.
    std::vector<Ref<UIGestureRecognizer>> took;
    std::vector<bool> onHitView;
    for (auto v = hit; v; v = v->superview()) {
        for (const auto& r : v->gestureRecognizers()) {
            r->reset();
            if (r->offerTouch(touch)) {
                took.push_back(r);
                onHitView.push_back(v == hit);
            }
        }
    }
    auto control = std::dynamic_pointer_cast<UIControl>(hit);
    if (control && control->isEnabled()) control->setHighlighted(true);
    hit->touchesBegan(touches, event);

    // Touch end: a control's own tap wins over its ancestors' recognizers.
    touch->setPhase(UITouchPhaseEnded);
    bool cancelTouches = false;
    for (size_t i = 0; i < took.size(); ++i) {
        if (control && !onHitView[i]) continue;
        if (took[i]->finishTouch() && took[i]->cancelsTouchesInView()) cancelTouches = true;
    }
    if (control) {
        control->setHighlighted(false);
        if (control->isEnabled() && !cancelTouches) control->sendActionsForControlEvents(UIControlEventTouchUpInside);
    }
    if (cancelTouches) {
        touch->setPhase(UITouchPhaseCancelled);
        hit->touchesCancelled(touches, event);
    } else {
        hit->touchesEnded(touches, event);
    }
    for (const auto& r : took) r->reset();
}

void UIWindow::simulateTap(const Ref<UIView>& view) {
    if (!view) return;
    CGRect b = view->bounds();
    simulateTap(view->convertPointToView(CGPointMake(CGRectGetMidX(b), CGRectGetMidY(b)), self<UIView>()));
}

bool UIWindow::snapshotPNG(const std::string& path) {
    MainThreadOnly mainThreadOnly("UIWindow::snapshotPNG");
    return Snapshot::writePNG(self<UIView>(), path);
}

}  // namespace platform
