#include "halcyon/core/HLTaskFetchNextAd.h"

#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLConnectionUtils.h"
#include "halcyon/core/HLDataCollector.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/core/HLStatsManager.h"
#include "halcyon/core/HLTargetingData.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/HLTaskRenderIOSAd.h"
#include "halcyon/core/HLTaskRepeatRequest.h"
#include "halcyon/core/HLTaskTimer.h"
#include "halcyon/core/HLUtils.h"
#include "halcyon/core/HLValueUtils.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SaturatingCast.h"
#include "platform/ui/UIScreen.h"

namespace {
constexpr const char* kHLFetchTaskTimerType = "HLTaskFetchNextAd";
constexpr const char* kHLRenderTaskTimerType = "HLTaskRenderIOSAd";
// Settings slots read here alone.
constexpr int64_t kHLFetchSlotTimeout = 17;      // "fetch_ad_connection_timeout", ms
constexpr int64_t kHLFetchSlotRetryCount = 18;   // "fetch_ad_retry_count"
constexpr int64_t kHLFetchSlotSessionMinutes = 19;  // "ad_session_minutes"
constexpr int64_t kHLFetchSlotCookie = 29;       // "adserver_cookie"

// Counters and settings go out as their "%@" text.
Value hlFetchText(const Value& value) { return Value(NSString::stringWithFormat("%@", value)); }
}  // namespace

Ref<HLTaskFetchNextAd> HLTaskFetchNextAd::initWithSdk(const Ref<HLSdk>& sdk) {
    HLTask::initWithSdk(sdk);
    return self<HLTaskFetchNextAd>();
}

void HLTaskFetchNextAd::run() {
    const Ref<HLSdk>& sdk = this->sdk();
    auto caught = platform::runtime::callCatching([&] {
        logger()->d(tag(), "Fetching next ad of size %@...", requiredAdSize_ ? requiredAdSize_->label() : "");
        sdk->statsManager()->incrementKey("ad_req");
        updateSessionStats();
        Value parameters = Value::dictionary({});
        populateAll(parameters);
        auto request = NSObject::alloc<HLTaskRepeatRequest>()->initWithSdk(sdk);
        request->setRequestEndpoint(createAdEndpointWithAdParameters(parameters));
        request->setAttemptsLeft(platform::saturatingCast<uint32_t>(std::max<int64_t>(0, sdk->integerForKey(kHLFetchSlotRetryCount))));
        request->setTimeoutSec(defaultTimeout());
        request->setDelegate(self<HLTaskFetchNextAd>());
        request->run();
    });
    if (caught) {
        logger()->e(tag(), "Unable to fetch ad: %@", platform::shortenedForLog(*caught));
        fail(-1);
    }
}

void HLTaskFetchNextAd::updateSessionStats() {
    const Ref<HLStatsManager>& stats = sdk()->statsManager();
    const double now = NSDate::date().timeIntervalSinceReferenceDate();
    const double start = stats->valueOfKey("ad_session_start").doubleValue();
    if (now - start > static_cast<double>(sdk()->integerForKey(kHLFetchSlotSessionMinutes)) * 60) {
        stats->setValue(Value(now), "ad_session_start");
        stats->clearKey("ad_imp_session");
    }
}

double HLTaskFetchNextAd::defaultTimeout() {
    return HLUtils::timeInSecondsFromMilliseconds(sdk()->numberForKey(kHLFetchSlotTimeout)).doubleValue();
}

// ---- Parameters

void HLTaskFetchNextAd::populateAll(Value& parameters) {
    populateDeviceDataOf(parameters);
    populateScreenInfo(parameters);
    populatePublicDataOf(parameters);
    populateAdServiceInfo(parameters);
    if (sdk()->boolForKey(kHLSlotIsTrackingEnabled)) populateTargetDataOf(parameters);
    populateTimingData(parameters);
}

void HLTaskFetchNextAd::populateDeviceDataOf(Value& parameters) {
    const Ref<HLSdk>& sdk = this->sdk();
    const Value deviceInformation = sdk->dataCollector()->deviceInformation();
    if (const Value::Dictionary* device = deviceInformation.dictionary())
        for (const auto& [key, value] : *device) parameters.set(key, value);
    std::string plugin = sdk->stringForKey(kHLSlotPluginVersion).value_or("");
    if (!plugin.empty()) parameters.set("plugin_version", plugin);
    const Value app = sdk->dataCollector()->appInformation();
    if (const std::string* package = app["package_name"].string(); package && !package->empty())
        parameters.set("vz", HLUtils::shortHashOf(*package, sdk->settingsManager()));
    parameters.set("network", HLConnectionUtils::networkType());
    if (!app["installed_at"].isNull()) parameters.set("ia", app["installed_at"]);
}

void HLTaskFetchNextAd::populateScreenInfo(Value& parameters) {
    const platform::CGRect bounds = UIScreen::mainScreen()->bounds();
    parameters.set("dx", Value(static_cast<double>(bounds.size.width)));
    parameters.set("dy", Value(static_cast<double>(bounds.size.height)));
}

void HLTaskFetchNextAd::populatePublicDataOf(Value& parameters) {
    parameters.set("sdk_version", HLSdk::version());
    parameters.set("accept", HLAdService::accepts());
    parameters.set("sdk_key", sdk()->sdkKey());
    const Value app = sdk()->dataCollector()->appInformation();
    if (!app["app_version"].isNull()) parameters.set("app_version", app["app_version"]);
    const std::string buildTag = kHLSdkBuildTag;
    if (!buildTag.empty() && buildTag != "{BUILD_NUMBER}") parameters.set("build_tag", buildTag);
    parameters.set("format", "json");
}

void HLTaskFetchNextAd::populateAdServiceInfo(Value& parameters) {
    if (requiredAdSize_) parameters.set("size", requiredAdSize_->label());
    parameters.set("preloading", isPreloading_ ? "true" : "false");
    populateTypeSpecificParameters(parameters);
}

void HLTaskFetchNextAd::populateTypeSpecificParameters(Value& parameters) {
    if (requiredAdType_) parameters.set("require", requiredAdType_->description());
}

void HLTaskFetchNextAd::populateTargetDataOf(Value& parameters) {
    const Ref<HLSdk>& sdk = this->sdk();
    const Ref<HLStatsManager>& stats = sdk->statsManager();
    parameters.set("li", hlFetchText(stats->valueOfKey("ad_imp")));
    parameters.set("si", hlFetchText(stats->valueOfKey("ad_imp_session")));
    if (std::optional<std::string> cookie = sdk->stringForKey(kHLFetchSlotCookie)) parameters.set("cookie", *cookie);
    const Value targetingData = sdk->targetingData()->allData();
    if (const Value::Dictionary* targeting = targetingData.dictionary())
        for (const auto& [key, value] : *targeting) parameters.set(key, value);
    if (std::optional<std::string> deviceId = sdk->stringForKey(kHLSlotDeviceId)) parameters.set("api_did", *deviceId);
}

void HLTaskFetchNextAd::populateTimingData(Value& parameters) {
    const Ref<HLTaskTimer>& timer = HLTaskTimer::sharedTimer();
    if (Ref<HLTimedTaskResult> fetch = timer->lastExecutionResultForType(kHLFetchTaskTimerType)) {
        parameters.set("etf", HLUtils::hl_stringValueWithFormat(Value(fetch->executionDuration()), 0));
        parameters.set("ntf", fetch->networkType());
    }
    if (Ref<HLTimedTaskResult> render = timer->lastExecutionResultForType(kHLRenderTaskTimerType)) {
        parameters.set("etr", HLUtils::hl_stringValueWithFormat(Value(render->executionDuration()), 0));
        parameters.set("ntr", render->networkType());
        parameters.set("fvr", render->containedVideo() ? "1" : "0");
    }
}

std::string HLTaskFetchNextAd::createAdEndpointBase() { return HLConnectionUtils::adServerUrl("2.0/ad", sdk()); }

std::string HLTaskFetchNextAd::createAdEndpointWithAdParameters(const Value& parameters) {
    std::string endpoint = createAdEndpointBase();
    if (parameters.count() > 0) endpoint += "?" + HLUtils::hl_httpGetQueryStringWithMembers(parameters);
    return endpoint;
}

// ---- Outcome

void HLTaskFetchNextAd::connectionViaDidSucceedWith(const Ref<HLConnectionManager>&, int64_t,
                                                    const Value& responseBody) {
    Ref<HLTask> render;
    auto caught = platform::runtime::callCatching([&] {
        HLConnectionUtils::updateSettingsFor(sdk(), responseBody);
        render = createRenderTaskWithResponse(responseBody);
    });
    if (caught) logger()->e(tag(), "Unable to render the fetched ad: %@", platform::shortenedForLog(*caught));
    if (!render) {
        fail(-1);
        return;
    }
    // The render task owes the answer from here on.
    if (!claimAnswer()) return;
    sdk()->taskManager()->execute(render, 0, NSOperationQueuePriorityHigh);
}

Ref<HLTask> HLTaskFetchNextAd::createRenderTaskWithResponse(const Value& response) {
    auto render = NSObject::alloc<HLTaskRenderIOSAd>()->initWithSdk(sdk());
    render->setAdResponse(response);
    render->setDelegate(delegate_);
    return render;
}

void HLTaskFetchNextAd::connectionViaDidFailWith(const Ref<HLConnectionManager>&, int64_t code) {
    logger()->e(tag(), "Unable to fetch %@ ad: server returned %i", requiredAdSize_, code);
    fail(code);
}

void HLTaskFetchNextAd::fail(int64_t code) {
    if (!claimAnswer()) return;
    notifyLoadDelegateOfFailureWithResponseCode(code);
}

void HLTaskFetchNextAd::notifyLoadDelegateOfFailureWithResponseCode(int64_t code) {
    HLNotifyLoadFailure(delegate_, sdk()->adService(), HLAdSpec::specWithSize(requiredAdSize_, requiredAdType_),
                        platform::saturatingCast<int32_t>(code));
}

void HLTaskFetchNextAd::taskDropped() {
    // A request the client's state never lets run still ends its load.
    fail(-1);
}
