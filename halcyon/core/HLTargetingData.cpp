#include "halcyon/core/HLTargetingData.h"

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/core/HLStringUtils.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/Log.h"

namespace {
constexpr const char* kHLTargetingDataTag = "HLTargetingData";

std::string hlJoinedTargetingList(const std::vector<std::string>& parts) {
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i) joined += (i ? "," : "") + parts[i];
    return joined;
}
}  // namespace

Ref<HLTargetingData> HLTargetingData::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    if (sdk && sdk->settingsManager()) targetKey_ = sdk->settingsManager()->prefix() + ".targeting";
    return self<HLTargetingData>();
}

void HLTargetingData::setGender(char gender) {
    if (gender != 'm' && gender != 'f') return;
    {
        std::scoped_lock lock(mutex_);
        gender_ = gender;
    }
    setParameter(std::string(1, gender), std::string("gender"));
}

void HLTargetingData::setBirthYear(int32_t year) {
    {
        std::scoped_lock lock(mutex_);
        birthYear_ = year;
    }
    if (year > 1900 && year < 9999) setParameter(std::to_string(year), std::string("yob"));
}

void HLTargetingData::setLanguage(const std::optional<std::string>& language) {
    {
        std::scoped_lock lock(mutex_);
        language_ = language;
    }
    setParameter(language, std::string("language"));
}

void HLTargetingData::setKeywords(const std::vector<std::string>& keywords) {
    {
        std::scoped_lock lock(mutex_);
        keywords_ = keywords;
    }
    if (!keywords.empty()) setParameter(hlJoinedTargetingList(keywords), std::string("keywords"));
}

void HLTargetingData::setInterests(const std::vector<std::string>& interests) {
    {
        std::scoped_lock lock(mutex_);
        interests_ = interests;
    }
    if (!interests.empty()) setParameter(hlJoinedTargetingList(interests), std::string("interests"));
}

void HLTargetingData::setExtraValue(const std::optional<std::string>& value, const std::optional<std::string>& key) {
    if (!HLUtils::hl_isValidString(value) || !HLUtils::hl_isValidString(key)) return;
    setParameter(value, NSString::stringWithFormat("ex_%@", *key));
}

void HLTargetingData::setParameter(const std::optional<std::string>& value, const std::optional<std::string>& key) {
    if (!HLUtils::hl_isValidString(value) || !HLUtils::hl_isValidString(key)) return;
    auto defaults = NSUserDefaults::standardUserDefaults();
    // One read-modify-write at a time: two setters on two threads keep both.
    std::scoped_lock lock(mutex_);
    if (!defaults->isStoreRead()) {
        setUnread_.set(*key, Value(*value));
        return;
    }
    Value stored = storedLocked();
    if (!stored.isDictionary()) stored = Value::dictionary({});
    stored.set(*key, *value);
    defaults->setObject(stored, targetKey_);
}

Value HLTargetingData::storedLocked() const {
    auto defaults = NSUserDefaults::standardUserDefaults();
    const bool read = defaults->isStoreRead();
    Value stored = defaults->objectForKey(targetKey_);
    if (setUnread_.count() == 0) return stored;
    if (!stored.isDictionary()) stored = Value::dictionary({});
    for (const auto& [key, value] : setUnread_) stored.set(key, value);
    if (read) {
        defaults->setObject(stored, targetKey_);
        setUnread_.clear();
    }
    return stored;
}

void HLTargetingData::userError(const char* message) const {
    if (Ref<HLSdk> sdk = sdk_.lock()) sdk->logManager()->userError(kHLTargetingDataTag, "%@", message);
}

void HLTargetingData::setCarrier(const std::optional<std::string>&) {
    userError("Explicitly setting `carrier` targeting data is deprecated.");
}

void HLTargetingData::setCountry(const std::optional<std::string>&) {
    userError("Explicitly setting `country code` targeting data is deprecated.");
}

void HLTargetingData::setLocationWithLatitude(double, double) {
    userError("Explicitly setting location targeting data is deprecated.");
}

void HLTargetingData::clearAll() {
    std::scoped_lock lock(mutex_);
    setUnread_.clear();
    NSUserDefaults::standardUserDefaults()->setObject(Value::dictionary({}), targetKey_);
}

Value HLTargetingData::allData() const {
    const Value stored = [this] {
        std::scoped_lock lock(mutex_);
        return storedLocked();
    }();
    Value data = Value::dictionary({});
    if (const ValueDictionary* entries = stored.dictionary()) {
        for (const auto& [key, value] : *entries) {
            if (value.isString()) data.set(key, value);
        }
    } else if (!stored.isNull()) {
        if (Ref<HLSdk> sdk = sdk_.lock())
            sdk->logManager()->e(kHLTargetingDataTag, "Ignored stored targeting that is not a dictionary: %@",
                                 hlValueForLog(stored));
    }
    return data;
}

char HLTargetingData::gender() const {
    std::scoped_lock lock(mutex_);
    return gender_;
}

int32_t HLTargetingData::birthYear() const {
    std::scoped_lock lock(mutex_);
    return birthYear_;
}

std::optional<std::string> HLTargetingData::language() const {
    std::scoped_lock lock(mutex_);
    return language_;
}

std::vector<std::string> HLTargetingData::keywords() const {
    std::scoped_lock lock(mutex_);
    return keywords_;
}

std::vector<std::string> HLTargetingData::interests() const {
    std::scoped_lock lock(mutex_);
    return interests_;
}
