#include "platform/ui/UIDevice.h"

#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/MainThreadOnly.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

namespace platform {

bool systemVersionAtLeast(int64_t major, int64_t minor) {
    int64_t ma = 0, mi = 0, patch = 0;
    DeviceProfile::current().systemVersionComponents(ma, mi, patch);
    return ma > major || (ma == major && mi >= minor);
}

Ref<UIDevice> UIDevice::currentDevice() {
    static Ref<UIDevice>* device = new Ref<UIDevice>(std::make_shared<UIDevice>());
    return *device;
}

std::string UIDevice::systemVersion() const { return DeviceProfile::current().systemVersion; }
std::string UIDevice::systemName() const { return DeviceProfile::current().systemName; }
std::string UIDevice::model() const { return DeviceProfile::current().effectiveModel(); }
std::string UIDevice::name() const { return DeviceProfile::current().effectiveName(); }
UIUserInterfaceIdiom UIDevice::userInterfaceIdiom() const { return DeviceProfile::current().idiom == 1 ? 1 : 0; }

Ref<NSUUID> UIDevice::identifierForVendor() const {
    return NSUUID::initWithUUIDString(DeviceProfile::identifierForVendor());
}

void UIDevice::beginGeneratingDeviceOrientationNotifications() { ++generating_; }

void UIDevice::endGeneratingDeviceOrientationNotifications() {
    int64_t n = generating_.load();
    while (n > 0 && !generating_.compare_exchange_weak(n, n - 1)) {
    }
}

void UIDevice::simulateOrientation(UIDeviceOrientation o) {
    MainThreadOnly mainThreadOnly("UIDevice::simulateOrientation");
    if (o < UIDeviceOrientationUnknown || o > UIDeviceOrientationFaceDown) return;
    if (orientation_.exchange(o) != o && isGeneratingDeviceOrientationNotifications())
        NSNotificationCenter::defaultCenter()->postNotificationName(UIDeviceOrientationDidChangeNotification,
                                                                     self<UIDevice>());
    if (o < UIDeviceOrientationPortrait || o > UIDeviceOrientationLandscapeRight) return;
    auto app = UIApplication::sharedApplication();
    auto top = app->topmostViewController();
    if (!top || !top->shouldAutorotate()) return;
    UIInterfaceOrientationMask mask =
        top->supportedInterfaceOrientations() & app->supportedInterfaceOrientationsForWindow(app->keyWindow());
    if (mask & (UIInterfaceOrientationMask(1) << o)) app->rotateInterfaceTo(o);
}

}  // namespace platform
