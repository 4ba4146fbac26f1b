// A player on the clock: media time advances with the clock's uptime while
// the requested rate is non-zero and the current item is ready; periodic and
// boundary time observers, the end of the item (boundaries, a periodic tick,
// rate 0, then AVPlayerItemDidPlayToEndTimeNotification, once per arrival),
// status and rate observation. Nothing is decoded or heard.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/media/AVObservable.h"
#include "platform/media/AVPlayerItem.h"
#include "platform/media/CMTime.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/RunLoopTimer.h"

namespace platform {

class AVPlayerLayer;

enum AVPlayerStatus : int64_t {
    AVPlayerStatusUnknown = 0,
    AVPlayerStatusReadyToPlay = 1,
    AVPlayerStatusFailed = 2,
};

class AVPlayer : public NSObject, public AVObservable {
public:
    static Ref<AVPlayer> playerWithPlayerItem(const Ref<AVPlayerItem>& item);
    static Ref<AVPlayer> playerWithURL(const Ref<NSURL>& url);
    // An item that already belongs to another player is refused (logged; no item).
    Ref<AVPlayer> initWithPlayerItem(const Ref<AVPlayerItem>& item);
    Ref<AVPlayer> initWithURL(const Ref<NSURL>& url);
    ~AVPlayer() override;

    // The requested rate: play sets 1 and pause 0 at once, also before the
    // item is ready. At the end of the item play does nothing until a seek.
    void play();
    void pause();
    float rate() const { return rate_.load(); }  // observable "rate"
    void setRate(float rate);

    // Observable "status": ReadyToPlay once its item is ready; Failed only through the seam.
    AVPlayerStatus status() const { return static_cast<AVPlayerStatus>(status_.load()); }
    Ref<NSError> error() const;

    Ref<AVPlayerItem> currentItem() const;
    void replaceCurrentItemWithPlayerItem(const Ref<AVPlayerItem>& item);
    // The current item's time (zero without one); any thread.
    CMTime currentTime() const;

    // Answered for the mute accessors, which callers ask about first.
    PLATFORM_RESPONDS_TO("isMuted", "setMuted:")

    bool isMuted() const { return muted_.load(); }
    void setMuted(bool muted) { muted_ = muted; }
    float volume() const { return volume_.load(); }
    void setVolume(float volume) { volume_ = volume; }

    // Exact, clamped to [0, duration]. Never fires boundary observers; a
    // periodic tick follows.
    void seekToTime(CMTime time);
    void seekToTime(CMTime time, CMTime toleranceBefore, CMTime toleranceAfter);

    // Fires on `queue` (null: main) at each multiple of `interval` of media
    // time while playing, and when playback starts or stops and after a seek.
    // An interval that is not a positive time is refused (null, logged);
    // intervals below 1 ms count as 1 ms.
    Ref<NSObject> addPeriodicTimeObserverForInterval(CMTime interval, const dispatch_queue_t& queue,
                                                     std::function<void(CMTime)> block);
    // Fires on `queue` (null: main) when normal playback crosses or reaches
    // one of `times`, the end of the item included; seeks never fire it.
    Ref<NSObject> addBoundaryTimeObserverForTimes(const std::vector<CMTime>& times, const dispatch_queue_t& queue,
                                                  Block block);
    // Once it returns no new invocation starts. Null: nothing; another
    // player's token: ignored with a log line.
    void removeTimeObserver(const Ref<NSObject>& observer);

    // Test seams. A stall: rate 0 and AVPlayerItemPlaybackStalledNotification.
    void simulateStall();
    // Status Failed with `error` (observers told); playback stops.
    void simulateFailure(Ref<NSError> error);

protected:
    Value observableValue(const std::string& keyPath) const override;
    NSObject& observedObject() override { return *this; }

private:
    friend class AVPlayerItem;
    friend class AVPlayerLayer;
    class TimeObserver;

    void attachItem(const Ref<AVPlayerItem>& item);
    void currentItemStatusDidChange(AVPlayerItem& item);
    bool shouldAdvance() const;
    bool isAdvancing() const { return advancing_; }
    void setRateValue(float rate);
    void setStatusValue(AVPlayerStatus status);
    // Re-evaluates whether media time advances (start and stop ticks) and
    // schedules the next step.
    void refresh();
    void schedule();
    void cancelStep();
    void step();
    // Periodic ticks outside steps are queued, never run inside the caller.
    void tickLater(CMTime time);
    void notifyLayers();
    void addLayer(AVPlayerLayer* layer);
    void removeLayer(AVPlayerLayer* layer);

    std::atomic<float> rate_{0};
    std::atomic<int64_t> status_{AVPlayerStatusUnknown};
    std::atomic<bool> muted_{false};
    std::atomic<float> volume_{1};

    mutable std::mutex mutex_;  // currentItem_, error_
    Ref<AVPlayerItem> currentItem_;
    Ref<NSError> error_;

    // Main thread only.
    std::vector<Ref<TimeObserver>> observers_;
    std::vector<AVPlayerLayer*> layers_;
    bool advancing_ = false;
    Ref<runtime::RunLoopTimer> stepTimer_;
    int64_t stepTargetNs_ = -1;
    int64_t lastNs_ = 0;        // media position at the last step or seek
    uint64_t generation_ = 0;   // bumped by seeks and item changes
};

}  // namespace platform

using platform::AVPlayer;
using platform::AVPlayerStatus;
using platform::AVPlayerStatusFailed;
using platform::AVPlayerStatusReadyToPlay;
using platform::AVPlayerStatusUnknown;
