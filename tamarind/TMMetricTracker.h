// The Tamarind client's instrumentation: timers (ids 0–18) and counters (ids
// 100–124) kept per object (by identity; an object that went away leaves its
// metrics behind unsent), and the object's instrumentation pixel URL. A
// submit appends the object's metrics to its pixel URL, sends it, and clears
// the metrics; the URL stays until replaced. Any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/runtime/NSObject.h"

class TMMetricTracker : public NSObject {
public:
    // Starting a running timer starts it again.
    void startTimer(int metric, const Ref<NSObject>& object);
    // Records the milliseconds since the start; a timer that was not started
    // records nothing.
    void stopTimer(int metric, const Ref<NSObject>& object);
    void incrementCounter(int metric, const Ref<NSObject>& object);
    void setCounter(int metric, int64_t count, const Ref<NSObject>& object);
    // nullopt or "" forgets the URL.
    void setPixelUrl(const std::optional<std::string>& url, const Ref<NSObject>& object);
    // Sends the object's pixel when it has a URL and at least one metric;
    // clears its metrics (running timers too) either way.
    void submitMetricsForObject(const Ref<NSObject>& object);

    // The pixel URL a submit would send now; nullopt when it would send none.
    std::optional<std::string> instrumentationPixelForObject(const Ref<NSObject>& object) const;
    // A recorded counter or stopped timer; nullopt when there is none.
    std::optional<int64_t> metricValue(int metric, const Ref<NSObject>& object) const;

    // "<url>?" or "<url>&" followed by "name=value" pairs (stopped timers,
    // then counters, by id); nullopt without metrics.
    static std::optional<std::string> pixelURL(const std::string& base, const std::map<int, int64_t>& timers,
                                               const std::map<int, int64_t>& counters);
    // The short name of a metric id ("al", "lfnt", …).
    static std::string metricName(int metric);

private:
    struct Metrics {
        Weak<const NSObject> owner;
        std::map<int, double> running;  // start uptimes
        std::map<int, int64_t> timers;  // milliseconds
        std::map<int, int64_t> counters;
        std::optional<std::string> pixelUrl;
    };
    // The object's entry (made when missing); prunes entries of objects that went away.
    Metrics& entryLocked(const Ref<NSObject>& object);
    const Metrics* findLocked(const Ref<NSObject>& object) const;

    mutable std::mutex mutex_;  // guards metrics_
    std::map<const void*, Metrics> metrics_;
};
