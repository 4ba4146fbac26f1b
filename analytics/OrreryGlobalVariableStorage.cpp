#include "analytics/OrreryGlobalVariableStorage.h"

#include <optional>

#include "analytics/OrreryGlobalPersistentManager.h"
#include "platform/foundation/NSCharacterSet.h"
#include "platform/foundation/NSString.h"

void OrreryTimerArray::addTimer(Ref<NSTimer> timer) {
    if (!timer) return;
    PLATFORM_SYNCHRONIZED(*this);
    timers_.push_back(std::move(timer));
}

void OrreryTimerArray::removeTimer(const Ref<NSTimer>& timer) {
    PLATFORM_SYNCHRONIZED(*this);
    std::erase(timers_, timer);
}

std::vector<Ref<NSTimer>> OrreryTimerArray::timers() const {
    PLATFORM_SYNCHRONIZED(*this);
    return timers_;
}

size_t OrreryTimerArray::count() const {
    PLATFORM_SYNCHRONIZED(*this);
    return timers_.size();
}

std::vector<Ref<NSTimer>> OrreryTimerArray::removeAllTimers() {
    PLATFORM_SYNCHRONIZED(*this);
    return std::exchange(timers_, {});
}

Ref<OrreryGlobalVariableStorage> OrreryGlobalVariableStorage::sharedInstance() {
    static const Ref<OrreryGlobalVariableStorage>* instance =
        new Ref<OrreryGlobalVariableStorage>(std::make_shared<OrreryGlobalVariableStorage>());
    return *instance;
}

OrreryGlobalVariableStorage::OrreryGlobalVariableStorage() : pendingUrlTimers_(std::make_shared<OrreryTimerArray>()) {}

std::string OrreryGlobalVariableStorage::apiKey() const {
    std::lock_guard lock(mutex_);
    return apiKey_;
}

void OrreryGlobalVariableStorage::setApiKey(std::string_view key) {
    std::string trimmed =
        NSString::stringByTrimmingCharactersInSet(key, NSCharacterSet::whitespaceAndNewlineCharacterSet());
    std::lock_guard lock(mutex_);
    apiKey_ = std::move(trimmed);
}

std::string OrreryGlobalVariableStorage::appVersion() const {
    std::lock_guard lock(mutex_);
    return appVersion_;
}

void OrreryGlobalVariableStorage::setAppVersion(std::string version) {
    std::lock_guard lock(mutex_);
    appVersion_ = std::move(version);
}

std::optional<std::string> OrreryGlobalVariableStorage::userID() const {
    std::lock_guard lock(mutex_);
    return userID_;
}

void OrreryGlobalVariableStorage::setUserID(std::optional<std::string> userID) {
    std::lock_guard lock(mutex_);
    userID_ = std::move(userID);
}

std::optional<OrreryLocation> OrreryGlobalVariableStorage::location() const {
    std::lock_guard lock(mutex_);
    return location_;
}

void OrreryGlobalVariableStorage::setLocation(std::optional<OrreryLocation> location) {
    std::lock_guard lock(mutex_);
    location_ = location;
}

std::optional<NSDate> OrreryGlobalVariableStorage::lastRelayReportTime() const {
    std::lock_guard lock(mutex_);
    return lastRelayReportTime_;
}

void OrreryGlobalVariableStorage::setLastRelayReportTime(std::optional<NSDate> date) {
    std::lock_guard lock(mutex_);
    lastRelayReportTime_ = date;
}

std::optional<std::string> OrreryGlobalVariableStorage::orreryId() const {
    std::lock_guard lock(mutex_);
    return orreryId_;
}

void OrreryGlobalVariableStorage::setOrreryId(std::optional<std::string> identifier) {
    std::lock_guard lock(mutex_);
    orreryId_ = std::move(identifier);
}

namespace {

// The flag, `absent` when not stored, and `unread` while the globals cannot
// be read, unless it was written meanwhile: a check that writes the flag
// (the ad-tracking one, at each event) then does not act again at each call.
bool readGlobalFlag(const char* key, bool absent, bool unread) {
    std::optional<bool> found;
    const bool read = OrreryGlobalPersistentManager::sharedInstance()->processReadOperationForPersistentGlobalsMapSyncWithBlock(
        [&](const ValueDictionary& globals) {
            if (const Value* value = globals.find(key); value && value->isNumber()) found = value->boolValue();
        });
    if (found) return *found;
    return read ? absent : unread;
}

void writeGlobalFlag(const char* key, bool value) {
    OrreryGlobalPersistentManager::sharedInstance()->processWriteOperationForPersistentGlobalsMapWithBlock(
        [key = std::string(key), value](ValueDictionary& globals) { globals.set(key, Value(value)); });
}

}  // namespace

bool OrreryGlobalVariableStorage::appInstallProcessDone() const {
    // Taken as done while the globals cannot be read: raised then, the
    // install trigger might go a second time. A later check decides.
    return readGlobalFlag(kAppInstallProcessDoneKey, false, true);
}

void OrreryGlobalVariableStorage::setAppInstallProcessDone(bool done) {
    writeGlobalFlag(kAppInstallProcessDoneKey, done);
}

bool OrreryGlobalVariableStorage::lastAdTrackingEnabledSetting() const {
    return readGlobalFlag(kLastAdTrackingEnabledSettingKey, true, true);
}

void OrreryGlobalVariableStorage::setLastAdTrackingEnabledSetting(bool enabled) {
    writeGlobalFlag(kLastAdTrackingEnabledSettingKey, enabled);
}

void OrreryGlobalVariableStorage::removePendingUrlTimers() {
    // Invalidate outside the list's lock: a timer's own callback may take it.
    for (const Ref<NSTimer>& timer : pendingUrlTimers_->removeAllTimers()) timer->invalidate();
}
