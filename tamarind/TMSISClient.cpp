#include "tamarind/TMSISClient.h"

#include <atomic>
#include <cmath>

#include "platform/foundation/ASIdentifierManager.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Uname.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"
#include "tamarind/TMAJSONUtil.h"
#include "tamarind/TMAWebRequestFactory.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMAdConfiguration.h"
#include "tamarind/TMLog.h"

namespace {

std::atomic<bool> gTMSISBootstrapRunning{false};

// Whether the exchange last done at the date under `key` is due again.
bool sisIsDue(const char* key, double interval) {
    Value last = NSUserDefaults::standardUserDefaults()->objectForKey(key);
    if (!last.isNumber()) return true;
    double age = NSDate::date().timeIntervalSinceReferenceDate() - last.doubleValue();
    // A date in the future (the clock was set back) counts as due.
    return age < 0 || age >= interval;
}

// Seconds since 2001, stored as a plain number so that it reads back exactly.
void sisMarkDone(const char* key) {
    NSUserDefaults::standardUserDefaults()->setDouble(NSDate::date().timeIntervalSinceReferenceDate(), key);
}

Ref<NSError> sisError(int64_t code, const std::string& description) {
    return NSError::errorWithDomain("TMSISClientError", code,
                                    Value::dictionary({{NSLocalizedDescriptionKey, description}}));
}

// The outcome's error: the transport error, a status other than 200, or none.
Ref<NSError> sisExchangeError(const char* path, const Ref<NSError>& error, int64_t status) {
    if (error) return error;
    if (status != 200)
        return sisError(status, NSString::stringWithFormat("The identity service answered %@ with HTTP status %lld.",
                                                           path, status));
    return nullptr;
}

// The "did" of an answer: a text of 1…256 bytes, else nullopt.
std::optional<std::string> sisAnsweredDeviceId(const Ref<TMAWebResponse>& response) {
    if (!response) return std::nullopt;
    auto json = response->getResponseReader()->readAsJSON();
    if (!json || !json->isDictionary()) return std::nullopt;
    const Value& did = (*json)["did"];
    if (!did.isString() || did.string()->empty() || did.string()->size() > TMAWire::kMaximumDeviceIdBytes)
        return std::nullopt;
    return *did.string();
}

std::string sisIdentityURL(const std::string& sisHost, const char* path) {
    std::string url = sisHost;
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url + TMAWire::kIdentityPrefix + path;
}

}  // namespace

std::optional<std::string> TMSISClient::deviceIdentifier() {
    auto did = NSUserDefaults::standardUserDefaults()->stringForKey(TMAWire::kDeviceIdKey);
    if (!did || did->empty()) return std::nullopt;
    return did;
}

Value TMSISClient::deviceDescription(bool withDeviceId) {
    auto screen = UIScreen::mainScreen();
    CGRect bounds = screen->bounds();
    auto identifiers = ASIdentifierManager::sharedManager();
    Value device = Value::dictionary({
        {"os", TMAWire::kOs},
        {"osVersion", UIDevice::currentDevice()->systemVersion()},
        {"model", platform::uname().machine},
        {"locale", NSLocale::currentLocale()->localeIdentifier()},
        {"screen", NSString::stringWithFormat("%gx%g", bounds.size.width, bounds.size.height)},
        {"scale", Value(static_cast<double>(screen->scale()))},
        {"idfa", identifiers->advertisingIdentifier()->UUIDString()},
        {"limitAdTracking", !identifiers->isAdvertisingTrackingEnabled()},
    });
    if (withDeviceId)
        if (auto did = deviceIdentifier()) device.set("deviceId", Value(*did));
    return device;
}

void TMSISClient::bootstrapDevice() {
    auto configuration = TMAdConfiguration::sharedAMAdConfiguration();
    auto sisHost = configuration->sisHost();
    if (!sisHost) {
        TMLog::logDebug("No identity service is configured; the device is not registered.");
        return;
    }
    // Preferences that cannot be read now may hold the identity and the
    // dates of the last exchanges: a new identity or an exchange taken as due
    // would be asked for again. The next bootstrap decides.
    if (!NSUserDefaults::standardUserDefaults()->isStoreRead()) {
        TMLog::logDebug("The stored device identity cannot be read now; the device registration waits.");
        return;
    }
    double interval = configuration->registrationInterval();
    auto did = deviceIdentifier();
    bool deviceDue = !did || sisIsDue(TMAWire::kDeviceIdDateKey, interval);
    bool eventsDue = sisIsDue(TMAWire::kAppEventsDateKey, interval);
    if (!deviceDue && !eventsDue) return;
    if (gTMSISBootstrapRunning.exchange(true)) {
        TMLog::logDebug("A device registration is already under way.");
        return;
    }
    if (deviceDue) registerDevice(*sisHost, did, eventsDue);
    else registerEvents(*sisHost, *did);
}

void TMSISClient::registerDevice(const std::string& sisHost, const std::optional<std::string>& deviceId,
                                 bool eventsDue) {
    const char* path = deviceId ? TMAWire::kUpdateDevicePath : TMAWire::kGenerateDevicePath;
    Value body = Value::dictionary({});
    if (deviceId) body.set("did", Value(*deviceId));
    body.set("appId", Value(TMAdConfiguration::sharedAMAdConfiguration()->retrieveApplicationId().value_or("")));
    body.set("sdkVersion", Value(TMAWire::kSdkVersion));
    body.set("device", deviceDescription(false));
    auto request = TMAWebRequestFactory::initJSONPostWebRequest(sisIdentityURL(sisHost, path),
                                                                TMAJSONUtil::jsonStringFromObject(body).value_or("{}"));
    request->setMaximumResponseBytes(64 * 1024);
    auto self = this->self<TMSISClient>();
    request->makeCallWithCompletionBlock(
        [self, sisHost, deviceId, eventsDue, path](Ref<TMAWebResponse> response, Ref<NSError> error, int64_t status) {
            Ref<NSError> failure = sisExchangeError(path, error, status);
            std::optional<std::string> did = failure ? std::nullopt : sisAnsweredDeviceId(response);
            if (!failure && !did) did = deviceId;  // an update need not name the identity again
            if (!failure && !did)
                failure = sisError(-1, "The identity service answered without a device identity.");
            if (failure) {
                self->finish(std::nullopt, failure);
                return;
            }
            NSUserDefaults::standardUserDefaults()->setObject(Value(*did), TMAWire::kDeviceIdKey);
            sisMarkDone(TMAWire::kDeviceIdDateKey);
            TMLog::logInfo("Device identity %@: %@", deviceId ? "updated" : "generated",
                           platform::shortenedForLog(*did));
            if (eventsDue) self->registerEvents(sisHost, *did);
            else self->finish(did, nullptr);
        });
}

void TMSISClient::registerEvents(const std::string& sisHost, const std::string& deviceId) {
    double now = NSDate::date().timeIntervalSince1970();
    Value event = Value::dictionary({{"name", TMAWire::kAppStartEvent},
                                     {"timestamp", Value(static_cast<int64_t>(std::floor(now * 1000)))}});
    Value body = Value::dictionary({
        {"did", deviceId},
        {"appId", TMAdConfiguration::sharedAMAdConfiguration()->retrieveApplicationId().value_or("")},
        {"events", Value::array({event})},
    });
    auto request = TMAWebRequestFactory::initJSONPostWebRequest(sisIdentityURL(sisHost, TMAWire::kRegisterEventPath),
                                                                TMAJSONUtil::jsonStringFromObject(body).value_or("{}"));
    request->setMaximumResponseBytes(64 * 1024);
    auto self = this->self<TMSISClient>();
    request->makeCallWithCompletionBlock([self, deviceId](Ref<TMAWebResponse>, Ref<NSError> error, int64_t status) {
        Ref<NSError> failure = sisExchangeError(TMAWire::kRegisterEventPath, error, status);
        if (!failure) sisMarkDone(TMAWire::kAppEventsDateKey);
        self->finish(deviceId, failure);
    });
}

void TMSISClient::finish(const std::optional<std::string>& deviceId, const Ref<NSError>& error) {
    gTMSISBootstrapRunning.store(false);
    auto delegate = delegate_.lock();
    if (error) {
        TMLog::logError("Device registration failed: %@", error->localizedDescription());
        if (delegate) delegate->sisClientDidFailWithError(error);
    } else if (delegate && deviceId) {
        delegate->sisClientDidBootstrapDevice(*deviceId);
    }
}
