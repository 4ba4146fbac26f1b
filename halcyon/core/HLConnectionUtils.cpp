#include "halcyon/core/HLConnectionUtils.h"

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLReachability.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/core/HLValueUtils.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"
#include "platform/net/NSURLError.h"
#include "platform/runtime/Log.h"

namespace {
void hlCheckUrlArguments(const std::optional<std::string>& path, const Ref<HLSdk>& sdk) {
    if (!path) NSException::raise(NSInvalidArgumentException, "No endpoint specified");
    if (!sdk) NSException::raise(NSInvalidArgumentException, "No sdk specified");
}
}  // namespace

std::string HLConnectionUtils::apiUrl(const std::optional<std::string>& path, const Ref<HLSdk>& sdk) {
    hlCheckUrlArguments(path, sdk);
    std::string url = sdk->stringForKey(kHLSlotApiEndpoint).value_or("") + *path;
    std::string token = sdk->stringForKey(kHLSlotDeviceToken).value_or("");
    // Encoded as every query value is: a token the server chose (a blank, an
    // "&") must neither break the URL nor come back changed.
    const Value member = token.empty() ? Value::dictionary({{"api_key", sdk->sdkKey()}})
                                       : Value::dictionary({{"device_token", token}});
    return url + "?" + HLUtils::hl_httpGetQueryStringWithMembers(member);
}

std::string HLConnectionUtils::adServerUrl(const std::optional<std::string>& path, const Ref<HLSdk>& sdk) {
    hlCheckUrlArguments(path, sdk);
    return sdk->stringForKey(kHLSlotAdServerEndpoint).value_or("") + *path;
}

std::optional<std::string> HLConnectionUtils::secureEndpointForUrl(const std::optional<std::string>& url) {
    if (!url || NSString::containsString(*url, "https://")) return url;
    return NSString::stringByReplacingOccurrencesOfString(*url, "http://", "https://");
}

Value HLConnectionUtils::apiResultFrom(const Value& message) {
    const Value& results = message["results"];
    return results.isArray() ? results.at(0) : Value();
}

void HLConnectionUtils::updateSettingsFor(const Ref<HLSdk>& sdk, const Value& message) {
    if (!sdk || !message.contains("settings")) return;
    const Value& settings = message["settings"];
    if (!settings.isDictionary()) {
        sdk->logManager()->w("ConnectionUtils", "Ignoring \"settings\" that are not an object: %@",
                             hlValueForLog(settings));
        return;
    }
    sdk->settingsManager()->loadFromServer(settings);
    sdk->settingsManager()->persistAll();
    sdk->logManager()->d("ConnectionUtils", "New settings processed");
}

void HLConnectionUtils::handleApiError(int64_t code, const Ref<HLSdk>& sdk) {
    if (!sdk) return;
    const Ref<HLSettingsManager>& settings = sdk->settingsManager();
    if (code == 401 || code == NSURLErrorUserCancelledAuthentication || code == NSURLErrorUserAuthenticationRequired) {
        settings->clear(kHLSlotDeviceId);
        settings->clear(kHLSlotDeviceToken);
        settings->persistAll();
        sdk->logManager()->userError("ConnectionUtils",
                                     "SDK key \"%@ is rejected by Halcyon. Please make sure the SDK key is correct.",
                                     sdk->sdkKey());
    } else if (code == 418) {
        settings->putBool(true, kHLSlotIsDisabled);
        settings->persistAll();
        sdk->logManager()->userError("ConnectionUtils", "SDK key \"%@ has been blocked. Please contact Halcyon support.",
                                     sdk->sdkKey());
    } else if (code >= 400 && code <= 499) {
        sdk->resetSdkState();
    }
}

std::string HLConnectionUtils::networkType() { return HLReachability::currentNetworkType(); }
