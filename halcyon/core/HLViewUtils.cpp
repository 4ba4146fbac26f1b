#include "halcyon/core/HLViewUtils.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/NSLayoutConstraint.h"

namespace HLUtils {

Ref<NSObject> hl_instantiateFromXib(const std::string& className) {
    Value objects = NSBundle::mainBundle()->loadNibNamed(className, nullptr, Value());
    return objects.at(0).object();
}

void hl_pinToSuperviewWithTop(const Ref<UIView>& view, uint64_t top, uint64_t left, uint64_t bottom, uint64_t right) {
    if (!view) return;
    Ref<UIView> superview = view->superview();
    if (!superview) return;
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    std::map<std::string, Ref<UIView>> views{{"subview", view}};
    auto h = NSLayoutConstraint::constraintsWithVisualFormat(
        NSString::stringWithFormat("H:|-%lu-[subview]-%lu-|", left, right), 0, Value(), views);
    auto v = NSLayoutConstraint::constraintsWithVisualFormat(
        NSString::stringWithFormat("V:|-%lu-[subview]-%lu-|", top, bottom), 0, Value(), views);
    superview->addConstraints(h);
    superview->addConstraints(v);
}

void hl_pinToSuperview(const Ref<UIView>& view) { hl_pinToSuperviewWithTop(view, 0, 0, 0, 0); }

}  // namespace HLUtils
