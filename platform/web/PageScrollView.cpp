#include "platform/web/PageScrollView.h"

#include "platform/web/PageDrawing.h"
#include "platform/web/WebViewLoader.h"

namespace platform::web {

void PageScrollView::drawSnapshotContent(CGContextRef context) {
    UIScrollView::drawSnapshotContent(context);
    // Drawn at the bounds' origin whatever the content offset: the page is shown scrolled to the top.
    if (auto loader = loader_.lock()) PageDrawing::draw(context, loader->page(), bounds());
}

}  // namespace platform::web
