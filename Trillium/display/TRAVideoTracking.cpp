#include "Trillium/display/TRAVideoTracking.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAnalytics.h"
#include "Trillium/TRAMetadata.h"
#include "platform/runtime/SaturatingCast.h"

namespace {

// A crossing may be measured a hair before its boundary: the player counts
// a step that lands that close as reaching it.
constexpr double kCrossingTolerance = 0.001;

}  // namespace

Ref<TRAVideoTracking> TRAVideoTracking::initWithAd(const Ref<TRAAd>& ad, const Ref<TRAViewControllerDelegate>& delegate,
                                                   const std::optional<std::string>& adTag) {
    ad_ = ad;
    delegate_ = delegate;
    adTag_ = adTag;
    return self<TRAVideoTracking>();
}

// ---- positions ----

double TRAVideoTracking::seconds(const CMTime& time) { return CMTimeGetSeconds(time); }

int32_t TRAVideoTracking::percentage(double seconds, double duration) {
    // A broken video has no usable duration: its position counts as 0 %.
    if (!std::isfinite(duration) || duration <= 0 || !std::isfinite(seconds)) return 0;
    return platform::saturatingCast<int32_t>(std::roundf(static_cast<float>(seconds / duration * 100.0)));
}

double TRAVideoTracking::assetDuration(const Ref<AVPlayer>& player) const {
    auto item = player ? player->currentItem() : nullptr;
    auto asset = item ? item->asset() : nullptr;
    return asset ? seconds(asset->duration()) : NAN;
}

int32_t TRAVideoTracking::currentPercentage() const {
    Ref<AVPlayer> player = player_.lock();
    if (!player) return 0;
    return percentage(seconds(player->currentTime()), assetDuration(player));
}

// ---- events ----

void TRAVideoTracking::sendVideoEvent(const std::optional<std::string>& url, bool isCPIncluded) {
    if (!url) return;
    Ref<TRAAd> ad = ad_.lock();
    int32_t offset = ad ? ad->offset() : 0;
    std::string text = isCPIncluded
                           ? NSString::stringWithFormat("%@&offset=%d", *url, offset)
                           : NSString::stringWithFormat("%@&offset=%d&cp=%d", *url, offset, currentPercentage());
    TRAAdSDKUtils::sendVideoEvent(text);
}

void TRAVideoTracking::sendImpressionWithNonImpression(bool nonImpression) {
    Ref<TRAAd> ad = ad_.lock();
    if (!ad || !ad->trackingUrl()) return;
    for (const std::string& url : *ad->trackingUrl()) {
        std::string text = url;
        if (adTag_ && !adTag_->empty()) text = NSString::stringWithFormat("%@&adTag=%@", text, *adTag_);
        text = NSString::stringWithFormat("%@&offset=%d", text, ad->offset());
        if (nonImpression) {
            text += "&isShown=false";
            text = NSString::stringWithFormat("%@&reason=%@", text, kMissingAssetsReason);
        }
        if (impressionsSentSet_.insert(text).second) TRAAdSDKUtils::sendImpression(text);
    }
}

void TRAVideoTracking::sendDidCompleteVideo() {
    if (Ref<TRAViewControllerDelegate> delegate = delegate_.lock()) delegate->didCompleteVideo();
}

void TRAVideoTracking::sendFailureReport(const std::string& error, const std::string& value) {
    Ref<TRAAd> ad = ad_.lock();
    std::optional<std::string> dParams;
    if (ad) {
        const TRAAd::URLList& list =
            TRAMetadata::sharedMetadata()->isDisableTwoClicks() ? ad->trackingUrl() : ad->clickTrackingUrl();
        if (list && !list->empty()) dParams = TRAAdSDKUtils::getDParamsFromHtml(list->front());
    }
    TRAAnalytics::sendAnalyticsURLWithCategory(TRAAnalytics::CategoryFailedPlayVideo, error, value, dParams);
}

void TRAVideoTracking::grantRewardOnClose() {
    Ref<TRAAd> ad = ad_.lock();
    if (!ad || !ad->isRewardedVideo() || isRewardedEventSent_) return;
    isRewardedEventSent_ = true;
    sendDidCompleteVideo();
}

// ---- boundary observers ----

void TRAVideoTracking::activePlayerBoundryObserver() {
    removeBoundryObserver();
    Ref<AVPlayer> player = player_.lock();
    double duration = assetDuration(player);
    progressTempArray_ = {0, 25, 50, 75, 100};
    checkpoints_ = start(kCheckpointQueueLabel,
                         {static_cast<double>(0.01f), duration / 4, 2 * duration / 4, 3 * duration / 4, duration},
                         duration, false);
}

void TRAVideoTracking::activePlayerRewardedObserver() {
    removeRewardedObserver();
    double duration = assetDuration(player_.lock());
    double granted = TRAMetadata::sharedMetadata()->getRewardGrantPercentage();
    reward_ = start(kRewardQueueLabel, {duration * granted / 100}, duration, true);
}

TRAVideoTracking::Observer TRAVideoTracking::start(const char* label, const std::vector<double>& times,
                                                   double duration, bool reward) {
    Observer observer;
    Ref<AVPlayer> player = player_.lock();
    auto item = player ? player->currentItem() : nullptr;
    int32_t timescale = item && item->asset() ? item->asset()->duration().timescale : 0;
    // Without a finite positive duration and a timescale there is nothing to cross.
    if (!item || timescale <= 0 || !std::isfinite(duration) || duration <= 0) return observer;
    std::vector<CMTime> boundaries;
    for (double t : times) boundaries.push_back(CMTimeMakeWithSeconds(t, timescale));
    observer.queue = dispatch_queue_create(label, nullptr);
    observer.mailbox = std::make_shared<Mailbox>();
    observer.player = player;
    observer.duration = duration;
    for (const CMTime& boundary : boundaries) observer.uncrossed.push_back(seconds(boundary));
    std::sort(observer.uncrossed.begin(), observer.uncrossed.end());
    Weak<AVPlayer> weakPlayer = player;
    Weak<TRAVideoTracking> weakSelf = self<TRAVideoTracking>();
    std::shared_ptr<Mailbox> mailbox = observer.mailbox;
    observer.token = player->addBoundaryTimeObserverForTimes(boundaries, observer.queue, [=] {
        Ref<AVPlayer> measured = weakPlayer.lock();
        if (!measured) return;
        double at = CMTimeGetSeconds(measured->currentTime());
        {
            std::scoped_lock lock(mailbox->mutex);
            mailbox->seconds.push_back(at);
        }
        // The player is let go on the main thread, where it lives.
        dispatch_async(dispatch_get_main_queue(), [measured, weakSelf, mailbox, reward]() mutable {
            measured.reset();
            Ref<TRAVideoTracking> me = weakSelf.lock();
            if (!me) return;
            Observer& current = reward ? me->reward_ : me->checkpoints_;
            if (current.mailbox == mailbox) me->drain(current, reward);
        });
    });
    if (!observer.token) return Observer{};
    return observer;
}

void TRAVideoTracking::drain(Observer& observer, bool reward) {
    std::shared_ptr<Mailbox> mailbox = observer.mailbox;
    double duration = observer.duration;
    std::vector<double> measured;
    {
        std::scoped_lock lock(mailbox->mutex);
        measured.swap(mailbox->seconds);
    }
    for (double at : measured) {
        // A callback may have stopped or restarted the observer meanwhile.
        if ((reward ? reward_ : checkpoints_).mailbox != mailbox) return;
        // Each call is one crossing: it counts at the latest boundary not
        // counted yet that the time measured has reached, so a queue that
        // ran late still counts its checkpoint (calls later than a whole
        // quarter count theirs in reverse order, none lost).
        auto past = std::upper_bound(observer.uncrossed.begin(), observer.uncrossed.end(), at + kCrossingTolerance);
        if (past != observer.uncrossed.begin()) {
            at = *std::prev(past);
            observer.uncrossed.erase(std::prev(past));
        }
        if (reward) rewardCrossed(at, duration);
        else checkpointCrossed(at, duration);
    }
}

void TRAVideoTracking::remove(Observer& observer, bool reward) {
    if (!observer.token) return;
    // Crossings already dispatched to the observer's queue are measured and
    // handled before the observer goes: the end of the video crosses the last
    // boundary in the same pass that reports the end.
    dispatch_sync(observer.queue, [] {});
    observer.player->removeTimeObserver(observer.token);
    drain(observer, reward);
    (reward ? reward_ : checkpoints_) = Observer{};
}

void TRAVideoTracking::removeBoundryObserver() { remove(checkpoints_, false); }
void TRAVideoTracking::removeRewardedObserver() { remove(reward_, true); }

void TRAVideoTracking::stop() {
    for (Observer* observer : {&checkpoints_, &reward_}) {
        if (observer->token) observer->player->removeTimeObserver(observer->token);
        *observer = Observer{};
    }
}

void TRAVideoTracking::checkpointCrossed(double at, double duration) {
    int32_t measured = percentage(at, duration);
    auto entry = std::find_if(progressTempArray_.begin(), progressTempArray_.end(),
                              [measured](int32_t v) { return v - 1 <= measured && measured <= v + 1; });
    if (entry == progressTempArray_.end()) return;
    int32_t checkpoint = *entry;
    progressTempArray_.erase(entry);
    Ref<TRAAd> ad = ad_.lock();
    auto url = ad && ad->videoPref() ? ad->videoPref()->videoProgressUrl() : std::nullopt;
    if (!url) return;
    std::string text = NSString::stringWithFormat("%@&cp=%d", *url, checkpoint);
    if (!milestonesSent_.insert(text).second) return;
    sendVideoEvent(text, true);
}

void TRAVideoTracking::rewardCrossed(double at, double duration) {
    int64_t measured = percentage(at, duration);
    int64_t granted = TRAMetadata::sharedMetadata()->getRewardGrantPercentage();
    if (isRewardedEventSent_ || measured < granted - 1 || measured > granted + 1) return;
    isRewardedEventSent_ = true;
    sendDidCompleteVideo();
    Ref<TRAAd> ad = ad_.lock();
    auto url = ad && ad->videoPref() ? ad->videoPref()->videoRewardedUrl() : std::nullopt;
    if (url) sendVideoEvent(NSString::stringWithFormat("%@&cp=%d", *url, static_cast<int32_t>(measured)), true);
}
