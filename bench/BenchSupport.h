// What the benchmark programs share: the platform started once per process
// on a fresh home folder (removed when the program ends) and the virtual
// clock, with its log lines dropped; the timing of a measured piece of work
// against its reference; and the counters `./run bench` reads: a counter
// "<x>_target" holds the most that counter "<x>" may be.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/QuietPlatform.h"

// Starts the platform (once; later calls do nothing) and returns its home
// folder, which is removed when the program exits.
inline const std::string& startBenchPlatform(const char* name) {
    static const std::string home = [name] {
        std::string folder = platform::startQuietPlatform(name);
        static std::string removed;
        removed = folder;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(removed, ec);
        });
        return folder;
    }();
    return home;
}

// A measured value and the most it may be.
inline void reportTarget(benchmark::State& state, const std::string& name, double value, double target) {
    state.counters[name] = value;
    state.counters[name + "_target"] = target;
}

// Median nanoseconds per call of `measured` and of `reference`, timed in
// rounds that alternate between the two, so that both see the same machine.
template <class Measured, class Reference>
std::pair<double, double> alternatingMedianNanoseconds(int calls, int rounds, Measured measured, Reference reference) {
    auto time = [calls](auto& work) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i) work(i);
        std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
        return elapsed.count() / calls;
    };
    std::vector<double> measuredRounds, referenceRounds;
    for (int round = 0; round < rounds; ++round) {
        measuredRounds.push_back(time(measured));
        referenceRounds.push_back(time(reference));
    }
    std::sort(measuredRounds.begin(), measuredRounds.end());
    std::sort(referenceRounds.begin(), referenceRounds.end());
    return {measuredRounds[measuredRounds.size() / 2], referenceRounds[referenceRounds.size() / 2]};
}

// The pair's counters: both times, and their ratio with the most it may be.
inline void reportRatio(benchmark::State& state, const char* measuredName, double measured, const char* referenceName,
                        double reference, double target) {
    state.counters[measuredName] = measured;
    state.counters[referenceName] = reference;
    reportTarget(state, "ratio", reference > 0 ? measured / reference : 0, target);
}
