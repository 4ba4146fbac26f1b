#include "platform/ui/UIGestureRecognizer.h"

#include "platform/runtime/CallCatching.h"
#include "platform/ui/UITouch.h"
#include "platform/ui/UIView.h"

namespace platform {

bool UIGestureRecognizerDelegate::gestureRecognizerShouldReceiveTouch(const Ref<UIGestureRecognizer>&,
                                                                      const Ref<UITouch>&) {
    return true;
}

bool UIGestureRecognizerDelegate::gestureRecognizerShouldBegin(const Ref<UIGestureRecognizer>&) { return true; }

void UIGestureRecognizer::addAction(Weak<void> target, Action action) {
    targets_.push_back({std::move(target), std::move(action)});
}

void UIGestureRecognizer::removeTarget(const void* target) {
    std::erase_if(targets_, [target](const Target& t) {
        auto k = t.key.lock();
        return !k || k.get() == target;
    });
}

CGPoint UIGestureRecognizer::locationInView(const Ref<UIView>& view) const {
    return touch_ ? touch_->locationInView(view) : CGPoint{};
}

bool UIGestureRecognizer::offerTouch(const Ref<UITouch>& touch) {
    if (!enabled_ || !acceptsSingleTap()) return false;
    touch_ = touch;
    bool take = true;
    if (auto d = delegate()) {
        auto me = self<UIGestureRecognizer>();
        runtime::callAtBoundary([&] { take = d->gestureRecognizerShouldReceiveTouch(me, touch); },
                                "gesture recognizer delegate");
    }
    if (!take) touch_.reset();
    return take;
}

bool UIGestureRecognizer::finishTouch() {
    auto me = self<UIGestureRecognizer>();
    bool begin = true;
    if (auto d = delegate())
        runtime::callAtBoundary([&] { begin = d->gestureRecognizerShouldBegin(me); }, "gesture recognizer delegate");
    if (!begin || !enabled_) {
        state_ = UIGestureRecognizerStateFailed;
        return false;
    }
    state_ = UIGestureRecognizerStateRecognized;
    auto targets = targets_;
    for (const auto& t : targets) {
        if (t.key.expired()) continue;
        runtime::callAtBoundary([&] { t.action(me); }, "gesture action");
    }
    return true;
}

void UIGestureRecognizer::reset() {
    state_ = UIGestureRecognizerStatePossible;
    touch_.reset();
}

}  // namespace platform
