// Fonts whatever the name: text is measured, and labels draw it, with the
// label font (LabelFont.h) at the font's size, so a label sized to its text
// shows it whole. Line height is ceil(1.2 × size). Without the font file the
// metrics fall back to 0.5 × size per UTF-16 unit; both are deterministic.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NSString.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"
#include "platform/ui/CGGeometry.h"

namespace platform {

class UIFont : public NSObject {
public:
    static Ref<UIFont> alloc() { return std::make_shared<UIFont>(); }
    static Ref<UIFont> systemFontOfSize(CGFloat size);
    static Ref<UIFont> boldSystemFontOfSize(CGFloat size);
    // The name is kept; metrics are the same for every name.
    static Ref<UIFont> fontWithName(const std::string& name, CGFloat size);

    const std::string& fontName() const { return name_; }
    CGFloat pointSize() const { return size_; }
    bool isBold() const { return bold_; }
    CGFloat lineHeight() const;
    // Width of one line of text (no wrapping).
    CGFloat widthOfText(std::string_view text) const;

    struct Line {
        std::string text;
        CGFloat width;
    };
    // Text in lines broken at "\n" and, when `maxWidth` is positive, wrapped
    // at whole characters to as many as fit on each line (at least one);
    // at most `maxLines` lines (0 = any). Labels measure and draw these lines.
    std::vector<Line> linesOfText(const std::string& text, CGFloat maxWidth = 0, int64_t maxLines = 0) const;
    // The widest line by the number of lines × line height.
    CGSize sizeOfText(const std::string& text, CGFloat maxWidth = 0, int64_t maxLines = 0) const;

    bool isEqual(const NSObject& other) const override;
    std::string description() const override;

private:
    Ref<UIFont> setUp(std::string name, CGFloat size, bool bold);
    std::string name_ = ".SFUIText";
    CGFloat size_ = 17;
    bool bold_ = false;
};

// Attribute key whose value is a UIFont object.
inline constexpr const char* NSFontAttributeName = "NSFontAttributeName";

namespace NSString {
// The size of the text in the attributes' font (system 12 without one).
CGSize sizeWithAttributes(const std::string& text, const Value& attributes);
}  // namespace NSString

}  // namespace platform

using platform::NSFontAttributeName;
using platform::UIFont;
