#include "platform/web/PageScrollView.h"

#include "platform/web/PageDrawing.h"
#include "platform/web/UIWebView.h"
#include "platform/web/WebViewLoader.h"

namespace platform::web {

void PageScrollView::drawSnapshotContent(CGContextRef context) {
    UIScrollView::drawSnapshotContent(context);
    // Drawn at the bounds' origin whatever the content offset: the page is shown scrolled to the top.
    if (auto loader = loader_.lock()) PageDrawing::draw(context, loader->page(), bounds());
}

void PageScrollView::touchesEnded(const std::vector<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    UIScrollView::touchesEnded(touches, event);
    if (auto webView = std::dynamic_pointer_cast<UIWebView>(superview())) webView->touchesEnded(touches, event);
}

}  // namespace platform::web
