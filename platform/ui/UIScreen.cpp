#include "platform/ui/UIScreen.h"

#include "platform/foundation/DeviceProfile.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"

namespace platform {

Ref<UIScreen> UIScreen::mainScreen() {
    static Ref<UIScreen>* screen = new Ref<UIScreen>(std::make_shared<UIScreen>());
    return *screen;
}

CGRect UIScreen::bounds() const {
    DeviceScreenSize size = DeviceProfile::current().effectiveScreenSize();
    auto w = static_cast<CGFloat>(size.width), h = static_cast<CGFloat>(size.height);
    if (systemVersionAtLeast(8, 0) &&
        UIInterfaceOrientationIsLandscape(UIApplication::sharedApplication()->interfaceLayoutOrientation()))
        std::swap(w, h);
    return CGRectMake(0, 0, w, h);
}

CGRect UIScreen::nativeBounds() const {
    DeviceScreenSize size = DeviceProfile::current().effectiveScreenSize();
    double s = scale();
    return CGRectMake(0, 0, static_cast<CGFloat>(size.width * s), static_cast<CGFloat>(size.height * s));
}

CGFloat UIScreen::scale() const {
    double s = DeviceProfile::current().screenScale;
    return static_cast<CGFloat>(s > 0 && s <= 8 ? s : 1);
}

CGRect UIScreen::applicationFrame() const {
    CGRect b = bounds();
    CGFloat bar = UIApplication::sharedApplication()->statusBarFrame().size.height;
    return CGRectMake(0, bar, b.size.width, b.size.height - bar);
}

}  // namespace platform
