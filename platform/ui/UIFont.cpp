#include "platform/ui/UIFont.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/NSString.h"
#include "platform/foundation/Utf8.h"
#include "platform/ui/LabelFont.h"

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

CGFloat UIFont::widthOfText(std::string_view text) const {
    if (auto width = LabelFont::widthOfLine(text, size_, bold_)) return static_cast<CGFloat>(*width);
    return static_cast<CGFloat>(0.5 * double(size_) * double(NSString::length(text)));
}

std::vector<UIFont::Line> UIFont::linesOfText(const std::string& text, CGFloat maxWidth, int64_t maxLines) const {
    std::vector<Line> lines;
    if (text.empty()) return lines;
    auto full = [&] { return maxLines > 0 && int64_t(lines.size()) >= maxLines; };
    for (const std::string& paragraph : NSString::componentsSeparatedByString(text, "\n")) {
        if (full()) break;
        CGFloat width = widthOfText(paragraph);
        if (maxWidth <= 0 || width <= maxWidth) {
            lines.push_back({paragraph, width});
            continue;
        }
        std::string_view rest = paragraph;
        while (!rest.empty() && !full()) {
            // The longest run of whole characters that fits, at least one.
            size_t end = utf8::decode(rest, 0).size;
            CGFloat lineWidth = widthOfText(rest.substr(0, end));
            while (end < rest.size()) {
                size_t next = end + utf8::decode(rest, end).size;
                CGFloat nextWidth = widthOfText(rest.substr(0, next));
                if (nextWidth > maxWidth) break;
                end = next;
                lineWidth = nextWidth;
            }
            lines.push_back({std::string(rest.substr(0, end)), lineWidth});
            rest.remove_prefix(end);
        }
    }
    return lines;
}

CGSize UIFont::sizeOfText(const std::string& text, CGFloat maxWidth, int64_t maxLines) const {
    auto lines = linesOfText(text, maxWidth, maxLines);
    CGFloat widest = 0;
    for (const Line& line : lines) widest = std::max(widest, line.width);
    return {widest, static_cast<CGFloat>(double(lines.size()) * double(lineHeight()))};
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
