// A page-to-native command round trip through a web view: page script sets
// location, the navigation reaches the delegate as a main-queue task, and the
// delegate evaluates a script back in the page. Reported with the cost of a
// bare engine function call measured in the same run, and their ratio.
#include <JavaScriptCore/JavaScript.h>
#include <benchmark/benchmark.h>

#include <chrono>

#include "bench/BenchSupport.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/web/UIWebView.h"

namespace {

class CommandDelegate : public NSObject, public UIWebViewDelegate {
public:
    int commands = 0;
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType) override {
        if (request.URL()->scheme() != "cmd") return true;
        ++commands;
        webView->stringByEvaluatingJavaScriptFromString("ack()");
        return false;
    }
};

// Nanoseconds per call of a trivial script function through the engine's C API.
double bareCallNanoseconds() {
    JSGlobalContextRef ctx = JSGlobalContextCreate(nullptr);
    JSStringRef source = JSStringCreateWithUTF8CString("(function(x) { return x; })");
    JSObjectRef function = JSValueToObject(ctx, JSEvaluateScript(ctx, source, nullptr, nullptr, 1, nullptr), nullptr);
    JSStringRelease(source);
    JSValueRef argument = JSValueMakeNumber(ctx, 1);
    constexpr int kCalls = 200000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i) {
        JSValueRef result = JSObjectCallAsFunction(ctx, function, nullptr, 1, &argument, nullptr);
        benchmark::DoNotOptimize(result);
    }
    std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    JSGlobalContextRelease(ctx);
    return elapsed.count() / kCalls;
}

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

    double bare = bareCallNanoseconds();
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        view->stringByEvaluatingJavaScriptFromString("send()");
        driver.drain();
    }
    std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    double roundTrip = state.iterations() ? elapsed.count() / static_cast<double>(state.iterations()) : 0;
    if (delegate->commands != static_cast<int>(state.iterations()) ||
        view->stringByEvaluatingJavaScriptFromString("acks") != std::to_string(state.iterations()))
        state.SkipWithError("a command or its answer was lost");
    state.counters["round_trip_ns"] = roundTrip;
    state.counters["bare_call_ns"] = bare;
    state.counters["ratio_to_bare_call"] = bare > 0 ? roundTrip / bare : 0;
}
BENCHMARK(BM_PageToNativeRoundTrip)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
