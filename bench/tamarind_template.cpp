// The Tamarind template renderer's hot paths: the covered fraction of N
// overlapping rectangles and one whole viewability measurement with N opaque
// views above the ad (N = 1 … 1024, with the complexity fit), a page script
// calling a bridge method, and a viewability event delivered to a page
// listener. The last two are reported against a bare engine function call
// measured in the same run. Targets: the cost per rectangle or view at
// N = 1024 within 2× of that at N = 16; a bridge call under 10× a bare call;
// an event under 100× (the three on the main thread's CPU time). BM_Ratios,
// registered last, reports the ratios.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <map>
#include <random>

#include "bench/BareScriptCall.h"
#include "bench/BenchSupport.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"
#include "tamarind/TMATBaseAdController.h"
#include "tamarind/TMATBaseBridge.h"
#include "tamarind/TMATBridgeManager.h"
#include "tamarind/TMATInterstitialAdContainer.h"
#include "tamarind/TMAViewabilityCalculation.h"

namespace {

// Nanoseconds per item, by benchmark and N, for BM_Ratios.
std::map<std::string, std::map<int64_t, double>> gPerItem;
double gBareCall = 0;
double gBridgeCall = 0;
double gEvent = 0;

Ref<UIWindow> gWindow;

void startPlatform() {
    static bool started = [] {
        startBenchPlatform("bench-tamarind");
        registerUIClasses();
        gWindow = UIWindow::alloc();
        gWindow->initWithFrame(UIScreen::mainScreen()->bounds());
        gWindow->makeKeyAndVisible();
        return true;
    }();
    (void)started;
}

double elapsedNanoseconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

// CPU time of the calling thread: the bare call, the bridge call and the
// event run on the main thread alone, so their ratios do not move with the
// machine's load.
double threadNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// CPU nanoseconds per bare script call.
double bareCallNanoseconds() {
    BareScriptCall bare;
    constexpr int kCalls = 200000;
    double start = threadNanoseconds();
    for (int i = 0; i < kCalls; ++i) bare.call();
    return (threadNanoseconds() - start) / kCalls;
}

// N rectangles of 40–200 × 20–120 points, overlapping, inside a 320 × 250 ad.
std::vector<CGRect> overlappingRectangles(int64_t n) {
    std::mt19937 random(42);
    std::uniform_real_distribution<float> x(0, 280), y(0, 230), w(40, 200), h(20, 120);
    std::vector<CGRect> rects;
    for (int64_t i = 0; i < n; ++i) {
        CGRect r = CGRectMake(x(random), y(random), w(random), h(random));
        rects.push_back(CGRectIntersection(r, CGRectMake(0, 0, 320, 250)));
    }
    return rects;
}

void BM_CoveredFraction(benchmark::State& state) {
    const int64_t n = state.range(0);
    auto rects = overlappingRectangles(n);
    const CGRect visible = CGRectMake(0, 0, 320, 250);
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(TMAViewabilityCalculator::calculateOverlapPercentage(visible, rects));
    gPerItem["rect"][n] = elapsedNanoseconds(start) / static_cast<double>(state.iterations()) / static_cast<double>(n);
    state.SetComplexityN(n);
}
BENCHMARK(BM_CoveredFraction)->RangeMultiplier(2)->Range(1, 1024)->Complexity()->Unit(benchmark::kMicrosecond);

class BenchViewabilityRecorder : public NSObject, public TMAViewabilityCalculationDelegate {
public:
    void viewabilityOfAdView(float percentage, CGRect) override {
        ++reports;
        last = percentage;
    }
    int reports = 0;
    float last = 0;
};

void BM_WholeMeasurement(benchmark::State& state) {
    startPlatform();
    platform::testing::RunLoopDriver driver;
    const int64_t n = state.range(0);
    auto ad = UIView::alloc()->initWithFrame(CGRectMake(0, 100, 320, 250));
    gWindow->addSubview(ad);
    std::vector<Ref<UIView>> covers;
    for (const auto& r : overlappingRectangles(n)) {
        auto cover = UIView::alloc()->initWithFrame(CGRectOffset(r, 0, 100));
        cover->setBackgroundColor(UIColor::blackColor());
        gWindow->addSubview(cover);
        covers.push_back(cover);
    }
    auto recorder = std::make_shared<BenchViewabilityRecorder>();
    auto calculation = NSObject::alloc<TMAViewabilityCalculation>()->initWithAdView(ad);
    calculation->setDelegate(recorder);
    driver.drain();

    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        int before = recorder->reports;
        calculation->triggerViewabilityCalculation();
        driver.runUntil([&] { return recorder->reports > before; }, 10);
    }
    gPerItem["view"][n] = elapsedNanoseconds(start) / static_cast<double>(state.iterations()) / static_cast<double>(n);
    if (recorder->reports != static_cast<int>(state.iterations())) state.SkipWithError("a measurement was lost");
    state.counters["percentage"] = recorder->last;
    state.SetComplexityN(n);
    for (const auto& cover : covers) cover->removeFromSuperview();
    ad->removeFromSuperview();
    driver.drain();
}
BENCHMARK(BM_WholeMeasurement)->RangeMultiplier(2)->Range(1, 1024)->Complexity()->Unit(benchmark::kMicrosecond);

// A loaded template page with the tamarind and viewability bridges.
struct BenchPage {
    Ref<TMATBaseAdController> controller = NSObject::alloc<TMATBaseAdController>();
    Ref<TMATInterstitialAdContainer> container =
        TMATBaseAdContainer::containerWithFrame<TMATInterstitialAdContainer>(CGRectMake(0, 0, 320, 480));
    Ref<TMATBridgeManager> bridges;

    explicit BenchPage(platform::testing::RunLoopDriver& driver, const std::string& body) {
        controller->init();
        auto enabled = TMAJSBridgesEnabled::defaultJSBridgesEnabled();
        enabled->setTamarind(true);
        enabled->setViewability(true);
        bridges = TMATBridgeManager::bridgeManager(enabled, controller);
        gWindow->addSubview(container);
        container->loadHTMLString(body, nullptr, bridges);
        driver.drain();
    }
    ~BenchPage() { container->removeFromSuperview(); }
    std::string eval(const std::string& script) { return container->webView()->stringByEvaluatingJavaScriptFromString(script); }
};

void BM_BridgeCallFromPage(benchmark::State& state) {
    startPlatform();
    platform::testing::RunLoopDriver driver;
    BenchPage page(driver, "<script>function calls(n) { var v; for (var i = 0; i < n; i++) v = tamarind.getVersion();"
                           " return v; }</script>");
    gBareCall = bareCallNanoseconds();
    constexpr int kCalls = 1000;
    double start = threadNanoseconds();
    for (auto _ : state)
        if (page.eval("calls(" + std::to_string(kCalls) + ")") != "2.0") state.SkipWithError("the bridge answered wrong");
    gBridgeCall = (threadNanoseconds() - start) / static_cast<double>(state.iterations()) / kCalls;
    state.counters["bridge_call_ns"] = gBridgeCall;
    state.counters["bare_call_ns"] = gBareCall;
}
BENCHMARK(BM_BridgeCallFromPage)->Unit(benchmark::kMicrosecond);

void BM_EventToPageListener(benchmark::State& state) {
    startPlatform();
    platform::testing::RunLoopDriver driver;
    BenchPage page(driver, "<script>var heard = 0; tamarindmobileadsviewablebridge.addEventListener(Event.Viewability,"
                           " function (r) { heard += r.isAdOnScreen; });</script>");
    auto bridge = page.bridges->viewabilityBridge();
    // Per delivered event, in batches as large as the bridge lets wait for
    // delivery (more are dropped, by design, until the page catches up).
    constexpr int kEvents = static_cast<int>(TMATBaseBridge::kMaximumPendingEvents);
    double start = threadNanoseconds();
    for (auto _ : state) {
        for (int i = 0; i < kEvents; ++i) bridge->sendViewabilityPercentage(50, true, CGRectMake(0, 0, 320, 480));
        driver.drain();
    }
    const double spent = threadNanoseconds() - start;
    const int64_t sent = static_cast<int64_t>(state.iterations()) * kEvents;
    const int64_t delivered = std::stoll("0" + page.eval("heard"));
    gEvent = delivered > 0 ? spent / static_cast<double>(delivered) : 0;
    if (delivered != sent)
        state.SkipWithError(("the bridge delivered " + std::to_string(delivered) + " of " + std::to_string(sent) +
                             " events sent within its limit")
                                .c_str());
    state.counters["event_ns"] = gEvent;
    state.counters["events_delivered"] = static_cast<double>(delivered);
}
BENCHMARK(BM_EventToPageListener)->Unit(benchmark::kMicrosecond);

void BM_Ratios(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(gBareCall);
    auto scaling = [&](const char* what) {
        auto& perN = gPerItem[what];
        return perN.count(16) && perN.count(1024) && perN[16] > 0 ? perN[1024] / perN[16] : 0;
    };
    reportTarget(state, "rect_cost_1024_vs_16", scaling("rect"), 2);
    reportTarget(state, "view_cost_1024_vs_16", scaling("view"), 2);
    reportTarget(state, "bridge_call_vs_bare", gBareCall > 0 ? gBridgeCall / gBareCall : 0, 10);
    reportTarget(state, "event_vs_bare", gBareCall > 0 ? gEvent / gBareCall : 0, 100);
}
BENCHMARK(BM_Ratios)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
