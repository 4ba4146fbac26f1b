// Trigger matching: what finding a logged event's callbacks costs per event
// with 10 and with 10,000 trigger keys configured (half event names, half
// parameter triggers), for a mix of matching and unknown events. Target: the
// cost at 10,000 keys at most 1.2 times that at 10.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "analytics/relay/OrreryRelayEventController.h"
#include "analytics/relay/OrreryRelaySettings.h"
#include "bench/BenchSupport.h"

namespace {

Ref<OrreryRelaySettings> settingsWithKeys(int keys) {
    OrreryRelayCallbackEventsMap map;
    for (int i = 0; i < keys; ++i) {
        const std::string name = "Event_" + std::to_string(i);
        if (i % 2) {
            map.appendCallbackId(Value(name), i);
            continue;
        }
        auto trigger = NSObject::alloc<OrreryRelayEventTrigger>()->init();
        trigger->setEventName(name);
        trigger->setEventParamName(std::string("level"));
        trigger->setEventParamValues(std::vector<std::string>{"1", "2", "3"});
        map.appendCallbackId(Value(trigger), i);
    }
    auto settings = NSObject::alloc<OrreryRelaySettings>()->init();
    settings->setCallbackEventsMap(map);
    return settings;
}

struct LoggedEvent {
    std::string name;
    Value params;
};

// Events configured in both set-ups, and one that is not.
std::vector<LoggedEvent> loggedEvents() {
    return {{"Event_0", Value::dictionary({{"level", 2}, {"eventLogId", 1}})},
            {"Event_1", Value::dictionary({{"eventLogId", 2}})},
            {"Event_4", Value::dictionary({{"level", "7"}, {"eventLogId", 3}})},
            {"Event_7", Value::dictionary({{"eventLogId", 4}})},
            {"Purchase", Value::dictionary({{"eventLogId", 5}})}};
}

void BM_MatchingWithManyTriggers(benchmark::State& state) {
    startBenchPlatform("bench-relay-matching");
    auto few = settingsWithKeys(10);
    auto many = settingsWithKeys(10000);
    const auto events = loggedEvents();
    SideBySide result;
    auto matchWith = [&events](const OrreryRelaySettings& settings) {
        return [&events, &settings](int i) {
            const LoggedEvent& event = events[static_cast<size_t>(i) % events.size()];
            auto ids = OrreryRelayEventController::matchedCallbackIds(settings, event.name, event.params);
            benchmark::DoNotOptimize(ids);
        };
    };
    for (auto _ : state)
        result = measureSideBySide(matchWith(*many), matchWith(*few));
    reportRatio(state, "ratio", result, 1.2, "ns_per_event_10000_keys", "ns_per_event_10_keys");
}
BENCHMARK(BM_MatchingWithManyTriggers)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
