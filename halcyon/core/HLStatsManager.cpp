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

Value HLStatsManager::storedStats() const {
    const Value stored = NSUserDefaults::standardUserDefaults()->objectForKey(userDataKey_);
    Ref<HLSdk> sdk = sdk_.lock();
    Value kept = Value::dictionary({});
    if (stored.isDictionary()) {
        // The counters go out as JSON with the device data: one date or data
        // value would stop that submission at every start.
        for (const auto& [key, value] : *stored.dictionary()) {
            if (isJSONValue(value)) kept.set(key, value);
            else if (sdk)
                sdk->logManager()->e(kHLStatsManagerTag, "Dropped the stored statistic %@: JSON cannot hold %@",
                                     platform::shortenedForLog(key), hlValueForLog(value));
        }
    } else if (!stored.isNull()) {
        if (sdk)
            sdk->logManager()->e(kHLStatsManagerTag, "Ignored stored statistics that are not a dictionary: %@",
                                 hlValueForLog(stored));
    }
    return kept;
}

void HLStatsManager::loadAll() {
    const bool unread = !NSUserDefaults::standardUserDefaults()->isStoreRead();
    Value stored = unread ? Value::dictionary({}) : storedStats();
    std::scoped_lock lock(mutex_);
    storeUnread_ = unread;
    clearedAllUnread_ = false;
    setUnread_.clear();
    stats_ = std::move(stored);
}

void HLStatsManager::readStoreIfUnreadLocked() const {
    if (!storeUnread_ || !NSUserDefaults::standardUserDefaults()->isStoreRead()) return;
    Value merged = clearedAllUnread_ ? Value::dictionary({}) : storedStats();
    for (const std::string& key : setUnread_) merged.remove(key);
    for (const auto& [key, value] : *stats_.dictionary()) {
        if (setUnread_.count(key)) {
            merged.set(key, value);
            continue;
        }
        const double sum = static_cast<double>(merged[key].integerValue()) + static_cast<double>(value.integerValue());
        merged.set(key, Value(platform::saturatingCast<int32_t>(sum)));
    }
    stats_ = std::move(merged);
    storeUnread_ = false;
    clearedAllUnread_ = false;
    setUnread_.clear();
    persistAllLocked();
}

bool HLStatsManager::isJSONValue(const Value& value) {
    return NSJSONSerialization::isValidJSONObject(Value::array({value}));
}

void HLStatsManager::incrementKey(const std::string& key) {
    std::scoped_lock lock(mutex_);
    readStoreIfUnreadLocked();
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
    readStoreIfUnreadLocked();
    stats_.set(key, value);
    if (storeUnread_) setUnread_.insert(key);
    persistAllLocked();
}

void HLStatsManager::clearKey(const std::string& key) {
    std::scoped_lock lock(mutex_);
    readStoreIfUnreadLocked();
    stats_.remove(key);
    if (storeUnread_) setUnread_.insert(key);
    persistAllLocked();
}

void HLStatsManager::clearAll() {
    std::scoped_lock lock(mutex_);
    readStoreIfUnreadLocked();
    stats_ = Value::dictionary({});
    if (storeUnread_) {
        clearedAllUnread_ = true;
        setUnread_.clear();
    }
    persistAllLocked();
}

Value HLStatsManager::valueOfKey(const std::string& key) const {
    std::scoped_lock lock(mutex_);
    readStoreIfUnreadLocked();
    return stats_.contains(key) ? stats_[key] : Value(0);
}

void HLStatsManager::persistAll() {
    std::scoped_lock lock(mutex_);
    readStoreIfUnreadLocked();
    persistAllLocked();
}

void HLStatsManager::persistAllLocked() const {
    // Never while the store could not be read: the stored counts would be lost.
    if (storeUnread_) return;
    NSUserDefaults::standardUserDefaults()->setObject(stats_, userDataKey_);
}

Value HLStatsManager::stats() const {
    std::scoped_lock lock(mutex_);
    readStoreIfUnreadLocked();
    return stats_;
}
