// Runs one scenario of the host program (see host/Scenario.h for what a
// scenario gets and host/scenarios/Scenarios.h for adding one). Before the
// scenario: checks the output folder (OutputFolder), locks it and a kept home
// against a second run (RunLock), readies the output folder, starts each
// service the scenario uses (the embedded simulator, or the URL given) behind
// a recording proxy of the TrafficRecorder (on a kept home, on the ports of
// its last run when they are free: URLs the home stored name them), and
// starts the platform on the chosen clock with every linked client's classes
// registered. After it: writes timeline.txt, client-log.txt, traffic/ and
// sandbox/ (a copy of the application's files) into the output folder. A
// first SIGINT or SIGTERM (RunSignals) ends the scenario early, which then
// still quits the application and writes what it has; a second ends the
// program at once, saying that the output was not written. Nothing it makes under the temporary folder outlives it.
// Main thread; one run per process (ScenarioSuite plays several, each in a
// process of its own).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "host/HostOptions.h"
#include "host/RunLock.h"
#include "host/Scenario.h"
#include "host/Timeline.h"
#include "host/TrafficRecorder.h"
#include "platform/runtime/NSObject.h"

class ScenarioRunner : public ScenarioContext {
public:
    // What --exit-when-idle prints at the first idle main loop, before it ends.
    static constexpr const char* kIdleLine = "host: idle\n";

    explicit ScenarioRunner(HostOptions options);
    ~ScenarioRunner() override;

    // 0 when the scenario ran to its end and its output was written; 128 +
    // the signal (130, 143) when SIGINT or SIGTERM ended it early and its
    // output was written; 1 otherwise (the reason on standard error and in
    // error()).
    int run();
    const std::string& error() const { return error_; }

    // ---- ScenarioContext ----
    const HostOptions& options() const override { return options_; }
    Timeline& timeline() override { return timeline_; }
    TrafficRecorder& recorder() override { return *recorder_; }
    const ScenarioService* service(const std::string& name) const override;
    simulator::TrilliumService* embeddedTrillium() override { return embeddedTrillium_.get(); }
    simulator::RelayService* embeddedRelay() override { return embeddedRelay_.get(); }
    simulator::PartnerService* embeddedPartner() override { return embeddedPartner_.get(); }
    simulator::HalcyonService* embeddedHalcyon() override { return embeddedHalcyon_.get(); }
    simulator::TamarindService* embeddedTamarind() override { return embeddedTamarind_.get(); }
    bool stay(double seconds) override;
    void settle() override;
    bool waitUntil(const std::function<bool()>& predicate, double realSeconds) override;
    bool quitRequested() const override;
    std::string snapshotsFolder() override;

private:
    bool startServices(const std::vector<std::string>& used);
    bool addService(const std::string& name, const std::string& givenUrl, const std::string& embeddedUrl,
                    TrafficRecorder::Labeler labeler, TrafficRecorder::OriginNamer namer = {});
    // A kept home's proxy ports: read before the services start, written
    // once they have (and again at the end, with the https ports made since).
    void readHomePorts();
    void recordHomePorts();
    bool startPlatform();
    // A kept home's runs follow one another on the application clock: a
    // virtual clock starts no earlier than the last run ended.
    void keepHomeClockMonotonic();
    void recordHomeClock();
    // Tells the timeline once why the run ends early.
    void noteQuit();
    bool writeOutput();
    void finish();
    // Removes a temporary sandbox (idempotent).
    void removeTemporarySandbox();
    bool fail(const std::string& message);

    HostOptions options_;
    Timeline timeline_;
    std::unique_ptr<TrafficRecorder> recorder_;
    std::unique_ptr<simulator::TrilliumService> embeddedTrillium_;
    std::unique_ptr<simulator::RelayService> embeddedRelay_;
    std::unique_ptr<simulator::PartnerService> embeddedPartner_;
    std::unique_ptr<simulator::HalcyonService> embeddedHalcyon_;
    std::unique_ptr<simulator::TamarindService> embeddedTamarind_;
    TrafficRecorder::Ports homePorts_;
    bool homePortsUnread_ = false;  // the home's ports file is there but could not be read
    bool homeClockUnread_ = false;  // the home's clock file is there but could not be read
    RunLock homeLock_;
    RunLock outputLock_;
    std::vector<ScenarioService> services_;
    std::vector<Ref<NSObject>> observers_;  // the lifecycle notifications' timeline lines
    std::string sandbox_;
    std::string homeClockNote_;
    bool temporarySandbox_ = false;
    bool platformStarted_ = false;
    bool quitNoted_ = false;
    std::string error_;
};
