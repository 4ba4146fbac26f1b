// Audio mixes for player items: per-track volume settings, kept as given
// (nothing is heard in the model).
#pragma once

#include <vector>

#include "platform/media/CMTime.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class AVAudioMixInputParameters : public NSObject {
public:
    struct VolumeSetting {
        float volume = 1;
        CMTime time = kCMTimeZero;
    };

    int32_t trackID() const { return trackID_; }
    const std::vector<VolumeSetting>& volumeSettings() const { return volumes_; }

protected:
    int32_t trackID_ = 0;
    std::vector<VolumeSetting> volumes_;
};

class AVMutableAudioMixInputParameters : public AVAudioMixInputParameters {
public:
    static Ref<AVMutableAudioMixInputParameters> audioMixInputParameters() {
        return std::make_shared<AVMutableAudioMixInputParameters>();
    }
    void setTrackID(int32_t trackID) { trackID_ = trackID; }
    void setVolume(float volume, CMTime atTime) { volumes_.push_back({volume, atTime}); }
};

class AVAudioMix : public NSObject {
public:
    const std::vector<Ref<AVAudioMixInputParameters>>& inputParameters() const { return inputParameters_; }

protected:
    std::vector<Ref<AVAudioMixInputParameters>> inputParameters_;
};

class AVMutableAudioMix : public AVAudioMix {
public:
    static Ref<AVMutableAudioMix> audioMix() { return std::make_shared<AVMutableAudioMix>(); }
    void setInputParameters(std::vector<Ref<AVAudioMixInputParameters>> parameters) {
        inputParameters_ = std::move(parameters);
    }
};

}  // namespace platform

using platform::AVAudioMix;
using platform::AVAudioMixInputParameters;
using platform::AVMutableAudioMix;
using platform::AVMutableAudioMixInputParameters;
