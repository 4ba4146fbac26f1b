#include "Trillium/display/TRAAdVideoViewController.h"

#include <cmath>
#include <filesystem>

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRALog.h"
#include "Trillium/display/TRAVideosManager.h"
#include "platform/foundation/KeyValueObserving.h"
#include "platform/media/AVAudioMix.h"
#include "platform/media/AVAudioSession.h"
#include "platform/runtime/NSDate.h"
#include "platform/ui/CGAffineTransform.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"

namespace {

// Observation contexts: the item's "status" and the layer's "readyForDisplay".
int kTRAVideoStatusContext = 0;
int kTRAVideoReadyContext = 0;

}  // namespace

TRAAdVideoViewController::~TRAAdVideoViewController() {
    removeObservers();
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const void*>(this));
}

Ref<TRAAdVideoPreferences> TRAAdVideoViewController::videoPref() const {
    auto ad = this->ad();
    return ad ? ad->videoPref() : nullptr;
}

std::string TRAAdVideoViewController::evaluate(const std::string& script) {
    return webView() ? webView()->stringByEvaluatingJavaScriptFromString(script) : std::string();
}

// ---- the screen's life -------------------------------------------------------------------------------

void TRAAdVideoViewController::viewDidLoad() {
    TRAAdViewController::viewDidLoad();
    isFirstPlay_ = true;
    pauseNum_ = 0;
    tracking_ = NSObject::alloc<TRAVideoTracking>()->initWithAd(ad(), delegate(), prefAdTag());
    auto session = AVAudioSession::sharedInstance();
    originalAvAudioSessionCategory_ = session->category();
    session->setCategory(AVAudioSessionCategoryPlayback, nullptr);
}

void TRAAdVideoViewController::viewWillAppear(bool animated) {
    TRAAdViewController::viewWillAppear(animated);
    if (!avPlayerLayer_) return;
    CGSize size = UIScreen::mainScreen()->bounds().size;
    auto ad = this->ad();
    std::string orientation = ad ? ad->adOrientation() : std::string();
    if ((orientation == "landscape" && size.width < size.height) ||
        (orientation == "portrait" && size.height < size.width))
        std::swap(size.width, size.height);
    avPlayerLayer_->setFrame(CGRectMake(0, 0, size.width, size.height));
}

void TRAAdVideoViewController::viewDidAppear(bool animated) {
    TRAAdViewController::viewDidAppear(animated);
    if (!playbackStarted_) {
        playbackStarted_ = true;
        playVideoIfReady();
        return;
    }
    // Appearing again (a screen shown over the ad has gone): playback that
    // was running goes on; nothing starts over, nothing is counted again.
    if (avPlayer_ && !isVideoAdClosed_ && !isShowingPostRoll_ && !ended_ && !pausedByApplication_ &&
        avPlayer_->rate() == 0)
        avPlayer_->play();
}

void TRAAdVideoViewController::webViewDidFinishLoad(Ref<UIWebView> webView) {
    TRAAdViewController::webViewDidFinishLoad(webView);
    // One player per screen, made at the first finished load, and none for an
    // ad whose display the base has already reported as failed.
    if (playerRequested_ || isVideoAdClosed_) return;
    playerRequested_ = true;
    if (displayFailed()) {
        restoreAudioCategory();
        return;
    }
    createAndConfigurePlayerWithURL(localMovieURL());
}

bool TRAAdVideoViewController::webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                                                 UIWebViewNavigationType navigationType) {
    const Ref<NSURL>& url = request.URL();
    std::optional<std::string> command = url ? TRAAdSDKUtils::pageCommandInUrl(url->absoluteString()) : std::nullopt;
    if (command == "toggleSound" || command == "skipVideo" || command == "replayVideo") {
        // The controls act on a shown video only.
        if (!isPresented() || isClosing() || isVideoAdClosed_ || !playbackStarted_) return false;
        if (command == "toggleSound") toggleSound();
        else if (command == "skipVideo" && !ended_) skipVideo();
        else if (command == "replayVideo" && ended_) replayVideo();
        return false;
    }
    return TRAAdViewController::webViewShouldStartLoadWithRequest(webView, request, navigationType);
}

void TRAAdVideoViewController::webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) {
    TRAAdViewController::webViewDidFailLoadWithError(webView, error);
    if (displayFailed() && !playerRequested_) {
        playerRequested_ = true;
        restoreAudioCategory();
    }
}

void TRAAdVideoViewController::closeAdWithAnimation(bool animated, bool click) {
    TRAAdViewController::closeAdWithAnimation(animated, click);
    if (isPresented() || isVideoAdClosed_) return;
    // The page no longer reaches this screen: it must not appear later.
    tearDown();
}

void TRAAdVideoViewController::closeAd(bool, bool click, const std::optional<std::string>&) {
    // The animation and an in-app browser URL are not passed on: the video
    // screen always goes without animation and opens no browser.
    closeVideoWithClick(click, std::nullopt, std::nullopt);
}

void TRAAdVideoViewController::observeValueForKeyPath(const std::string& keyPath, Ref<NSObject> object,
                                                      const Value& change, void* context) {
    if (context != &kTRAVideoStatusContext && context != &kTRAVideoReadyContext) {
        TRAAdViewController::observeValueForKeyPath(keyPath, object, change, context);
        return;
    }
    Weak<TRAAdVideoViewController> weak = self<TRAAdVideoViewController>();
    bool status = context == &kTRAVideoStatusContext;
    dispatch_async(dispatch_get_main_queue(), [weak, keyPath, object, status] {
        Ref<TRAAdVideoViewController> me = weak.lock();
        if (!me || me->isVideoAdClosed_) return;
        if (status) {
            if (me->isShowingPostRoll_ || keyPath != "status" || !me->avPlayer_ ||
                object != me->avPlayer_->currentItem())
                return;
            AVPlayerItemStatus itemStatus = me->avPlayerItem_->status();
            if (itemStatus == AVPlayerItemStatusReadyToPlay && !me->startedPlayerLayer_) {
                me->startedPlayerLayer_ = true;
                me->loadPlayerLayer();
            } else if (itemStatus == AVPlayerItemStatusFailed) {
                // The item's error says what failed when the player has none.
                Ref<NSError> error = me->avPlayer_->error() ? me->avPlayer_->error() : me->avPlayerItem_->error();
                me->closeVideoWithClick(false, NSString::stringWithFormat("Video failed:%@", error), kObserveValue);
            }
            return;
        }
        if (!me->avPlayerLayer_ || object != me->avPlayerLayer_ || !me->avPlayerLayer_->isReadyForDisplay() ||
            !me->isFirstPlay_)
            return;
        me->isFirstPlay_ = false;
        auto ad = me->ad();
        if (!me->tracking_->hasBoundryObserver()) me->activePlayerBoundryObserver();
        if (ad && ad->isRewardedVideo() && !me->tracking_->hasRewardedObserver()) me->activePlayerRewardedObserver();
        if (!me->avPlayerTimeObserver_) me->activePlayerTimeObserver();
        me->registerNotification();
        if (!me->showWebView()) {
            // Refused (the base told the delegate): nothing may play unseen.
            me->tearDown();
            return;
        }
        me->setDisplayAdTimeStart(NSDate::date().timeIntervalSince1970());
        if (auto delegate = me->delegate()) delegate->didShowAd();
    });
}

// ---- the player --------------------------------------------------------------------------------------

Ref<NSURL> TRAAdVideoViewController::localMovieURL() const {
    auto preferences = videoPref();
    auto path = preferences ? preferences->videoPath() : std::nullopt;
    return path ? NSURL::fileURLWithPath(*path) : nullptr;
}

void TRAAdVideoViewController::createAndConfigurePlayerWithURL(const Ref<NSURL>& url) {
    Ref<AVAsset> asset = url ? AVAsset::assetWithURL(url) : nullptr;
    if (!asset) {
        closeVideoWithClick(false, std::string("Video asset is nil"), std::string(kLoadVideoValue));
        return;
    }
    Weak<TRAAdVideoViewController> weak = self<TRAAdVideoViewController>();
    asset->loadValuesAsynchronouslyForKeys({"tracks"}, [weak, asset] {
        dispatch_async(dispatch_get_main_queue(), [weak, asset] {
            Ref<TRAAdVideoViewController> me = weak.lock();
            if (!me || me->isVideoAdClosed_) return;
            Ref<NSError> error;
            std::optional<std::string> reason;
            if (asset->statusOfValueForKey("tracks", &error) != AVKeyValueStatusLoaded)
                reason = error ? error->localizedDescription() : std::string("(null)");
            // Without a picture the first frame never comes, and a video
            // without length never plays: the ad fails now.
            else if (asset->tracksWithMediaType(AVMediaTypeVideo).empty())
                reason = "The file has no video track.";
            else if (!(CMTimeGetSeconds(asset->duration()) > 0))
                reason = "The video has no duration.";
            if (!reason) {
                me->loadPlayerWithAsset(asset);
                return;
            }
            // A file that cannot be played is of no use to a later ad either.
            std::string path = asset->URL() ? asset->URL()->path() : std::string();
            TRAVideosManager::sharedInstance()->removeVideo(std::filesystem::path(path).filename().string());
            me->closeVideoWithClick(false, NSString::stringWithFormat("The asset's tracks were not loaded:\n%@", *reason),
                                    std::string(kLoadVideoValue));
        });
    });
}

void TRAAdVideoViewController::loadPlayerWithAsset(const Ref<AVAsset>& asset) {
    auto me = self<TRAAdVideoViewController>();
    avPlayerItem_ = AVPlayerItem::playerItemWithAsset(asset);
    avPlayerItem_->addObserver(me, "status", NSKeyValueObservingOptionNew | NSKeyValueObservingOptionInitial,
                               &kTRAVideoStatusContext);
    isStatusObserverExists_ = true;
    NSNotificationCenter::defaultCenter()->addObserver(me, &TRAAdVideoViewController::playerItemDidReachEnd,
                                                       AVPlayerItemDidPlayToEndTimeNotification, avPlayerItem_);
    isItemDidPlayToEndObserverExists_ = true;
    avPlayer_ = AVPlayer::playerWithPlayerItem(avPlayerItem_);
    tracking_->setPlayer(avPlayer_);
}

void TRAAdVideoViewController::loadPlayerLayer() {
    avPlayerLayer_ = AVPlayerLayer::playerLayerWithPlayer(avPlayer_);
    avPlayerLayer_->addObserver(self<TRAAdVideoViewController>(), "readyForDisplay",
                                NSKeyValueObservingOptionNew | NSKeyValueObservingOptionInitial,
                                &kTRAVideoReadyContext);
    isReadyForDisplayObserverExists_ = true;
    avPlayerLayer_->setBackgroundColor(UIColor::blackColor()->CGColor());
    // Beneath the page's content, which draws the controls over the picture.
    view()->layer()->insertSublayerAtIndex(avPlayerLayer_, 0);
}

void TRAAdVideoViewController::playVideoIfReady() {
    auto preferences = videoPref();
    CMTime duration = avPlayerItem_ ? avPlayerItem_->duration() : kCMTimeInvalid;
    int64_t whole = duration.timescale > 0 ? duration.value / duration.timescale : 0;
    if (preferences) {
        preferences->setVideoDuration(static_cast<double>(whole));
        preferences->setIsSoundOn(true);
    }
    if (avPlayerLayer_) avPlayerLayer_->setFrame(view()->bounds());
    startVideoControls();
    if (avPlayer_) avPlayer_->play();
    if (auto ad = this->ad()) ad->setOffset(ad->offset() + 1);
    sendImpressionWithNonImpression(false);
}

void TRAAdVideoViewController::playerItemDidReachEnd(const NSNotification& notification) {
    if (isVideoAdClosed_ || !avPlayerItem_ || notification.object != avPlayerItem_) return;
    endPlayback();
}

void TRAAdVideoViewController::endPlayback() {
    auto keep = self<TRAAdVideoViewController>();
    endVideoLastCP_ = tracking_->currentPercentage();
    auto ad = this->ad();
    removeTimeObservers(ad && ad->isRewardedVideo() && ad->offset() == 0);
    unregisterNotification();
    if (avPlayer_) avPlayer_->pause();
    ended_ = true;
    auto preferences = videoPref();
    std::optional<std::string> postRoll = preferences ? preferences->postRoll() : std::nullopt;
    if (postRoll == "IMAGE") {
        showVideoPostRoll();
    } else if (postRoll == "NONE") {
        isVideoClosedWitPostrollNone_ = true;
        closeVideoWithClick(false, std::nullopt, std::nullopt);
    }
}

void TRAAdVideoViewController::removeTimeObservers(bool reward) {
    if (tracking_) {
        tracking_->removeBoundryObserver();
        if (reward) tracking_->removeRewardedObserver();
    }
    if (avPlayerTimeObserver_ && avPlayer_) avPlayer_->removeTimeObserver(avPlayerTimeObserver_);
    avPlayerTimeObserver_ = nullptr;
}

CMTime TRAAdVideoViewController::playerItemDuration() const {
    auto item = avPlayer_ ? avPlayer_->currentItem() : nullptr;
    if (!item || item->status() != AVPlayerItemStatusReadyToPlay) return kCMTimeInvalid;
    return item->duration();
}

void TRAAdVideoViewController::activePlayerTimeObserver() {
    if (!avPlayer_ || !CMTIME_IS_VALID(playerItemDuration())) return;
    if (avPlayerTimeObserver_) avPlayer_->removeTimeObserver(avPlayerTimeObserver_);
    Weak<TRAAdVideoViewController> weak = self<TRAAdVideoViewController>();
    avPlayerTimeObserver_ = avPlayer_->addPeriodicTimeObserverForInterval(
        CMTimeMakeWithSeconds(0.1f, 1000), dispatch_get_main_queue(), [weak](CMTime) {
            if (auto me = weak.lock()) me->videoPlaybackTime();
        });
}

void TRAAdVideoViewController::videoPlaybackTime() {
    auto preferences = videoPref();
    if (isVideoAdClosed_ || isShowingPostRoll_ || !avPlayer_ || !avPlayerItem_ || !preferences) return;
    CMTime now = avPlayerItem_->currentTime();
    int64_t t = now.timescale > 0 ? now.value / now.timescale : 0;
    double videoDuration = preferences->videoDuration();
    bool stopped = avPlayer_->rate() == 0 || avPlayer_->error() || (videoDuration != 0 && t >= videoDuration - 0.1);
    if (stopped) {
        // A stall before the end restarts; a pause for the application holds.
        if (t <= videoDuration - 0.1 && !pausedByApplication_ && !ended_) {
            startVideoControls();
            avPlayer_->play();
        }
        return;
    }
    double skippableAfter = preferences->skippableAfter();
    if (t < skippableAfter)
        evaluate(NSString::stringWithFormat("videoApi.setSkipTimer(%f)", std::round(skippableAfter - t)));
    else
        evaluate("videoApi.setSkipTimer(0)");
    if (t > 0) evaluate(NSString::stringWithFormat("videoApi.setVideoCurrentPosition(%f)", static_cast<double>(t)));
}

void TRAAdVideoViewController::startVideoControls() {
    auto preferences = videoPref();
    if (!preferences) return;
    CGRect frame = videoContentFrame();
    evaluate("videoApi.setMode(\"PLAYER\")");
    evaluate(NSString::stringWithFormat("videoApi.setSkippable(%d)", preferences->isSkippable() ? 1 : 0));
    evaluate(NSString::stringWithFormat("videoApi.setSkipTimer(%f)", preferences->skippableAfter()));
    evaluate(NSString::stringWithFormat("videoApi.setVideoFrame(%f,%f,%f,%f)", static_cast<double>(frame.origin.x),
                                        static_cast<double>(frame.origin.y), static_cast<double>(frame.size.width),
                                        static_cast<double>(frame.size.height)));
    evaluate(NSString::stringWithFormat("videoApi.setVideoDuration(%f)", std::round(preferences->videoDuration())));
    evaluate("videoApi.setVideoCurrentPosition(0)");
    evaluate(NSString::stringWithFormat("videoApi.setCloseable(%d)", preferences->isCloseable() ? 1 : 0));
    evaluate(NSString::stringWithFormat("videoApi.setSound(\"%@\")", preferences->isSoundOn() ? "ON" : "OFF"));
}

CGRect TRAAdVideoViewController::videoContentFrame() const {
    if (!avPlayerLayer_) return CGRectZero;
    if (platform::systemVersionAtLeast(7, 0)) return avPlayerLayer_->videoRect();
    std::vector<Ref<CALayer>> sublayers = avPlayerLayer_->sublayers();
    if (sublayers.empty()) return CGRectZero;
    CGRect mapped = CGRectApplyAffineTransform(sublayers.front()->bounds(), sublayers.front()->sublayerTransform());
    CGPoint centre = avPlayerLayer_->position();
    return CGRectMake(centre.x - mapped.size.width / 2, centre.y - mapped.size.height / 2, mapped.size.width,
                      mapped.size.height);
}

// ---- the page's commands -------------------------------------------------------------------------------

void TRAAdVideoViewController::toggleSound() {
    auto preferences = videoPref();
    if (!preferences) return;
    preferences->setIsSoundOn(!preferences->isSoundOn());
    bool on = preferences->isSoundOn();
    if (platform::systemVersionAtLeast(7, 0)) {
        if (avPlayer_) avPlayer_->setMuted(!on);
    } else {
        setSoundOnIOS6(on ? 1.0f : 0.0f);
    }
    if (auto url = preferences->videoSoundUrl())
        sendVideoEvent(NSString::stringWithFormat("%@&sound=%@", *url, on ? "ON" : "OFF"), false);
    evaluate(NSString::stringWithFormat("videoApi.setSound(\"%@\")", on ? "ON" : "OFF"));
}

void TRAAdVideoViewController::setSoundOnIOS6(float volume) {
    auto asset = avPlayerItem_ ? avPlayerItem_->asset() : nullptr;
    if (!asset) return;
    std::vector<Ref<AVAudioMixInputParameters>> parameters;
    for (const auto& track : asset->tracksWithMediaType(AVMediaTypeAudio)) {
        auto input = AVMutableAudioMixInputParameters::audioMixInputParameters();
        input->setVolume(volume, kCMTimeZero);
        input->setTrackID(track->trackID());
        parameters.push_back(input);
    }
    auto mix = AVMutableAudioMix::audioMix();
    mix->setInputParameters(std::move(parameters));
    avPlayerItem_->setAudioMix(mix);
}

void TRAAdVideoViewController::skipVideo() {
    auto preferences = videoPref();
    sendVideoEvent(preferences ? preferences->videoSkippedUrl() : std::nullopt, false);
    endPlayback();
}

void TRAAdVideoViewController::showVideoPostRoll() {
    auto preferences = videoPref();
    sendVideoEvent(preferences ? preferences->videoPostRollImpressionUrl() : std::nullopt, false);
    isShowingPostRoll_ = true;
    evaluate("videoApi.setMode(\"POST_ROLL_IMAGE\")");
    evaluate(NSString::stringWithFormat("videoApi.setCloseable(%d)", 1));
    if (avPlayer_) {
        avPlayer_->pause();
        avPlayer_->seekToTime(kCMTimeZero);
    }
}

void TRAAdVideoViewController::replayVideo() {
    isShowingPostRoll_ = false;
    ended_ = false;
    // A replay can always be skipped at once.
    if (auto preferences = videoPref()) {
        preferences->setSkippableAfter(0);
        preferences->setIsSkippable(true);
    }
    startVideoControls();
    activePlayerBoundryObserver();
    activePlayerTimeObserver();
    registerNotification();
    tracking_->clearMilestones();
    if (avPlayer_) avPlayer_->play();
    if (auto ad = this->ad()) ad->setOffset(ad->offset() + 1);
}

// ---- application activity ------------------------------------------------------------------------------

void TRAAdVideoViewController::registerNotification() {
    if (notificationsRegistered_) return;
    notificationsRegistered_ = true;
    auto me = self<TRAAdVideoViewController>();
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(me, &TRAAdVideoViewController::applicationWillResignActive,
                        UIApplicationWillResignActiveNotification);
    center->addObserver(me, &TRAAdVideoViewController::didBecomeActive, UIApplicationDidBecomeActiveNotification);
}

void TRAAdVideoViewController::unregisterNotification() {
    if (!notificationsRegistered_) return;
    notificationsRegistered_ = false;
    auto center = NSNotificationCenter::defaultCenter();
    center->removeObserver(static_cast<const void*>(this), UIApplicationWillResignActiveNotification, nullptr);
    center->removeObserver(static_cast<const void*>(this), UIApplicationDidBecomeActiveNotification, nullptr);
}

void TRAAdVideoViewController::applicationWillResignActive(const NSNotification&) {
    pauseTime_ = avPlayerItem_ ? avPlayerItem_->currentTime() : kCMTimeInvalid;
    if (avPlayer_) avPlayer_->pause();
    pausedByApplication_ = true;
    ++pauseNum_;
    auto preferences = videoPref();
    if (auto url = preferences ? preferences->videoPausedUrl() : std::nullopt)
        sendVideoEvent(NSString::stringWithFormat("%@&po=EXTERNAL&pn=%d", *url, pauseNum_), false);
}

void TRAAdVideoViewController::didBecomeActive(const NSNotification&) {
    pausedByApplication_ = false;
    if (avPlayer_ && CMTIME_IS_VALID(pauseTime_) && avPlayer_->rate() == 0 && CMTimeCompare(pauseTime_, kCMTimeZero) > 0)
        avPlayer_->seekToTime(pauseTime_, kCMTimeZero, kCMTimeZero);
    auto preferences = videoPref();
    if (auto url = preferences ? preferences->videoResumedUrl() : std::nullopt)
        sendVideoEvent(NSString::stringWithFormat("%@&po=EXTERNAL&pn=%d", *url, pauseNum_), false);
    if (isVideoAdClosed_ || isShowingPostRoll_) return;
    startVideoControls();
    if (avPlayer_) avPlayer_->play();
}

// ---- closing -------------------------------------------------------------------------------------------

void TRAAdVideoViewController::closeVideoWithClick(bool click, const std::optional<std::string>& error,
                                                   const std::optional<std::string>& value) {
    // The close that dismissed the screen runs once; a failure is reported
    // once, and a failed screen still up can be closed by its page.
    if (dismissed_ || (error && isVideoAdClosed_)) return;
    auto keep = self<TRAAdVideoViewController>();
    auto preferences = videoPref();
    if (!click) {
        if (isShowingPostRoll_) {
            if (auto url = preferences ? preferences->videoPostRollClosedUrl() : std::nullopt)
                sendVideoEvent(NSString::stringWithFormat("%@&cp=%d", *url, endVideoLastCP_), true);
        } else if (!error) {
            if (!isVideoClosedWitPostrollNone_ && preferences) sendVideoEvent(preferences->videoClosedUrl(), false);
        } else {
            sendImpressionWithNonImpression(true);
            if (tracking_) tracking_->sendFailureReport(*error, value.value_or(""));
        }
    }
    isShowingPostRoll_ = false;
    tearDown();

    if (!error) {
        if (tracking_) tracking_->grantRewardOnClose();
        dismissed_ = true;
        TRAAdViewController::closeAd(false, click, std::nullopt);
        return;
    }
    TRALog::errorf("Video ad failed: %@", *error);
    // Never shown: its file is no longer playing.
    if (!isPresented()) clearNowPlayingVideo();
    if (auto delegate = this->delegate()) delegate->failedDisplayAd(TRAAdSDKUtils::createErrorWithDescription(*error));
}

void TRAAdVideoViewController::tearDown() {
    isVideoAdClosed_ = true;
    restoreAudioCategory();
    removeObservers();
    unregisterNotification();
    if (avPlayer_) avPlayer_->pause();
    if (tracking_) tracking_->stop();
    removeTimeObservers(false);
    dropPlayer();
}

void TRAAdVideoViewController::removeObservers() {
    if (isStatusObserverExists_ && avPlayerItem_) {
        avPlayerItem_->removeObserver(this, "status", &kTRAVideoStatusContext);
        isStatusObserverExists_ = false;
    }
    if (isReadyForDisplayObserverExists_ && avPlayerLayer_) {
        avPlayerLayer_->removeObserver(this, "readyForDisplay", &kTRAVideoReadyContext);
        isReadyForDisplayObserverExists_ = false;
    }
    if (isItemDidPlayToEndObserverExists_ && avPlayerItem_) {
        NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const void*>(this),
                                                              AVPlayerItemDidPlayToEndTimeNotification, avPlayerItem_);
        isItemDidPlayToEndObserverExists_ = false;
    }
}

void TRAAdVideoViewController::dropPlayer() {
    if (avPlayerLayer_) avPlayerLayer_->removeFromSuperlayer();
    if (tracking_) tracking_->setPlayer(nullptr);
    // Let go at the next pass: the end of the video is reported from inside
    // the player's own step, which must not lose its player under it.
    dispatch_async(dispatch_get_main_queue(),
                   [player = std::move(avPlayer_), item = std::move(avPlayerItem_), layer = std::move(avPlayerLayer_)] {});
    avPlayer_ = nullptr;
    avPlayerItem_ = nullptr;
    avPlayerLayer_ = nullptr;
}

void TRAAdVideoViewController::restoreAudioCategory() {
    if (originalAvAudioSessionCategory_.empty()) return;
    AVAudioSession::sharedInstance()->setCategory(originalAvAudioSessionCategory_, nullptr);
}

// ---- tracking ------------------------------------------------------------------------------------------

void TRAAdVideoViewController::sendVideoEvent(const std::optional<std::string>& url, bool isCPIncluded) {
    if (tracking_) tracking_->sendVideoEvent(url, isCPIncluded);
}

void TRAAdVideoViewController::sendImpressionWithNonImpression(bool nonImpression) {
    if (tracking_) tracking_->sendImpressionWithNonImpression(nonImpression);
}

void TRAAdVideoViewController::sendDidCompleteVideo() {
    if (tracking_) tracking_->sendDidCompleteVideo();
}

void TRAAdVideoViewController::activePlayerBoundryObserver() {
    if (tracking_) tracking_->activePlayerBoundryObserver();
}

void TRAAdVideoViewController::activePlayerRewardedObserver() {
    if (tracking_) tracking_->activePlayerRewardedObserver();
}
