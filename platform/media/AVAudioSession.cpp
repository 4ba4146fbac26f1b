#include "platform/media/AVAudioSession.h"

#include "platform/runtime/Log.h"

namespace platform {

Ref<AVAudioSession> AVAudioSession::sharedInstance() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<AVAudioSession>& session = *new Ref<AVAudioSession>(std::make_shared<AVAudioSession>());
    return session;
}

std::string AVAudioSession::category() const {
    std::lock_guard lock(mutex_);
    return category_;
}

bool AVAudioSession::setCategory(const std::string& category, Ref<NSError>* error) {
    if (category != AVAudioSessionCategoryAmbient && category != AVAudioSessionCategorySoloAmbient &&
        category != AVAudioSessionCategoryPlayback) {
        logError("AVAudioSession::setCategory: unknown category \"" + category + "\"");
        if (error) *error = NSError::errorWithDomain("NSOSStatusErrorDomain", -50);
        return false;
    }
    std::lock_guard lock(mutex_);
    category_ = category;
    return true;
}

bool AVAudioSession::setActive(bool active, Ref<NSError>*) {
    std::lock_guard lock(mutex_);
    active_ = active;
    return true;
}

bool AVAudioSession::isActive() const {
    std::lock_guard lock(mutex_);
    return active_;
}

}  // namespace platform
