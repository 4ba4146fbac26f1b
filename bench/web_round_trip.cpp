// A page-to-native command round trip through a web view: page script sets
// location, the navigation reaches the delegate as a main-queue task, and the
// delegate evaluates a script back in the page. Reported with the cost of a
// bare engine function call timed side by side with it, and their ratio, on
// the main thread's CPU time (all of it runs there). Target: at most 80 (the Halcyon ad view's command round trip, which
// holds this one, has the same).
#include <benchmark/benchmark.h>

#include "bench/BareScriptCall.h"
#include "bench/BenchSupport.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/web/UIWebView.h"

namespace {

constexpr double kWebRoundTripTargetRatio = 80;

class CommandDelegate : public NSObject, public UIWebViewDelegate {
public:
    int64_t commands = 0;
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType) override {
        if (request.URL()->scheme() != "cmd") return true;
        ++commands;
        webView->stringByEvaluatingJavaScriptFromString("ack()");
        return false;
    }
};

void BM_PageToNativeRoundTrip(benchmark::State& state) {
    startBenchPlatform("bench-web");
    platform::testing::RunLoopDriver driver;
    auto view = UIWebView::alloc();
    view->initWithFrame(CGRect{{0, 0}, {320, 480}});
    auto delegate = std::make_shared<CommandDelegate>();
    view->setDelegate(delegate);
    view->loadHTMLString("<script>var acks = 0; function ack() { acks++; }"
                         "function send() { location.href = 'cmd://ping'; }</script>",
                         nullptr);
    driver.drain();

    BareScriptCall bare;
    int64_t trips = 0;
    SideBySide result;
    for (auto _ : state) {
        result = measureSideBySide(
            [&](int) {
                view->stringByEvaluatingJavaScriptFromString("send()");
                driver.drain();
                ++trips;
            },
            [&](int) { bare.call(); });
    }
    if (delegate->commands != trips || view->stringByEvaluatingJavaScriptFromString("acks") != std::to_string(trips))
        state.SkipWithError("a command or its answer was lost");
    reportRatio(state, "ratio", result, kWebRoundTripTargetRatio, "round_trip_ns", "bare_call_ns");
}
BENCHMARK(BM_PageToNativeRoundTrip)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
