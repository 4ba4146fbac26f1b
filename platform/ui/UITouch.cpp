#include "platform/ui/UITouch.h"

#include "platform/ui/UIResponder.h"
#include "platform/ui/UIWindow.h"

namespace platform {

void UIResponder::touchesBegan(const std::vector<Ref<UITouch>>&, const Ref<UIEvent>&) {}
void UIResponder::touchesEnded(const std::vector<Ref<UITouch>>&, const Ref<UIEvent>&) {}
void UIResponder::touchesCancelled(const std::vector<Ref<UITouch>>&, const Ref<UIEvent>&) {}

Ref<UITouch> UITouch::initWithWindow(const Ref<UIWindow>& window, const Ref<UIView>& view, CGPoint windowPoint) {
    window_ = window;
    view_ = view;
    windowPoint_ = windowPoint;
    return self<UITouch>();
}

CGPoint UITouch::locationInView(const Ref<UIView>& view) const {
    auto w = window_.lock();
    if (!w || !view) return windowPoint_;
    return view->convertPointFromView(windowPoint_, w);
}

}  // namespace platform
