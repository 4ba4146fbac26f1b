// The UI classes NSClassFromString finds.
#include "platform/foundation/NSClassRegistry.h"
#include "platform/ui/UIKit.h"

namespace platform {

void registerUIClasses() {
    NSClassRegistry::registerClass<UIView>();
    NSClassRegistry::registerClass<UIWindow>();
    NSClassRegistry::registerClass<UIControl>();
    NSClassRegistry::registerClass<UIButton>();
    NSClassRegistry::registerClass<UILabel>();
    NSClassRegistry::registerClass<UIImageView>();
    NSClassRegistry::registerClass<UIActivityIndicatorView>();
    NSClassRegistry::registerClass<UIScrollView>();
    NSClassRegistry::registerClass<UITableViewCell>();
    NSClassRegistry::registerClass<UIViewController>();
    NSClassRegistry::registerClass<UINavigationController>();
    NSClassRegistry::registerClass<UITabBarController>();
    NSClassRegistry::registerClass<UIAlertView>();
    NSClassRegistry::registerClass<UITapGestureRecognizer>();
    NSClassRegistry::registerClass<UIColor>();
    NSClassRegistry::registerClass<UIFont>();
    NSClassRegistry::registerClass<UIImage>();
    NSClassRegistry::registerClass<UIBezierPath>();
    NSClassRegistry::registerClass<CALayer>();
    NSClassRegistry::registerClass<CAGradientLayer>();
    NSClassRegistry::registerClass<NSLayoutConstraint>();
    if (systemVersionAtLeast(8, 0)) {
        NSClassRegistry::registerClass<UIAlertController>();
        NSClassRegistry::registerClass<UIAlertAction>();
    }
}

}  // namespace platform
