#include "platform/store/StoreClasses.h"

#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/store/SFSafariViewController.h"
#include "platform/store/SKStoreProductViewController.h"

namespace platform {

void registerStoreClasses() {
    NSClassRegistry::registerClass<SKStoreProductViewController>();
    int64_t major = 0, minor = 0, patch = 0;
    DeviceProfile::current().systemVersionComponents(major, minor, patch);
    if (major >= 9) NSClassRegistry::registerClass<SFSafariViewController>();
}

}  // namespace platform
