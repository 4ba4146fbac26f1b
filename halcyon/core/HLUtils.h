// The client's toolbox of class operations (the HLUtils namespace also holds
// the "hl_" extensions): the Info.plist switches, digests of identifiers,
// the top view controller, opening URLs, argument checks and the
// "{PLACEMENT}" macro of ad URLs. Any thread unless a function says main.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "halcyon/core/HLStringUtils.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {
class NSURL;
class UIViewController;
class UIWindow;
}  // namespace platform

class HLSdk;
class HLSdkSettings;
class HLSettingsManager;

namespace HLUtils {

// Info.plist "HalcyonSdkKey" (nullopt when absent or not a string).
std::optional<std::string> sdkKey();
// Info.plist "HalcyonVerboseLoggingOn" equals "true" ignoring case.
bool verboseLoggingOn();
// Info.plist "HalcyonAutoPreloadAdSizes" when a non-empty string, else "INTER".
std::string autoPreloadAdSizes();
// Info.plist "HalcyonAutoPreloadAdTypes" when a non-empty string, else
// "VIDEOA,REGULAR,NATIVE".
std::string autoPreloadAdTypes();
// Settings with the verbose switch of the Info.plist, the rest defaults.
Ref<HLSdkSettings> userSettings();

// Whether now (seconds since 1970) is later than the slot's value read as a time.
bool isTimeFor(int64_t slot, const Ref<HLSdk>& sdk);
bool isTimeFor(int64_t slot, const Ref<HLSettingsManager>& settings);

// The hex digest: MD5 for "MD5", SHA-1 for any other name; cut to the first
// n characters when n > 0 and the digest is at least that long.
std::string hashOf(std::string_view text, std::string_view algorithm, int64_t n);
// With the algorithm of slot 14, uncut.
std::string fullHashOf(std::string_view text, const Ref<HLSettingsManager>& settings);
// With the algorithm of slot 14, cut to slot 15 characters.
std::string shortHashOf(std::string_view text, const Ref<HLSettingsManager>& settings);

// The top controller over the key window (main thread): presented
// controllers followed, a presented navigation controller (exactly that
// class) giving its last controller.
Ref<platform::UIViewController> topViewControllerFromKeyWindow();
Ref<platform::UIViewController> topViewControllerFromWindow(const Ref<platform::UIWindow>& window);
Ref<platform::UIViewController> topViewControllerFromViewController(const Ref<platform::UIViewController>& controller);
// Runs `block` at once when on the main thread, else queues it on the main queue.
void performOnMainThread(Block block);

// A number holding the argument's integer value divided by 1000.0.
Value timeInSecondsFromMilliseconds(const Value& milliseconds);
// Whether `text` contains `substring` ("string:hl_containsSubstring:").
bool string(std::string_view text, std::string_view substring);
// True for an HLAd. Null writes two console lines and answers false; another
// class writes two and raises NSInvalidArgumentException.
bool assertValidAd(const Ref<NSObject>& object);
// Strings as they are; numbers as their text; dates as milliseconds since
// 1970; data as Base64; nullopt for anything else.
std::optional<std::string> coerceString(const Value& object);

// Opens with the system; a failure is retried once with the escapes
// replaced, then logged (never raised).
void openURLString(const std::string& text, const Ref<HLSdk>& sdk);
void openURL(const Ref<platform::NSURL>& url, const Ref<HLSdk>& sdk);

// Whether `url` begins with one of slot 31's comma-separated prefixes. An
// empty prefix (a trailing comma, "") matches nothing.
bool isDomainWhitelisted(const Ref<HLSettingsManager>& settings, std::string_view url);

// Every "{PLACEMENT}" replaced by the placement ("" for none), escaped first
// when `encode`.
std::string replacePlacementMacroInString(std::string_view text, const std::optional<std::string>& placement,
                                          bool encode);
// The URL's text unescaped, the macro replaced unescaped, the whole escaped
// again; null when that is no URL.
Ref<platform::NSURL> replacePlacementMacroInURL(const Ref<platform::NSURL>& url,
                                                const std::optional<std::string>& placement);

}  // namespace HLUtils
