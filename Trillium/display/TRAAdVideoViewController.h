// The video ad screen: the full-screen ad screen (TRAAdViewController) with a
// player of the ad's downloaded video beneath its page. The page draws the
// controls and is driven through its `videoApi` functions; it answers with
// the commands "toggleSound", "skipVideo" and "replayVideo" (the others go
// to the base router). The screen is presented at the video's first frame;
// playback starts when it appears. At the end of the video (or a skip) the
// post-roll "IMAGE" shows the page's image, "NONE" closes the ad, anything
// else leaves the last frame. Tracking (impressions, events, checkpoints,
// reward) is TRAVideoTracking's.
//
// Every close, click and failure runs one path (closeVideoWithClick): a close
// without an error dismisses the screen without animation and opens no in-app
// browser, once; a failure reports failedDisplayAd and leaves a shown page up
// (its own close still closes it). The audio category is Playback from the
// view's load to the close. Main thread; the ad (which owns the screen) and
// the delegate are held weakly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Trillium/display/TRAAdViewController.h"
#include "Trillium/display/TRAVideoTracking.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/AVPlayerItem.h"
#include "platform/media/AVPlayerLayer.h"

class TRAAdVideoViewController : public TRAAdViewController {
public:
    static constexpr const char* kLoadVideoValue = "Load Video";
    static constexpr const char* kObserveValue = "observeValueForKeyPath";

    static Ref<TRAAdVideoViewController> alloc() { return NSObject::alloc<TRAAdVideoViewController>(); }
    Ref<TRAAdVideoViewController> init() { return self<TRAAdVideoViewController>(); }
    ~TRAAdVideoViewController() override;

    // ---- the screen's life ----
    // The base's set-up, then the tracking and the Playback audio category.
    void viewDidLoad() override;
    // Sizes the player layer to the screen in the ad's orientation.
    void viewWillAppear(bool animated) override;
    // Starts playback, once; a later appearance resumes a running playback.
    void viewDidAppear(bool animated) override;
    // The base's handling; the first finished load of an ad the base did not
    // fail makes the player.
    void webViewDidFinishLoad(Ref<UIWebView> webView) override;
    // The video commands, while the screen is up; the rest to the base.
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType navigationType) override;
    // A failed page load: the base's report; no player comes.
    void webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) override;
    // Every close becomes closeVideoWithClick with the click flag only.
    void closeAd(bool animated, bool click, const std::optional<std::string>& url) override;
    // The base's programmatic close; a screen not yet shown also stops
    // preparing its player, so that it never appears later.
    void closeAdWithAnimation(bool animated, bool click) override;
    bool prefersStatusBarHidden() override { return true; }
    void observeValueForKeyPath(const std::string& keyPath, Ref<NSObject> object, const Value& change,
                                void* context) override;

    // ---- the player ----
    // A file URL of the ad's downloaded video; null without a path.
    Ref<NSURL> localMovieURL() const;
    // Loads the asset's tracks, then the player; a file that does not open,
    // has no video track or no duration is removed from the video store and
    // fails the ad.
    void createAndConfigurePlayerWithURL(const Ref<NSURL>& url);
    void loadPlayerWithAsset(const Ref<AVAsset>& asset);
    void loadPlayerLayer();
    void playVideoIfReady();
    void playerItemDidReachEnd(const NSNotification& notification);
    // Invalid unless the current item is ready to play.
    CMTime playerItemDuration() const;
    // The periodic 0.1 s tick on the main queue (videoPlaybackTime).
    void activePlayerTimeObserver();
    void videoPlaybackTime();
    void startVideoControls();
    CGRect videoContentFrame() const;

    // ---- the page's commands ----
    void toggleSound();
    void setSoundOnIOS6(float volume);
    void skipVideo();
    void showVideoPostRoll();
    void replayVideo();

    // ---- application activity ----
    void registerNotification();
    void unregisterNotification();
    void applicationWillResignActive(const NSNotification& notification);
    void didBecomeActive(const NSNotification& notification);

    // ---- closing ----
    // The one close and failure path; see the class comment.
    void closeVideoWithClick(bool click, const std::optional<std::string>& error,
                             const std::optional<std::string>& value);
    // Ends the observations of the item's status and end and of the layer.
    void removeObservers();

    // ---- tracking (TRAVideoTracking) ----
    void sendVideoEvent(const std::optional<std::string>& url, bool isCPIncluded);
    void sendImpressionWithNonImpression(bool nonImpression);
    void sendDidCompleteVideo();
    void activePlayerBoundryObserver();
    void activePlayerRewardedObserver();

    // ---- properties ----
    const Ref<AVPlayer>& avPlayer() const { return avPlayer_; }
    const Ref<AVPlayerItem>& avPlayerItem() const { return avPlayerItem_; }
    const Ref<AVPlayerLayer>& avPlayerLayer() const { return avPlayerLayer_; }
    const Ref<TRAVideoTracking>& tracking() const { return tracking_; }
    bool isShowingPostRoll() const { return isShowingPostRoll_; }
    bool isVideoAdClosed() const { return isVideoAdClosed_; }
    bool startedPlayerLayer() const { return startedPlayerLayer_; }
    bool isFirstPlay() const { return isFirstPlay_; }
    int32_t pauseNum() const { return pauseNum_; }
    CMTime pauseTime() const { return pauseTime_; }
    const std::string& originalAvAudioSessionCategory() const { return originalAvAudioSessionCategory_; }
    bool isVideoClosedWitPostrollNone() const { return isVideoClosedWitPostrollNone_; }
    int32_t endVideoLastCP() const { return endVideoLastCP_; }
    // Playback has started (the first appearance ran).
    bool hasStartedPlayback() const { return playbackStarted_; }

private:
    // The end of the video or a skip: observers go, then the post-roll.
    void endPlayback();
    void removeTimeObservers(bool reward);
    // Marks the ad closed for good and ends playback and its observers
    // without events or callbacks.
    void tearDown();
    // Drops the player, item and layer (released at the next pass: the end
    // of the video is reported from inside the player's own step).
    void dropPlayer();
    void restoreAudioCategory();
    std::string evaluate(const std::string& script);
    Ref<TRAAdVideoPreferences> videoPref() const;

    Ref<AVPlayer> avPlayer_;
    Ref<AVPlayerItem> avPlayerItem_;
    Ref<AVPlayerLayer> avPlayerLayer_;
    Ref<NSObject> avPlayerTimeObserver_;
    Ref<TRAVideoTracking> tracking_;
    bool isShowingPostRoll_ = false;
    bool isVideoAdClosed_ = false;
    bool startedPlayerLayer_ = false;
    bool isFirstPlay_ = false;
    int32_t pauseNum_ = 0;
    CMTime pauseTime_ = kCMTimeInvalid;
    std::string originalAvAudioSessionCategory_;
    bool isStatusObserverExists_ = false;
    bool isReadyForDisplayObserverExists_ = false;
    bool isItemDidPlayToEndObserverExists_ = false;
    bool isVideoClosedWitPostrollNone_ = false;
    int32_t endVideoLastCP_ = 0;

    bool playerRequested_ = false;       // the first finished load made the player
    bool playbackStarted_ = false;       // the first appearance started playback
    bool pausedByApplication_ = false;   // resigned active: the tick must not restart playback
    bool ended_ = false;                 // ended or skipped, not replayed since
    bool dismissed_ = false;             // a close without an error ran
    bool notificationsRegistered_ = false;
};
