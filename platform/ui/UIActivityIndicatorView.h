// The spinning activity indicator: a fixed size per style, hidden while
// stopped when hidesWhenStopped (the default).
#pragma once

#include "platform/ui/UIView.h"

namespace platform {

using UIActivityIndicatorViewStyle = int64_t;
inline constexpr UIActivityIndicatorViewStyle UIActivityIndicatorViewStyleWhiteLarge = 0;  // 37 × 37
inline constexpr UIActivityIndicatorViewStyle UIActivityIndicatorViewStyleWhite = 1;       // 20 × 20
inline constexpr UIActivityIndicatorViewStyle UIActivityIndicatorViewStyleGray = 2;        // 20 × 20

class UIActivityIndicatorView : public UIView {
public:
    static Ref<UIActivityIndicatorView> alloc() { return std::make_shared<UIActivityIndicatorView>(); }
    Ref<UIActivityIndicatorView> initWithActivityIndicatorStyle(UIActivityIndicatorViewStyle style);
    // White style, the frame kept.
    Ref<UIView> initWithFrame(CGRect frame) override;

    UIActivityIndicatorViewStyle activityIndicatorViewStyle() const { return style_; }
    Ref<UIColor> color() const { return color_; }
    void setColor(Ref<UIColor> color);
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool h);

    CGSize sizeThatFits(CGSize size) override;
    CGSize intrinsicContentSize() override;
    void drawSnapshotContent(CGContextRef context) override;

private:
    CGSize styleSize() const;

    UIActivityIndicatorViewStyle style_ = UIActivityIndicatorViewStyleWhite;
    Ref<UIColor> color_ = UIColor::whiteColor();
    bool animating_ = false;
    bool hidesWhenStopped_ = true;
};

}  // namespace platform

using platform::UIActivityIndicatorView;
using platform::UIActivityIndicatorViewStyle;
using platform::UIActivityIndicatorViewStyleGray;
using platform::UIActivityIndicatorViewStyleWhite;
using platform::UIActivityIndicatorViewStyleWhiteLarge;
