#include "halcyon/core/HLEventService.h"

#include <algorithm>

#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLDataCollector.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLStringUtils.h"
#include "halcyon/core/HLSystemVersioning.h"
#include "halcyon/core/HLUtils.h"
#include "halcyon/core/HLValueUtils.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUUID.h"

namespace {
constexpr const char* kHLEventServiceTag = "HLEventService";

// The parameters as a dictionary to add to: a caller's dictionary, or a new
// one (so that the transaction keys go out without one too).
Value hlEventParameterCopy(const Value& parameters) {
    return parameters.isDictionary() ? parameters : Value::dictionary({});
}

void hlSetPresentString(Value& query, const char* key, const Value& value) {
    if (value.isString() || value.isNumber()) query.set(key, value.stringValue());
}
}  // namespace

Ref<HLEventService> HLEventService::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLEventService>();
}

std::vector<std::string> HLEventService::topLevelEventTypes() {
    // Not at construction: the service is made before the stored settings
    // are loaded, and would always see the default list.
    std::call_once(topLevelOnce_, [this] {
        Ref<HLSdk> sdk = sdk_.lock();
        if (!sdk) return;
        std::optional<std::string> types = sdk->stringForKey(kHLSlotTopLevelEvents);
        if (types) topLevelEventTypes_ = NSString::componentsSeparatedByString(*types, ",");
    });
    return topLevelEventTypes_;
}

void HLEventService::trackEvent(const std::string& eventType) { trackEvent(eventType, Value()); }

void HLEventService::trackEvent(const std::string& eventType, const Value& parameters) {
    std::string identifier =
        HLUtils::hl_stringByHashingStringUsingEncoding(NSUUID::UUID()->UUIDString(), HLUtils::kHLHashSHA1).value_or("");
    track(NSObject::alloc<HLEvent>()->initWithType(eventType, sanitizeEventParameters(parameters),
                                                   std::move(identifier), NSDate::date()));
}

void HLEventService::trackCheckoutWithTransactionIdentifier(const std::optional<std::string>& transactionIdentifier,
                                                            const Value& parameters) {
    Value copy = hlEventParameterCopy(parameters);
    if (transactionIdentifier) copy.set("transaction_id", *transactionIdentifier);
    trackEvent("checkout", copy);
}

void HLEventService::trackInAppPurchaseWithTransactionIdentifier(
    const std::optional<std::string>& transactionIdentifier, const Value& parameters) {
    Value copy = hlEventParameterCopy(parameters);
    if (transactionIdentifier) copy.set("store_id", *transactionIdentifier);
    if (!copy.contains("receipt_data")) {
        Ref<NSURL> receipt = NSBundle::mainBundle()->appStoreReceiptURL();
        if (receipt)
            if (std::optional<NSData> bytes = NSData::dataWithContentsOfFile(receipt->path()))
                copy.set("receipt_data", *bytes);
    }
    trackEvent("iap", copy);
}

void HLEventService::track(const Ref<HLEvent>& event) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !event || !sdk->boolForKey(kHLSlotEventsEnabled)) return;
    sdk->logManager()->d(kHLEventServiceTag, "Tracking event: %@", event);
    sdk->persistentPostbackManager()->submitPostback(postbackURLForEvent(event), event->parameters());
}

Ref<NSURL> HLEventService::postbackURLForEvent(const Ref<HLEvent>& event) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !event) return nullptr;
    std::string url = sdk->stringForKey(kHLSlotEventTrackingEndpoint).value_or("");
    const std::vector<std::string> topLevel = topLevelEventTypes();
    const bool isTopLevel = std::find(topLevel.begin(), topLevel.end(), event->eventType()) != topLevel.end();
    const Value device = sdk->dataCollector()->deviceInformation();
    const Value app = sdk->dataCollector()->appInformation();

    // Values the collector does not supply leave their key out.
    Value query = Value::dictionary({});
    query.set("event", isTopLevel ? event->eventType() : std::string("postinstall"));
    query.set("api_did", sdk->stringForKey(kHLSlotDeviceId).value_or(""));
    query.set("ts", Value(HLUtils::hl_unixTimestampInMilliseconds(event->creationDate())).stringValue());
    query.set("event_id", event->uniqueIdentifier());
    hlSetPresentString(query, "ia", app["installed_at"]);
    hlSetPresentString(query, "package_name", app["package_name"]);
    query.set("sdk_key", sdk->sdkKey());
    query.set("sdk_version", HLSdk::version());
    hlSetPresentString(query, "app_version", app["app_version"]);
    // The identifier goes out only as the device data would send it.
    hlSetPresentString(query, "idfa", device["idfa"]);
    hlSetPresentString(query, "dnt", device["dnt"]);
    query.set("os", HLSystemVersioning::currentVerboseDeviceVersion());
    if (const ValueDictionary* entries = device.dictionary())
        for (const auto& [key, value] : *entries) query.set(key, value);
    if (!isTopLevel) query.set("sub_event", event->eventType());
    url += HLUtils::hl_httpGetQueryStringWithMembers(query);
    return NSURL::URLWithString(url);
}

Value HLEventService::sanitizeEventParameters(const Value& parameters) {
    Value sanitized = Value::dictionary({});
    const ValueDictionary* entries = parameters.dictionary();
    if (!entries) return sanitized;
    Ref<HLSdk> sdk = sdk_.lock();
    for (const auto& [key, value] : *entries) {
        std::optional<std::string> text = HLUtils::coerceString(value);
        if (!text) {
            if (sdk)
                sdk->logManager()->userError(
                    kHLEventServiceTag,
                    "Unable to encode event parameter %@. The dictionary passed to trackEvent:parameters: should "
                    "contain only NSString keys, and only values of types NSString, NSDate, NSData or NSNumber. Other "
                    "value types are unsupported.",
                    key);
            continue;
        }
        sanitized.set(key, *text);
    }
    return sanitized;
}
