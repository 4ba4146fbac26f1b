// The Halcyon ad view's command round trip: the ad's page script navigates
// to a "halcyon" command URL ("/close_ad"), the ad view's navigation handler
// recognises it, refuses the load and queues the hide, and the main queue
// drains (the display delegate hears the hide). Reported as a ratio to a bare
// script-engine function call timed side by side with it, on the main
// thread's CPU time (all of it runs there; target: at most 80),
// with the platform's own page-to-native round trip (a delegate that only
// refuses the navigation) beside it. The client runs against the Halcyon
// service on loopback.
#include <benchmark/benchmark.h>

#include "bench/BareScriptCall.h"
#include "bench/BenchSupport.h"
#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLInternalSdkSettings.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/display/HLHtmlAdView.h"
#include "halcyon/display/HalcyonDisplayClasses.h"
#include "platform/runtime/RunLoopDriver.h"
#include "simulator/HalcyonService.h"

namespace {

constexpr double kHLBenchTargetRatio = 80;
constexpr const char* kHLBenchPage =
    "<html><body><script>"
    "function send() { location.href = 'halcyon://com.halcyon.sdk/close_ad'; }"
    "function sendPlain() { location.href = 'cmd://ping'; }"
    "</script></body></html>";

class HLBenchHideCounter : public NSObject, public HLAdDisplayDelegate {
public:
    void adWasDisplayedIn(const Ref<HLAd>&, const Ref<UIView>&) override {}
    void adWasHiddenIn(const Ref<HLAd>&, const Ref<UIView>&) override { ++hides; }
    void adWasClickedIn(const Ref<HLAd>&, const Ref<UIView>&) override {}
    int64_t hides = 0;
};

// The platform's round trip alone: the delegate refuses the command.
class HLBenchPlainDelegate : public NSObject, public UIWebViewDelegate {
public:
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest& request,
                                           UIWebViewNavigationType) override {
        if (request.URL()->scheme() != "cmd") return true;
        ++commands;
        return false;
    }
    int64_t commands = 0;
};

void BM_HalcyonCommandRoundTrip(benchmark::State& state) {
    startBenchPlatform("bench-halcyon");
    platform::testing::RunLoopDriver driver;
    static simulator::HalcyonService service;
    static const bool started = service.start();
    if (!started) return state.SkipWithError("the Halcyon service did not start");
    registerHalcyonDisplayClasses();
    auto settings = NSObject::alloc<HLInternalSdkSettings>()->init();
    settings->putString(service.apiUrl(), kHLSlotApiEndpoint);
    settings->putString(service.adServerUrl(), kHLSlotAdServerEndpoint);
    settings->putString(service.eventUrl(), kHLSlotEventTrackingEndpoint);
    Ref<HLSdk> sdk = HLSdk::sharedWithKey(std::string("BENCHKEY-0123"), settings);
    driver.settle(10);

    auto ad = NSObject::alloc<HLAd>()->init();
    ad->setSize(HLAdSize::sizeBanner());
    ad->setHtmlSource(std::string(kHLBenchPage));
    auto view = HLHtmlAdView::alloc()->initBannerAdWithSdk(sdk);
    auto counter = std::make_shared<HLBenchHideCounter>();
    view->setAdDisplayDelegate(counter);
    view->render(ad);
    driver.settle(10);

    auto plain = UIWebView::alloc();
    plain->initWithFrame(CGRect{{0, 0}, {320, 50}});
    auto plainDelegate = std::make_shared<HLBenchPlainDelegate>();
    plain->setDelegate(plainDelegate);
    plain->loadHTMLString(kHLBenchPage, nullptr);
    driver.drain();

    BareScriptCall script;
    auto webView = view->adWebView();
    SideBySide command, platformTrip;
    for (auto _ : state) {
        command = measureSideBySide(
            [&](int) {
                webView->stringByEvaluatingJavaScriptFromString("send()");
                driver.drain();
            },
            [&](int) { script.call(); });
        platformTrip = measureSideBySide(
            [&](int) {
                plain->stringByEvaluatingJavaScriptFromString("sendPlain()");
                driver.drain();
            },
            [&](int) { script.call(); }, {.rounds = 21});
    }
    if (counter->hides == 0 || plainDelegate->commands == 0) state.SkipWithError("a command was lost");
    reportRatio(state, "ratio", command, kHLBenchTargetRatio, "command_round_trip_ns", "bare_call_ns");
    state.counters["platform_round_trip_ns"] = platformTrip.measuredNs.median;
    state.counters["platform_ratio"] = platformTrip.ratio.median;
}
BENCHMARK(BM_HalcyonCommandRoundTrip)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
