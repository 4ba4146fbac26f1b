#include "platform/foundation/ASIdentifierManager.h"

#include "platform/foundation/DeviceProfile.h"

namespace platform {

Ref<ASIdentifierManager> ASIdentifierManager::sharedManager() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<ASIdentifierManager>& manager =
        *new Ref<ASIdentifierManager>(ASIdentifierManager::alloc<ASIdentifierManager>());
    return manager;
}

Ref<NSUUID> ASIdentifierManager::advertisingIdentifier() const {
    return NSUUID::initWithUUIDString(DeviceProfile::current().resolvedAdvertisingIdentifier());
}

bool ASIdentifierManager::isAdvertisingTrackingEnabled() const {
    return DeviceProfile::current().advertisingTrackingEnabled;
}

}  // namespace platform
