#include "tamarind/TMMPTimer.h"

#include <algorithm>

#include "platform/runtime/Clock.h"
#include "platform/runtime/NSRunLoop.h"
#include "tamarind/TMLog.h"

Ref<TMMPTimer> TMMPTimer::make(double seconds, bool repeats, const Value& userInfo, std::function<bool()> callback) {
    auto wrapper = NSObject::alloc<TMMPTimer>();
    wrapper->interval_ = seconds;
    wrapper->userInfo_ = userInfo;
    wrapper->timer_ = NSTimer::timerWithTimeInterval(seconds, repeats, [callback](Ref<NSTimer> timer) {
        if (!callback()) timer->invalidate();
    });
    return wrapper;
}

TMMPTimer::~TMMPTimer() {
    if (timer_) timer_->invalidate();
}

void TMMPTimer::scheduleNow() {
    if (scheduled_ || !timer_->isValid()) return;
    scheduled_ = true;
    TMLog::logDebug("Scheduled a timer of %.3f s.", interval_);
    // Counted from the scheduling, not from the timer's creation.
    timer_->setFireTimeIntervalSince1970(platform::Clock::current()->now() + interval_);
    NSRunLoop::currentRunLoop()->addTimer(timer_, NSRunLoopCommonModes);
}

void TMMPTimer::invalidate() { timer_->invalidate(); }

bool TMMPTimer::isValid() const { return timer_->isValid(); }

void TMMPTimer::pause() {
    if (!scheduled_ || paused_ || !timer_->isValid()) return;
    double now = platform::Clock::current()->now();
    timeLeft_ = std::max(0.0, timer_->fireTimeIntervalSince1970() - now);
    paused_ = true;
    timer_->setFireDate(NSDate::distantFuture());
}

void TMMPTimer::resume() {
    if (!paused_ || !timer_->isValid()) return;
    paused_ = false;
    timer_->setFireTimeIntervalSince1970(platform::Clock::current()->now() + timeLeft_);
}
