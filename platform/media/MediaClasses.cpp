#include "platform/media/MediaClasses.h"

#include "platform/foundation/NSClassRegistry.h"
#include "platform/media/AVAsset.h"
#include "platform/media/AVAudioSession.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/AVPlayerItem.h"
#include "platform/media/AVPlayerLayer.h"

namespace platform {

void registerMediaClasses() {
    NSClassRegistry::registerClass<AVAsset>();
    NSClassRegistry::registerClass<AVURLAsset>();
    NSClassRegistry::registerClass<AVAssetTrack>();
    NSClassRegistry::registerClass<AVPlayerItem>();
    NSClassRegistry::registerClass<AVPlayer>();
    NSClassRegistry::registerClass<AVPlayerLayer>();
    NSClassRegistry::registerClass<AVAudioSession>();
    NSClassRegistry::registerClass<AVMutableAudioMix>();
    NSClassRegistry::registerClass<AVMutableAudioMixInputParameters>();
}

}  // namespace platform
