#include "platform/ui/NSLayoutConstraint.h"

#include <charconv>

#include "platform/runtime/Log.h"
#include "platform/ui/MainThreadOnly.h"
#include "platform/ui/UIView.h"
#include "platform/ui/VisualFormat.h"

namespace platform {

Ref<NSLayoutConstraint> NSLayoutConstraint::constraintWithItem(const Ref<UIView>& item1, NSLayoutAttribute attribute1,
                                                               NSLayoutRelation relation, const Ref<UIView>& item2,
                                                               NSLayoutAttribute attribute2, CGFloat multiplier,
                                                               CGFloat constant) {
    auto c = alloc();
    c->first_ = item1;
    c->second_ = item2;
    c->attribute1_ = attribute1;
    c->attribute2_ = attribute2;
    c->relation_ = relation;
    c->multiplier_ = multiplier;
    c->constant_ = constant;
    return c;
}

std::vector<Ref<NSLayoutConstraint>> NSLayoutConstraint::constraintsWithVisualFormat(
    const std::string& format, NSLayoutFormatOptions options, const Value& metrics,
    const std::map<std::string, Ref<UIView>>& views, Ref<NSError>* error) {
    MainThreadOnly mainThreadOnly("NSLayoutConstraint::constraintsWithVisualFormat");
    if (options != 0) logInfo("NSLayoutConstraint: visual format options are not supported and were ignored");
    VisualFormat::Result result = VisualFormat::parse(format, metrics, views);
    if (!result.ok) {
        std::string message =
            "Unable to parse constraint format: " + result.message + " at position " + std::to_string(result.position);
        logError("Unable to parse constraint format: " + shortenedForLog(result.message) + " at position " +
                 std::to_string(result.position) + ": \"" + shortenedForLog(format) + "\"");
        if (error)
            *error = NSError::errorWithDomain(NSCocoaErrorDomain, NSLayoutFormatErrorCode,
                                              Value::dictionary({{NSLocalizedDescriptionKey, message},
                                                                 {"NSVisualFormat", format},
                                                                 {"NSVisualFormatPosition", int64_t(result.position)}}));
        return {};
    }
    return result.constraints;
}

void NSLayoutConstraint::setConstant(CGFloat c) {
    constant_ = c;
    if (auto h = holder()) h->setNeedsLayout();
}

void NSLayoutConstraint::setActive(bool a) {
    if (a == active_ && (a == bool(holder()))) return;
    active_ = a;
    if (!a) {
        if (auto h = holder()) h->removeConstraint(self<NSLayoutConstraint>());
        return;
    }
    if (holder()) return;
    // Held by the nearest common ancestor of the items.
    auto first = firstItem(), second = secondItem();
    Ref<UIView> ancestor = first;
    while (ancestor && second && !second->isDescendantOfView(ancestor)) ancestor = ancestor->superview();
    if (ancestor) {
        ancestor->addConstraint(self<NSLayoutConstraint>());
    } else {
        logError("NSLayoutConstraint::setActive: the items have no common ancestor: " + description());
    }
}

bool NSLayoutConstraint::involves(const UIView* view) const {
    auto a = firstItem(), b = secondItem();
    return view && (a.get() == view || b.get() == view);
}

std::string NSLayoutConstraint::description() const {
    auto name = [](NSLayoutAttribute a) -> const char* {
        switch (a) {
            case NSLayoutAttributeLeft: return "left";
            case NSLayoutAttributeRight: return "right";
            case NSLayoutAttributeTop: return "top";
            case NSLayoutAttributeBottom: return "bottom";
            case NSLayoutAttributeLeading: return "leading";
            case NSLayoutAttributeTrailing: return "trailing";
            case NSLayoutAttributeWidth: return "width";
            case NSLayoutAttributeHeight: return "height";
            case NSLayoutAttributeCenterX: return "centerX";
            case NSLayoutAttributeCenterY: return "centerY";
            default: return "notAnAttribute";
        }
    };
    auto number = [](CGFloat v) {
        char buffer[32];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
        return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
    };
    auto item = [](const Ref<UIView>& v) { return v ? v->className() + ":" + std::to_string(reinterpret_cast<uintptr_t>(v.get())) : std::string("nil"); };
    std::string text = "<NSLayoutConstraint " + item(firstItem()) + "." + name(attribute1_);
    text += relation_ == NSLayoutRelationEqual ? " == " : relation_ == NSLayoutRelationLessThanOrEqual ? " <= " : " >= ";
    if (secondItem() && attribute2_ != NSLayoutAttributeNotAnAttribute) {
        text += item(secondItem()) + "." + name(attribute2_);
        if (multiplier_ != 1) text += " * " + number(multiplier_);
        if (constant_ != 0) text += " + " + number(constant_);
    } else {
        text += number(constant_);
    }
    if (priority_ != UILayoutPriorityRequired) text += " @" + number(priority_);
    return text + ">";
}

}  // namespace platform
