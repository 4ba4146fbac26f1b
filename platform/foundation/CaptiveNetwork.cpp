#include "platform/foundation/CaptiveNetwork.h"

#include "platform/foundation/DeviceProfile.h"

namespace platform {

Value CNCopyCurrentNetworkInfo(const std::string& interfaceName) {
    const DeviceProfile& profile = DeviceProfile::current();
    if (interfaceName != "en0" || !profile.wifiSSID) return Value();
    Value info = Value::dictionary({{kCNNetworkInfoKeySSID, *profile.wifiSSID}});
    if (profile.wifiBSSID) info.set(kCNNetworkInfoKeyBSSID, *profile.wifiBSSID);
    return info;
}

}  // namespace platform
