// Facts about the running program: its name, identifier, arguments,
// environment, uptime on the platform clock and the profile's system version.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

struct NSOperatingSystemVersion {
    int64_t majorVersion = 0;
    int64_t minorVersion = 0;
    int64_t patchVersion = 0;
};

class NSProcessInfo : public NSObject {
public:
    static Ref<NSProcessInfo> processInfo();
    std::string processName() const;
    int processIdentifier() const;
    std::vector<std::string> arguments() const;
    // Name → value, as a dictionary.
    Value environment() const;
    // Seconds of the clock's uptime.
    double systemUptime() const;
    // From the profile's systemVersion.
    NSOperatingSystemVersion operatingSystemVersion() const;
};

}  // namespace platform

using platform::NSOperatingSystemVersion;
using platform::NSProcessInfo;
