// What the benchmark programs share: the platform started once per process
// on a fresh home folder (removed when the program ends) and the virtual
// clock, with its log lines dropped; a piece of work timed side by side with
// its reference; and the counters `./run bench` reads: a counter
// "<x>_target" holds the most that counter "<x>" may be, and "<x>_low" and
// "<x>_high", when there, the quartiles of the repeated measurements whose
// median "<x>" is; "<x>_load" and "<x>_processors", when there, the load a
// row timed on the wall clock ran under; a label "<x>: <why>" explains a
// target "<x>" misses.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
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

// Repeated measurements of one quantity: their median, and the quartiles
// between which the middle half of them lie.
struct BenchSpread {
    double median = 0;
    double low = 0;
    double high = 0;
};

inline BenchSpread spreadOf(std::vector<double> samples) {
    if (samples.empty()) return {};
    std::sort(samples.begin(), samples.end());
    auto quantile = [&samples](double q) {
        const double position = q * static_cast<double>(samples.size() - 1);
        const auto below = static_cast<size_t>(position);
        if (below + 1 >= samples.size()) return samples.back();
        const double fraction = position - static_cast<double>(below);
        return samples[below] + (samples[below + 1] - samples[below]) * fraction;
    };
    return {quantile(0.5), quantile(0.25), quantile(0.75)};
}

// What a round is timed on. The calling thread's CPU time leaves out the
// time other programs hold the processor, so that a busy machine weighs on
// it far less: for work done on the calling thread alone (a main loop
// drained there included). Wall time, for work that waits on other threads
// or processes.
enum class BenchClock { ThreadCpu, Wall };

inline double benchNowNanoseconds(BenchClock clock) {
    if (clock == BenchClock::Wall)
        return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now().time_since_epoch()).count();
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// How a side-by-side measurement is made: its rounds, how long each side of
// a round runs (the number of calls is found from it), and the clock. A side
// of about 10 ms holds the work's occasional costs (a collection, a cache
// refilled) as their average does, while the two sides of a round still see
// the same machine; 61 rounds (about 1.2 s) keep the median still from run
// to run on a busy machine.
struct SideBySideOptions {
    int rounds = 61;
    double roundMilliseconds = 10;
    BenchClock clock = BenchClock::ThreadCpu;
};

// Nanoseconds per call of the measured work and of its reference, the
// medians over the rounds, and their ratio: the median of each round's own
// ratio, so that the two sides it compares ran moments apart on the same
// machine.
struct SideBySide {
    BenchSpread measuredNs;
    BenchSpread referenceNs;
    BenchSpread ratio;
};

namespace bench_detail {

// Nanoseconds that `calls` calls of `work` (each given its index) take.
template <class Work>
double timeCalls(Work& work, int calls, BenchClock clock) {
    const double start = benchNowNanoseconds(clock);
    for (int i = 0; i < calls; ++i) work(i);
    return benchNowNanoseconds(clock) - start;
}

// The calls that fill `nanoseconds`, found from ever longer runs; the first
// ones warm the work up.
template <class Work>
int callsFilling(Work& work, double nanoseconds, BenchClock clock) {
    constexpr int kMostCalls = 1 << 24;
    int calls = 1;
    for (;;) {
        const double spent = timeCalls(work, calls, clock);
        if (spent >= nanoseconds / 4 || calls >= kMostCalls) {
            const double scaled = static_cast<double>(calls) * nanoseconds / std::max(spent, 1.0);
            return static_cast<int>(std::clamp(scaled, 1.0, static_cast<double>(kMostCalls)));
        }
        calls *= 4;
    }
}

}  // namespace bench_detail

// Times `measured` and `reference` (callables given the call's index within
// the round) side by side: each round runs one and then the other, which
// goes first alternating, each for about options.roundMilliseconds.
template <class Measured, class Reference>
SideBySide measureSideBySide(Measured measured, Reference reference, SideBySideOptions options = {}) {
    using bench_detail::timeCalls;
    const double roundNs = options.roundMilliseconds * 1e6;
    const int measuredCalls = bench_detail::callsFilling(measured, roundNs, options.clock);
    const int referenceCalls = bench_detail::callsFilling(reference, roundNs, options.clock);
    std::vector<double> measuredRounds, referenceRounds, ratios;
    for (int round = 0; round < options.rounds; ++round) {
        double measuredNs = 0, referenceNs = 0;
        if (round % 2 == 0) {
            measuredNs = timeCalls(measured, measuredCalls, options.clock) / measuredCalls;
            referenceNs = timeCalls(reference, referenceCalls, options.clock) / referenceCalls;
        } else {
            referenceNs = timeCalls(reference, referenceCalls, options.clock) / referenceCalls;
            measuredNs = timeCalls(measured, measuredCalls, options.clock) / measuredCalls;
        }
        measuredRounds.push_back(measuredNs);
        referenceRounds.push_back(referenceNs);
        ratios.push_back(referenceNs > 0 ? measuredNs / referenceNs : 0);
    }
    return {spreadOf(measuredRounds), spreadOf(referenceRounds), spreadOf(ratios)};
}

// A measured value and the most it may be.
inline void reportTarget(benchmark::State& state, const std::string& name, double value, double target) {
    state.counters[name] = value;
    state.counters[name + "_target"] = target;
}

// The median of repeated measurements, with their quartiles, and the most
// the median may be.
inline void reportTarget(benchmark::State& state, const std::string& name, const BenchSpread& value, double target) {
    reportTarget(state, name, value.median, target);
    state.counters[name + "_low"] = value.low;
    state.counters[name + "_high"] = value.high;
}

// The machine's load while a row timed on the wall clock ran: a wall time
// counts the time other programs hold the processors, so such a row says
// what it ran beside. sample() reads the tasks running or waiting for a
// processor, this one included: what the load average averages, read now,
// so that the mean of a row's readings is its own load and not that of the
// minute before it.
struct BenchLoad {
    double sum = 0;
    int readings = 0;

    void sample() {
        std::ifstream file("/proc/loadavg");
        double minute = 0, fiveMinutes = 0, fifteenMinutes = 0;
        int runnable = 0;
        if (!(file >> minute >> fiveMinutes >> fifteenMinutes >> runnable)) return;
        sum += runnable;
        ++readings;
    }
    double average() const { return readings > 0 ? sum / readings : 0; }
};

// A median timed on the wall clock, with its quartiles, the most it may be
// and the load it ran under. Its verdict is its better quartile's: the
// rounds that other programs slowed least are the ones that tell the work's
// own time. Past as many tasks as processors, no round had the processors
// to itself: a better quartile over its target is then said with the load,
// not judged.
inline void reportWallTarget(benchmark::State& state, const std::string& name, const BenchSpread& value, double target,
                             const BenchLoad& load) {
    reportTarget(state, name, value, target);
    state.counters[name + "_load"] = load.average();
    state.counters[name + "_processors"] = std::thread::hardware_concurrency();
}

// Why counter `name` misses its target by design, and what that buys:
// `./run bench` prints it under its table wherever the row is over. One per
// benchmark (it is the benchmark's label).
inline void explainTarget(benchmark::State& state, const std::string& name, const std::string& why) {
    state.SetLabel(name + ": " + why);
}

// A side-by-side measurement's counters: its ratio, with its spread and the
// most it may be, and the median time per call of each side.
inline void reportRatio(benchmark::State& state, const std::string& ratioName, const SideBySide& result, double target,
                        const std::string& measuredName, const std::string& referenceName) {
    reportTarget(state, ratioName, result.ratio, target);
    state.counters[measuredName] = result.measuredNs.median;
    state.counters[referenceName] = result.referenceNs.median;
}
