// A scenario the host plays, and what the host gives it. The runner has the
// services running behind their recording proxies, the platform started on
// the chosen clock with every linked client's classes registered and the
// output folder checked before play() is called; after it returns (or after a
// quit request ended it early) the runner writes the output folder. A
// scenario launches the application itself (UIApplication::simulateLaunch)
// and lets time pass only through stay(), so that both clocks, the start-up
// benchmark and SIGINT/SIGTERM work alike. Main thread.
#pragma once

#include <functional>
#include <string>

#include "host/HostOptions.h"
#include "host/Timeline.h"

namespace simulator {
class HalcyonService;
class PartnerService;
class RelayService;
class TamarindService;
class TrilliumService;
}  // namespace simulator

class TrafficRecorder;

// A service as the clients reach it: through the recorder's proxy in front of
// the embedded simulator or of the URL given on the command line.
struct ScenarioService {
    std::string name;       // "trillium", "relay", "partner", "halcyon", "tamarind"
    std::string clientUrl;  // what the clients are given
    std::string serviceUrl; // where the service really is
    bool embedded = false;
    // The same through the proxy's https listener, whose test authority the
    // host trusts only for an embedded Halcyon service ("" otherwise).
    std::string secureClientUrl;
};

class ScenarioContext {
public:
    virtual ~ScenarioContext() = default;

    virtual const HostOptions& options() const = 0;
    virtual Timeline& timeline() = 0;
    virtual TrafficRecorder& recorder() = 0;

    // The service of that name (see ScenarioService); null when unknown.
    virtual const ScenarioService* service(const std::string& name) const = 0;
    // The embedded simulators (null when the service was given by URL), for
    // scenarios that script their answers.
    virtual simulator::TrilliumService* embeddedTrillium() = 0;
    virtual simulator::RelayService* embeddedRelay() = 0;
    virtual simulator::PartnerService* embeddedPartner() = 0;
    virtual simulator::HalcyonService* embeddedHalcyon() = 0;
    virtual simulator::TamarindService* embeddedTamarind() = 0;

    // Lets `seconds` of application time pass with the main run loop running
    // (timer by timer on the virtual clock, in real time on the wall clock),
    // letting each step's requests finish first. False when the run is to end
    // (a quit request): the scenario then goes straight to its quit. With
    // --exit-when-idle the first call ends the process at the first idle
    // main loop (the start-up benchmark).
    virtual bool stay(double seconds) = 0;
    // Lets what is under way (requests, posted work) finish, for at most the
    // options' settleSeconds; on the virtual clock the real time waited for
    // network answers passes on the application clock too, so that a
    // time-out shows at its time.
    virtual void settle() = 0;
    // Runs the main loop (the clock stands) until `predicate` holds; false
    // after `realSeconds` or when the run is to end.
    virtual bool waitUntil(const std::function<bool()>& predicate, double realSeconds) = 0;
    virtual bool quitRequested() const = 0;

    // Where the scenario writes PNG snapshots of its screens
    // (<out>/snapshots, created on first use; see snapshotScenarioScreen).
    virtual std::string snapshotsFolder() = 0;
};

class Scenario {
public:
    virtual ~Scenario() = default;
    // Plays the application's side from launch to quit.
    virtual void play(ScenarioContext& context) = 0;
};
