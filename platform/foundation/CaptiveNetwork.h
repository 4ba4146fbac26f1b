// The Wi-Fi network the device profile says the device is on.
#pragma once

#include <string>

#include "platform/foundation/Value.h"

namespace platform {

inline constexpr const char* kCNNetworkInfoKeySSID = "SSID";
inline constexpr const char* kCNNetworkInfoKeyBSSID = "BSSID";

// {"SSID", "BSSID"} for "en0" when the profile names a Wi-Fi network; else Null.
Value CNCopyCurrentNetworkInfo(const std::string& interfaceName);

}  // namespace platform

using platform::CNCopyCurrentNetworkInfo;
using platform::kCNNetworkInfoKeyBSSID;
using platform::kCNNetworkInfoKeySSID;
