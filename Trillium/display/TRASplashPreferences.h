// The options of the Trillium splash screen, which the application may pass
// with a splash request (the lifecycle manager makes one with the defaults
// otherwise): the screen (launch image or template), theme, texts, loading
// indicator and timings. The minimum time, ad display time and theme setters
// accept only their fixed values and store the configuration's default for
// anything else. The dictionary form travels with the splash ad request.
// Main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"
#include "platform/ui/CGGeometry.h"

class TRASplashPreferences : public NSObject {
public:
    enum : int64_t { SplashModeLaunchImage = 1, SplashModeTemplate = 2 };
    enum : int64_t { LoadingIndicatorActivity = 0, LoadingIndicatorDots = 1 };

    // Mode 1, indicator on (type 0, centre unset), the configuration's theme,
    // minimum and display times, and the orientation from the Info.plist.
    Ref<TRASplashPreferences> init();

    bool isSplashLoadingIndicatorEnabled() const { return isSplashLoadingIndicatorEnabled_; }
    void setIsSplashLoadingIndicatorEnabled(bool enabled) { isSplashLoadingIndicatorEnabled_ = enabled; }

    bool isLandscape() const { return isLandscape_; }
    // Kept only when the application lists an orientation of that kind:
    // landscape without a "Landscape" entry gives false, portrait without a
    // "Portrait" entry true. A missing, empty or malformed list gives false.
    void setIsLandscape(bool landscape);
    // setIsLandscape with whether the first listed orientation is a landscape one.
    void autoDeviceOrientation();
    // The Info.plist "UISupportedInterfaceOrientations" entries in order
    // (one of another kind reads as ""); a value that is not an array counts
    // as no list (logged).
    static std::vector<std::string> supportedOrientationEntries();

    // 1 launch image, 2 template; not validated (others show nothing).
    int64_t splashMode() const { return splashMode_; }
    void setSplashMode(int64_t mode) { splashMode_ = mode; }

    // Shown instead of the launch image in mode 1; nullopt or "" is unset.
    const std::optional<std::string>& splashUserDefinedImageName() const { return splashUserDefinedImageName_; }
    void setSplashUserDefinedImageName(std::optional<std::string> name) { splashUserDefinedImageName_ = std::move(name); }

    // 0 to 5; anything else (negative values too) stores the configuration's theme.
    int64_t splashTemplateTheme() const { return splashTemplateTheme_; }
    void setSplashTemplateTheme(int64_t theme);

    const std::optional<std::string>& splashTemplateIconImageName() const { return splashTemplateIconImageName_; }
    void setSplashTemplateIconImageName(std::optional<std::string> name) { splashTemplateIconImageName_ = std::move(name); }
    const std::optional<std::string>& splashTemplateAppName() const { return splashTemplateAppName_; }
    void setSplashTemplateAppName(std::optional<std::string> name) { splashTemplateAppName_ = std::move(name); }

    // 1 the dots page, anything else the system indicator; not validated.
    int64_t splashLoadingIndicatorType() const { return splashLoadingIndicatorType_; }
    void setSplashLoadingIndicatorType(int64_t type) { splashLoadingIndicatorType_ = type; }

    // Seconds: 2, 3 or 5; anything else stores the configuration's minimum.
    int64_t splashMinTime() const { return splashMinTime_; }
    void setSplashMinTime(int64_t seconds);
    // Seconds: 5, 10 or 86400; anything else stores the configuration's time.
    int64_t splashAdDisplayTime() const { return splashAdDisplayTime_; }
    void setSplashAdDisplayTime(int64_t seconds);

    // (-1, -1) is unset: the splash screen centres the indicator.
    CGPoint splashLoadingIndicatorCenterPoint() const { return splashLoadingIndicatorCenterPoint_; }
    void setSplashLoadingIndicatorCenterPoint(CGPoint point) { splashLoadingIndicatorCenterPoint_ = point; }

    // The request fields, as integers: "splashMode", "splashMinTime",
    // "splashAdDisplayTime" and, in mode 2, "splashTemplateTheme". Keys are
    // only ever set, so a theme entered in mode 2 stays after a change to mode 1.
    Value getUserSplashPreferencesDict();
    const Value& userSplashPreferencesDict() const { return userSplashPreferencesDict_; }
    void setUserSplashPreferencesDict(Value dictionary) { userSplashPreferencesDict_ = std::move(dictionary); }

private:
    bool isSplashLoadingIndicatorEnabled_ = true;
    bool isLandscape_ = false;
    int64_t splashMode_ = SplashModeLaunchImage;
    std::optional<std::string> splashUserDefinedImageName_;
    int64_t splashTemplateTheme_ = 0;
    std::optional<std::string> splashTemplateIconImageName_;
    std::optional<std::string> splashTemplateAppName_;
    int64_t splashLoadingIndicatorType_ = LoadingIndicatorActivity;
    int64_t splashMinTime_ = 5;
    int64_t splashAdDisplayTime_ = 86400;
    Value userSplashPreferencesDict_ = Value::dictionary({});
    CGPoint splashLoadingIndicatorCenterPoint_ = CGPointMake(-1, -1);
};
