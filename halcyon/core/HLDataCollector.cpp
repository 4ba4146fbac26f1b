#include "halcyon/core/HLDataCollector.h"

#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLStringUtils.h"
#include "halcyon/core/HLSystemVersioning.h"
#include "platform/foundation/ASIdentifierManager.h"
#include "platform/foundation/CTTelephonyNetworkInfo.h"
#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSTimeZone.h"
#include "platform/foundation/Uname.h"

namespace {
// The carrier, asked of the telephony information class only when it is present.
Ref<CTCarrier> hlCurrentCarrier() {
    Class telephony = NSClassFromString("CTTelephonyNetworkInfo");
    if (!telephony) return nullptr;
    auto info = std::dynamic_pointer_cast<CTTelephonyNetworkInfo>(telephony.alloc());
    return info ? info->subscriberCellularProvider() : nullptr;
}

void hlSetIfPresent(Value& dictionary, const char* key, const std::optional<std::string>& value) {
    if (HLUtils::hl_isValidString(value)) dictionary.set(key, *value);
}
}  // namespace

Ref<HLDataCollector> HLDataCollector::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLDataCollector>();
}

Value HLDataCollector::deviceInformation() {
    Value cached;
    {
        std::scoped_lock lock(mutex_);
        if (cachedDeviceInformation_.isNull()) {
            const auto& profile = platform::DeviceProfile::current();
            Value info = Value::dictionary({});
            info.set("brand", "Apple");
            info.set("model", profile.effectiveModel());
            info.set("revision", collectModelRevision());
            info.set("locale", NSLocale::currentLocale()->localeIdentifier());
            info.set("platform", "ios");
            info.set("os", HLSystemVersioning::currentVerboseDeviceVersion());
            info.set("tz_offset", collectTimeZoneOffset());
            hlSetIfPresent(info, "carrier", collectCarrierName());
            std::optional<std::string> country = collectCarrierCountryCode();
            if (HLUtils::hl_isValidString(country)) info.set("country_code", NSString::uppercaseString(*country));
            info.set("orientation_lock", collectOrientationLock());
            cachedDeviceInformation_ = std::move(info);
        }
        cached = cachedDeviceInformation_;
    }
    return addEphemeralDeviceData(cached);
}

Value HLDataCollector::addEphemeralDeviceData(const Value& deviceInformation) {
    Value info = deviceInformation.isDictionary() ? deviceInformation : Value::dictionary({});
    const bool trackingAllowed = ASIdentifierManager::sharedManager()->isAdvertisingTrackingEnabled();
    info.set("dnt", trackingAllowed ? "false" : "true");
    Ref<HLSdk> sdk = sdk_.lock();
    if (trackingAllowed || (sdk && sdk->boolForKey(kHLSlotQq))) {
        std::string idfa = collectIdfa();
        if (!idfa.empty()) info.set("idfa", idfa);
    }
    return info;
}

Value HLDataCollector::appInformation() {
    std::scoped_lock lock(mutex_);
    if (cachedAppInformation_.isNull()) {
        Ref<NSBundle> bundle = NSBundle::mainBundle();
        Value info = Value::dictionary({});
        auto plistString = [&](const char* key) -> std::optional<std::string> {
            const Value value = bundle->objectForInfoDictionaryKey(key);
            return value.string() ? std::optional<std::string>(*value.string()) : std::nullopt;
        };
        hlSetIfPresent(info, "app_name", plistString("CFBundleDisplayName"));
        hlSetIfPresent(info, "package_name", plistString("CFBundleIdentifier"));
        info.set("halcyon_sdk_version", kHLSdkVersion);
        hlSetIfPresent(info, "app_version", plistString("CFBundleVersion"));
        auto documents = NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true);
        if (!documents.empty()) {
            Value attributes = NSFileManager::defaultManager()->attributesOfItemAtPath(documents.front());
            if (const NSDate* created = attributes[NSFileCreationDate].date())
                info.set("installed_at", static_cast<long long>(created->timeIntervalSince1970() * 1000));
        }
        cachedAppInformation_ = std::move(info);
    }
    return cachedAppInformation_;
}

std::string HLDataCollector::collectIdfa() {
    Ref<NSUUID> identifier = ASIdentifierManager::sharedManager()->advertisingIdentifier();
    return identifier ? identifier->UUIDString() : std::string();
}

std::string HLDataCollector::collectModelRevision() { return platform::uname().machine; }

float HLDataCollector::collectTimeZoneOffset() {
    return static_cast<float>(NSTimeZone::localTimeZone()->secondsFromGMT()) / 3600.0f;
}

std::optional<std::string> HLDataCollector::collectCarrierName() {
    Ref<CTCarrier> carrier = hlCurrentCarrier();
    return carrier ? carrier->carrierName() : std::nullopt;
}

std::optional<std::string> HLDataCollector::collectCarrierCountryCode() {
    Ref<CTCarrier> carrier = hlCurrentCarrier();
    return carrier ? carrier->isoCountryCode() : std::nullopt;
}

std::string HLDataCollector::collectOrientationLock() {
    bool portrait = false, landscape = false;
    const Value orientations = NSBundle::mainBundle()->objectForInfoDictionaryKey("UISupportedInterfaceOrientations");
    if (const auto* entries = orientations.array())
        for (const Value& entry : *entries)
            if (const std::string* name = entry.string()) {
                portrait = portrait || HLUtils::hl_containsSubstringIgnoringCase(*name, "Portrait");
                landscape = landscape || HLUtils::hl_containsSubstringIgnoringCase(*name, "Landscape");
            }
    if (portrait && landscape) return "none";
    if (portrait) return "portrait";
    if (landscape) return "landscape";
    return "unknown";
}
