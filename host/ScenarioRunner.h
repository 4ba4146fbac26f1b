// The host program's scenario: starts the clients' services (the embedded
// simulator on loopback unless URLs are given) behind the traffic recorder,
// starts the platform on the chosen clock with every linked client's classes
// registered, and plays the application's life: launch, a stay in the
// foreground, a long stay in the background (long enough for a new Trillium
// session), the return, and the quit. Then it writes the output folder:
// timeline.txt, traffic/ (see TrafficRecorder) and sandbox/ (a copy of the
// application's files). Main thread; one run per process.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "host/HostOptions.h"
#include "host/Timeline.h"
#include "host/TrafficRecorder.h"
#include "platform/runtime/NSObject.h"

namespace simulator {
class TrilliumService;
}

class HostAppDelegate;
class RelayDemo;

class ScenarioRunner {
public:
    // How long the scenario stays in each state (seconds of the application clock).
    static constexpr double kForegroundStay = 30;
    static constexpr double kBackgroundStay = 600;  // over the 300 s after which a new session starts
    static constexpr double kStayAfterReturn = 30;

    explicit ScenarioRunner(HostOptions options);
    ~ScenarioRunner();

    // 0 when the scenario ran and its output was written; 1 otherwise (the
    // reason on standard error and in error()).
    int run();
    const std::string& error() const { return error_; }

    // Ends the stays early and goes on to the quit (async-signal-safe).
    static void requestQuit();

private:
    bool startServices();
    bool startPlatform();
    void observeLifecycle();
    void playScenario();
    // Lets the application clock pass while the main run loop runs.
    void stay(double seconds);
    // Lets what is under way (requests, posted work) finish; the clock stands.
    void settle();
    bool writeOutput();
    void finish();
    bool fail(const std::string& message);

    HostOptions options_;
    Timeline timeline_;
    std::unique_ptr<TrafficRecorder> recorder_;
    std::unique_ptr<simulator::TrilliumService> embeddedTrillium_;
    // The analytics client's Relay part (virtual clock only): its configuration
    // server and a partner on loopback, prepared before the session starts.
    std::unique_ptr<RelayDemo> relayDemo_;
    std::string trilliumUrl_;  // what the client is given: the recorder's proxy
    std::string sandbox_;
    bool temporarySandbox_ = false;
    bool platformStarted_ = false;
    Ref<HostAppDelegate> delegate_;
    std::vector<Ref<NSObject>> observers_;
    std::string error_;
};
