#include "platform/media/AVPlayer.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/media/AVPlayerLayer.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSThread.h"

namespace platform {

namespace {

constexpr int64_t kMinimumIntervalNs = 1000000;  // 1 ms
// A step that fires within this much media time before its target counts as
// reaching it (the clock's double arithmetic may land a hair short).
constexpr int64_t kSnapNs = 1000;

}  // namespace

// The token of one periodic or boundary observer.
class AVPlayer::TimeObserver : public NSObject {
public:
    const AVPlayer* owner = nullptr;
    dispatch_queue_t queue;  // null: main
    bool periodic = false;
    int64_t intervalNs = 0;
    std::vector<int64_t> times;  // sorted, unique
    std::function<void(CMTime)> periodicBlock;
    Block boundaryBlock;
    std::atomic<bool> removed{false};

    bool onMain() const { return !queue || queue->isMain(); }
    void invoke(CMTime time) const {
        if (removed) return;
        if (periodic) periodicBlock(time);
        else boundaryBlock();
    }
    // Inside a step on the main thread: main-queue observers run at once, in
    // step order; others are queued.
    void deliverNow(CMTime time) const {
        if (removed) return;
        auto self = this->self<const TimeObserver>();
        if (onMain()) runtime::callAtBoundary([&] { invoke(time); }, "AVPlayer time observer");
        else dispatch_async(queue, [self, time] { self->invoke(time); });
    }
    void deliverLater(CMTime time) const {
        if (removed) return;
        auto self = this->self<const TimeObserver>();
        dispatch_async(onMain() ? dispatch_get_main_queue() : queue, [self, time] { self->invoke(time); });
    }
};

Ref<AVPlayer> AVPlayer::playerWithPlayerItem(const Ref<AVPlayerItem>& item) {
    return alloc<AVPlayer>()->initWithPlayerItem(item);
}

Ref<AVPlayer> AVPlayer::playerWithURL(const Ref<NSURL>& url) { return alloc<AVPlayer>()->initWithURL(url); }

Ref<AVPlayer> AVPlayer::initWithURL(const Ref<NSURL>& url) {
    return initWithPlayerItem(AVPlayerItem::playerItemWithURL(url));
}

Ref<AVPlayer> AVPlayer::initWithPlayerItem(const Ref<AVPlayerItem>& item) {
    assertMainThread("AVPlayer::initWithPlayerItem");
    if (item && item->player_.lock()) {
        logError("AVPlayer: the item already belongs to another player");
        return self<AVPlayer>();
    }
    attachItem(item);
    return self<AVPlayer>();
}

AVPlayer::~AVPlayer() {
    if (stepTimer_) stepTimer_->invalidate();
    for (const auto& o : observers_) o->removed = true;
    if (currentItem_) {
        currentItem_->setAdvanceRate(0);
        currentItem_->player_.reset();
    }
}

Value AVPlayer::observableValue(const std::string& keyPath) const {
    if (keyPath == "rate") return Value(rate());
    if (keyPath == "status") return Value(static_cast<int64_t>(status()));
    return Value();
}

Ref<NSError> AVPlayer::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

Ref<AVPlayerItem> AVPlayer::currentItem() const {
    std::lock_guard lock(mutex_);
    return currentItem_;
}

CMTime AVPlayer::currentTime() const {
    auto item = currentItem();
    return item ? item->currentTime() : kCMTimeZero;
}

void AVPlayer::setRateValue(float rate) {
    float old = rate_.exchange(rate);
    if (old != rate) didChange("rate", Value(old), Value(rate));
}

void AVPlayer::setStatusValue(AVPlayerStatus status) {
    int64_t old = status_.exchange(status);
    if (old != status) didChange("status", Value(old), Value(static_cast<int64_t>(status)));
}

void AVPlayer::play() {
    assertMainThread("AVPlayer::play");
    setRate(1);
}

void AVPlayer::pause() {
    assertMainThread("AVPlayer::pause");
    setRate(0);
}

void AVPlayer::setRate(float rate) {
    assertMainThread("AVPlayer::setRate");
    if (!std::isfinite(rate)) {
        logError("AVPlayer::setRate: the rate is not a finite number");
        return;
    }
    auto item = currentItem();
    if (rate != 0 && item && item->arrivedAtEnd_) return;  // at the end: nothing until a seek
    auto keepAlive = self<AVPlayer>();
    setRateValue(rate);
    refresh();
}

void AVPlayer::attachItem(const Ref<AVPlayerItem>& item) {
    {
        std::lock_guard lock(mutex_);
        currentItem_ = item;
    }
    ++generation_;
    lastNs_ = item ? item->positionNs() : 0;
    if (!item) return;
    item->player_ = self<AVPlayer>();
    if (item->status() == AVPlayerItemStatusReadyToPlay && status() == AVPlayerStatusUnknown)
        setStatusValue(AVPlayerStatusReadyToPlay);
}

void AVPlayer::replaceCurrentItemWithPlayerItem(const Ref<AVPlayerItem>& item) {
    assertMainThread("AVPlayer::replaceCurrentItemWithPlayerItem");
    auto old = currentItem();
    if (old == item) return;
    if (item) {
        auto owner = item->player_.lock();
        if (owner && owner.get() != this) {
            logError("AVPlayer: the item already belongs to another player");
            return;
        }
    }
    auto keepAlive = self<AVPlayer>();
    if (old) {
        old->setAdvanceRate(0);
        old->player_.reset();
    }
    attachItem(item);
    refresh();
    notifyLayers();
}

void AVPlayer::currentItemStatusDidChange(AVPlayerItem& item) {
    if (currentItem().get() != &item) return;
    auto keepAlive = self<AVPlayer>();
    if (item.status() == AVPlayerItemStatusReadyToPlay && status() == AVPlayerStatusUnknown)
        setStatusValue(AVPlayerStatusReadyToPlay);
    refresh();
    notifyLayers();
}

bool AVPlayer::shouldAdvance() const {
    auto item = currentItem();
    return rate() > 0 && status() != AVPlayerStatusFailed && item &&
           item->status() == AVPlayerItemStatusReadyToPlay && !item->arrivedAtEnd_;
}

void AVPlayer::refresh() {
    auto item = currentItem();
    bool should = shouldAdvance();
    if (item) item->setAdvanceRate(should ? rate() : 0);
    if (should != advancing_) {
        advancing_ = should;  // playback starts or stops
        tickLater(item ? item->currentTime() : kCMTimeZero);
    }
    schedule();
}

void AVPlayer::cancelStep() {
    if (stepTimer_) stepTimer_->invalidate();
    stepTimer_ = nullptr;
    stepTargetNs_ = -1;
}

void AVPlayer::schedule() {
    cancelStep();
    auto item = currentItem();
    if (!advancing_ || !item) return;
    int64_t target = item->durationNs();  // kEndless for an endless item
    for (const auto& o : observers_) {
        if (o->periodic) {
            int64_t k = lastNs_ / o->intervalNs + 1;
            if (k <= AVPlayerItem::kEndless / o->intervalNs) target = std::min(target, k * o->intervalNs);
        } else {
            auto next = std::upper_bound(o->times.begin(), o->times.end(), lastNs_);
            if (next != o->times.end()) target = std::min(target, *next);
        }
    }
    if (target == AVPlayerItem::kEndless) return;
    int64_t position = item->positionNs();
    double delay = target > position ? static_cast<double>(target - position) / 1e9 / rate() : 0;
    stepTargetNs_ = target;
    Weak<AVPlayer> weak = self<AVPlayer>();
    stepTimer_ = runtime::scheduleMainThreadCall(delay, [weak] {
        if (auto player = weak.lock()) player->step();
    });
}

void AVPlayer::step() {
    stepTimer_ = nullptr;
    auto item = currentItem();
    if (!advancing_ || !item) return;
    int64_t now = item->positionNs();
    if (stepTargetNs_ > now && stepTargetNs_ - now <= kSnapNs) {
        now = stepTargetNs_;
        item->setPositionNs(now);
    }
    stepTargetNs_ = -1;
    int64_t duration = item->durationNs();
    bool atEnd = duration != AVPlayerItem::kEndless && now >= duration;
    int64_t last = lastNs_;
    lastNs_ = now;

    // Boundaries crossed or reached, in time order; then periodic ticks
    // (always one at the end).
    std::vector<std::pair<int64_t, Ref<TimeObserver>>> crossed;
    std::vector<Ref<TimeObserver>> ticks;
    for (const auto& o : observers_) {
        if (o->periodic) {
            if (atEnd || now / o->intervalNs > last / o->intervalNs) ticks.push_back(o);
        } else {
            for (int64_t t : o->times)
                if (t > last && t <= now) crossed.emplace_back(t, o);
        }
    }
    std::stable_sort(crossed.begin(), crossed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    uint64_t generation = generation_;
    CMTime time = item->timeForNs(now);
    for (const auto& [t, o] : crossed) o->deliverNow(time);
    for (const auto& o : ticks) o->deliverNow(time);
    if (generation != generation_) return;  // a seek or another item took over inside a callback
    if (!atEnd) {
        schedule();
        return;
    }
    if (item->arrivedAtEnd_) return;
    // The end, once per arrival: rate 0 (observers told), then the notification.
    item->arrivedAtEnd_ = true;
    cancelStep();
    advancing_ = false;
    item->setAdvanceRate(0);
    setRateValue(0);
    NSNotificationCenter::defaultCenter()->postNotificationName(AVPlayerItemDidPlayToEndTimeNotification, item);
}

void AVPlayer::tickLater(CMTime time) {
    for (const auto& o : observers_)
        if (o->periodic) o->deliverLater(time);
}

void AVPlayer::seekToTime(CMTime time) {
    assertMainThread("AVPlayer::seekToTime");
    auto item = currentItem();
    if (!item) return;
    auto ns = AVPlayerItem::nanoseconds(time);
    if (!ns) {
        logError("AVPlayer::seekToTime: not a numeric time");
        return;
    }
    item->setPositionNs(*ns);
    lastNs_ = item->positionNs();
    item->arrivedAtEnd_ = false;
    ++generation_;
    tickLater(item->currentTime());
    refresh();
}

void AVPlayer::seekToTime(CMTime time, CMTime, CMTime) { seekToTime(time); }

Ref<NSObject> AVPlayer::addPeriodicTimeObserverForInterval(CMTime interval, const dispatch_queue_t& queue,
                                                           std::function<void(CMTime)> block) {
    assertMainThread("AVPlayer::addPeriodicTimeObserverForInterval");
    auto ns = AVPlayerItem::nanoseconds(interval);
    if (!ns || *ns <= 0 || *ns == AVPlayerItem::kEndless || !block) {
        logError("AVPlayer::addPeriodicTimeObserverForInterval: needs a positive interval and a block");
        return nullptr;
    }
    auto o = std::make_shared<TimeObserver>();
    o->owner = this;
    o->queue = queue;
    o->periodic = true;
    o->intervalNs = std::max(*ns, kMinimumIntervalNs);
    o->periodicBlock = std::move(block);
    observers_.push_back(o);
    schedule();
    return o;
}

Ref<NSObject> AVPlayer::addBoundaryTimeObserverForTimes(const std::vector<CMTime>& times,
                                                        const dispatch_queue_t& queue, Block block) {
    assertMainThread("AVPlayer::addBoundaryTimeObserverForTimes");
    std::vector<int64_t> ns;
    for (const CMTime& t : times) {
        auto n = AVPlayerItem::nanoseconds(t);
        if (n && *n >= 0 && *n != AVPlayerItem::kEndless) ns.push_back(*n);
    }
    std::sort(ns.begin(), ns.end());
    ns.erase(std::unique(ns.begin(), ns.end()), ns.end());
    if (ns.empty() || !block) {
        logError("AVPlayer::addBoundaryTimeObserverForTimes: needs numeric times and a block");
        return nullptr;
    }
    auto o = std::make_shared<TimeObserver>();
    o->owner = this;
    o->queue = queue;
    o->times = std::move(ns);
    o->boundaryBlock = std::move(block);
    observers_.push_back(o);
    schedule();
    return o;
}

void AVPlayer::removeTimeObserver(const Ref<NSObject>& observer) {
    assertMainThread("AVPlayer::removeTimeObserver");
    if (!observer) return;
    auto o = std::dynamic_pointer_cast<TimeObserver>(observer);
    if (!o || o->owner != this) {
        logError("AVPlayer::removeTimeObserver: the observer was not added to this player");
        return;
    }
    o->removed = true;
    auto it = std::find(observers_.begin(), observers_.end(), o);
    if (it == observers_.end()) return;
    observers_.erase(it);
    schedule();
}

void AVPlayer::simulateStall() {
    assertMainThread("AVPlayer::simulateStall");
    auto keepAlive = self<AVPlayer>();
    setRate(0);
    NSNotificationCenter::defaultCenter()->postNotificationName(AVPlayerItemPlaybackStalledNotification,
                                                                currentItem());
}

void AVPlayer::simulateFailure(Ref<NSError> error) {
    assertMainThread("AVPlayer::simulateFailure");
    if (!error) error = NSError::errorWithDomain(AVFoundationErrorDomain, AVErrorUnknown);
    {
        std::lock_guard lock(mutex_);
        error_ = std::move(error);
    }
    auto keepAlive = self<AVPlayer>();
    setStatusValue(AVPlayerStatusFailed);
    refresh();
}

void AVPlayer::addLayer(AVPlayerLayer* layer) {
    if (std::find(layers_.begin(), layers_.end(), layer) == layers_.end()) layers_.push_back(layer);
}

void AVPlayer::removeLayer(AVPlayerLayer* layer) { std::erase(layers_, layer); }

void AVPlayer::notifyLayers() {
    auto layers = layers_;
    for (AVPlayerLayer* layer : layers)
        if (std::find(layers_.begin(), layers_.end(), layer) != layers_.end()) layer->playerDidChange();
}

}  // namespace platform
