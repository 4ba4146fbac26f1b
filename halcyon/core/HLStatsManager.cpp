#include "halcyon/core/HLStatsManager.h"

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSettingsManager.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SaturatingCast.h"

namespace {
constexpr const char* kHLStatsManagerTag = "HLStatsManager";
}  // namespace

Ref<HLStatsManager> HLStatsManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    if (sdk && sdk->settingsManager()) userDataKey_ = sdk->settingsManager()->prefix() + ".stats";
    return self<HLStatsManager>();
}

void HLStatsManager::loadAll() {
    const Value stored = NSUserDefaults::standardUserDefaults()->objectForKey(userDataKey_);
    Ref<HLSdk> sdk = sdk_.lock();
    if (stored.isDictionary()) {
        // The counters go out as JSON with the device data: one date or data
        // value would stop that submission at every start.
        Value kept = Value::dictionary({});
        for (const auto& [key, value] : *stored.dictionary()) {
            if (isJSONValue(value)) kept.set(key, value);
            else if (sdk)
                sdk->logManager()->e(kHLStatsManagerTag, "Dropped the stored statistic %@: JSON cannot hold %@",
                                     platform::shortenedForLog(key), hlValueForLog(value));
        }
        std::scoped_lock lock(mutex_);
        stats_ = std::move(kept);
    } else if (!stored.isNull()) {
        if (sdk)
            sdk->logManager()->e(kHLStatsManagerTag, "Ignored stored statistics that are not a dictionary: %@",
                                 hlValueForLog(stored));
    }
}

bool HLStatsManager::isJSONValue(const Value& value) {
    return NSJSONSerialization::isValidJSONObject(Value::array({value}));
}

void HLStatsManager::incrementKey(const std::string& key) {
    std::scoped_lock lock(mutex_);
    const double next = static_cast<double>(stats_[key].integerValue()) + 1;
    stats_.set(key, Value(platform::saturatingCast<int32_t>(next)));
    persistAllLocked();
}

void HLStatsManager::setValue(const Value& value, const std::string& key) {
    if (value.isNull()) {
        clearKey(key);
        return;
    }
    if (!isJSONValue(value)) {
        if (Ref<HLSdk> sdk = sdk_.lock())
            sdk->logManager()->e(kHLStatsManagerTag, "Refused a statistic that cannot be stored: %@", key);
        return;
    }
    std::scoped_lock lock(mutex_);
    stats_.set(key, value);
    persistAllLocked();
}

void HLStatsManager::clearKey(const std::string& key) {
    std::scoped_lock lock(mutex_);
    stats_.remove(key);
    persistAllLocked();
}

void HLStatsManager::clearAll() {
    std::scoped_lock lock(mutex_);
    stats_ = Value::dictionary({});
    persistAllLocked();
}

Value HLStatsManager::valueOfKey(const std::string& key) const {
    std::scoped_lock lock(mutex_);
    return stats_.contains(key) ? stats_[key] : Value(0);
}

void HLStatsManager::persistAll() {
    std::scoped_lock lock(mutex_);
    persistAllLocked();
}

void HLStatsManager::persistAllLocked() { NSUserDefaults::standardUserDefaults()->setObject(stats_, userDataKey_); }

Value HLStatsManager::stats() const {
    std::scoped_lock lock(mutex_);
    return stats_;
}
