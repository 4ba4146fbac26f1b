#include "halcyon/core/HLSystemVersioning.h"

#include "halcyon/core/HLValueUtils.h"
#include "platform/foundation/DeviceProfile.h"

namespace {
std::string hlFirstThree(std::string_view version) { return std::string(version.substr(0, 3)); }

float hlVersionNumber(std::string_view version) {
    return HLUtils::hl_numberWithString(Value(hlFirstThree(version))).floatValue();
}
}  // namespace

std::string HLSystemVersioning::currentVerboseDeviceVersion() {
    return platform::DeviceProfile::current().systemVersion;
}

std::string HLSystemVersioning::currentDeviceVersion() { return hlFirstThree(currentVerboseDeviceVersion()); }

bool HLSystemVersioning::currentDeviceVersionEquals(std::string_view version) {
    return currentDeviceVersion() == hlFirstThree(version);
}

bool HLSystemVersioning::currentDeviceVersionIsAtMinimum(std::string_view version) {
    return hlVersionNumber(currentVerboseDeviceVersion()) >= hlVersionNumber(version);
}

bool HLSystemVersioning::currentDeviceVersionIsAtMaximum(std::string_view version) {
    return hlVersionNumber(currentVerboseDeviceVersion()) <= hlVersionNumber(version);
}

bool HLSystemVersioning::currentDeviceVersionFallsBetweenMinVersion(std::string_view minVersion,
                                                                   std::string_view maxVersion) {
    return currentDeviceVersionIsAtMinimum(minVersion) && currentDeviceVersionIsAtMaximum(maxVersion);
}
