// Memory per web view: the resident memory that a web view with a loaded ad
// page adds to the process, against what a bare script context adds (both
// made through the platform's public classes, in one run: UIWebView with
// loadHTMLString, JSContext::alloc()->init()), as a ratio. Each is the
// growth of the process's resident set over kInstances live ones, after a
// full garbage collection, divided by their number; one of each is made and
// dropped first, so that code and the engine's first heap pages are counted
// in neither. Target: a loaded web view at most 16 times a bare context.
// Each web view has an engine heap of its own (about a megabyte as it
// starts), so that its page's heap can be measured and held to its budget
// alone; bare contexts share one heap.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/web/JSContext.h"
#include "platform/web/JSVirtualMachine.h"
#include "platform/web/UIWebView.h"

namespace {

constexpr int kInstances = 40;
constexpr double kWebViewMemoryTargetRatio = 16;

// A creative as ad servers send them: a styled block, an image, a link and
// a script that listens for the page's events.
constexpr const char* kWebViewMemoryPage =
    "<html><head><meta name=\"viewport\" content=\"width=device-width\"><style>"
    "body { margin: 0; background: #2b1a4a; color: #e8e0ff; } .cta { padding: 8px; }</style></head><body>"
    "<div id=\"ad\"><h1>Haunted House Tours</h1><img src=\"ghost.png\" width=\"300\" height=\"200\">"
    "<p>Spectral readings near you.</p><a class=\"cta\" href=\"https://example.com/book\">Book now</a></div>"
    "<script>var shown = 0; document.addEventListener('DOMContentLoaded', function () { shown++; });"
    "function state() { return JSON.stringify({shown: shown, title: document.title}); }</script></body></html>";

// The process's resident set, in bytes.
double residentBytes() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

Ref<UIWebView> loadedWebView(platform::testing::RunLoopDriver& driver) {
    auto view = UIWebView::alloc();
    view->initWithFrame(CGRect{{0, 0}, {320, 480}});
    view->loadHTMLString(kWebViewMemoryPage, nullptr);
    driver.drain();
    return view;
}

Ref<JSContext> bareContext() {
    auto context = JSContext::alloc()->init();
    context->evaluateScript("1");
    return context;
}

// Bytes the process grows by per instance while `count` made by `make` live.
template <class Make>
double bytesPerInstance(Make make) {
    platform::testing::collectScriptGarbageNow();
    const double before = residentBytes();
    std::vector<decltype(make())> live;
    for (int i = 0; i < kInstances; ++i) live.push_back(make());
    platform::testing::collectScriptGarbageNow();
    return (residentBytes() - before) / kInstances;
}

void BM_WebViewMemory(benchmark::State& state) {
    startBenchPlatform("bench-web-memory");
    platform::testing::RunLoopDriver driver;
    double context = 0, view = 0;
    for (auto _ : state) {
        bareContext();
        loadedWebView(driver);
        context = bytesPerInstance(bareContext);
        view = bytesPerInstance([&] { return loadedWebView(driver); });
    }
    if (context <= 0 || view <= 0) state.SkipWithError("the resident set did not grow: nothing to compare");
    state.counters["context_kib"] = context / 1024;
    state.counters["web_view_kib"] = view / 1024;
    reportTarget(state, "ratio", context > 0 ? view / context : 0, kWebViewMemoryTargetRatio);
}
BENCHMARK(BM_WebViewMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
