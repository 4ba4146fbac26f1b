#include "halcyon/display/HLVideoPlayer.h"

#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/display/HLAdVideoPlaybackDelegate.h"

Ref<HLVideoPlayer> HLVideoPlayer::initWithSdk(const Ref<HLSdk>& sdk, const Ref<NSURL>& mediaSource) {
    sdk_ = sdk;
    mediaSource_ = mediaSource;
    videoView_ = createVideoView();
    return self<HLVideoPlayer>();
}

Ref<HLVideoPlayer> HLVideoPlayer::initWithSdk(const Ref<HLSdk>& sdk, const std::string& cachedVideoFilename) {
    Ref<NSURL> url = sdk && sdk->fileManager() ? sdk->fileManager()->urlForResourceNamed(cachedVideoFilename) : nullptr;
    return initWithSdk(sdk, url);
}

Ref<HLVideoView> HLVideoPlayer::createVideoView() {
    playerAsset_ = AVAsset::assetWithURL(mediaSource_);
    playerItem_ = playerAsset_ ? AVPlayerItem::playerItemWithAsset(playerAsset_) : nullptr;
    player_ = AVPlayer::playerWithPlayerItem(playerItem_);
    auto view = HLVideoView::alloc()->initWithSdk(sdk_, player_);
    view->playerLayer()->setVideoGravity(AVLayerVideoGravityResizeAspect);
    return view;
}

void HLVideoPlayer::playVideo() {
    if (Ref<AVPlayer> player = videoView_ ? videoView_->player() : nullptr) player->play();
}

void HLVideoPlayer::stopVideo() {
    if (Ref<AVPlayer> player = videoView_ ? videoView_->player() : nullptr) player->pause();
}

void HLVideoPlayer::setMediaSource(const Ref<NSURL>& url) {
    if (url == mediaSource_ || (url && mediaSource_ && url->isEqual(*mediaSource_))) return;
    mediaSource_ = url;
    playerAsset_ = AVAsset::assetWithURL(url);
    playerItem_ = playerAsset_ ? AVPlayerItem::playerItemWithAsset(playerAsset_) : nullptr;
    if (player_) player_->replaceCurrentItemWithPlayerItem(playerItem_);
}
