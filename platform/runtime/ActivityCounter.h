// Counts work in flight off the main thread (queued blocks, operations, URL
// transfers) so the test driver can wait until everything has settled.
// Post any main-thread follow-up before decrementing, so the driver never
// sees an idle moment in between.
#pragma once

#include <cstdint>

namespace platform::runtime {

class ActivityCounter {
public:
    static void increment();
    // Wakes the main thread when the count reaches zero.
    static void decrement();
    static int64_t count();
};

// Holds one unit of activity for its lifetime.
class ActivityToken {
public:
    ActivityToken() { ActivityCounter::increment(); }
    ~ActivityToken() { ActivityCounter::decrement(); }
    ActivityToken(const ActivityToken&) = delete;
    ActivityToken& operator=(const ActivityToken&) = delete;
};

}  // namespace platform::runtime
