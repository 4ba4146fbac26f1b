#include "platform/media/AVPlayerItem.h"

#include <cmath>

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/media/AVPlayer.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSThread.h"

namespace platform {

Ref<AVPlayerItem> AVPlayerItem::playerItemWithAsset(const Ref<AVAsset>& asset) {
    return alloc<AVPlayerItem>()->initWithAsset(asset);
}

Ref<AVPlayerItem> AVPlayerItem::playerItemWithURL(const Ref<NSURL>& url) {
    return alloc<AVPlayerItem>()->initWithURL(url);
}

Ref<AVPlayerItem> AVPlayerItem::initWithURL(const Ref<NSURL>& url) {
    if (!url) return nullptr;
    return initWithAsset(AVAsset::assetWithURL(url));
}

Ref<AVPlayerItem> AVPlayerItem::initWithAsset(const Ref<AVAsset>& asset) {
    if (!asset) {
        logError("AVPlayerItem: no asset");
        return nullptr;
    }
    asset_ = asset;
    anchorUptime_ = Clock::current()->uptime();
    // The status changes at a later pass, after the probe.
    Weak<AVPlayerItem> weak = self<AVPlayerItem>();
    dispatch_async(dispatch_get_main_queue(), [weak] {
        if (auto item = weak.lock()) item->becomeReadyOrFail();
    });
    return self<AVPlayerItem>();
}

std::optional<int64_t> AVPlayerItem::nanoseconds(const CMTime& time) {
    if (CMTIME_IS_POSITIVE_INFINITY(time)) return kEndless;
    if (!CMTIME_IS_NUMERIC(time)) return std::nullopt;
    __int128 scaled = static_cast<__int128>(time.value) * 1000000000;
    __int128 q = scaled / time.timescale;
    __int128 r = scaled % time.timescale;
    if (2 * (r < 0 ? -r : r) >= time.timescale) q += scaled < 0 ? -1 : 1;
    if (q >= kEndless) return kEndless;
    if (q < INT64_MIN) return INT64_MIN;
    return static_cast<int64_t>(q);
}

void AVPlayerItem::becomeReadyOrFail() {
    if (status() != AVPlayerItemStatusUnknown) return;  // failed through the seam first
    const AVAsset::Probe& probe = asset_->probe();
    if (probe.error) {
        {
            std::lock_guard lock(mutex_);
            error_ = probe.error;
        }
        setStatus(AVPlayerItemStatusFailed);
    } else {
        {
            std::lock_guard lock(mutex_);
            duration_ = probe.duration;
            durationNs_ = CMTIME_IS_INDEFINITE(probe.duration) ? kEndless : nanoseconds(probe.duration).value_or(0);
            presentationSize_ = probe.naturalVideoSize();
            anchorNs_ = clampLocked(anchorNs_);
        }
        setStatus(AVPlayerItemStatusReadyToPlay);
    }
    if (auto player = player_.lock()) player->currentItemStatusDidChange(*this);
}

void AVPlayerItem::setStatus(AVPlayerItemStatus status) {
    int64_t old = status_.exchange(status);
    if (old != status) didChange("status", Value(old), Value(static_cast<int64_t>(status)));
}

Value AVPlayerItem::observableValue(const std::string& keyPath) const {
    if (keyPath == "status") return Value(static_cast<int64_t>(status()));
    return Value();
}

Ref<NSError> AVPlayerItem::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

CMTime AVPlayerItem::duration() const {
    if (status() != AVPlayerItemStatusReadyToPlay) return kCMTimeInvalid;
    std::lock_guard lock(mutex_);
    return duration_;
}

CGSize AVPlayerItem::presentationSize() const {
    std::lock_guard lock(mutex_);
    return presentationSize_;
}

Ref<AVAudioMix> AVPlayerItem::audioMix() const {
    std::lock_guard lock(mutex_);
    return audioMix_;
}

void AVPlayerItem::setAudioMix(Ref<AVAudioMix> audioMix) {
    std::lock_guard lock(mutex_);
    audioMix_ = std::move(audioMix);
}

int64_t AVPlayerItem::clampLocked(int64_t ns) const {
    if (ns < 0) return 0;
    if (durationNs_ != kUnknownDuration && ns > durationNs_) return durationNs_;
    return ns;
}

int64_t AVPlayerItem::positionLocked(double uptime) const {
    if (advanceRate_ == 0) return anchorNs_;
    double advanced = std::round((uptime - anchorUptime_) * 1e9 * advanceRate_);
    if (advanced >= static_cast<double>(kEndless - anchorNs_)) return clampLocked(kEndless);
    return clampLocked(anchorNs_ + static_cast<int64_t>(std::max(advanced, 0.0)));
}

int64_t AVPlayerItem::positionNs() const {
    double uptime = Clock::current()->uptime();
    std::lock_guard lock(mutex_);
    return positionLocked(uptime);
}

void AVPlayerItem::setPositionNs(int64_t ns) {
    double uptime = Clock::current()->uptime();
    std::lock_guard lock(mutex_);
    anchorNs_ = clampLocked(ns);
    anchorUptime_ = uptime;
}

void AVPlayerItem::setAdvanceRate(double rate) {
    double uptime = Clock::current()->uptime();
    std::lock_guard lock(mutex_);
    anchorNs_ = positionLocked(uptime);
    anchorUptime_ = uptime;
    advanceRate_ = rate;
}

int64_t AVPlayerItem::durationNs() const {
    std::lock_guard lock(mutex_);
    return durationNs_;
}

CMTime AVPlayerItem::timeForNs(int64_t ns) const {
    std::lock_guard lock(mutex_);
    if (durationNs_ == kUnknownDuration || !CMTIME_IS_NUMERIC(duration_)) {
        if (ns == 0) return kCMTimeZero;
        return CMTimeMake(ns, 1000000000);
    }
    if (ns >= durationNs_) return duration_;
    __int128 scaled = static_cast<__int128>(ns) * duration_.timescale;
    return CMTimeMake(static_cast<int64_t>((scaled + 500000000) / 1000000000), duration_.timescale);
}

CMTime AVPlayerItem::currentTime() const { return timeForNs(positionNs()); }

void AVPlayerItem::seekToTime(CMTime time) {
    if (auto player = player_.lock()) {
        player->seekToTime(time);
        return;
    }
    assertMainThread("AVPlayerItem::seekToTime");
    auto ns = nanoseconds(time);
    if (!ns) {
        logError("AVPlayerItem::seekToTime: not a numeric time");
        return;
    }
    setPositionNs(*ns);
    arrivedAtEnd_ = false;
}

void AVPlayerItem::seekToTime(CMTime time, CMTime, CMTime) { seekToTime(time); }

void AVPlayerItem::simulateFailure(Ref<NSError> error) {
    assertMainThread("AVPlayerItem::simulateFailure");
    if (status() == AVPlayerItemStatusFailed) return;
    if (!error) error = NSError::errorWithDomain(AVFoundationErrorDomain, AVErrorUnknown);
    auto player = player_.lock();
    bool wasPlaying = player && player->isAdvancing();
    {
        std::lock_guard lock(mutex_);
        error_ = error;
    }
    auto keepAlive = self<AVPlayerItem>();
    setStatus(AVPlayerItemStatusFailed);
    if (player && player_.lock() == player) player->currentItemStatusDidChange(*this);
    if (wasPlaying)
        NSNotificationCenter::defaultCenter()->postNotificationName(
            AVPlayerItemFailedToPlayToEndTimeNotification, keepAlive,
            Value::dictionary({{AVPlayerItemFailedToPlayToEndTimeErrorKey, Value(error)}}));
}

}  // namespace platform
