#include "tamarind/TMAAdRequestBuilder.h"

#include <cmath>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/web/UIWebView.h"
#include "tamarind/TMAJSONUtil.h"
#include "tamarind/TMAWebRequestFactory.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMAdConfiguration.h"
#include "tamarind/TMLog.h"
#include "tamarind/TMSISClient.h"

std::string TMAAdRequestBuilder::requestBody(const Ref<TamarindAdOptions>& options, const std::string& size,
                                             const std::optional<std::string>& containerSize) {
    auto bundle = NSBundle::mainBundle();
    Value body = Value::dictionary({
        {"appId", TMAdConfiguration::sharedAMAdConfiguration()->retrieveApplicationId().value_or("")},
        {"sdkVersion", TMAWire::kSdkVersion},
        {"size", size},
    });
    if (containerSize) body.set("containerSize", Value(*containerSize));
    Value extra = Value::dictionary({});
    if (options && options->advancedOptions().isDictionary()) {
        for (const auto& [key, value] : *options->advancedOptions().dictionary()) {
            // Only what JSON can carry goes out; the request itself must not fail for it.
            if (!NSJSONSerialization::isValidJSONObject(Value::array({value}))) {
                TMLog::logWarn("The ad option \"%@\" cannot be sent as JSON; it is left out.", key);
                continue;
            }
            if (key == TMAWire::kSlotIdOption) body.set("slotId", value);
            else extra.set(key, value);
        }
    }
    body.set("device", TMSISClient::deviceDescription(true));
    body.set("app", Value::dictionary({
                        {"bundleId", bundle->bundleIdentifier().value_or("")},
                        {"version", bundle->objectForInfoDictionaryKey("CFBundleShortVersionString").stringValue()},
                    }));
    if (extra.count() > 0) body.set("options", extra);
    return TMAJSONUtil::jsonStringFromObject(body).value_or("{}");
}

Ref<TMAWebRequest> TMAAdRequestBuilder::adRequestWithOptions(const Ref<TamarindAdOptions>& options,
                                                             const std::string& size,
                                                             const std::optional<std::string>& containerSize,
                                                             const Ref<NSObject>& ad, Ref<NSError>* error) {
    (void)ad;
    auto configuration = TMAdConfiguration::sharedAMAdConfiguration();
    auto host = configuration->adServerHost();
    auto path = configuration->adServerPath();
    if (!host || !path) {
        if (error)
            *error = NSError::errorWithDomain(
                kTMAAdRequestBuilderErrorDomain, -1,
                Value::dictionary({{NSLocalizedDescriptionKey,
                                    "Unable to build the ad request. The app must be registered with the SDK before "
                                    "requesting an ad."}}));
        return nullptr;
    }
    std::string url = *host;
    while (!url.empty() && url.back() == '/') url.pop_back();
    auto request = TMAWebRequestFactory::initJSONPostWebRequest(url + *path, requestBody(options, size, containerSize));
    request->setHeader("User-Agent", UIWebView::userAgent());
    double timeout = options ? options->timeout() : 0;
    request->setTimeoutInterval(std::isfinite(timeout) && timeout > 0 ? timeout : TMAWire::kDefaultAdRequestTimeout);
    request->setHandlesCookies(false);
    request->setReturnsOnMainThread(true);
    request->setMaximumResponseBytes(TMAWire::kMaximumAnswerBytes);
    return request;
}
