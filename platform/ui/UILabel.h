// A line (or lines) of text in a font and colour, measured and drawn in the
// label font (UIFont.h, LabelFont.h).
#pragma once

#include <optional>
#include <string>

#include "platform/ui/UIFont.h"
#include "platform/ui/UIView.h"

namespace platform {

using NSTextAlignment = int64_t;
inline constexpr NSTextAlignment NSTextAlignmentLeft = 0;
inline constexpr NSTextAlignment NSTextAlignmentCenter = 1;
inline constexpr NSTextAlignment NSTextAlignmentRight = 2;

using NSLineBreakMode = int64_t;
inline constexpr NSLineBreakMode NSLineBreakByWordWrapping = 0;
inline constexpr NSLineBreakMode NSLineBreakByCharWrapping = 1;
inline constexpr NSLineBreakMode NSLineBreakByClipping = 2;
inline constexpr NSLineBreakMode NSLineBreakByTruncatingHead = 3;
inline constexpr NSLineBreakMode NSLineBreakByTruncatingTail = 4;
inline constexpr NSLineBreakMode NSLineBreakByTruncatingMiddle = 5;

class UILabel : public UIView {
public:
    static Ref<UILabel> alloc() { return std::make_shared<UILabel>(); }
    Ref<UIView> initWithFrame(CGRect frame) override;

    const std::optional<std::string>& text() const { return text_; }
    virtual void setText(std::optional<std::string> text);
    // Never null: the system font of 17 points unless set.
    Ref<UIFont> font() const { return font_; }
    void setFont(Ref<UIFont> font);
    Ref<UIColor> textColor() const { return textColor_; }
    void setTextColor(Ref<UIColor> color);
    NSTextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(NSTextAlignment a);
    // 1 by default; 0: any number of lines.
    int64_t numberOfLines() const { return numberOfLines_; }
    void setNumberOfLines(int64_t n);
    NSLineBreakMode lineBreakMode() const { return lineBreakMode_; }
    void setLineBreakMode(NSLineBreakMode m) { lineBreakMode_ = m; }
    bool adjustsFontSizeToFitWidth() const { return adjustsFontSize_; }
    void setAdjustsFontSizeToFitWidth(bool a) { adjustsFontSize_ = a; }

    // The text's size; wrapped to the given width when more than one line is allowed.
    CGSize sizeThatFits(CGSize size) override;
    CGSize intrinsicContentSize() override;
    void drawSnapshotContent(CGContextRef context) override;

private:
    void textChanged();

    std::optional<std::string> text_;
    Ref<UIFont> font_ = UIFont::systemFontOfSize(17);
    Ref<UIColor> textColor_ = UIColor::blackColor();
    NSTextAlignment alignment_ = NSTextAlignmentLeft;
    int64_t numberOfLines_ = 1;
    NSLineBreakMode lineBreakMode_ = NSLineBreakByTruncatingTail;
    bool adjustsFontSize_ = false;
};

}  // namespace platform

using platform::NSLineBreakByCharWrapping;
using platform::NSLineBreakByClipping;
using platform::NSLineBreakByTruncatingHead;
using platform::NSLineBreakByTruncatingMiddle;
using platform::NSLineBreakByTruncatingTail;
using platform::NSLineBreakByWordWrapping;
using platform::NSLineBreakMode;
using platform::NSTextAlignment;
using platform::NSTextAlignmentCenter;
using platform::NSTextAlignmentLeft;
using platform::NSTextAlignmentRight;
using platform::UILabel;
