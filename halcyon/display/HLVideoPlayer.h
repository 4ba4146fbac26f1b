// The player of a video ad: the platform's media player around one media
// URL (normally a video file of the client's resource cache) and the video
// view that shows it, made at creation. Lives as long as the video screen
// that made it. Main thread.
#pragma once

#include <string>

#include "halcyon/display/HLVideoView.h"
#include "platform/foundation/NSURL.h"
#include "platform/media/AVAsset.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/AVPlayerItem.h"

class HLSdk;
class HLAdVideoPlaybackDelegate;

class HLVideoPlayer : public NSObject {
public:
    Ref<HLVideoPlayer> initWithSdk(const Ref<HLSdk>& sdk, const Ref<NSURL>& mediaSource);
    // The URL the file cache gives for the name (whatever it gives: a name it
    // cannot resolve leaves nothing to play).
    Ref<HLVideoPlayer> initWithSdk(const Ref<HLSdk>& sdk, const std::string& cachedVideoFilename);

    // A new asset, item and player for the media source, and a new video
    // view showing the whole picture (aspect fit).
    Ref<HLVideoView> createVideoView();
    void playVideo();
    // Pauses (there is no seeking back).
    void stopVideo();

    Ref<NSURL> mediaSource() const { return mediaSource_; }
    // A different URL (by value) gets a new asset and item, which replaces
    // the player's; an equal one changes nothing.
    void setMediaSource(const Ref<NSURL>& url);

    Ref<HLVideoView> videoView() const { return videoView_; }
    Ref<AVPlayerItem> playerItem() const { return playerItem_; }
    Ref<AVAsset> playerAsset() const { return playerAsset_; }
    Ref<AVPlayer> player() const { return player_; }
    Ref<HLSdk> sdk() const { return sdk_; }
    // Kept only; the video screens report playback themselves.
    Ref<HLAdVideoPlaybackDelegate> videoPlaybackDelegate() const { return videoPlaybackDelegate_; }
    void setVideoPlaybackDelegate(const Ref<HLAdVideoPlaybackDelegate>& delegate) { videoPlaybackDelegate_ = delegate; }

private:
    Ref<HLVideoView> videoView_;
    Ref<AVPlayerItem> playerItem_;
    Ref<AVAsset> playerAsset_;
    Ref<NSURL> mediaSource_;
    Ref<HLSdk> sdk_;
    Ref<HLAdVideoPlaybackDelegate> videoPlaybackDelegate_;
    Ref<AVPlayer> player_;
};
