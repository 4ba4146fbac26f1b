#include "Trillium/TRAAdSDKUtils.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>

#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRAAnalytics.h"
#include "Trillium/TRADataToBase64String.h"
#include "Trillium/TRADisplayHooks.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRANetworkData.h"
#include "Trillium/TRATransportHttp.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/TRAWireContract.h"
#include "platform/foundation/Digest.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Random.h"
#include "platform/runtime/SaturatingCast.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"
#include "platform/web/RepeatedRefusals.h"

namespace {

struct UnityState {
    int64_t supportedOrientations = 0;
    int64_t autoRotation = 0;
    std::string version = "4";
};

UnityState& unity() {
    // Never destroyed: other threads may use it during exit.
    static UnityState& state = *new UnityState();
    return state;
}

// The in-app browser's refusals, folded: a page's navigations may ask for it in a loop.
platform::web::RepeatedRefusals& inAppBrowserRefusals() {
    static platform::web::RepeatedRefusals& lines = *new platform::web::RepeatedRefusals(TRALog::kFoldedLinePeriod);
    return lines;
}

Ref<UIViewController> keyWindowRoot() {
    auto window = UIApplication::sharedApplication()->keyWindow();
    return window ? window->rootViewController() : nullptr;
}

std::string topControllerClassName() {
    auto top = TRAAdSDKUtils::topViewControllerWithRootViewController(keyWindowRoot());
    return top ? top->className() : std::string();
}

// The Info.plist orientations joined by blanks.
std::string declaredOrientations() {
    Value list = NSBundle::mainBundle()->objectForInfoDictionaryKey("UISupportedInterfaceOrientations");
    std::string joined;
    if (const Value::Array* entries = list.array())
        for (const Value& entry : *entries) {
            if (!joined.empty()) joined += ' ';
            joined += entry.stringValue();
        }
    return joined;
}

// Sends a signed tracking GET; `failureCategory` (when set) reports a
// transport failure to analytics.
void sendTracking(const std::string& urlText, std::optional<int64_t> failureCategory) {
    std::string dParams = TRAAdSDKUtils::getDParamsFromHtml(urlText);
    TRATransportHttp::sendAsynchronousRequest(
        urlText, [failureCategory, dParams](Ref<NSHTTPURLResponse>, std::optional<NSData>, Ref<NSError> error) {
            if (!error || !failureCategory) return;
            TRAAnalytics::sendAnalyticsURLWithCategory(*failureCategory, error->localizedDescription(),
                                                       std::to_string(error->code()),
                                                       dParams.empty() ? std::nullopt : std::optional(dParams));
        });
}

}  // namespace

std::string TRAAdSDKUtils::canShowAd() {
    if (!TRATrilliumSDK::sharedInstance()->getIsShowCaseAppOfflineMode() &&
        TRANetworkData::sharedInstance()->internetReachability()->currentReachabilityStatus() == TRANotReachable)
        return "No internet connection.";
    if (TRAMetadata::sharedMetadata()->isDNS()) return "Failed show ad";
    auto root = keyWindowRoot();
    if (!root) return "Failed show ad, window's rootViewController is not valid";
    auto top = topViewControllerWithRootViewController(root);
    if (root->transitionCoordinator() || (top && top->transitionCoordinator()))
        return "Cannot show ad while a transition is already in progress";
    std::string name = top ? top->className() : std::string();
    if (name == "TRAAdViewController" || name == "TRAAdVideoViewController" || name == "TRAInAppBrowserViewController")
        return "An ad is already displayed";
    return "";
}

Ref<UIViewController> TRAAdSDKUtils::topViewControllerWithRootViewController(const Ref<UIViewController>& root) {
    Ref<UIViewController> current = root;
    // A bounded walk: a malformed chain must not loop for ever.
    for (int depth = 0; current && depth < 64; ++depth) {
        Ref<UIViewController> next;
        if (auto tab = std::dynamic_pointer_cast<UITabBarController>(current)) next = tab->selectedViewController();
        else if (auto nav = std::dynamic_pointer_cast<UINavigationController>(current))
            next = nav->visibleViewController();
        else next = current->presentedViewController();
        if (!next || next == current) return current;
        current = next;
    }
    return current;
}

bool TRAAdSDKUtils::TRAInAppBrowserViewControllerDisplayed() {
    return topControllerClassName() == "TRAInAppBrowserViewController";
}

bool TRAAdSDKUtils::UnityDefaultViewControllerDisplayed() {
    return topControllerClassName() == "UnityDefaultViewController";
}

void TRAAdSDKUtils::openInAppBrowserWithURL(const std::string& url,
                                            const Ref<TRASmartRedirectWebViewDelegate>& inAppStoreDelegate) {
    const auto& make = TRADisplayHooks::shared().inAppBrowser;
    if (!make) {
        TRALog::errorFolded(inAppBrowserRefusals(), "The in-app browser is not available; %@ is not opened.",
                            platform::urlForLog(url));
        return;
    }
    auto presenter = topViewControllerWithRootViewController(keyWindowRoot());
    if (!presenter) {
        TRALog::errorFolded(inAppBrowserRefusals(), "No view controller to present the in-app browser from.");
        return;
    }
    auto browser = make(url, inAppStoreDelegate);
    if (!browser) return;
    int64_t device = UIDevice::currentDevice()->orientation();
    int64_t mode = supportedOrientations();
    bool deviceLandscape = device == 3 || device == 4;
    bool devicePortrait = device == 1 || device == 2;
    bool animated = !((mode == 0 && deviceLandscape) || (mode == 1 && devicePortrait) ||
                      (!platform::systemVersionAtLeast(8, 0) &&
                       device != UIApplication::sharedApplication()->statusBarOrientation()));
    presenter->presentViewController(browser, animated, nullptr);
}

int64_t TRAAdSDKUtils::supportedOrientations() {
    if (TRATrilliumSDK::sharedInstance()->isUnityEnvironment()) return unity().supportedOrientations;
    std::string declared = declaredOrientations();
    bool portrait = NSString::containsString(declared, "Portrait");
    bool landscape = NSString::containsString(declared, "Landscape");
    if (portrait && landscape) return 2;
    return landscape ? 1 : 0;
}

int64_t TRAAdSDKUtils::supportedOrientationsInAppBrowser() {
    if (TRATrilliumSDK::sharedInstance()->isUnityEnvironment()) return 2;
    std::string declared = declaredOrientations();
    bool portrait = NSString::containsString(declared, "Portrait");
    bool landscape = NSString::containsString(declared, "Landscape");
    if (portrait && landscape) return 2;
    return landscape ? 1 : 0;
}

void TRAAdSDKUtils::setUnitySupportedOrientationsWithInt(int64_t orientations) {
    unity().supportedOrientations = orientations;
}
int64_t TRAAdSDKUtils::getUnityAutoRotation() { return unity().autoRotation; }
void TRAAdSDKUtils::setUnityAutoRotation(int64_t autoRotation) { unity().autoRotation = autoRotation; }
void TRAAdSDKUtils::setUnityVersion(const std::string& version) { unity().version = version; }

int64_t TRAAdSDKUtils::getUnityVersionInt() {
    const std::string& version = unity().version;
    return !version.empty() && version[0] >= '0' && version[0] <= '9' ? version[0] - '0' : 0;
}

void TRAAdSDKUtils::setApplicationStatusBarHidden(bool hidden) {
    auto application = UIApplication::sharedApplication();
    if (application->respondsToSelector("setStatusBarHidden:withAnimation:"))
        application->setStatusBarHidden(hidden, hidden ? UIStatusBarAnimationFade : UIStatusBarAnimationNone);
    else application->setStatusBarHidden(hidden);
}

CGRect TRAAdSDKUtils::getScreenBounds() {
    CGRect bounds = UIScreen::mainScreen()->bounds();
    if (!platform::systemVersionAtLeast(8, 0) &&
        UIInterfaceOrientationIsLandscape(UIApplication::sharedApplication()->statusBarOrientation()))
        std::swap(bounds.size.width, bounds.size.height);
    return bounds;
}

Ref<UIImage> TRAAdSDKUtils::getResourcesImageFromString(const std::string& name) {
    if (TRATrilliumSDK::sharedInstance()->isUnityEnvironment()) return UIImage::imageNamed(name + ".png");
    auto bundle = frameworkBundle();
    auto path = bundle ? bundle->pathForResource(name, "png") : std::nullopt;
    return path ? UIImage::imageWithContentsOfFile(*path) : nullptr;
}

std::optional<std::string> TRAAdSDKUtils::getHtmlBundlePathWithHtmlName(const std::string& name) {
    if (TRATrilliumSDK::sharedInstance()->isUnityEnvironment())
        return NSBundle::mainBundle()->pathForResource(name, "html", "Data/Raw");
    auto bundle = frameworkBundle();
    return bundle ? bundle->pathForResource(name, "html") : std::nullopt;
}

Ref<NSBundle> TRAAdSDKUtils::frameworkBundle() {
    return NSBundle::bundleWithPath(NSBundle::mainBundle()->resourcePath() + "/Trillium.bundle");
}

Ref<NSError> TRAAdSDKUtils::createErrorWithDescription(const std::string& description) {
    return NSError::errorWithDomain(TRAMetadata::sharedMetadata()->getAdPlatformHost(), 0,
                                    Value::dictionary({{platform::NSLocalizedDescriptionKey, description}}));
}

std::string TRAAdSDKUtils::getDParamsFromHtml(std::string_view text) {
    size_t a = text.find("?d="), b = text.find("&d=");
    size_t at = std::min(a, b);
    if (at == std::string_view::npos) return "";
    std::string_view value = text.substr(at + 3);
    return std::string(value.substr(0, value.find('&')));
}

std::string TRAAdSDKUtils::authHashURLNonRequestWithURL(std::string_view url) {
    auto sdk = TRATrilliumSDK::sharedInstance();
    std::string key = TRAWire::signatureKey(sdk->devID().value_or(""), sdk->appID().value_or(""));
    int64_t timestamp = platform::saturatingCast<int64_t>(NSDate::date().timeIntervalSince1970());
    std::string message = TRAWire::signatureMessage(getDParamsFromHtml(url), timestamp);
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
         message.size(), digest.data(), &length);
    return NSString::stringWithFormat("&ts=%lld&sig=%@", timestamp, platform::hexLower(digest.data(), length));
}

void TRAAdSDKUtils::sendClick(const std::optional<std::string>& url) {
    if (url) sendTracking(*url + authHashURLNonRequestWithURL(*url), std::nullopt);
}

void TRAAdSDKUtils::sendClose(const std::optional<std::string>& url) {
    if (url) sendTracking(*url + authHashURLNonRequestWithURL(*url), std::nullopt);
}

void TRAAdSDKUtils::sendImpression(const std::optional<std::string>& url) {
    if (!url) return;
    std::string text = *url;
    text += "&clientSessionId=" + TRAAdapptManager::clientSessionId();
    text += "&profileId=" + escapeQueryValue(TRAMetadata::sharedMetadata()->getProfileId().value_or(""));
    size_t tagAt = url->find("&adTag=");
    if (tagAt != std::string::npos) {
        std::string_view tag = std::string_view(*url).substr(tagAt + 7);
        tag = tag.substr(0, tag.find('&'));
        text += "&adTagEnc=" + escapeQueryValue(TRADataToBase64String::base64String(NSString::dataUsingEncoding(tag)));
    }
    sendTracking(text + authHashURLNonRequestWithURL(*url), 2);
}

void TRAAdSDKUtils::sendVideoEvent(const std::optional<std::string>& url) {
    if (url) sendTracking(*url + authHashURLNonRequestWithURL(*url), 9);
}

std::optional<std::string> TRAAdSDKUtils::pageCommandInUrl(std::string_view url) {
    constexpr std::string_view kScheme = "trilliumad://";
    if (url.find(kScheme) == std::string_view::npos) return std::nullopt;
    return std::string(url.size() > kScheme.size() ? url.substr(kScheme.size()) : std::string_view());
}

bool TRAAdSDKUtils::isHttpUrl(std::string_view text) {
    auto url = NSURL::URLWithString(std::string(text));
    if (!url) return false;
    std::string scheme = NSString::lowercaseString(url->scheme());
    return (scheme == "http" || scheme == "https") && !url->host().empty();
}

std::string TRAAdSDKUtils::findIdFromAppStoreUrl(std::string_view url) {
    size_t at;
    while ((at = url.find("/id")) != std::string_view::npos) url.remove_prefix(at + 3);
    return std::string(url.substr(0, url.find('?')));
}

bool TRAAdSDKUtils::isEnougthMemoryForVideo() {
    auto folders = NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true);
    if (folders.empty()) return false;
    Value attributes = NSFileManager::defaultManager()->attributesOfFileSystemForPath(folders[0]);
    if (!attributes.contains(platform::NSFileSystemFreeSize)) return false;
    uint64_t freeMiB = attributes[platform::NSFileSystemFreeSize].unsignedLongLongValue() / (1024 * 1024);
    int64_t required = TRAMetadata::sharedMetadata()->getMinAvailableStorageRequired();
    return required < 0 || freeMiB > static_cast<uint64_t>(required);
}

std::string TRAAdSDKUtils::videoDestinationDirectoryPath() {
    auto folders = NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true);
    std::string caches = folders.empty() ? std::string() : folders[0];
    return caches + "/" + NSBundle::mainBundle()->bundleIdentifier().value_or("");
}

std::string TRAAdSDKUtils::getDestPathFromFileName(const std::string& fileName) {
    return NSString::stringWithFormat("%@/%@", videoDestinationDirectoryPath(), fileName);
}

std::optional<std::string> TRAAdSDKUtils::getFileNameFromVideoUrl(std::string_view url) {
    if (!NSURL::URLWithString(url)) return std::nullopt;
    // The last component as written, so that an escaped "/" stays inside it.
    std::string_view path = url.substr(0, url.find_first_of("?#"));
    size_t authority = path.find("://");
    if (authority != std::string_view::npos) {
        size_t slash = path.find('/', authority + 3);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
    }
    std::string_view raw = path.substr(path.rfind('/') == std::string_view::npos ? 0 : path.rfind('/') + 1);
    std::string last = platform::removePercentEscapes(raw).value_or(std::string(raw));
    if (last.empty() || last == "." || last == "..") return std::nullopt;
    last = NSString::stringByReplacingOccurrencesOfString(last, "/", "_");
    size_t dot = last.rfind('.');
    if (dot != std::string::npos && dot > 0) last.erase(dot);
    return NSString::stringWithFormat("%@.mp4", last);
}

int64_t TRAAdSDKUtils::randomNumBetweenOneAndMaxNum(int64_t max) {
    if (max <= 0) return 1;
    if (max > UINT32_MAX) max = UINT32_MAX;
    return static_cast<int64_t>(arc4random() % static_cast<uint32_t>(max)) + 1;
}

std::string TRAAdSDKUtils::escapeQueryValue(std::string_view value) {
    return platform::addPercentEscapes(value, {}, "!*'();/?:@&=+$,");
}
