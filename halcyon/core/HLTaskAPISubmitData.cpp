#include "halcyon/core/HLTaskAPISubmitData.h"

#include "halcyon/core/HLConnectionUtils.h"
#include "halcyon/core/HLDataCollector.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/core/HLStatsManager.h"
#include "halcyon/core/HLTargetingData.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/HLTaskRepeatRequest.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"

namespace {
// An identifier of the answer as text: strings as they are, numbers in their
// decimal form; anything else counts as missing.
std::optional<std::string> hlIdentifier(const Value& result, const char* key) {
    const Value& value = result[key];
    if (value.isString()) return *value.string();
    if (value.isNumber()) return value.stringValue();
    return std::nullopt;
}
}  // namespace

Value HLTaskAPISubmitData::submissionBody() {
    const Ref<HLSdk>& sdk = this->sdk();
    Value deviceInfo = sdk->dataCollector()->deviceInformation();
    deviceInfo.set("type", deviceInfo["platform"]);
    Value appInfo = sdk->dataCollector()->appInformation();
    auto defaults = NSUserDefaults::standardUserDefaults();
    std::optional<std::string> firstRun = defaults->stringForKey(HLSdk::isFirstRunKey());
    if (firstRun) appInfo.set("first_install", *firstRun);
    if (firstRun == "true") {
        defaults->setObject(Value("false"), HLSdk::isFirstRunKey());
        defaults->synchronize();
    }
    Value body = Value::dictionary({{"device_info", deviceInfo}, {"app_info", appInfo}});
    if (sdk->boolForKey(kHLSlotIsTrackingEnabled)) body.set("targeting", sdk->targetingData()->allData());
    body.set("stats", sdk->statsManager()->stats());
    return body;
}

void HLTaskAPISubmitData::run() {
    Ref<HLTaskAPISubmitData> self = this->self<HLTaskAPISubmitData>();
    // Without the stored identity the submission would go with the SDK key,
    // the device would be registered anew, and the identity answered would
    // replace the stored one for good: it waits for preferences that read.
    if (!sdk()->settingsManager()->isStoreRead()) {
        if (!waitLogged_)
            logger()->d(tag(), "The stored device identity cannot be read now; the device data is sent once it can");
        waitLogged_ = true;
        sdk()->taskManager()->execute(self, 1, kStoreReadWaitSeconds);
        return;
    }
    auto caught = platform::runtime::callCatching([&] {
        auto request = NSObject::alloc<HLTaskRepeatRequest>()->initWithSdk(sdk());
        request->setRequestEndpoint(HLConnectionUtils::apiUrl("device", sdk()));
        request->setAttemptsLeft(static_cast<uint32_t>(std::max<int64_t>(0, sdk()->integerForKey(kHLSlotInitRetryCount))));
        request->setRequest(submissionBody());
        request->setDelegate(self);
        request->run();
    });
    if (caught) {
        logger()->e(tag(), "Unable to perform API hanshake. Exception occured: %@", platform::shortenedForLog(*caught));
        connectionViaDidFailWith(sdk()->connectionManager(), 0);
    }
}

void HLTaskAPISubmitData::connectionViaDidSucceedWith(const Ref<HLConnectionManager>& manager, int64_t,
                                                      const Value& responseBody) {
    const Value result = HLConnectionUtils::apiResultFrom(responseBody);
    std::optional<std::string> deviceId = hlIdentifier(result, "device_id");
    std::optional<std::string> deviceToken = hlIdentifier(result, "device_token");
    std::optional<std::string> publisherId = hlIdentifier(result, "publisher_id");
    std::optional<std::string> appId = hlIdentifier(result, "vz");
    if (!appId) appId = hlIdentifier(result, "app_id");
    // All four are checked before any is stored: a partial answer changes
    // nothing, on the first attempt and on a retried one alike.
    if (!deviceId || !deviceToken || !publisherId || !appId) {
        logger()->e(tag(), "Unable to perform API hanshake. The answer lacks an identifier: %@",
                    hlValueForLog(responseBody));
        connectionViaDidFailWith(manager, 0);
        return;
    }
    const Ref<HLSettingsManager>& settings = sdk()->settingsManager();
    settings->putString(deviceId, kHLSlotDeviceId);
    settings->putString(deviceToken, kHLSlotDeviceToken);
    settings->putString(publisherId, kHLSlotPublisherId);
    settings->putString(appId, kHLSlotAppId);
    // Kept whether or not the answer also carries "settings".
    settings->persistAll();
    HLConnectionUtils::updateSettingsFor(sdk(), result);
}

void HLTaskAPISubmitData::connectionViaDidFailWith(const Ref<HLConnectionManager>&, int64_t code) {
    HLConnectionUtils::handleApiError(code, sdk());
}
