// The Tamarind tests' fixture: the platform's test fixture with the client's
// classes registered, the log at the debug level, the Tamarind service on
// loopback as the configuration URL's server, and the application key set.
// Also a small template controller (ad type 1, creative type 3, the
// interstitial controllers' metrics) and a delegate that records what the
// controller reports.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/runtime/NSThread.h"
#include "platform/store/StoreClasses.h"
#include "platform/testing/PlatformTest.h"
#include "simulator/TamarindService.h"
#include "tamarind/TMATBaseAdController.h"
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
