// Reading a binary property list's long array: what one read of 64,000
// integers costs against one of 16,000. Items found by walking the array from
// its head made that about sixteen times; target: at most eight (linear: four).
#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "platform/foundation/PropertyList.h"

namespace {

using platform::PropertyList;

NSData binaryListOf(int count) {
    Value::Array items;
    for (int i = 0; i < count; ++i) items.push_back(Value(i));
    return *PropertyList::dataWithValue(Value(std::move(items)), PropertyList::Format::Binary);
}

void BM_LongBinaryArrayRead(benchmark::State& state) {
    startBenchPlatform("bench-property-list-read");
    const NSData longer = binaryListOf(64000), shorter = binaryListOf(16000);
    auto read = PropertyList::valueWithData(longer);
    if (!read || read->count() != 64000) return state.SkipWithError("the long list did not read whole");
    auto reading = [](const NSData& bytes) {
        return [&bytes](int) {
            auto value = PropertyList::valueWithData(bytes);
            benchmark::DoNotOptimize(value);
        };
    };
    SideBySide result;
    for (auto _ : state) result = measureSideBySide(reading(longer), reading(shorter));
    reportRatio(state, "ratio_64000_vs_16000", result, 8, "read_64000_ns", "read_16000_ns");
}
BENCHMARK(BM_LongBinaryArrayRead)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
