// The Tamarind template renderer's hot paths: the covered fraction of N
// overlapping rectangles and one whole viewability measurement with N opaque
// views above the ad (N = 1 … 1024, with the complexity fit), a page script
// calling a bridge method, and a viewability event delivered to a page
// listener. Each target is a ratio timed side by side in one run, on the main
// thread's CPU time: the cost per rectangle or view at N = 1024 within 2× of
// that at N = 16; a bridge call under 10× a bare engine function call; an
// event under 100×.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

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

// The scaling targets compare N = 1024 with N = 16: a call of the reference
// handles 64 sets of 16, so that both sides handle 1024 items a call.
constexpr int64_t kManyItems = 1024;
constexpr int64_t kFewItems = 16;
constexpr int kFewSetsPerCall = kManyItems / kFewItems;

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

constexpr CGRect kAdBounds = {{0, 0}, {320, 250}};

float coveredFraction(const std::vector<CGRect>& rects) {
    return TMAViewabilityCalculator::calculateOverlapPercentage(kAdBounds, rects);
}

void BM_CoveredFraction(benchmark::State& state) {
    const int64_t n = state.range(0);
    auto rects = overlappingRectangles(n);
    for (auto _ : state) benchmark::DoNotOptimize(coveredFraction(rects));
    state.SetComplexityN(n);
}
BENCHMARK(BM_CoveredFraction)->RangeMultiplier(2)->Range(1, 1024)->Complexity()->Unit(benchmark::kMicrosecond);

void BM_CoveredFractionScaling(benchmark::State& state) {
    const auto many = overlappingRectangles(kManyItems);
    const auto few = overlappingRectangles(kFewItems);
    SideBySide result;
    for (auto _ : state) {
        result = measureSideBySide([&](int) { benchmark::DoNotOptimize(coveredFraction(many)); },
                                   [&](int) {
                                       for (int i = 0; i < kFewSetsPerCall; ++i)
                                           benchmark::DoNotOptimize(coveredFraction(few));
                                   });
    }
    reportTarget(state, "rect_cost_1024_vs_16", result.ratio, 2);
}
BENCHMARK(BM_CoveredFractionScaling)->Iterations(1)->Unit(benchmark::kMillisecond);

class BenchViewabilityRecorder : public NSObject, public TMAViewabilityCalculationDelegate {
public:
    void viewabilityOfAdView(float percentage, CGRect) override {
        ++reports;
        last = percentage;
    }
    int reports = 0;
    float last = 0;
};

// An ad under N opaque views, in a frame of its own at `top` in the window
// (views elsewhere in the window lie outside it, so no walk looks inside).
class CoveredAd {
public:
    CoveredAd(platform::testing::RunLoopDriver& driver, int64_t n, CGFloat top)
        : driver_(driver), frame_(UIView::alloc()->initWithFrame(CGRectOffset(kAdBounds, 0, top))) {
        gWindow->addSubview(frame_);
        auto ad = UIView::alloc()->initWithFrame(kAdBounds);
        frame_->addSubview(ad);
        for (const auto& r : overlappingRectangles(n)) {
            auto cover = UIView::alloc()->initWithFrame(r);
            cover->setBackgroundColor(UIColor::blackColor());
            frame_->addSubview(cover);
        }
        calculation_ = NSObject::alloc<TMAViewabilityCalculation>()->initWithAdView(ad);
        calculation_->setDelegate(recorder_);
        driver_.drain();
    }
    ~CoveredAd() {
        frame_->removeFromSuperview();
        driver_.drain();
    }
    CoveredAd(const CoveredAd&) = delete;
    CoveredAd& operator=(const CoveredAd&) = delete;

    // One whole measurement, to the report; false when none came.
    bool measure() {
        const int before = recorder_->reports;
        calculation_->triggerViewabilityCalculation();
        return driver_.runUntil([&] { return recorder_->reports > before; }, 10);
    }
    float lastPercentage() const { return recorder_->last; }

private:
    platform::testing::RunLoopDriver& driver_;
    Ref<UIView> frame_;
    Ref<TMAViewabilityCalculation> calculation_;
    std::shared_ptr<BenchViewabilityRecorder> recorder_ = std::make_shared<BenchViewabilityRecorder>();
};

void BM_WholeMeasurement(benchmark::State& state) {
    startPlatform();
    platform::testing::RunLoopDriver driver;
    const int64_t n = state.range(0);
    CoveredAd ad(driver, n, 100);
    bool lost = false;
    for (auto _ : state) lost |= !ad.measure();
    if (lost) state.SkipWithError("a measurement was lost");
    state.counters["percentage"] = ad.lastPercentage();
    state.SetComplexityN(n);
}
BENCHMARK(BM_WholeMeasurement)->RangeMultiplier(2)->Range(1, 1024)->Complexity()->Unit(benchmark::kMicrosecond);

void BM_WholeMeasurementScaling(benchmark::State& state) {
    startPlatform();
    platform::testing::RunLoopDriver driver;
    CoveredAd many(driver, kManyItems, 0);
    CoveredAd few(driver, kFewItems, 300);
    bool lost = false;
    SideBySide result;
    for (auto _ : state) {
        result = measureSideBySide([&](int) { lost |= !many.measure(); },
                                   [&](int) {
                                       for (int i = 0; i < kFewSetsPerCall; ++i) lost |= !few.measure();
                                   });
    }
    if (lost) state.SkipWithError("a measurement was lost");
    reportTarget(state, "view_cost_1024_vs_16", result.ratio, 2);
}
BENCHMARK(BM_WholeMeasurementScaling)->Iterations(1)->Unit(benchmark::kMillisecond);

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
    BareScriptCall bare;
    constexpr int kCalls = 1000;
    const std::string script = "calls(" + std::to_string(kCalls) + ")";
    bool wrong = false;
    SideBySide result;
    for (auto _ : state) {
        result = measureSideBySide([&](int) { wrong |= page.eval(script) != "2.0"; },
                                   [&](int) {
                                       for (int i = 0; i < kCalls; ++i) bare.call();
                                   });
    }
    if (wrong) state.SkipWithError("the bridge answered wrong");
    reportTarget(state, "bridge_call_vs_bare", result.ratio, 10);
    state.counters["bridge_call_ns"] = result.measuredNs.median / kCalls;
    state.counters["bare_call_ns"] = result.referenceNs.median / kCalls;
}
BENCHMARK(BM_BridgeCallFromPage)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_EventToPageListener(benchmark::State& state) {
    startPlatform();
    platform::testing::RunLoopDriver driver;
    BenchPage page(driver, "<script>var heard = 0; tamarindmobileadsviewablebridge.addEventListener(Event.Viewability,"
                           " function (r) { heard += r.isAdOnScreen; });</script>");
    auto bridge = page.bridges->viewabilityBridge();
    BareScriptCall bare;
    // Per delivered event, in batches as large as the bridge lets wait for
    // delivery (more are dropped, by design, until the page catches up).
    constexpr int kEvents = static_cast<int>(TMATBaseBridge::kMaximumPendingEvents);
    int64_t sent = 0;
    SideBySide result;
    for (auto _ : state) {
        result = measureSideBySide(
            [&](int) {
                for (int i = 0; i < kEvents; ++i) bridge->sendViewabilityPercentage(50, true, CGRectMake(0, 0, 320, 480));
                driver.drain();
                sent += kEvents;
            },
            [&](int) {
                for (int i = 0; i < kEvents; ++i) bare.call();
            });
    }
    const int64_t delivered = std::stoll("0" + page.eval("heard"));
    if (delivered != sent)
        state.SkipWithError(("the bridge delivered " + std::to_string(delivered) + " of " + std::to_string(sent) +
                             " events sent within its limit")
                                .c_str());
    reportTarget(state, "event_vs_bare", result.ratio, 100);
    state.counters["event_ns"] = result.measuredNs.median / kEvents;
    state.counters["events_delivered"] = static_cast<double>(delivered);
}
BENCHMARK(BM_EventToPageListener)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
