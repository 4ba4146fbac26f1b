// Where the time zone and locale classes read the device's settings. The
// device profile installs its source at start-up; until then (and in tests
// that never start the platform) the defaults below apply.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

struct DeviceLocaleFacts {
    std::string timeZoneName = "UTC";
    std::string localeIdentifier = "en_US";
    std::vector<std::string> preferredLanguages{"en"};
};

// Null restores the defaults. The source is called on every query, from any thread.
void setDeviceLocaleSource(std::function<DeviceLocaleFacts()> source);
DeviceLocaleFacts deviceLocaleFacts();
inline std::string deviceTimeZoneName() { return deviceLocaleFacts().timeZoneName; }
inline std::string deviceLocaleIdentifier() { return deviceLocaleFacts().localeIdentifier; }
inline std::vector<std::string> devicePreferredLanguages() { return deviceLocaleFacts().preferredLanguages; }

}  // namespace platform
