// Comparisons with the running system's version. Only the first three
// characters of a version count ("9.3.1" reads 9.3, "10.2" reads "10." and
// so 10), compared as single-precision numbers. Any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/runtime/NSObject.h"

class HLSystemVersioning : public NSObject {
public:
    // The system version as the device reports it ("9.0", "10.3.1").
    static std::string currentVerboseDeviceVersion();
    // Its first three characters.
    static std::string currentDeviceVersion();
    static bool currentDeviceVersionEquals(std::string_view version);
    static bool currentDeviceVersionIsAtMinimum(std::string_view version);
    static bool currentDeviceVersionIsAtMaximum(std::string_view version);
    // Both bounds inclusive.
    static bool currentDeviceVersionFallsBetweenMinVersion(std::string_view minVersion, std::string_view maxVersion);
};
