// A playable item: an asset with a status (Unknown, then ReadyToPlay or
// Failed at a later main-thread pass after the probe), a duration once ready,
// a current time on its own timeline (readable from any thread) and the
// notifications of its end, failure and stalls.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>

#include "platform/foundation/Value.h"
#include "platform/media/AVAsset.h"
#include "platform/media/AVAudioMix.h"
#include "platform/media/AVObservable.h"
#include "platform/media/CMTime.h"

namespace platform {

class AVPlayer;

enum AVPlayerItemStatus : int64_t {
    AVPlayerItemStatusUnknown = 0,
    AVPlayerItemStatusReadyToPlay = 1,
    AVPlayerItemStatusFailed = 2,
};

inline constexpr const char* AVPlayerItemDidPlayToEndTimeNotification = "AVPlayerItemDidPlayToEndTimeNotification";
inline constexpr const char* AVPlayerItemFailedToPlayToEndTimeNotification =
    "AVPlayerItemFailedToPlayToEndTimeNotification";
inline constexpr const char* AVPlayerItemPlaybackStalledNotification = "AVPlayerItemPlaybackStalledNotification";
inline constexpr const char* AVPlayerItemFailedToPlayToEndTimeErrorKey = "AVPlayerItemFailedToPlayToEndTimeErrorKey";

class AVPlayerItem : public NSObject, public AVObservable {
public:
    // Null for a null asset or URL.
    static Ref<AVPlayerItem> playerItemWithAsset(const Ref<AVAsset>& asset);
    static Ref<AVPlayerItem> playerItemWithURL(const Ref<NSURL>& url);
    Ref<AVPlayerItem> initWithAsset(const Ref<AVAsset>& asset);
    Ref<AVPlayerItem> initWithURL(const Ref<NSURL>& url);

    // Observable "status".
    AVPlayerItemStatus status() const { return static_cast<AVPlayerItemStatus>(status_.load()); }
    Ref<NSError> error() const;
    Ref<AVAsset> asset() const { return asset_; }
    // Invalid until ready.
    CMTime duration() const;
    // At the asset's timescale once ready; any thread.
    CMTime currentTime() const;
    // The video track's natural size once ready; zero without video.
    CGSize presentationSize() const;
    // Exact; clamped to [0, duration]. Through the item's player when it has one.
    void seekToTime(CMTime time);
    void seekToTime(CMTime time, CMTime toleranceBefore, CMTime toleranceAfter);
    Ref<AVAudioMix> audioMix() const;
    void setAudioMix(Ref<AVAudioMix> audioMix);

    // Test seam: status Failed with `error` (observers told) and, when the item
    // was playing, AVPlayerItemFailedToPlayToEndTimeNotification carrying it.
    void simulateFailure(Ref<NSError> error);

protected:
    Value observableValue(const std::string& keyPath) const override;
    NSObject& observedObject() override { return *this; }

private:
    friend class AVPlayer;

    // Media positions are kept in nanoseconds.
    static constexpr int64_t kUnknownDuration = -1;
    static constexpr int64_t kEndless = INT64_MAX;
    // Numeric times in nanoseconds (rounded), +infinity as kEndless; nullopt otherwise.
    static std::optional<int64_t> nanoseconds(const CMTime& time);

    void becomeReadyOrFail();
    void setStatus(AVPlayerItemStatus status);

    // The timeline (any thread).
    int64_t positionNs() const;
    // Re-anchors at the clock's uptime now: the position, then the rate it advances at.
    void setPositionNs(int64_t ns);
    void setAdvanceRate(double rate);
    int64_t clampLocked(int64_t ns) const;
    int64_t positionLocked(double uptime) const;
    CMTime timeForNs(int64_t ns) const;
    int64_t durationNs() const;

    Ref<AVAsset> asset_;
    std::atomic<int64_t> status_{AVPlayerItemStatusUnknown};

    mutable std::mutex mutex_;
    Ref<NSError> error_;
    CMTime duration_ = kCMTimeInvalid;
    int64_t durationNs_ = kUnknownDuration;
    CGSize presentationSize_{};
    int64_t anchorNs_ = 0;
    double anchorUptime_ = 0;
    double advanceRate_ = 0;
    Ref<AVAudioMix> audioMix_;

    // Main thread only.
    Weak<AVPlayer> player_;
    bool arrivedAtEnd_ = false;
};

}  // namespace platform

using platform::AVPlayerItem;
using platform::AVPlayerItemDidPlayToEndTimeNotification;
using platform::AVPlayerItemFailedToPlayToEndTimeErrorKey;
using platform::AVPlayerItemFailedToPlayToEndTimeNotification;
using platform::AVPlayerItemPlaybackStalledNotification;
using platform::AVPlayerItemStatus;
using platform::AVPlayerItemStatusFailed;
using platform::AVPlayerItemStatusReadyToPlay;
using platform::AVPlayerItemStatusUnknown;
