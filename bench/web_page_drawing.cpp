// Drawing hostile pages: for each page of the drawing's bound tests
// (platform/web/tests/HostilePages.h), the processor time one snapshot of a
// web view showing it takes and the most resident memory the process held
// during it over what it held with the page loaded, never below it (text of
// large glyphs at many sizes, and a dense ad that must be drawn, among
// them). Targets: 2 s and 100 MB, for every page; each stops at its bound or
// is drawn within its resource bounds. The drawing is bounded by the
// processor time of the thread that draws (PageContainer), which other
// programs' load does not count, and so is its target; the wall time is
// beside it (wall_seconds).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "bench/BenchSupport.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/testing/ResidentMemory.h"
#include "platform/web/UIWebView.h"
#include "platform/web/tests/HostilePages.h"

namespace {

constexpr double kSnapshotTargetSeconds = 2;
constexpr double kSnapshotTargetMegabytes = 100;

void BM_HostilePageSnapshot(benchmark::State& state, const std::string& name) {
    const std::string& home = startBenchPlatform("bench-web-drawing");
    platform::testing::RunLoopDriver driver;
    std::string html = webtest::hostilePage(name).html;
    if (html.empty()) state.SkipWithError("no such page");
    auto view = UIWebView::alloc();
    view->initWithFrame(CGRect{{0, 0}, {320, 480}});
    view->loadHTMLString(html, nullptr);
    driver.drain();
    html.clear();
    double seconds = 0, wallSeconds = 0, megabytes = 0;
    for (auto _ : state) {
        platform::testing::releaseFreedMemory();
        if (!platform::testing::resetPeakResidentBytes()) state.SkipWithError("the peak resident size cannot be reset");
        // The loaded page, read after the reset: read before it, it could
        // count memory that the engine's threads hand back in between.
        const double before = double(platform::testing::residentBytes());
        const double wallStart = benchNowNanoseconds(BenchClock::Wall);
        const double start = benchNowNanoseconds(BenchClock::ThreadCpu);
        if (!view->renderToPNG(home + "/snapshot.png")) state.SkipWithError("the snapshot was not written");
        seconds = (benchNowNanoseconds(BenchClock::ThreadCpu) - start) / 1e9;
        wallSeconds = (benchNowNanoseconds(BenchClock::Wall) - wallStart) / 1e9;
        // The kernel starts its peak from its running count of the resident
        // size, which lags the exact one by what each processor has not yet
        // added in: a drawing that frees more than it takes can leave a peak
        // read below the loaded page. The page was resident as the drawing
        // started, so the peak is at least that.
        const double peak = std::max(double(platform::testing::peakResidentBytes()), before);
        megabytes = (peak - before) / (1 << 20);
    }
    reportTarget(state, "processor_seconds", seconds, kSnapshotTargetSeconds);
    state.counters["wall_seconds"] = wallSeconds;
    reportTarget(state, "peak_mb", megabytes, kSnapshotTargetMegabytes);
}

const bool kRegistered = [] {
    for (const char* name : webtest::kHostilePageNames)
        benchmark::RegisterBenchmark((std::string("BM_HostilePageSnapshot/") + name).c_str(),
                                     [name](benchmark::State& state) { BM_HostilePageSnapshot(state, name); })
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
