// The application's audio session: its category (kept; nothing is heard)
// and whether it is active.
#pragma once

#include <mutex>
#include <string>

#include "platform/foundation/NSError.h"
#include "platform/runtime/NSObject.h"

namespace platform {

inline constexpr const char* AVAudioSessionCategoryAmbient = "AVAudioSessionCategoryAmbient";
inline constexpr const char* AVAudioSessionCategorySoloAmbient = "AVAudioSessionCategorySoloAmbient";
inline constexpr const char* AVAudioSessionCategoryPlayback = "AVAudioSessionCategoryPlayback";

class AVAudioSession : public NSObject {
public:
    static Ref<AVAudioSession> sharedInstance();

    // SoloAmbient until set.
    std::string category() const;
    // One of the categories above; anything else fails (NSOSStatusErrorDomain -50).
    bool setCategory(const std::string& category, Ref<NSError>* error);
    bool setActive(bool active, Ref<NSError>* error);
    bool isActive() const;

private:
    mutable std::mutex mutex_;
    std::string category_ = AVAudioSessionCategorySoloAmbient;
    bool active_ = false;
};

}  // namespace platform

using platform::AVAudioSession;
using platform::AVAudioSessionCategoryAmbient;
using platform::AVAudioSessionCategoryPlayback;
using platform::AVAudioSessionCategorySoloAmbient;
