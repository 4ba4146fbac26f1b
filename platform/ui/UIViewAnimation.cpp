#include "platform/ui/UIViewAnimation.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/runtime/CallCatching.h"
#include "platform/ui/MainThreadOnly.h"
#include "platform/runtime/RunLoopTimer.h"
#include "platform/ui/UIView.h"

namespace platform {

namespace {

struct Animation {
    UIViewAnimationOptions options = 0;
    UIViewAnimation::Completion completion;
    std::vector<Weak<NSObject>> views;
    Ref<runtime::RunLoopTimer> timer;
};

// Main-thread state: the blocks running now (innermost last) and the
// animations whose completions are pending.
struct Registry {
    std::vector<Ref<Animation>> running;
    std::vector<Ref<Animation>> pending;
};

Registry& registry() {
    static Registry* r = new Registry();  // never destroyed: completions may be pending at exit
    return *r;
}

bool involves(const Animation& a, const NSObject* view) {
    return std::any_of(a.views.begin(), a.views.end(), [view](const Weak<NSObject>& w) {
        auto v = w.lock();
        return v && v.get() == view;
    });
}

void addView(Animation& a, UIView* view) {
    if (!view || involves(a, view)) return;
    a.views.push_back(view->weak_from_this());
}

void finish(const Ref<Animation>& a, bool finished) {
    auto& pending = registry().pending;
    pending.erase(std::remove(pending.begin(), pending.end(), a), pending.end());
    if (a->completion) {
        auto completion = std::move(a->completion);
        runtime::callAtBoundary([&] { completion(finished); }, "animation completion");
    }
}

}  // namespace

void UIViewAnimation::run(double duration, double delay, UIViewAnimationOptions options, const Block& animations,
                          Completion completion, UIView* view) {
    MainThreadOnly mainThreadOnly("UIView::animateWithDuration");
    auto a = std::make_shared<Animation>();
    a->options = options;
    a->completion = std::move(completion);
    addView(*a, view);
    registry().running.push_back(a);
    if (animations) runtime::callAtBoundary(animations, "animation block");
    registry().running.pop_back();

    double total = (std::isfinite(duration) ? std::max(0.0, duration) : 0) +
                   (std::isfinite(delay) ? std::max(0.0, delay) : 0);
    registry().pending.push_back(a);
    Weak<Animation> weak = a;
    a->timer = runtime::scheduleMainThreadCall(total, [weak] {
        if (auto animation = weak.lock()) finish(animation, true);
    });
}

void UIViewAnimation::noteChange(UIView* view) {
    auto& running = registry().running;
    if (!running.empty()) addView(*running.back(), view);
}

void UIViewAnimation::cancelAnimationsOf(UIView* view) {
    std::vector<Ref<Animation>> cancelled;
    for (const auto& a : registry().pending)
        if (involves(*a, view)) cancelled.push_back(a);
    for (const auto& a : cancelled) {
        if (a->timer) a->timer->invalidate();
        a->timer = runtime::scheduleMainThreadCall(0, [a] { finish(a, false); });
    }
}

UIViewAnimationOptions UIViewAnimation::currentOptions() {
    auto& running = registry().running;
    return running.empty() ? 0 : running.back()->options;
}

}  // namespace platform
