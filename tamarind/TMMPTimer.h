// A main-run-loop timer that can be paused, keeping the time left, and
// resumed. The target is held weakly: once it is gone, the timer fires no
// more and invalidates itself. Main thread (invalidate from any thread).
#pragma once

#include <functional>
#include <memory>

#include "platform/foundation/Value.h"
#include "platform/foundation/NSTimer.h"

class TMMPTimer : public NSObject {
public:
    template <class T>
    static Ref<TMMPTimer> timerWithTimeInterval(double seconds, const Ref<T>& target, void (T::*selector)(),
                                                const Value& userInfo, bool repeats) {
        Weak<T> weak = target;
        return make(seconds, repeats, userInfo, [weak, selector]() {
            auto held = weak.lock();
            if (!held) return false;
            ((*held).*selector)();
            return true;
        });
    }
    ~TMMPTimer() override;

    // Adds the timer to the current run loop in the common modes (once); its
    // first firing is one interval later.
    void scheduleNow();
    // Ends it for good; idempotent.
    void invalidate();
    // Stops a scheduled timer and remembers the time left; resume continues
    // it. Either does nothing in the wrong state.
    void pause();
    void resume();

    bool isValid() const;
    bool isScheduled() const { return scheduled_; }
    bool isPaused() const { return paused_; }
    double timeInterval() const { return interval_; }
    const Value& userInfo() const { return userInfo_; }

private:
    // The callback answers false once its target is gone.
    static Ref<TMMPTimer> make(double seconds, bool repeats, const Value& userInfo, std::function<bool()> callback);

    Ref<NSTimer> timer_;
    double interval_ = 0;
    Value userInfo_;
    bool scheduled_ = false;
    bool paused_ = false;
    double timeLeft_ = 0;
};
