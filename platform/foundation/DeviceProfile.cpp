#include "platform/foundation/DeviceProfile.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <system_error>
#include <unordered_map>

#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSUUID.h"
#include "platform/foundation/PropertyList.h"
#include "platform/runtime/Log.h"

namespace platform {

namespace {

bool isTablet(const DeviceProfile& p) { return p.idiom == 1; }

// ---- reading a profile ---------------------------------------------------------

using Setter = std::function<bool(DeviceProfile&, const Value&)>;

bool setString(std::string& field, const Value& v) {
    if (!v.isString()) return false;
    field = *v.string();
    return true;
}

bool setOptionalString(std::optional<std::string>& field, const Value& v) {
    if (!v.isString()) return false;
    field = *v.string();
    return true;
}

bool setStrings(std::vector<std::string>& field, const Value& v) {
    if (!v.isArray()) return false;
    std::vector<std::string> items;
    for (const Value& item : *v.array()) {
        if (!item.isString()) return false;
        items.push_back(*item.string());
    }
    field = std::move(items);
    return true;
}

template <class Number>
bool setNumber(Number& field, const Value& v) {
    if (!v.isNumber()) return false;
    if constexpr (std::is_same_v<Number, bool>) field = v.boolValue();
    else if constexpr (std::is_integral_v<Number>) field = static_cast<Number>(v.intValue());
    else field = v.doubleValue();
    return true;
}

bool allNumbers(const Value& v, std::initializer_list<const char*> keys) {
    if (!v.isDictionary()) return false;
    for (const char* key : keys)
        if (!v[key].isNumber()) return false;
    return true;
}

const std::unordered_map<std::string, Setter>& setters() {
    static const std::unordered_map<std::string, Setter> table = {
        {"systemName", [](DeviceProfile& p, const Value& v) { return setString(p.systemName, v); }},
        {"systemVersion", [](DeviceProfile& p, const Value& v) { return setString(p.systemVersion, v); }},
        {"idiom", [](DeviceProfile& p, const Value& v) { return setNumber(p.idiom, v); }},
        {"model", [](DeviceProfile& p, const Value& v) { return setOptionalString(p.model, v); }},
        {"name", [](DeviceProfile& p, const Value& v) { return setOptionalString(p.name, v); }},
        {"machine", [](DeviceProfile& p, const Value& v) { return setOptionalString(p.machine, v); }},
        {"screenSize",
         [](DeviceProfile& p, const Value& v) {
             if (!allNumbers(v, {"width", "height"})) return false;
             p.screenSize = DeviceScreenSize{v["width"].doubleValue(), v["height"].doubleValue()};
             return true;
         }},
        {"screenScale", [](DeviceProfile& p, const Value& v) { return setNumber(p.screenScale, v); }},
        {"localeIdentifier", [](DeviceProfile& p, const Value& v) { return setString(p.localeIdentifier, v); }},
        {"preferredLanguages", [](DeviceProfile& p, const Value& v) { return setStrings(p.preferredLanguages, v); }},
        {"timeZoneName", [](DeviceProfile& p, const Value& v) { return setString(p.timeZoneName, v); }},
        {"advertisingIdentifier",
         [](DeviceProfile& p, const Value& v) { return setString(p.advertisingIdentifier, v); }},
        {"advertisingTrackingEnabled",
         [](DeviceProfile& p, const Value& v) { return setNumber(p.advertisingTrackingEnabled, v); }},
        {"carrier",
         [](DeviceProfile& p, const Value& v) {
             if (!v.isDictionary()) return false;
             DeviceCarrier c;
             for (auto [key, field] : {std::pair{"carrierName", &c.carrierName},
                                       std::pair{"mobileCountryCode", &c.mobileCountryCode},
                                       std::pair{"mobileNetworkCode", &c.mobileNetworkCode},
                                       std::pair{"isoCountryCode", &c.isoCountryCode}}) {
                 if (v.contains(key) && !setString(*field, v[key])) return false;
             }
             p.carrier = c;
             return true;
         }},
        {"radioAccessTechnology",
         [](DeviceProfile& p, const Value& v) { return setOptionalString(p.radioAccessTechnology, v); }},
        {"wifiSSID", [](DeviceProfile& p, const Value& v) { return setOptionalString(p.wifiSSID, v); }},
        {"wifiBSSID", [](DeviceProfile& p, const Value& v) { return setOptionalString(p.wifiBSSID, v); }},
        {"networkState",
         [](DeviceProfile& p, const Value& v) {
             const std::string* s = v.string();
             if (!s) return false;
             if (*s == "none") p.networkState = NetworkState::None;
             else if (*s == "wifi") p.networkState = NetworkState::WiFi;
             else if (*s == "mobile") p.networkState = NetworkState::Mobile;
             else return false;
             return true;
         }},
        {"userAgent", [](DeviceProfile& p, const Value& v) { return setOptionalString(p.userAgent, v); }},
        {"openableSchemes", [](DeviceProfile& p, const Value& v) { return setStrings(p.openableSchemes, v); }},
        {"storeSheetLoads", [](DeviceProfile& p, const Value& v) { return setNumber(p.storeSheetLoads, v); }},
        {"photoLibraryAuthorized",
         [](DeviceProfile& p, const Value& v) { return setNumber(p.photoLibraryAuthorized, v); }},
        {"locationAuthorizationStatus",
         [](DeviceProfile& p, const Value& v) { return setNumber(p.locationAuthorizationStatus, v); }},
        {"location",
         [](DeviceProfile& p, const Value& v) {
             if (!allNumbers(v, {"latitude", "longitude"})) return false;
             p.location = DeviceLocation{v["latitude"].doubleValue(), v["longitude"].doubleValue(),
                                         v["horizontalAccuracy"].doubleValue()};
             return true;
         }},
    };
    return table;
}

// ---- persisted identifiers -------------------------------------------------------

struct Identity {
    std::mutex mutex;
    std::unordered_map<std::string, std::string> cache;
    // Made while the file could not be read; never stored over it.
    std::unordered_map<std::string, std::string> interim;
};

Identity& identity() {
    // Never destroyed: other threads may use it during exit.
    static Identity& i = *new Identity();
    return i;
}

// The identifier stored under `key`, made and stored on first use.
std::string persistedIdentifier(const std::string& key) {
    Identity& id = identity();
    std::scoped_lock lock(id.mutex);
    if (auto it = id.cache.find(key); it != id.cache.end()) return it->second;
    const std::string path = NSHomeDirectory() + "/Library/Preferences/platform.identity.plist";
    bool unreadable = false;
    Value stored = PropertyList::valueWithContentsOfFile(path, &unreadable).value_or(Value());
    if (unreadable) {
        // A file that is there but cannot be read now keeps the identifiers
        // it holds: never written over, and read again at the next call. This
        // process answers one of its own meanwhile, stored only where the
        // file turns out to hold none.
        std::string& interim = id.interim[key];
        if (interim.empty()) interim = CFUUIDCreateString();
        return interim;
    }
    if (!stored.isDictionary()) stored = Value(ValueDictionary());
    std::string value;
    if (const std::string* s = stored[key].string(); s && NSUUID::initWithUUIDString(*s)) {
        value = *s;
    } else {
        auto interim = id.interim.find(key);
        value = interim != id.interim.end() ? interim->second : CFUUIDCreateString();
        stored.set(key, value);
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        if (!PropertyList::writeToFile(stored, path))
            log(LogLevel::Error, "DeviceProfile: the new " + key + " could not be stored; it will change at the next start");
    }
    id.interim.erase(key);
    id.cache[key] = value;
    return value;
}

}  // namespace

DeviceProfile& DeviceProfile::current() {
    // Never destroyed: other threads may use it during exit.
    static DeviceProfile& profile = *new DeviceProfile();
    return profile;
}

std::string DeviceProfile::effectiveModel() const {
    if (model) return *model;
    return isTablet(*this) ? "iPad" : "iPhone";
}

std::string DeviceProfile::effectiveName() const { return name.value_or(effectiveModel()); }

std::string DeviceProfile::effectiveMachine() const {
    if (machine) return *machine;
    return isTablet(*this) ? "iPad5,3" : "iPhone8,1";
}

DeviceScreenSize DeviceProfile::effectiveScreenSize() const {
    if (screenSize) return *screenSize;
    return isTablet(*this) ? DeviceScreenSize{768, 1024} : DeviceScreenSize{320, 568};
}

std::string DeviceProfile::effectiveUserAgent() const {
    if (userAgent) return *userAgent;
    std::string version = systemVersion;
    for (char& c : version)
        if (c == '.') c = '_';
    return effectiveModel() + "; CPU OS " + version + "; Mobile";
}

void DeviceProfile::systemVersionComponents(int64_t& major, int64_t& minor, int64_t& patch) const {
    int64_t* parts[] = {&major, &minor, &patch};
    for (int64_t* part : parts) *part = 0;
    const char* p = systemVersion.c_str();
    for (int64_t* part : parts) {
        char* end = nullptr;
        *part = std::strtoll(p, &end, 10);
        if (end == p || *end != '.') break;
        p = end + 1;
    }
}

DeviceProfile DeviceProfile::fromValue(const Value& dictionary) {
    DeviceProfile profile;
    const ValueDictionary* entries = dictionary.dictionary();
    if (!entries) {
        log(LogLevel::Error, "DeviceProfile: the profile is not a dictionary; defaults used");
        return profile;
    }
    const auto& table = setters();
    for (const auto& [key, value] : *entries) {
        auto it = table.find(key);
        if (it == table.end())
            log(LogLevel::Warning, "DeviceProfile: unknown key \"" + shortenedForLog(key) + "\" ignored");
        else if (!it->second(profile, value))
            log(LogLevel::Error,
                "DeviceProfile: \"" + shortenedForLog(key) + "\" has the wrong kind of value; default kept");
    }
    return profile;
}

std::string DeviceProfile::identifierForVendor() { return persistedIdentifier("identifierForVendor"); }

std::string DeviceProfile::resolvedAdvertisingIdentifier() const {
    if (!advertisingIdentifier.empty()) {
        if (NSUUID::initWithUUIDString(advertisingIdentifier)) return advertisingIdentifier;
        log(LogLevel::Error, "DeviceProfile: advertisingIdentifier \"" + shortenedForLog(advertisingIdentifier) +
                                 "\" is not a UUID; the generated one is used");
    }
    return persistedIdentifier("advertisingIdentifier");
}

void DeviceProfile::reloadPersistedIdentifiers() {
    Identity& id = identity();
    std::scoped_lock lock(id.mutex);
    id.cache.clear();
    id.interim.clear();
}

}  // namespace platform
