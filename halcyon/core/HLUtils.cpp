#include "halcyon/core/HLUtils.h"

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSdkSettings.h"
#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/core/HLValueUtils.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURL.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/runtime/NSThread.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

namespace HLUtils {

namespace {
constexpr const char* kHLPlacementMacro = "{PLACEMENT}";

std::optional<std::string> hlInfoString(const char* key) {
    const Value value = NSBundle::mainBundle()->objectForInfoDictionaryKey(key);
    return value.string() ? std::optional<std::string>(*value.string()) : std::nullopt;
}

Value hlCallStack() {
    Value stack = Value::array({});
    for (const std::string& frame : NSThread::callStackSymbols()) stack.append(frame);
    return stack;
}
}  // namespace

// ---- Info.plist

std::optional<std::string> sdkKey() { return hlInfoString("HalcyonSdkKey"); }

bool verboseLoggingOn() {
    std::optional<std::string> value = hlInfoString("HalcyonVerboseLoggingOn");
    return value && hl_isEqualToStringIgnoringCase(*value, "true");
}

std::string autoPreloadAdSizes() {
    std::optional<std::string> value = hlInfoString("HalcyonAutoPreloadAdSizes");
    return hl_isValidString(value) ? *value : std::string("INTER");
}

std::string autoPreloadAdTypes() {
    std::optional<std::string> value = hlInfoString("HalcyonAutoPreloadAdTypes");
    return hl_isValidString(value) ? *value : HLSdkSettings::defaultAutoPreloadAdTypes();
}

Ref<HLSdkSettings> userSettings() {
    auto settings = NSObject::alloc<HLSdkSettings>()->init();
    settings->setIsVerboseLogging(verboseLoggingOn());
    return settings;
}

// ---- Times and digests

bool isTimeFor(int64_t slot, const Ref<HLSdk>& sdk) { return sdk && isTimeFor(slot, sdk->settingsManager()); }

bool isTimeFor(int64_t slot, const Ref<HLSettingsManager>& settings) {
    if (!settings) return false;
    return NSDate::date().timeIntervalSince1970() > settings->timeIntervalForKey(slot);
}

std::string hashOf(std::string_view text, std::string_view algorithm, int64_t n) {
    int selector = algorithm == "MD5" ? kHLHashMD5 : kHLHashSHA1;
    std::string digest = hl_stringByHashingStringUsingEncoding(text, selector).value_or("");
    if (n > 0 && digest.size() >= static_cast<uint64_t>(n)) digest.resize(static_cast<size_t>(n));
    return digest;
}

std::string fullHashOf(std::string_view text, const Ref<HLSettingsManager>& settings) {
    std::string algorithm = settings ? settings->stringForKey(kHLSlotHashAlgorithm).value_or("") : std::string();
    return hashOf(text, algorithm, 0);
}

std::string shortHashOf(std::string_view text, const Ref<HLSettingsManager>& settings) {
    std::string algorithm = settings ? settings->stringForKey(kHLSlotHashAlgorithm).value_or("") : std::string();
    int64_t size = settings ? settings->integerForKey(kHLSlotShortHashSize) : 0;
    return hashOf(text, algorithm, size);
}

// ---- View controllers

Ref<UIViewController> topViewControllerFromKeyWindow() {
    return topViewControllerFromWindow(UIApplication::sharedApplication()->keyWindow());
}

Ref<UIViewController> topViewControllerFromWindow(const Ref<UIWindow>& window) {
    return window ? topViewControllerFromViewController(window->rootViewController()) : nullptr;
}

Ref<UIViewController> topViewControllerFromViewController(const Ref<UIViewController>& controller) {
    Ref<UIViewController> current = controller;
    while (current) {
        Ref<UIViewController> presented = current->presentedViewController();
        if (!presented) return current;
        if (presented->isMemberOfClass<UINavigationController>()) {
            auto children = std::static_pointer_cast<UINavigationController>(presented)->viewControllers();
            if (children.empty()) return presented;
            current = children.back();
        } else {
            current = presented;
        }
    }
    return current;
}

void performOnMainThread(Block block) {
    if (NSThread::isMainThread())
        block();
    else
        NSOperationQueue::mainQueue()->addOperationWithBlock(std::move(block));
}

// ---- Values and arguments

Value timeInSecondsFromMilliseconds(const Value& milliseconds) {
    return Value(static_cast<double>(milliseconds.integerValue()) / 1000.0);
}

bool string(std::string_view text, std::string_view substring) { return hl_containsSubstring(text, substring); }

bool assertValidAd(const Ref<NSObject>& object) {
    if (!object) {
        NSLog("Developer passed nil instead of HLAd instance - please check object types!");
        NSLog("Called with an nil ad from: %@", hlCallStack());
        return false;
    }
    if (!object->isKindOfClass<HLAd>()) {
        NSLog("Developer passed in an object that wasn't of type HLAd - please check your object types!");
        NSLog("Called with an invalid object type from: %@", hlCallStack());
        NSException::raise(NSInvalidArgumentException, "Passed an object of type other than HLAd.");
    }
    return true;
}

std::optional<std::string> coerceString(const Value& object) {
    if (const std::string* text = object.string()) return *text;
    if (object.isNumber()) return object.stringValue();
    if (const NSDate* date = object.date()) return Value(hl_unixTimestampInMilliseconds(*date)).stringValue();
    if (const NSData* data = object.data()) return data->base64EncodedStringWithOptions(0);
    return std::nullopt;
}

// ---- Opening URLs

void openURLString(const std::string& text, const Ref<HLSdk>& sdk) {
    Ref<HLLogManager> log = sdk ? sdk->logManager() : nullptr;
    auto caught = platform::runtime::callCatching([&] {
        Ref<NSURL> url = NSURL::URLWithString(text);
        auto application = UIApplication::sharedApplication();
        if (url && application->openURL(url)) return;
        if (url) {
            if (auto unescaped = NSString::stringByReplacingPercentEscapesUsingEncoding(text))
                if (Ref<NSURL> second = NSURL::URLWithString(*unescaped); second && application->openURL(second))
                    return;
        }
        if (log) log->e("HLUtils", "Failed to open requested URL: %@", platform::urlForLog(text));
    });
    if (caught && log)
        log->e("HLUtils", "Failed to open requested URL: %@ due to exception: %@", platform::urlForLog(text),
               platform::shortenedForLog(*caught));
}

void openURL(const Ref<NSURL>& url, const Ref<HLSdk>& sdk) {
    openURLString(url ? url->absoluteString() : std::string(), sdk);
}

// ---- Prefixes and macros

bool isDomainWhitelisted(const Ref<HLSettingsManager>& settings, std::string_view url) {
    if (!settings) return false;
    std::string prefixes = settings->stringForKey(kHLSlotResourceCachePrefix).value_or("");
    for (const std::string& prefix : NSString::componentsSeparatedByString(prefixes, ","))
        if (!prefix.empty() && NSString::hasPrefix(url, prefix)) return true;
    return false;
}

std::string replacePlacementMacroInString(std::string_view text, const std::optional<std::string>& placement,
                                          bool encode) {
    std::string value = placement.value_or("");
    if (encode) value = hl_stringByAddingPercentEscapesUsingUTF8Encoding(value);
    return NSString::stringByReplacingOccurrencesOfString(text, kHLPlacementMacro, value);
}

Ref<NSURL> replacePlacementMacroInURL(const Ref<NSURL>& url, const std::optional<std::string>& placement) {
    if (!url) return nullptr;
    std::string text = NSString::stringByReplacingPercentEscapesUsingEncoding(url->absoluteString())
                           .value_or(url->absoluteString());
    text = NSString::stringByReplacingOccurrencesOfString(text, kHLPlacementMacro, placement.value_or(""));
    return NSURL::URLWithString(hl_stringByAddingPercentEscapesUsingUTF8Encoding(text));
}

}  // namespace HLUtils
