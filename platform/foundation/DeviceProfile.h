// The facts of the simulated device (system, model, screen, locale, network,
// identifiers): one profile per process, read at start-up from
// <home>/Library/DeviceProfile.plist when present, else the defaults below.
// Tests change fields of DeviceProfile::current() before first use.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace platform {

enum class NetworkState { None, WiFi, Mobile };

struct DeviceCarrier {
    std::string carrierName;
    std::string mobileCountryCode;
    std::string mobileNetworkCode;
    std::string isoCountryCode;
};

struct DeviceLocation {
    double latitude = 0;
    double longitude = 0;
    double horizontalAccuracy = 0;
};

struct DeviceScreenSize {
    double width = 0;
    double height = 0;
};

class DeviceProfile {
public:
    std::string systemName = "iOS";
    std::string systemVersion = "9.0";
    int idiom = 0;                                 // 0 phone, 1 tablet
    std::optional<std::string> model;              // absent: "iPhone" / "iPad" by idiom
    std::optional<std::string> name;               // absent: the model
    std::optional<std::string> machine;            // absent: "iPhone8,1" / "iPad5,3" by idiom
    std::optional<DeviceScreenSize> screenSize;    // points; absent: 320×568 / 768×1024 by idiom
    double screenScale = 2;
    std::string localeIdentifier = "en_US";
    std::vector<std::string> preferredLanguages{"en"};
    std::string timeZoneName = "UTC";
    std::string advertisingIdentifier;             // empty: generated once and persisted
    bool advertisingTrackingEnabled = true;
    std::optional<DeviceCarrier> carrier;
    std::optional<std::string> radioAccessTechnology;
    std::optional<std::string> wifiSSID;
    std::optional<std::string> wifiBSSID;
    NetworkState networkState = NetworkState::WiFi;  // the state at start-up
    std::optional<std::string> userAgent;          // absent: "<model>; CPU OS <version with _>; Mobile"
    std::vector<std::string> openableSchemes;      // beyond the standard ones
    bool storeSheetLoads = false;
    bool photoLibraryAuthorized = true;
    int locationAuthorizationStatus = 0;           // 0 not determined
    std::optional<DeviceLocation> location;

    // The process's profile (mutable: set fields before first use).
    static DeviceProfile& current();

    // Fields with defaults that follow the idiom.
    std::string effectiveModel() const;
    std::string effectiveName() const;
    std::string effectiveMachine() const;
    DeviceScreenSize effectiveScreenSize() const;
    std::string effectiveUserAgent() const;
    // systemVersion split into numbers ("9.0" → 9, 0, 0).
    void systemVersionComponents(int64_t& major, int64_t& minor, int64_t& patch) const;

    // A profile from a dictionary whose keys are the field names above
    // ("networkState": "none" | "wifi" | "mobile"; "screenSize": {"width",
    // "height"}; "carrier": {"carrierName", …}; "location": {"latitude", …}).
    // Unknown keys and values of the wrong kind are logged and skipped.
    static DeviceProfile fromValue(const Value& dictionary);

    // Identifiers that survive restarts, kept in
    // <home>/Library/Preferences/platform.identity.plist (upper-case UUIDs).
    // While that file is there but cannot be read, it is never written over:
    // a process answers an identifier of its own meanwhile and reads the
    // file again at each call; what the file holds wins once it reads.
    static std::string identifierForVendor();
    // The profile's advertisingIdentifier, or (when empty or not a UUID) the
    // persisted generated one.
    std::string resolvedAdvertisingIdentifier() const;
    // Forgets the identifiers read so far, so the next call re-reads the file
    // (a simulated restart).
    static void reloadPersistedIdentifiers();
};

}  // namespace platform
