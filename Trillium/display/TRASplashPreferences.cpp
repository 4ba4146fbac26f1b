#include "Trillium/display/TRASplashPreferences.h"

#include <algorithm>

#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "platform/foundation/NSBundle.h"

Ref<TRASplashPreferences> TRASplashPreferences::init() {
    userSplashPreferencesDict_ = Value::dictionary({});
    splashMode_ = SplashModeLaunchImage;
    isSplashLoadingIndicatorEnabled_ = true;
    splashLoadingIndicatorCenterPoint_ = CGPointMake(-1, -1);
    auto metadata = TRAMetadata::sharedMetadata();
    setSplashTemplateTheme(metadata->getDefaultTheme());
    setSplashMinTime(metadata->getDefaultMinSplashTime());
    setSplashAdDisplayTime(metadata->getDefaultMaxAdDisplayTime());
    autoDeviceOrientation();
    return self<TRASplashPreferences>();
}

std::vector<std::string> TRASplashPreferences::supportedOrientationEntries() {
    Value list = NSBundle::mainBundle()->objectForInfoDictionaryKey("UISupportedInterfaceOrientations");
    std::vector<std::string> entries;
    if (list.isNull()) return entries;
    const Value::Array* array = list.array();
    if (!array) {
        TRALog::error("Info.plist \"UISupportedInterfaceOrientations\" is not an array; no orientation is listed.");
        return entries;
    }
    // An entry of another kind names no orientation but keeps its place.
    for (const Value& entry : *array) entries.push_back(entry.isString() ? *entry.string() : std::string());
    return entries;
}

namespace {

bool anyEntryContains(const std::vector<std::string>& entries, std::string_view word) {
    return std::any_of(entries.begin(), entries.end(),
                       [&](const std::string& entry) { return entry.find(word) != std::string::npos; });
}

}  // namespace

void TRASplashPreferences::autoDeviceOrientation() {
    std::vector<std::string> entries = supportedOrientationEntries();
    setIsLandscape(!entries.empty() && entries.front().find("Landscape") != std::string::npos);
}

void TRASplashPreferences::setIsLandscape(bool landscape) {
    std::vector<std::string> entries = supportedOrientationEntries();
    // Without a list there is nothing to check against: portrait.
    if (entries.empty()) {
        isLandscape_ = false;
        return;
    }
    isLandscape_ = landscape;
    if (landscape && !anyEntryContains(entries, "Landscape")) isLandscape_ = false;
    if (!landscape && !anyEntryContains(entries, "Portrait")) isLandscape_ = true;
}

void TRASplashPreferences::setSplashTemplateTheme(int64_t theme) {
    splashTemplateTheme_ =
        static_cast<uint64_t>(theme) <= 5 ? theme : TRAMetadata::sharedMetadata()->getDefaultTheme();
}

void TRASplashPreferences::setSplashMinTime(int64_t seconds) {
    splashMinTime_ = seconds == 2 || seconds == 3 || seconds == 5
                         ? seconds
                         : TRAMetadata::sharedMetadata()->getDefaultMinSplashTime();
}

void TRASplashPreferences::setSplashAdDisplayTime(int64_t seconds) {
    splashAdDisplayTime_ = seconds == 5 || seconds == 10 || seconds == 86400
                               ? seconds
                               : TRAMetadata::sharedMetadata()->getDefaultMaxAdDisplayTime();
}

Value TRASplashPreferences::getUserSplashPreferencesDict() {
    // A dictionary replaced by something else through the setter starts over.
    if (!userSplashPreferencesDict_.isDictionary()) userSplashPreferencesDict_ = Value::dictionary({});
    userSplashPreferencesDict_.set("splashMode", Value(splashMode_));
    userSplashPreferencesDict_.set("splashMinTime", Value(splashMinTime_));
    userSplashPreferencesDict_.set("splashAdDisplayTime", Value(splashAdDisplayTime_));
    if (splashMode_ == SplashModeTemplate)
        userSplashPreferencesDict_.set("splashTemplateTheme", Value(splashTemplateTheme_));
    return userSplashPreferencesDict_;
}
