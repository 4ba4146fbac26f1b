#include "Trillium/TRAMetadata.h"

#include <cmath>

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRAAnalytics.h"
#include "Trillium/TRABaseRequest.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRATransportHttp.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/TRAWireContract.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/SaturatingCast.h"

namespace {

Ref<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }

// The stored integer, or the default when it is 0 or absent.
int64_t integerOr(const char* key, int64_t fallback) {
    int64_t value = defaults()->integerForKey(key);
    return value == 0 ? fallback : value;
}

// YES when absent, else the stored integer as BOOL.
bool flagYesWhenAbsent(const char* key) {
    auto d = defaults();
    return d->objectForKey(key).isNull() || d->integerForKey(key) != 0;
}

std::string stringOr(const char* key, const char* fallback) {
    auto value = defaults()->stringForKey(key);
    return value && !value->empty() ? *value : std::string(fallback);
}

bool numberInRange(const Value& v) {
    if (!v.isInteger() && !v.isDouble()) return false;
    double d = v.doubleValue();
    return std::isfinite(d) && d >= 0 && d <= static_cast<double>(TRAWire::kMaximumIntegerField);
}

// The value to store for one field of an answer; nullopt (with the reason)
// when it has the wrong kind or is out of range.
std::optional<Value> checkedField(const TRAWire::MetadataField& field, const Value& v, std::string* error) {
    using TRAWire::FieldKind;
    auto fail = [&](const char* what) -> std::optional<Value> {
        *error = NSString::stringWithFormat("\"%@\" %@", field.server, what);
        return std::nullopt;
    };
    switch (field.kind) {
        case FieldKind::Integer:
            if (!numberInRange(v)) return fail("is not a number in range");
            return Value(v.integerValue());
        case FieldKind::Flag:
            if (v.isBool()) return Value(int64_t(v.boolValue() ? 1 : 0));
            if (!numberInRange(v)) return fail("is not a boolean");
            return Value(v.integerValue());
        case FieldKind::Text:
        case FieldKind::Url:
            if (!v.isString() || v.string()->size() > TRAWire::kMaximumStringField) return fail("is not a string");
            if (field.kind == FieldKind::Url && !TRAAdSDKUtils::isHttpUrl(*v.string())) return fail("is not an http(s) URL");
            return v;
        case FieldKind::Rules:
            if (!TRAAdapptManager::validateAdRules(v, error)) return std::nullopt;
            return v;
    }
    return fail("has an unknown kind");
}

}  // namespace

Ref<TRAMetadata> TRAMetadata::sharedMetadata() {
    // Never destroyed: other threads may use it during exit.
    static Ref<TRAMetadata>& shared = *new Ref<TRAMetadata>(NSObject::alloc<TRAMetadata>());
    return shared;
}

bool TRAMetadata::isExpired() const {
    auto d = defaults();
    Value loaded = d->objectForKey(TRAWire::kMetadataLoadDateKey);
    if (!loaded.isDate()) return true;
    double age = NSDate::date().timeIntervalSinceDate(*loaded.date());
    int64_t ttl = integerOr(TRAWire::kMetadataTtlKey, TRAWire::kDefaultMetadataTtl);
    // A load date in the future (the clock was set back) counts as expired.
    return age < 0 || age >= static_cast<double>(ttl);
}

void TRAMetadata::loadMetadata(const std::optional<std::string>& appId, const std::optional<std::string>& devId) {
    if (loading_) return;  // the answer under way tells the listeners
    bool stored = defaults()->objectForKey(TRAWire::kMetadataLoadDateKey).isDate();
    if (!isExpired()) {
        notifyDelegates();
        return;
    }
    if (stored) TRAAdapptManager::setNewSessionReason("METADATA_TTL");
    // The process's first fetch tells the server of the session the process
    // already began (a launch preload may have carried its id).
    fetch(appId, devId, !fetchedBefore_);
}

void TRAMetadata::startNewSession() {
    TRAAdapptManager::beginNewSession();
    if (loading_) {
        // The fetch under way carries the old session: the server hears of
        // the new one from a fetch of its own once that one has come back.
        followUpFetch_ = true;
        return;
    }
    auto sdk = TRATrilliumSDK::sharedInstance();
    fetch(sdk->appID(), sdk->devID(), false);
}

void TRAMetadata::setDelegateWithDelegate(const Ref<TRAMetadataDelegate>& delegate) {
    if (delegate) delegates_.addObject(delegate);
}

void TRAMetadata::removeMetadataDelegation(const Ref<TRAMetadataDelegate>& delegate) {
    delegates_.removeObject(delegate);
}

void TRAMetadata::notifyDelegates() {
    // Emptied first: a listener may register again while it is told.
    std::vector<Ref<TRAMetadataDelegate>> delegates = delegates_.allObjects();
    delegates_.removeAllObjects();
    for (const auto& delegate : delegates) delegate->didFinishLoadMetadata();
}

void TRAMetadata::fetch(const std::optional<std::string>& appId, const std::optional<std::string>& devId,
                        bool adoptSession) {
    if (TRAAdapptManager::isNewSessionPending()) {
        if (adoptSession) TRAAdapptManager::adoptCurrentSession();
        else TRAAdapptManager::beginNewSession();
    }
    fetchedBefore_ = true;
    auto request = NSObject::alloc<TRABaseRequest>()->init();
    request->fillApplicationDetails(appId, devId);
    std::string text = getAdPlatformHost() + TRAWire::kMetadataPath + request->getQueryString() +
                       "&sessionReason=" + TRAAdapptManager::newSessionReason().value_or("");
    loading_ = true;
    uint64_t generation = ++generation_;
    Weak<TRAMetadata> weak = self<TRAMetadata>();
    TRATransportHttp::sendAsynchronousRequest(
        NSString::stringByAddingPercentEscapesUsingEncoding(text),
        [weak, generation](Ref<NSHTTPURLResponse> response, std::optional<NSData> data, Ref<NSError> error) {
            if (auto metadata = weak.lock()) metadata->didFetch(generation, response, data, error);
        });
}

void TRAMetadata::didFetch(uint64_t generation, const Ref<NSHTTPURLResponse>& http, const std::optional<NSData>& data,
                           const Ref<NSError>& error) {
    if (generation != generation_) return;
    loading_ = false;
    if (error) TRALog::errorf("Configuration request failed: %@", error->localizedDescription());
    else if (!http || http->statusCode() != 200)
        TRALog::errorf("Configuration request answered with status %lld; the stored configuration stays.",
                       http ? http->statusCode() : 0);
    else if (data) applyMetadataAnswer(*data);
    notifyDelegates();
    TRAAnalytics::sendPendingEvents();
    if (followUpFetch_ && !loading_) {
        followUpFetch_ = false;
        auto sdk = TRATrilliumSDK::sharedInstance();
        fetch(sdk->appID(), sdk->devID(), false);
    }
}

bool TRAMetadata::applyMetadataAnswer(const NSData& body) {
    auto reject = [](const std::string& why) {
        TRALog::errorf("Configuration answer rejected (%@); the stored configuration stays.", why);
        return false;
    };
    if (body.length() > TRAWire::kMaximumAnswerBytes) return reject("too large");
    Ref<NSError> parseError;
    std::optional<Value> answer = NSJSONSerialization::JSONObjectWithData(body, 0, &parseError);
    if (!answer || !answer->isDictionary()) return reject("not a JSON object");

    int64_t ttl = TRAWire::kDefaultMetadataTtl;
    if (answer->contains(TRAWire::kMetadataTtlServerField)) {
        const Value& v = (*answer)[TRAWire::kMetadataTtlServerField];
        if (!numberInRange(v) || v.integerValue() < 1 || v.integerValue() > TRAWire::kMaximumMetadataTtl)
            return reject("\"ttl\" is not a number of seconds in range");
        ttl = v.integerValue();
    }
    // Checked whole before anything is stored.
    std::vector<std::pair<const char*, Value>> values;
    for (const TRAWire::MetadataField& field : TRAWire::kMetadataFields) {
        if (!answer->contains(field.server)) {
            values.emplace_back(field.key, Value());
            continue;
        }
        std::string why;
        std::optional<Value> checked = checkedField(field, (*answer)[field.server], &why);
        if (!checked) return reject(why);
        values.emplace_back(field.key, std::move(*checked));
    }
    auto d = defaults();
    for (const auto& [key, value] : values) d->setObject(value, key);
    d->setObject(Value(ttl), TRAWire::kMetadataTtlKey);
    d->setObject(Value(NSDate::date()), TRAWire::kMetadataLoadDateKey);
    d->synchronize();
    return true;
}

// ---- getters ----------------------------------------------------------------------------------

std::string TRAMetadata::getAdPlatformHost() const { return stringOr("TRAAdPlatformHost", TRAWire::kDefaultAdPlatformHost); }
std::string TRAMetadata::getEulaUrl() const { return stringOr("TRAEulaUrl", TRAWire::kDefaultEulaUrl); }
std::string TRAMetadata::getPolicyImageUrl() const { return stringOr("TRAPolicyImageUrl", TRAWire::kDefaultPolicyImageUrl); }
std::optional<std::string> TRAMetadata::getProfileId() const { return defaults()->stringForKey("TRAProfileId"); }

std::string TRAMetadata::getAnalyticsHost() const {
    if (auto stored = defaults()->stringForKey("TRAAnalyticsHost"); stored && !stored->empty()) {
        std::string host = *stored;
        while (!host.empty() && host.back() == '/') host.pop_back();
        return host;
    }
    // The scheme and authority of the ad platform host.
    std::string host = getAdPlatformHost();
    size_t scheme = host.find("://");
    size_t path = scheme == std::string::npos ? std::string::npos : host.find('/', scheme + 3);
    return path == std::string::npos ? host : host.substr(0, path);
}

bool TRAMetadata::isAnalyticsEnabled() const { return flagYesWhenAbsent("TRAAnalyticsEnabled"); }

int64_t TRAMetadata::getDefaultMinSplashTime() const { return integerOr("TRASplashMinTime", 5); }
int64_t TRAMetadata::getDefaultMaxLoadTime() const { return integerOr("TRASplashDefaultMaxLoadTime", 7); }
int64_t TRAMetadata::getDefaultMaxAdDisplayTime() const { return integerOr("TRASplashAdDisplayTime", 86400); }
int64_t TRAMetadata::getDefaultTheme() const { return integerOr("TRASplashDefaultTheme", 0); }
bool TRAMetadata::isHtmlSplash() const { return defaults()->integerForKey("TRAHtmlSplash") != 0; }

int64_t TRAMetadata::getReturnAdMinBackgroundTime() const { return integerOr("TRAReturnAdMinBackgroundTime", 300); }
int64_t TRAMetadata::getReturnAdRetryLoadingTime() const { return integerOr("TRAReturnAdRetryLoadingTime", 30); }
int64_t TRAMetadata::getSessionMaxBackgroundTime() const { return integerOr("TRASessionMaxBackgroundTime", 300); }
bool TRAMetadata::isDisableReturnAd() const { return defaults()->integerForKey("TRADisableReturnAd") != 0; }
bool TRAMetadata::isAutoLoad() const { return flagYesWhenAbsent("TRAAutoLoad"); }
bool TRAMetadata::isDNS() const { return defaults()->integerForKey("TRADNS") != 0; }

bool TRAMetadata::isDisableTwoClicks() const { return (defaults()->integerForKey("TRADisableTwoClicks") & 1) != 0; }
bool TRAMetadata::isTrilliumBrowserEnabled() const { return flagYesWhenAbsent("TRATrilliumBrowserEnabled"); }
bool TRAMetadata::isInAppStoreEnabled() const { return defaults()->integerForKey("TRAInAppStoreEnabled") != 0; }

int64_t TRAMetadata::getSmartRedirectTimeout() const { return integerOr("TRASmartRedirectTimeout", 7); }
int64_t TRAMetadata::getAnalyticsHopLatencyMaxTime() const { return integerOr("TRAAnalyticsHopLatencyMaxTime", 30); }
int64_t TRAMetadata::getAnalyticsSendHopsLatencyOnceInXClicks() const {
    return integerOr("TRAAnalyticsSendHopLatencyOnceInXClicks", 0);
}
int64_t TRAMetadata::getAnalyticsSendHopsStatsOnceInXClicks() const {
    return integerOr("TRAAnalyticsSendHopsStatsOnceInXClicks", 0);
}

int64_t TRAMetadata::getRefreshRate() const {
    // Below one second the banner's repeating timer would reload without pause.
    int64_t seconds = defaults()->integerForKey("TRARefreshRate") / 1000;
    return seconds < 1 ? 30 : seconds;
}

int64_t TRAMetadata::getBannerAdsNumber() const { return integerOr("TRABannerAdsNumber", 1); }
int64_t TRAMetadata::getMaxCachedVideos() const { return integerOr("TRAMaxCachedVideos", 3); }
int64_t TRAMetadata::getMinAvailableStorageRequired() const { return integerOr("TRAMinAvailableStorageRequired", 1); }

int32_t TRAMetadata::getRewardGrantPercentage() const {
    // The key the configuration parser writes.
    return platform::saturatingCast<int32_t>(static_cast<double>(integerOr("TRARewardGrantPercentage", 100)));
}

int64_t TRAMetadata::getStatusBarMode() const { return integerOr("TRAStatusBarMode", 0); }
bool TRAMetadata::isApplyAdRulesOnBannerRefresh() const {
    return defaults()->integerForKey("TRAApplyAdRulesOnBannerRefresh") != 0;
}
Value TRAMetadata::getAdRules() const { return defaults()->objectForKey("TRAAdRules"); }
