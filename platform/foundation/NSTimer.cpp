#include "platform/foundation/NSTimer.h"

namespace platform {

Ref<NSTimer> NSTimer::make(double seconds, bool repeats, TimerBlock block, Value userInfo) {
    auto timer = std::make_shared<NSTimer>();
    timer->userInfo_ = std::move(userInfo);
    Callback callback;
    if (block)
        callback = [block = std::move(block)](const Ref<RunLoopTimer>& fired) {
            block(std::static_pointer_cast<NSTimer>(fired));
        };
    timer->configure(seconds, repeats, std::move(callback));
    return timer;
}

Ref<NSTimer> NSTimer::timerWithTimeInterval(double seconds, bool repeats, TimerBlock block) {
    return make(seconds, repeats, std::move(block), Value());
}

Ref<NSTimer> NSTimer::scheduledTimerWithTimeInterval(double seconds, bool repeats, TimerBlock block) {
    auto timer = make(seconds, repeats, std::move(block), Value());
    schedule(timer);
    return timer;
}

}  // namespace platform
