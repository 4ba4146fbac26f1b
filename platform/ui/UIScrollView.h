// A scrolling view: the content offset is its bounds' origin; the delegate
// hears every offset change. simulateScroll plays a user's scroll.
#pragma once

#include "platform/ui/UIView.h"

namespace platform {

class UIScrollView;

class UIScrollViewDelegate : public virtual NSObjectProtocol {
public:
    virtual void scrollViewDidScroll(const Ref<UIScrollView>& scrollView);
};

class UIScrollView : public UIView {
public:
    static Ref<UIScrollView> alloc() { return std::make_shared<UIScrollView>(); }

    bool isScrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool e) { scrollEnabled_ = e; }
    bool bounces() const { return bounces_; }
    void setBounces(bool b) { bounces_ = b; }
    bool scrollsToTop() const { return scrollsToTop_; }
    void setScrollsToTop(bool s) { scrollsToTop_ = s; }
    CGSize contentSize() const { return contentSize_; }
    void setContentSize(CGSize size) { contentSize_ = size; }
    CGPoint contentOffset() const { return bounds().origin; }
    void setContentOffset(CGPoint offset);
    void setContentOffset(CGPoint offset, bool animated);
    // The smallest offset change that shows `rect` (content coordinates),
    // kept within the content.
    void scrollRectToVisible(CGRect rect, bool animated);
    Ref<UIScrollViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UIScrollViewDelegate>& d) { delegate_ = d; }

    void setBounds(CGRect bounds) override;

    // Seam: the user scrolls to `offset` (ignored while scrolling is off).
    void simulateScroll(CGPoint offset);

private:
    Weak<UIScrollViewDelegate> delegate_;
    CGSize contentSize_{};
    bool scrollEnabled_ = true;
    bool bounces_ = true;
    bool scrollsToTop_ = true;
};

}  // namespace platform

using platform::UIScrollView;
using platform::UIScrollViewDelegate;
