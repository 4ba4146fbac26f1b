#include "Trillium/TRABaseRequest.h"

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/TRAWireContract.h"
#include "platform/foundation/ASIdentifierManager.h"
#include "platform/foundation/CTTelephonyNetworkInfo.h"
#include "platform/foundation/CaptiveNetwork.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/Uname.h"
#include "platform/runtime/SaturatingCast.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"

namespace {

std::string orEmpty(const std::optional<std::string>& s) { return s.value_or(std::string()); }

std::string infoString(const char* key) {
    Value value = NSBundle::mainBundle()->objectForInfoDictionaryKey(key);
    return value.isString() ? *value.string() : std::string();
}

std::string sdkIdentifier() {
    auto sdk = TRATrilliumSDK::sharedInstance();
    if (sdk->isUnityEnvironment()) return TRAWire::kSdkIdEngineA;
    if (sdk->isCoronaEnvironment()) return TRAWire::kSdkIdEngineB;
    if (sdk->isCocos2DXEnvironment()) return TRAWire::kSdkIdEngineC;
    if (sdk->isAdMobMediationEnvironment()) return TRAWire::kSdkIdMediationA;
    if (sdk->isMoPubMediationEnvironment()) return TRAWire::kSdkIdMediationB;
    return TRAWire::kSdkIdNative;
}

// "CTRadioAccessTechnologyLTE" → "LTE".
std::string radioTechnology(const std::optional<std::string>& technology) {
    static constexpr std::string_view kPrefix = "CTRadioAccessTechnology";
    if (!technology) return {};
    std::string_view t = *technology;
    if (t.substr(0, kPrefix.size()) == kPrefix) t.remove_prefix(kPrefix.size());
    return std::string(t);
}

}  // namespace

void TRABaseRequest::fillApplicationDetails(const std::optional<std::string>& appId,
                                            const std::optional<std::string>& devId) {
    productId_ = orEmpty(appId);
    publisherId_ = orEmpty(devId);
    sdkId_ = sdkIdentifier();

    auto identifiers = ASIdentifierManager::sharedManager();
    auto advertisingId = identifiers->advertisingIdentifier();
    userId_ = advertisingId ? advertisingId->UUIDString() : std::string();
    limitAdTracking_ = !identifiers->isAdvertisingTrackingEnabled();

    packageId_ = orEmpty(NSBundle::mainBundle()->bundleIdentifier());
    appVersion_ = infoString("CFBundleShortVersionString");
    appBuildVersion_ = infoString("CFBundleVersion");

    auto device = UIDevice::currentDevice();
    // The profile names no maker; the device family stands for it.
    manufacturer_ = device->model();
    model_ = platform::uname().machine;
    deviceVersion_ = device->systemVersion();

    CGRect bounds = TRAAdSDKUtils::getScreenBounds();
    width_ = platform::saturatingCast<int64_t>(bounds.size.width);
    height_ = platform::saturatingCast<int64_t>(bounds.size.height);
    density_ = UIScreen::mainScreen()->scale();
    orientation_ = UIInterfaceOrientationIsLandscape(UIApplication::sharedApplication()->statusBarOrientation())
                       ? "landscape"
                       : "portrait";

    auto telephony = CTTelephonyNetworkInfo::alloc<CTTelephonyNetworkInfo>()->init();
    if (auto carrier = telephony->subscriberCellularProvider()) {
        mcc_ = orEmpty(carrier->mobileCountryCode());
        mnc_ = orEmpty(carrier->mobileNetworkCode());
        ispName_ = orEmpty(carrier->carrierName());
    }
    grid_ = radioTechnology(telephony->currentRadioAccessTechnology());

    Value network = platform::CNCopyCurrentNetworkInfo("en0");
    ssid_ = network[platform::kCNNetworkInfoKeySSID].stringValue();
    bssid_ = network[platform::kCNNetworkInfoKeyBSSID].stringValue();
}

std::string TRABaseRequest::getQueryString() const {
    auto metadata = TRAMetadata::sharedMetadata();
    std::string q;
    q += NSString::stringWithFormat("publisherId=%@", publisherId_);
    q += NSString::stringWithFormat("&productId=%@", productId_);
    q += NSString::stringWithFormat("&sdkVersion=%@", TRAWire::kSdkVersion);
    q += NSString::stringWithFormat("&sdkId=%@", sdkId_);
    q += NSString::stringWithFormat("&os=%@", TRAWire::kOs);
    q += NSString::stringWithFormat("&userId=%@", userId_);
    q += NSString::stringWithFormat("&packageId=%@", packageId_);
    q += NSString::stringWithFormat("&manufacturer=%@", manufacturer_);
    q += NSString::stringWithFormat("&model=%@", model_);
    q += NSString::stringWithFormat("&deviceVersion=%@", deviceVersion_);
    q += NSString::stringWithFormat("&width=%d", width_);
    q += NSString::stringWithFormat("&height=%d", height_);
    q += NSString::stringWithFormat("&appVersion=%@", appVersion_);
    q += NSString::stringWithFormat("&appBuildVersion=%@", appBuildVersion_);
    q += NSString::stringWithFormat("&isp=%@%@", mcc_, mnc_);
    q += NSString::stringWithFormat("&ispName=%@", ispName_);
    q += NSString::stringWithFormat("&grid=%@", grid_);
    q += NSString::stringWithFormat("&ssid=%@", ssid_);
    q += NSString::stringWithFormat("&bssid=%@", bssid_);
    if (limitAdTracking_) q += "&limat=true";
    if (!metadata->isDisableTwoClicks()) q += "&twoClicks=true";
    q += NSString::stringWithFormat("&density=%.0f", density_);
    q += NSString::stringWithFormat("&orientation=%@", orientation_);
    q += NSString::stringWithFormat("&clientSessionId=%@", TRAAdapptManager::clientSessionId());
    q += NSString::stringWithFormat("&profileId=%@", orEmpty(metadata->getProfileId()));
    q += NSString::stringWithFormat("&timeSinceSessionStart=%ld", TRAAdapptManager::timeSinceSessionStart());
    q += NSString::stringWithFormat("&adsDisplayed=%d", TRAAdapptManager::numOfTotalAdsDisplayedInCurrentSession());
    return q;
}

std::string TRABaseRequest::queryWithPlacement() const {
    return TRABaseRequest::getQueryString() + NSString::stringWithFormat("&placement=%@", placement_);
}
