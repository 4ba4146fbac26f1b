// The cellular carrier and radio technology of the device profile.
#pragma once

#include <optional>
#include <string>

#include "platform/runtime/NSObject.h"

namespace platform {

inline constexpr const char* CTRadioAccessTechnologyGPRS = "CTRadioAccessTechnologyGPRS";
inline constexpr const char* CTRadioAccessTechnologyEdge = "CTRadioAccessTechnologyEdge";
inline constexpr const char* CTRadioAccessTechnologyWCDMA = "CTRadioAccessTechnologyWCDMA";
inline constexpr const char* CTRadioAccessTechnologyHSDPA = "CTRadioAccessTechnologyHSDPA";
inline constexpr const char* CTRadioAccessTechnologyHSUPA = "CTRadioAccessTechnologyHSUPA";
inline constexpr const char* CTRadioAccessTechnologyCDMA1x = "CTRadioAccessTechnologyCDMA1x";
inline constexpr const char* CTRadioAccessTechnologyCDMAEVDORev0 = "CTRadioAccessTechnologyCDMAEVDORev0";
inline constexpr const char* CTRadioAccessTechnologyCDMAEVDORevA = "CTRadioAccessTechnologyCDMAEVDORevA";
inline constexpr const char* CTRadioAccessTechnologyCDMAEVDORevB = "CTRadioAccessTechnologyCDMAEVDORevB";
inline constexpr const char* CTRadioAccessTechnologyeHRPD = "CTRadioAccessTechnologyeHRPD";
inline constexpr const char* CTRadioAccessTechnologyLTE = "CTRadioAccessTechnologyLTE";

// Each fact is nullopt when the profile leaves it empty.
class CTCarrier : public NSObject {
public:
    std::optional<std::string> carrierName() const { return carrierName_; }
    std::optional<std::string> mobileCountryCode() const { return mobileCountryCode_; }
    std::optional<std::string> mobileNetworkCode() const { return mobileNetworkCode_; }
    std::optional<std::string> isoCountryCode() const { return isoCountryCode_; }

private:
    friend class CTTelephonyNetworkInfo;
    std::optional<std::string> carrierName_, mobileCountryCode_, mobileNetworkCode_, isoCountryCode_;
};

class CTTelephonyNetworkInfo : public NSObject {
public:
    Ref<CTTelephonyNetworkInfo> init() { return self<CTTelephonyNetworkInfo>(); }
    // Null when the profile has no carrier.
    Ref<CTCarrier> subscriberCellularProvider() const;
    // One of the constants above, nullopt when the profile has none.
    std::optional<std::string> currentRadioAccessTechnology() const;
};

}  // namespace platform

using platform::CTCarrier;
using platform::CTTelephonyNetworkInfo;
