#include "tamarind/TMAdConfiguration.h"

#include <cmath>

#include "platform/runtime/Log.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIDevice.h"
#include "tamarind/TMAViewabilityFetcher.h"
#include "tamarind/TMAWebRequestFactory.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMLog.h"
#include "tamarind/TamarindAdRegistration.h"

namespace {

Ref<NSUserDefaults> tmDefaults() { return NSUserDefaults::standardUserDefaults(); }

std::optional<std::string> configString(const char* key) {
    auto value = tmDefaults()->stringForKey(key);
    if (!value || value->empty()) return std::nullopt;
    return value;
}

// Query values: letters, digits and "-._~" stay, every other byte is escaped.
std::string configEscapeQueryValue(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string escaped;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            escaped += static_cast<char>(c);
        } else {
            escaped += '%';
            escaped += hex[c >> 4];
            escaped += hex[c & 15];
        }
    }
    return escaped;
}

bool configIsHttpURL(const std::string& text) {
    auto url = NSURL::URLWithString(text);
    if (!url) return false;
    std::string scheme = NSString::lowercaseString(url->scheme());
    return (scheme == "http" || scheme == "https") && !url->host().empty();
}

bool configNumberIn(const Value& v, double low, double high) {
    if (!v.isInteger() && !v.isDouble()) return false;
    double d = v.doubleValue();
    return std::isfinite(d) && d >= low && d <= high;
}

// The value to store for one field; nullopt (with the reason) when it has
// the wrong kind or is out of range.
std::optional<Value> checkedConfigurationField(const TMAWire::ConfigurationField& field, const Value& v,
                                               std::string* why) {
    using TMAWire::FieldKind;
    auto fail = [&](const char* what) -> std::optional<Value> {
        *why = NSString::stringWithFormat("\"%@\" %@", field.server, what);
        return std::nullopt;
    };
    switch (field.kind) {
        case FieldKind::Url:
        case FieldKind::Path:
        case FieldKind::Text:
            if (!v.isString() || v.string()->empty() || v.string()->size() > TMAWire::kMaximumTextField)
                return fail("is not a text of 1 to 4096 bytes");
            if (field.kind == FieldKind::Url && !configIsHttpURL(*v.string())) return fail("is not an http(s) URL");
            if (field.kind == FieldKind::Path &&
                ((*v.string())[0] != '/' || !NSURL::URLWithString("http://host" + *v.string())))
                return fail("is not a URL path");
            return v;
        case FieldKind::Milliseconds:
            if (!configNumberIn(v, 0, 60000)) return fail("is not a number of milliseconds in range");
            return Value(v.doubleValue());
        case FieldKind::Seconds:
            if (!configNumberIn(v, 60, 2592000)) return fail("is not a number of seconds in range");
            return Value(v.doubleValue());
    }
    return fail("has an unknown kind");
}

Ref<NSError> configError(int64_t code, const std::string& description) {
    return NSError::errorWithDomain(kTMAdConfigurationErrorDomain, code,
                                    Value::dictionary({{NSLocalizedDescriptionKey, description}}));
}

}  // namespace

Ref<TMAdConfiguration> TMAdConfiguration::sharedAMAdConfiguration() {
    // Never destroyed: other threads may use it during exit.
    static Ref<TMAdConfiguration>& shared = *new Ref<TMAdConfiguration>(NSObject::alloc<TMAdConfiguration>());
    return shared;
}

std::optional<std::string> TMAdConfiguration::retrieveApplicationId() const {
    return tmDefaults()->stringForKey(TamarindAdRegistration::kApplicationIdKey);
}

double TMAdConfiguration::remainingNoRetryTTLSeconds() const {
    auto d = tmDefaults();
    double ttl = d->doubleForKey(TMAWire::kNoRetryTtlKey);
    double since = d->doubleForKey(TMAWire::kNoRetryTimestampKey);
    return ttl + since - NSDate::date().timeIntervalSinceReferenceDate();
}

void TMAdConfiguration::setExchangeNoRetryTTLTimestamp(double timestamp) {
    tmDefaults()->setDouble(std::isfinite(timestamp) ? timestamp : 0, TMAWire::kNoRetryTimestampKey);
}

void TMAdConfiguration::setNoretryTTLSeconds(int seconds) {
    tmDefaults()->setInteger(seconds, TMAWire::kNoRetryTtlKey);
}

CGSize TMAdConfiguration::getParsedSizeString(const std::string& size) {
    auto parts = NSString::componentsSeparatedByString(size, "x");
    if (parts.size() < 2) {
        TMLog::logError("An invalid size string was retrieved: %@", platform::shortenedForLog(size));
        return CGSizeZero;
    }
    auto side = [](const std::string& text) {
        float value = NSString::floatValue(text);
        return std::isfinite(value) && value > 0 ? value : 0.0f;
    };
    return CGSizeMake(side(parts[0]), side(parts[1]));
}

double TMAdConfiguration::viewableInterval() const {
    Value stored = tmDefaults()->objectForKey(TMAWire::kViewableIntervalKey);
    if (!stored.isNumber()) return TMAWire::kDefaultViewableInterval;
    return stored.doubleValue() / 1000;
}

double TMAdConfiguration::registrationInterval() const {
    Value stored = tmDefaults()->objectForKey(TMAWire::kRegistrationIntervalKey);
    if (!stored.isNumber() || stored.doubleValue() <= 0) return TMAWire::kDefaultRegistrationInterval;
    return stored.doubleValue();
}

std::optional<std::string> TMAdConfiguration::adServerHost() const { return configString(TMAWire::kAdServerHostKey); }
std::optional<std::string> TMAdConfiguration::adServerPath() const { return configString(TMAWire::kAdServerPathKey); }
std::optional<std::string> TMAdConfiguration::sisHost() const { return configString(TMAWire::kSISHostKey); }
std::optional<std::string> TMAdConfiguration::metricEndpoint() const {
    return configString(TMAWire::kMetricEndpointKey);
}
std::optional<std::string> TMAdConfiguration::viewabilityScriptURL() const {
    return configString(TMAWire::kViewabilityURLKey);
}
std::optional<std::string> TMAdConfiguration::viewabilityScriptVersion() const {
    return configString(TMAWire::kViewabilityOfferedVersionKey);
}

std::string TMAdConfiguration::configurationURL() const {
    return configString(TMAWire::kConfigurationURLKey).value_or(TMAWire::kDefaultConfigurationURL);
}

void TMAdConfiguration::setConfigurationURL(const std::optional<std::string>& url) {
    tmDefaults()->setObject(url ? Value(*url) : Value(), TMAWire::kConfigurationURLKey);
}

bool TMAdConfiguration::isCurrent() const {
    for (const auto& field : TMAWire::kConfigurationFields)
        if (field.required && !configString(field.key)) return false;
    auto d = tmDefaults();
    Value loaded = d->objectForKey(TMAWire::kConfigurationDateKey);
    if (!loaded.isNumber()) return false;
    double age = NSDate::date().timeIntervalSinceReferenceDate() - loaded.doubleValue();
    double ttl = std::min<double>(d->doubleForKey(TMAWire::kConfigurationTtlKey), TMAWire::kMaximumConfigurationTtl);
    // A load date in the future (the clock was set back) counts as run out.
    return age >= 0 && age < ttl;
}

void TMAdConfiguration::bootstrapConfigurationOnSuccess(SuccessBlock success, ErrorBlock error) {
    {
        std::unique_lock lock(mutex_);
        if (fetching_ || !isCurrent()) {
            waiting_.emplace_back(std::move(success), std::move(error));
            if (fetching_) return;
            fetching_ = true;
        } else {
            lock.unlock();
            if (success) success();
            return;
        }
    }
    fetch();
}

void TMAdConfiguration::fetch() {
    std::string url = configurationURL();
    url += url.find('?') == std::string::npos ? '?' : '&';
    url += "appId=" + configEscapeQueryValue(retrieveApplicationId().value_or(""));
    url += std::string("&sdkVersion=") + configEscapeQueryValue(TMAWire::kSdkVersion);
    url += std::string("&os=") + TMAWire::kOs;
    url += "&osVersion=" + configEscapeQueryValue(UIDevice::currentDevice()->systemVersion());
    auto request = TMAWebRequestFactory::initWebRequest();
    request->setUrlString(url);
    request->setHeader("Accept", "application/json");
    request->setMaximumResponseBytes(TMAWire::kMaximumAnswerBytes);
    TMLog::logDebug("Fetching the configuration: %@", platform::urlForLog(url));
    Weak<TMAdConfiguration> weak = self<TMAdConfiguration>();
    request->makeCallWithCompletionBlock([weak](Ref<TMAWebResponse> response, Ref<NSError> error, int64_t status) {
        if (auto configuration = weak.lock()) configuration->didFetch(response, error, status);
    });
}

void TMAdConfiguration::didFetch(const Ref<TMAWebResponse>& response, const Ref<NSError>& error, int64_t status) {
    Ref<NSError> failure;
    if (error) {
        failure = error;
    } else if (status != 200 || !response) {
        failure = configError(
            status, NSString::stringWithFormat("The configuration server answered with HTTP status %lld.", status));
    } else {
        std::string why;
        if (!applyConfigurationAnswer(response->body(), &why))
            failure = configError(-1, "The configuration answer was rejected: " + why + ".");
    }
    if (failure)
        TMLog::logError("Failed to load the configuration (%@); the stored configuration stays.",
                        failure->localizedDescription());
    else
        TMLog::logInfo("Configuration loaded.");

    std::vector<std::pair<SuccessBlock, ErrorBlock>> waiting;
    {
        std::scoped_lock lock(mutex_);
        waiting.swap(waiting_);
        fetching_ = false;
    }
    for (auto& [success, onError] : waiting) {
        if (failure) {
            if (onError) onError(failure);
        } else if (success) {
            success();
        }
    }
}

bool TMAdConfiguration::applyConfigurationAnswer(const NSData& body, std::string* why) {
    auto reject = [why](std::string text) {
        if (why) *why = std::move(text);
        return false;
    };
    if (body.length() > TMAWire::kMaximumAnswerBytes) return reject("it is too large");
    Ref<NSError> parseError;
    std::optional<Value> answer = NSJSONSerialization::JSONObjectWithData(body, 0, &parseError);
    if (!answer || !answer->isDictionary()) return reject("it is not a JSON object");

    double ttl = TMAWire::kDefaultConfigurationTtl;
    const Value& ttlValue = (*answer)[TMAWire::kConfigurationTtlField];
    if (!ttlValue.isNull()) {
        if (!configNumberIn(ttlValue, 0, TMAWire::kMaximumTtlField))
            return reject("\"ttl\" is not a number of seconds in range");
        ttl = std::min<double>(std::floor(ttlValue.doubleValue()), TMAWire::kMaximumConfigurationTtl);
    }
    // Checked whole before anything is stored.
    std::vector<std::pair<const char*, Value>> values;
    for (const auto& field : TMAWire::kConfigurationFields) {
        const Value& v = (*answer)[field.server];
        if (v.isNull()) {
            if (field.required) return reject(NSString::stringWithFormat("\"%@\" is missing", field.server));
            values.emplace_back(field.key, Value());
            continue;
        }
        std::string fieldWhy;
        auto checked = checkedConfigurationField(field, v, &fieldWhy);
        if (!checked) return reject(fieldWhy);
        values.emplace_back(field.key, std::move(*checked));
    }
    auto d = tmDefaults();
    for (const auto& [key, value] : values) d->setObject(value, key);
    d->setDouble(ttl, TMAWire::kConfigurationTtlKey);
    d->setDouble(NSDate::date().timeIntervalSinceReferenceDate(), TMAWire::kConfigurationDateKey);
    NSObject::alloc<TMAViewabilityFetcher>()->init()->loadViewabilityWithConfig(self<TMAdConfiguration>());
    return true;
}
