#include "analytics/OrrerySession.h"

#include "platform/runtime/SaturatingCast.h"

namespace {
std::mutex currentMutex;
// Never destroyed: other threads may use it during exit.
Ref<OrrerySession>& current = *new Ref<OrrerySession>();
}  // namespace

Ref<OrrerySession> OrrerySession::currentSession() {
    std::lock_guard lock(currentMutex);
    return current;
}

void OrrerySession::setCurrentSession(Ref<OrrerySession> session) {
    std::lock_guard lock(currentMutex);
    current = std::move(session);
}

Ref<OrrerySession> OrrerySession::initWithStartTime(const NSDate& startTime) {
    std::lock_guard lock(mutex_);
    startTime_ = startTime;
    return self<OrrerySession>();
}

NSDate OrrerySession::startTime() const {
    std::lock_guard lock(mutex_);
    return startTime_;
}

std::optional<NSDate> OrrerySession::endTime() const {
    std::lock_guard lock(mutex_);
    return endTime_;
}

void OrrerySession::setEndTime(std::optional<NSDate> endTime) {
    std::lock_guard lock(mutex_);
    endTime_ = endTime;
}

std::optional<NSDate> OrrerySession::pauseTime() const {
    std::lock_guard lock(mutex_);
    return pauseTime_;
}

void OrrerySession::setPauseTime(std::optional<NSDate> pauseTime) {
    std::lock_guard lock(mutex_);
    pauseTime_ = pauseTime;
}

int64_t OrrerySession::totalBackgroundTimeMillis() const {
    std::lock_guard lock(mutex_);
    return totalBackgroundTimeMillis_;
}

void OrrerySession::addBackgroundTime(double seconds) {
    // A clock set back gives no negative pause.
    int64_t millis = seconds > 0 ? platform::saturatingCast<int64_t>(seconds * 1000.0) : 0;
    std::lock_guard lock(mutex_);
    totalBackgroundTimeMillis_ += millis;
}
