// The Tamarind tests' fixture: the platform's test fixture with the client's
// classes registered, the log at the debug level, the Tamarind service on
// loopback as the configuration URL's server, and the application key set.
// Also a small template controller (ad type 1, creative type 3, the
// interstitial controllers' metrics) and a delegate that records what the
// controller reports. For the template renderer's pages: containers in the
// key window, creatives that record what their page sees, and the delegates
// that record what containers and calculators report.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/NSThread.h"
#include "platform/store/StoreClasses.h"
#include "platform/testing/PlatformTest.h"
#include "simulator/TamarindService.h"
#include "tamarind/TMATBaseAdController.h"
#include "tamarind/TMATBridgeManager.h"
#include "tamarind/TMATInterstitialAdContainer.h"
#include "tamarind/TMAdConfiguration.h"
#include "tamarind/TMLog.h"
#include "tamarind/TamarindAdRegistration.h"
#include "tamarind/TamarindClasses.h"

inline constexpr const char* kTamarindTestAppKey = "tm-test-key";

class TamarindTest : public platform::testing::PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        platform::registerStoreClasses();
        registerTamarindClasses();
        TMLog::setLogLevel(TMLogLevel::Debug);
        profile().advertisingIdentifier = "6D92078A-8246-4BA4-AE5B-76104861E7DC";
        ASSERT_TRUE(service.start());
        TMAdConfiguration::sharedAMAdConfiguration()->setConfigurationURL(service.configurationURL());
        ASSERT_TRUE(TamarindAdRegistration::sharedRegistration()->setApplicationId(kTamarindTestAppKey));
    }
    void TearDown() override {
        service.stop();
        PlatformTest::TearDown();
    }

    // Runs the main loop (real time for network answers) until `done` holds.
    bool waitFor(const std::function<bool()>& done) { return driver().runUntil(done, 10); }
    bool waitForRequests(std::string_view path, size_t count) {
        return waitFor([&] { return service.requestsTo(path).size() >= count; });
    }
    // Fetches the configuration from the service and waits for it.
    void loadConfiguration() {
        bool done = false;
        TMAdConfiguration::sharedAMAdConfiguration()->bootstrapConfigurationOnSuccess(
            [&done] { done = true; }, [&done](Ref<NSError>) { done = true; });
        ASSERT_TRUE(waitFor([&] { return done; }));
        ASSERT_TRUE(TMAdConfiguration::sharedAMAdConfiguration()->isCurrent());
    }

    simulator::TamarindService service;
};

// Records, in order, what a template controller reports, and on which thread.
class RecordingControllerDelegate : public NSObject, public TMATBaseAdControllerDelegate {
public:
    void controllerDidLoadAd() override { record("didLoad"); }
    void controllerFailedToLoadAd(Ref<NSError> error) override {
        record("failed");
        errors.push_back(error);
    }
    Ref<UIViewController> viewControllerForPresentingModalView() override { return presenter; }
    PLATFORM_RESPONDS_TO("viewControllerForPresentingModalView")

    void record(std::string event) {
        events.push_back(std::move(event));
        if (!NSThread::isMainThread()) offMain = true;
    }
    Ref<NSError> lastError() const { return errors.empty() ? nullptr : errors.back(); }

    std::vector<std::string> events;
    std::vector<Ref<NSError>> errors;
    Ref<UIViewController> presenter;
    bool offMain = false;
};

// A template controller as the interstitial controllers are: ad type 1,
// creative type 3 only, and their metrics; it reports a load at once.
class TestTemplateController : public TMATBaseAdController {
public:
    int adType() override { return 1; }
    bool handlesAdCreativeType(int type) override { return type == 3; }
    bool isControllerReadyToLoadAd() override { return ready; }
    void recordMetricsOnLoadAttempt() override {
        metricTracker()->incrementCounter(104, adModel());
        metricTracker()->incrementCounter(102, adModel());
        metricTracker()->startTimer(2, adModel());
    }
    void modelLoadedSuccessfully(Ref<TMAJSBridgesEnabled> bridges) override {
        loadedBridges = bridges;
        submitMetricsOnSuccess();
        if (auto d = delegate()) d->controllerDidLoadAd();
    }
    void submitMetricsOnSuccess() override {
        metricTracker()->stopTimer(2, adModel());
        metricTracker()->submitMetricsForObject(adModel());
    }
    void submitMetricsOnFailure() override {
        metricTracker()->stopTimer(4, adModel());
        metricTracker()->incrementCounter(106, adModel());
        metricTracker()->submitMetricsForObject(adModel());
    }
    void openPrivateUrl(Ref<NSURL> url) override { privateUrls.push_back(url); }

    bool ready = true;
    Ref<TMAJSBridgesEnabled> loadedBridges;
    std::vector<Ref<NSURL>> privateUrls;
};

// Records what a container reports, in order: "close", "prerendered",
// "prerenderFailed <code>", "rendered".
class RecordingContainerDelegate : public NSObject, public TMATInterstitialAdContainerDelegate {
public:
    void closeButtonPressed() override { events.push_back("close"); }
    PLATFORM_RESPONDS_TO("closeButtonPressed")
    void interstitialDidPrerender() override { events.push_back("prerendered"); }
    void interstitialDidFailToPrerenderWithError(Ref<NSError> error) override {
        events.push_back("prerenderFailed " + std::to_string(error ? error->code() : 0));
    }
    void interstitialDidRender() override { events.push_back("rendered"); }
    void interstitialDidFailToRenderWithError(Ref<NSError>) override { events.push_back("renderFailed"); }
    void interstitialDidClickOnPrivateURL(const std::string&) override { events.push_back("privateURL"); }

    std::vector<std::string> events;
};

// A page prelude for test creatives: `record(...)` appends its arguments to
// `seen`, which seenJSON reads back.
inline constexpr const char* kTamarindRecordingPrelude =
    "<script>var seen = []; function record() { seen.push(Array.prototype.slice.call(arguments)); }</script>";

// A creative's script (after the recording prelude) that records the MRAID
// state and placement while the page's scripts run, then every MRAID event
// with the state seen by its listener and its arguments.
inline constexpr const char* kTamarindMraidRecorder =
    "<script>record('script', mraid.getState(), mraid.getPlacementType());"
    "['error', 'info', 'ready', 'stateChange', 'viewableChange', 'sizeChange'].forEach(function (name) {"
    "  mraid.addEventListener(name, function () {"
    "    record.apply(null, [name, mraid.getState()].concat(Array.prototype.slice.call(arguments))); });"
    "});</script>";

// Template containers in the key window, loaded with test creatives.
class TamarindPageTest : public TamarindTest {
protected:
    void SetUp() override {
        TamarindTest::SetUp();
        controller = TMATBaseAdController::adControllerWithDelegate<TestTemplateController>(nullptr);
    }

    // An interstitial container of the frame in the key window.
    Ref<TMATInterstitialAdContainer> addContainer(CGRect frame = CGRect{{0, 0}, {320, 480}}) {
        auto container = TMATBaseAdContainer::containerWithFrame<TMATInterstitialAdContainer>(frame);
        window()->addSubview(container);
        return container;
    }
    static Ref<TMAJSBridgesEnabled> flags(bool mraid, bool tamarind, bool viewability) {
        auto enabled = TMAJSBridgesEnabled::defaultJSBridgesEnabled();
        enabled->setMraid(mraid);
        enabled->setTamarind(tamarind);
        enabled->setViewability(viewability);
        return enabled;
    }
    // Loads the recording prelude and the body with the bridges of the flags
    // (kept by the test's controller), and lets the page finish.
    Ref<TMATBridgeManager> load(const Ref<TMATBaseAdContainer>& container, const std::string& body,
                                const Ref<TMAJSBridgesEnabled>& enabled = flags(false, true, true)) {
        auto bridges = TMATBridgeManager::bridgeManager(enabled, controller);
        controller->setBridgeManager(bridges);
        controller->setAdContainer(container);
        container->setDelegate(controller);
        container->loadHTMLString(std::string(kTamarindRecordingPrelude) + body, nullptr, bridges);
        driver().drain();
        return bridges;
    }
    static std::string eval(const Ref<TMATBaseAdContainer>& container, const std::string& script) {
        return container->webView()->stringByEvaluatingJavaScriptFromString(script);
    }
    static std::string seenJSON(const Ref<TMATBaseAdContainer>& container) {
        return eval(container, "JSON.stringify(seen)");
    }
    // Stores a viewability script as the configuration's download does.
    static void storeViewabilityScript(const std::string& script) {
        NSUserDefaults::standardUserDefaults()->setObject(Value(script), "TamarindAd:ViewabilityJSKey");
    }

    Ref<TestTemplateController> controller;
};

// Pages with the MRAID recorder, whose expansions the root view controller presents.
class TamarindMraidPageTest : public TamarindPageTest {
protected:
    void SetUp() override {
        TamarindPageTest::SetUp();
        presenterDelegate = NSObject::alloc<RecordingControllerDelegate>();
        presenterDelegate->presenter = rootViewController();
        controller->setDelegate(presenterDelegate);
    }
    // A container loaded with the MRAID recorder (and `body`), its record cleared.
    Ref<TMATInterstitialAdContainer> loadMraid(const Ref<TMATInterstitialAdContainer>& container,
                                               const std::string& body = "",
                                               const Ref<TMAJSBridgesEnabled>& enabled = flags(true, false, false)) {
        bridges = load(container, std::string(kTamarindMraidRecorder) + body, enabled);
        eval(container, "seen = [];");
        return container;
    }
    Ref<TMATMraidBridge> mraid() const { return bridges->mraidBridge(); }
    // Runs the script, lets its events arrive, and returns what the page
    // recorded meanwhile (viewability changes left out: the measurement
    // timer runs on its own).
    std::string run(const Ref<TMATBaseAdContainer>& container, const std::string& script) {
        eval(container, "seen = [];" + script);
        driver().drain();
        return seenButViewability(container);
    }
    // The page's record without viewability changes: a measurement's overlap
    // pass hops through a global queue and is judged when it comes back, so
    // a screen shown over the ad makes it unviewable for a while.
    static std::string seenButViewability(const Ref<TMATBaseAdContainer>& container) {
        return eval(container, "JSON.stringify(seen.filter(function (e) { return e[0] !== 'viewableChange'; }))");
    }

    Ref<RecordingControllerDelegate> presenterDelegate;
    Ref<TMATBridgeManager> bridges;
};
