#include "halcyon/core/HLSdkSettings.h"

#include "halcyon/core/HLAdType.h"
#include "platform/foundation/NSString.h"

std::string HLSdkSettings::defaultAutoPreloadAdTypes() {
    return NSString::stringWithFormat("%@,%@,%@", HLAdType::typeIncentivized()->label(), HLAdType::typeRegular()->label(),
                                      HLAdType::typeNative()->label());
}
