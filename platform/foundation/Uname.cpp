#include "platform/foundation/Uname.h"

#include "platform/foundation/DeviceProfile.h"

namespace platform {

UtsName uname() {
    const DeviceProfile& profile = DeviceProfile::current();
    return UtsName{profile.systemName, profile.effectiveName(), profile.systemVersion, profile.systemVersion,
                   profile.effectiveMachine()};
}

}  // namespace platform
