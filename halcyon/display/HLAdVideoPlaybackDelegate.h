// The application's video playback callbacks (public): a video ad began, and
// it ended with the share watched (a number, percent) and whether it was
// watched to the end. Told on the main thread, once each per shown video.
#pragma once

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLAd;

class HLAdVideoPlaybackDelegate : public virtual NSObjectProtocol {
public:
    virtual void videoPlaybackBeganInAd(const Ref<HLAd>& ad) = 0;
    virtual void videoPlaybackEndedInAd(const Ref<HLAd>& ad, const Value& atPlaybackPercent, bool fullyWatched) = 0;
};
