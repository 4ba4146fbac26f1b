#include "platform/ui/UIFont.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/NSString.h"

namespace platform {

Ref<UIFont> UIFont::setUp(std::string name, CGFloat size, bool bold) {
    name_ = std::move(name);
    size_ = std::isfinite(size) && size > 0 ? size : 0;
    bold_ = bold;
    return self<UIFont>();
}

Ref<UIFont> UIFont::systemFontOfSize(CGFloat size) { return alloc()->setUp(".SFUIText", size, false); }
Ref<UIFont> UIFont::boldSystemFontOfSize(CGFloat size) { return alloc()->setUp(".SFUIText-Bold", size, true); }
Ref<UIFont> UIFont::fontWithName(const std::string& name, CGFloat size) { return alloc()->setUp(name, size, false); }

CGFloat UIFont::lineHeight() const { return static_cast<CGFloat>(std::ceil(1.2 * double(size_))); }

CGFloat UIFont::widthOfText(const std::string& text) const {
    return static_cast<CGFloat>(0.5 * double(size_) * double(NSString::length(text)));
}

CGSize UIFont::sizeOfText(const std::string& text, CGFloat maxWidth, int64_t maxLines) const {
    if (text.empty()) return {0, 0};
    double advance = 0.5 * double(size_);
    double widest = 0;
    int64_t lines = 0;
    for (const std::string& paragraph : NSString::componentsSeparatedByString(text, "\n")) {
        double width = advance * double(NSString::length(paragraph));
        int64_t count = 1;
        if (maxWidth > 0 && width > maxWidth && advance > 0) {
            // Wrap at whole characters: as many as fit on each line.
            double perLine = std::max(1.0, std::floor(double(maxWidth) / advance));
            count = static_cast<int64_t>(std::ceil(double(NSString::length(paragraph)) / perLine));
            width = perLine * advance;
        }
        widest = std::max(widest, width);
        lines += count;
    }
    if (maxLines > 0) lines = std::min(lines, maxLines);
    return {static_cast<CGFloat>(widest), static_cast<CGFloat>(double(lines) * lineHeight())};
}

bool UIFont::isEqual(const NSObject& other) const {
    auto* o = dynamic_cast<const UIFont*>(&other);
    return o && o->name_ == name_ && o->size_ == size_ && o->bold_ == bold_;
}

std::string UIFont::description() const {
    return "<UIFont: font-family: \"" + name_ + "\"; font-size: " + std::to_string(size_) + "pt>";
}

}  // namespace platform

namespace platform::NSString {
CGSize sizeWithAttributes(const std::string& text, const Value& attributes) {
    auto font = attributes[NSFontAttributeName].object<UIFont>();
    if (!font) font = UIFont::systemFontOfSize(12);
    return font->sizeOfText(text);
}
}  // namespace platform::NSString
