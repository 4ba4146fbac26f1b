// Test control of the main run loop on the virtual clock: run passes, move
// time on timer by timer, and wait (in real time) for worker and network
// activity to settle. Call from the main thread.
#pragma once

#include <functional>

namespace platform::testing {

class RunLoopDriver {
public:
    // Each real-time wait lasts `guardScale` times what the call asks: tests
    // pass hangGuardScale() (HangGuard.h), as their waits only guard against
    // a hang; the host and benchmarks wait exactly what they ask.
    explicit RunLoopDriver(double guardScale = 1);

    // Passes until no posted work is left and no timer is due; the clock does not move.
    void drain();
    // Moves the clock to each timer due before now + seconds, in order,
    // firing it and draining after each; then to now + seconds and drains.
    void advance(double seconds);
    // Passes (waiting in real time for posted work) until `predicate` holds;
    // false after the time-out. The clock does not move.
    bool runUntil(const std::function<bool()>& predicate, double realTimeoutSeconds);
    // Drains, then waits in real time until every queue and operation queue
    // is idle, no reported activity (URL transfers) is in flight and nothing
    // is posted, repeating until nothing is left; false on time-out.
    bool settle(double realTimeoutSeconds = 5);

private:
    double guardScale_;
};

}  // namespace platform::testing
