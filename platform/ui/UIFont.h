// Fonts with deterministic metrics (no font library): line height is
// ceil(1.2 × size) and every UTF-16 unit advances 0.5 × size, so layouts that
// depend on text sizes come out the same everywhere. Labels draw their glyphs
// with one font file whatever the name (LabelFont.h).
#pragma once

#include <string>

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
    CGFloat widthOfText(const std::string& text) const;
    // Size of text in lines broken at "\n" (and wrapped to `maxWidth` when it
    // is positive), at most `maxLines` lines (0 = any).
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
