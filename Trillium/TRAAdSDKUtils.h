// The client's class-method utilities: whether a full-screen ad may be shown
// now, view-controller probes, orientation and status-bar helpers, resources,
// errors, URL pieces, the signature of tracking URLs and the tracking
// senders, video paths and a random draw. Main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Trillium/TRASmartRedirectWebViewDelegate.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSError.h"
#include "platform/ui/CGGeometry.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIViewController.h"

class TRAAdSDKUtils : public NSObject {
public:
    // "" when a full-screen ad may be shown now, else the first reason:
    // "No internet connection." (outside the showcase offline mode), "Failed
    // show ad" (the server's do-not-show switch), "Failed show ad, window's
    // rootViewController is not valid", "Cannot show ad while a transition is
    // already in progress", "An ad is already displayed".
    static std::string canShowAd();

    // The top-most controller reached from `root` through presented
    // controllers, a tab bar's selected one and a navigation controller's
    // visible one.
    static Ref<UIViewController> topViewControllerWithRootViewController(const Ref<UIViewController>& root);
    static bool TRAInAppBrowserViewControllerDisplayed();
    static bool UnityDefaultViewControllerDisplayed();
    // Creates the in-app browser for the URL and presents it from the top
    // controller above the key window's root.
    static void openInAppBrowserWithURL(const std::string& url,
                                        const Ref<TRASmartRedirectWebViewDelegate>& inAppStoreDelegate);

    // Orientation mode of the ad screens: 2 portrait and landscape, 1
    // landscape only, 0 otherwise (Info.plist "UISupportedInterfaceOrientations";
    // under the Unity wrapper the value it set).
    static int64_t supportedOrientations();
    static int64_t supportedOrientationsInAppBrowser();
    static void setUnitySupportedOrientationsWithInt(int64_t orientations);
    static int64_t getUnityAutoRotation();
    static void setUnityAutoRotation(int64_t autoRotation);
    // The first character of the wrapper's version ("4" until set) as a number.
    static int64_t getUnityVersionInt();
    static void setUnityVersion(const std::string& version);

    static void setApplicationStatusBarHidden(bool hidden);
    // The screen bounds; width and height swapped for landscape before "8.0".
    static CGRect getScreenBounds();

    static Ref<UIImage> getResourcesImageFromString(const std::string& name);
    static std::optional<std::string> getHtmlBundlePathWithHtmlName(const std::string& name);
    // "Trillium.bundle" in the application's resources; null when missing.
    static Ref<NSBundle> frameworkBundle();

    // Domain: the ad platform base URL text; code 0; the description under
    // NSLocalizedDescriptionKey.
    static Ref<NSError> createErrorWithDescription(const std::string& description);
    // The value of the "d" parameter (after "?d=" or "&d=", up to the next
    // "&"); "" when there is none.
    static std::string getDParamsFromHtml(std::string_view text);
    // The signature suffix "&ts=<seconds>&sig=<hex>" for the URL (see
    // TRAWireContract.h).
    static std::string authHashURLNonRequestWithURL(std::string_view url);

    // Fire-and-forget GETs on the main queue (10 s); nil sends nothing.
    static void sendClick(const std::optional<std::string>& url);
    static void sendClose(const std::optional<std::string>& url);
    // Adds the session fields and the signature; a transport failure is
    // reported as analytics category 2.
    static void sendImpression(const std::optional<std::string>& url);
    // Adds the signature; a transport failure is reported as category 9.
    static void sendVideoEvent(const std::optional<std::string>& url);

    // An absolute http or https URL (the scheme in any case) with a host:
    // what the client fetches from a server's answer.
    static bool isHttpUrl(std::string_view url);
    // The text after the last "/id", cut before its first "?".
    static std::string findIdFromAppStoreUrl(std::string_view url);
    // The command a page's "trilliumad://" navigation names: the URL without
    // its first 13 characters (the scheme's length) when it holds the scheme
    // anywhere; nullopt for a URL without the scheme.
    static std::optional<std::string> pageCommandInUrl(std::string_view url);

    // Free space of the Documents folder's file system, in whole MiB, above
    // the configuration's minimum.
    static bool isEnougthMemoryForVideo();
    // <Caches>/<bundle identifier>.
    static std::string videoDestinationDirectoryPath();
    static std::string getDestPathFromFileName(const std::string& fileName);
    // The URL's last path component without its extension, "/" made "_",
    // followed by ".mp4"; nil when the URL does not parse or its last
    // component is empty, "/", "." or "..".
    static std::optional<std::string> getFileNameFromVideoUrl(std::string_view url);

    // A uniform integer from 1 to max (max > 0; anything else gives 1).
    static int64_t randomNumBetweenOneAndMaxNum(int64_t max);

    // Percent-escapes a query value: letters, digits and "-._~" stay.
    static std::string escapeQueryValue(std::string_view value);
};
