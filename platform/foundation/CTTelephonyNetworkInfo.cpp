#include "platform/foundation/CTTelephonyNetworkInfo.h"

#include "platform/foundation/DeviceProfile.h"

namespace platform {

namespace {

std::optional<std::string> nonEmpty(const std::string& s) {
    if (s.empty()) return std::nullopt;
    return s;
}

}  // namespace

Ref<CTCarrier> CTTelephonyNetworkInfo::subscriberCellularProvider() const {
    const std::optional<DeviceCarrier>& facts = DeviceProfile::current().carrier;
    if (!facts) return nullptr;
    auto carrier = CTCarrier::alloc<CTCarrier>();
    carrier->carrierName_ = nonEmpty(facts->carrierName);
    carrier->mobileCountryCode_ = nonEmpty(facts->mobileCountryCode);
    carrier->mobileNetworkCode_ = nonEmpty(facts->mobileNetworkCode);
    carrier->isoCountryCode_ = nonEmpty(facts->isoCountryCode);
    return carrier;
}

std::optional<std::string> CTTelephonyNetworkInfo::currentRadioAccessTechnology() const {
    return DeviceProfile::current().radioAccessTechnology;
}

}  // namespace platform
