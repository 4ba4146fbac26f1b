// One analytics session: its start, its end (none while it runs) and the
// time it spent paused in the background. Sessions are tracked in memory;
// the session code (Orrery) makes and ends them on its session queue, other
// threads may read them.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "platform/runtime/NSDate.h"
#include "platform/runtime/NSObject.h"

class OrrerySession : public NSObject {
public:
    static constexpr int kAgentVersion = 187;
    static int getAgentVersion() { return kAgentVersion; }

    // The running (or paused) session, or null.
    static Ref<OrrerySession> currentSession();
    static void setCurrentSession(Ref<OrrerySession> session);

    Ref<OrrerySession> initWithStartTime(const NSDate& startTime);

    NSDate startTime() const;
    // Nothing while the session runs; the pause time while it is paused.
    std::optional<NSDate> endTime() const;
    void setEndTime(std::optional<NSDate> endTime);
    // When the current pause began; nothing while the session runs.
    std::optional<NSDate> pauseTime() const;
    void setPauseTime(std::optional<NSDate> pauseTime);
    bool isPaused() const { return pauseTime().has_value(); }
    // The total time of the pauses the session came back from, in ms.
    int64_t totalBackgroundTimeMillis() const;
    void addBackgroundTime(double seconds);

private:
    mutable std::mutex mutex_;
    NSDate startTime_;
    std::optional<NSDate> endTime_;
    std::optional<NSDate> pauseTime_;
    int64_t totalBackgroundTimeMillis_ = 0;
};
