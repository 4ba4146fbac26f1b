// Internal to the web module: a web view's scroll view (its first subview),
// whose content is the web view's current document as PageDrawing draws it:
// laid out for the scroll view's width, scrolled to the top and clipped to
// it. So a snapshot shows the page above the web view's own background and
// above any layer or view put beneath the scroll view, and below the web
// view's other subviews. It draws nothing once its web view is gone. Main thread.
#pragma once

#include <memory>

#include "platform/ui/UIScrollView.h"

namespace platform::web {

class WebViewLoader;

class PageScrollView : public UIScrollView {
public:
    static Ref<PageScrollView> alloc() { return std::make_shared<PageScrollView>(); }

    // The web view's loader, whose page is drawn (held weakly: the web view owns it).
    void setLoader(const std::shared_ptr<WebViewLoader>& loader) { loader_ = loader; }

    void drawSnapshotContent(CGContextRef context) override;
    // A touch on the page is a touch on its web view (passed on to it).
    void touchesEnded(const std::vector<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;

private:
    std::weak_ptr<WebViewLoader> loader_;
};

}  // namespace platform::web
