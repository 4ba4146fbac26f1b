#include "platform/ui/UIScrollView.h"

#include <algorithm>

#include "platform/runtime/CallCatching.h"

namespace platform {

void UIScrollViewDelegate::scrollViewDidScroll(const Ref<UIScrollView>&) {}

void UIScrollView::setBounds(CGRect bounds) {
    CGPoint old = contentOffset();
    UIView::setBounds(bounds);
    if (old == bounds.origin) return;
    if (auto d = delegate()) {
        auto me = self<UIScrollView>();
        runtime::callAtBoundary([&] { d->scrollViewDidScroll(me); }, "scroll view delegate");
    }
}

void UIScrollView::setContentOffset(CGPoint offset) {
    CGRect b = bounds();
    b.origin = offset;
    setBounds(b);
}

void UIScrollView::setContentOffset(CGPoint offset, bool) { setContentOffset(offset); }

void UIScrollView::scrollRectToVisible(CGRect rect, bool animated) {
    if (CGRectIsNull(rect)) return;
    CGRect visible = bounds();
    CGRect r = CGRectStandardize(rect);
    auto axis = [](CGFloat offset, CGFloat length, CGFloat min, CGFloat size, CGFloat content) {
        if (min < offset || size > length)
            offset = min;
        else if (min + size > offset + length)
            offset = min + size - length;
        return std::clamp<CGFloat>(offset, 0, std::max<CGFloat>(0, content - length));
    };
    CGPoint offset{axis(visible.origin.x, visible.size.width, r.origin.x, r.size.width, contentSize_.width),
                   axis(visible.origin.y, visible.size.height, r.origin.y, r.size.height, contentSize_.height)};
    setContentOffset(offset, animated);
}

void UIScrollView::simulateScroll(CGPoint offset) {
    if (!scrollEnabled_) return;
    setContentOffset(offset, false);
}

}  // namespace platform
