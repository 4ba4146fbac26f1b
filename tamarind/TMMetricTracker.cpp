#include "tamarind/TMMetricTracker.h"

#include <cmath>

#include "platform/foundation/NSString.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SaturatingCast.h"
#include "tamarind/TMAWebRequestFactory.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMLog.h"

namespace {

bool isTimerId(int metric) { return metric >= TMAWire::kFirstTimer && metric <= TMAWire::kLastTimer; }
bool isCounterId(int metric) { return metric >= TMAWire::kFirstCounter && metric <= TMAWire::kLastCounter; }

bool acceptTimerMetric(int metric, const Ref<NSObject>& object) {
    if (!object) return false;
    if (isTimerId(metric)) return true;
    TMLog::logWarn("Timer metric %d is out of range; it is not recorded.", metric);
    return false;
}

bool acceptCounterMetric(int metric, const Ref<NSObject>& object) {
    if (!object) return false;
    if (isCounterId(metric)) return true;
    TMLog::logWarn("Counter metric %d is out of range; it is not recorded.", metric);
    return false;
}

}  // namespace

std::string TMMetricTracker::metricName(int metric) {
    for (const auto& entry : TMAWire::kMetricNames)
        if (entry.id == metric) return entry.name;
    return (isTimerId(metric) ? "t" : "c") + std::to_string(metric);
}

TMMetricTracker::Metrics& TMMetricTracker::entryLocked(const Ref<NSObject>& object) {
    std::erase_if(metrics_, [](const auto& entry) { return entry.second.owner.expired(); });
    auto [it, inserted] = metrics_.try_emplace(object.get());
    if (inserted) it->second.owner = object;
    return it->second;
}

const TMMetricTracker::Metrics* TMMetricTracker::findLocked(const Ref<NSObject>& object) const {
    auto it = metrics_.find(object.get());
    if (it == metrics_.end() || it->second.owner.expired()) return nullptr;
    return &it->second;
}

void TMMetricTracker::startTimer(int metric, const Ref<NSObject>& object) {
    if (!acceptTimerMetric(metric, object)) return;
    std::scoped_lock lock(mutex_);
    entryLocked(object).running[metric] = platform::Clock::current()->uptime();
}

void TMMetricTracker::stopTimer(int metric, const Ref<NSObject>& object) {
    if (!acceptTimerMetric(metric, object)) return;
    double now = platform::Clock::current()->uptime();
    std::scoped_lock lock(mutex_);
    Metrics& metrics = entryLocked(object);
    auto it = metrics.running.find(metric);
    if (it == metrics.running.end()) return;
    metrics.timers[metric] = platform::saturatingCast<int64_t>(std::round((now - it->second) * 1000));
    metrics.running.erase(it);
}

void TMMetricTracker::incrementCounter(int metric, const Ref<NSObject>& object) {
    if (!acceptCounterMetric(metric, object)) return;
    std::scoped_lock lock(mutex_);
    ++entryLocked(object).counters[metric];
}

void TMMetricTracker::setCounter(int metric, int64_t count, const Ref<NSObject>& object) {
    if (!acceptCounterMetric(metric, object)) return;
    std::scoped_lock lock(mutex_);
    entryLocked(object).counters[metric] = count;
}

void TMMetricTracker::setPixelUrl(const std::optional<std::string>& url, const Ref<NSObject>& object) {
    if (!object) return;
    std::scoped_lock lock(mutex_);
    Metrics& metrics = entryLocked(object);
    metrics.pixelUrl = url && !url->empty() ? url : std::nullopt;
}

std::optional<std::string> TMMetricTracker::pixelURL(const std::string& base, const std::map<int, int64_t>& timers,
                                                     const std::map<int, int64_t>& counters) {
    if (timers.empty() && counters.empty()) return std::nullopt;
    std::string url = base;
    if (!url.empty() && url.back() != '?' && url.back() != '&') url += url.find('?') == std::string::npos ? '?' : '&';
    bool first = true;
    for (const auto* table : {&timers, &counters}) {
        for (const auto& [metric, value] : *table) {
            if (!first) url += '&';
            first = false;
            url += metricName(metric) + "=" + std::to_string(value);
        }
    }
    return url;
}

std::optional<std::string> TMMetricTracker::instrumentationPixelForObject(const Ref<NSObject>& object) const {
    std::scoped_lock lock(mutex_);
    const Metrics* metrics = findLocked(object);
    if (!metrics || !metrics->pixelUrl) return std::nullopt;
    return pixelURL(*metrics->pixelUrl, metrics->timers, metrics->counters);
}

std::optional<int64_t> TMMetricTracker::metricValue(int metric, const Ref<NSObject>& object) const {
    std::scoped_lock lock(mutex_);
    const Metrics* metrics = findLocked(object);
    if (!metrics) return std::nullopt;
    const auto& table = isTimerId(metric) ? metrics->timers : metrics->counters;
    auto it = table.find(metric);
    if (it == table.end()) return std::nullopt;
    return it->second;
}

void TMMetricTracker::submitMetricsForObject(const Ref<NSObject>& object) {
    if (!object) return;
    std::optional<std::string> url;
    {
        std::scoped_lock lock(mutex_);
        Metrics& metrics = entryLocked(object);
        if (metrics.pixelUrl) url = pixelURL(*metrics.pixelUrl, metrics.timers, metrics.counters);
        metrics.running.clear();
        metrics.timers.clear();
        metrics.counters.clear();
    }
    if (!url) {
        TMLog::logDebug("No instrumentation pixel to send for %@.", object);
        return;
    }
    auto request = TMAWebRequestFactory::initWebRequest();
    request->setUrlString(url);
    request->makeCallWithCompletionBlock([sent = *url](Ref<TMAWebResponse>, Ref<NSError> error, int64_t status) {
        if (error || status != 200)
            TMLog::logDebug("Instrumentation pixel %@ failed: %@ (status %lld)", platform::urlForLog(sent),
                            error ? error->localizedDescription() : std::string("-"), status);
    });
}
