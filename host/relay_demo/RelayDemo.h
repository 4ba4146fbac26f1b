// The Relay part of the demo: the Relay configuration server and a partner
// (the simulator's, or given by URL), the analytics client pointed at them,
// and a run that logs a matching event, lets the failing partner be retried
// after its delay and waits for the callback report, telling each step as a
// readable timeline line. It reads its progress from the exchanges that
// passed (the host's recorder, or the embedded services' own records) and
// from the client's stored state, so it plays the same story on either clock
// and on a home reused from an earlier run, and says plainly when it cannot.
//
// Preconditions: the platform is initialised and the calls come from the main
// thread. prepare() runs before Orrery::startSession (it installs the Relay
// hooks and switches Relay on, which the client reads when it starts); run()
// after it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/runtime/RunLoopDriver.h"
#include "simulator/PartnerService.h"
#include "simulator/RelayService.h"

struct RelayDemoAttempt {
    int status = 0;               // 0 when no answer went back
    double virtualTime = 0;       // seconds of the application clock since 1970, when it was seen
    // The client counted it as a delivery (unknown: a status from 200 to 399).
    bool delivered = false;
};

struct RelayDemoResult {
    bool configured = false;      // a configuration was fetched in this run and stored
    bool eventMatched = false;    // the logged event fired the partner callback
    int partnerAttempts = 0;
    bool retried = false;         // a failed attempt was sent again after its delay
    double retryDelaySeconds = 0; // the first retry's delay, application seconds
    bool reportPosted = false;    // a callback report reached the report endpoint
    size_t reportBytes = 0;
    std::vector<RelayDemoAttempt> attempts;
};

// One exchange with a Relay service, as the demo follows it.
struct RelayDemoExchange {
    enum class Kind { Config, Report, Partner };
    Kind kind = Kind::Config;
    std::string method;
    std::string target;       // "/path?query" as sent
    int status = 0;           // 0: no answer (yet)
    std::string requestBody;
    size_t responseBytes = 0;  // the answer's body, as the service sent it
    std::string error;         // why the answer did not pass whole ("" when it did or is unknown)
};

// How the demo lets time pass and waits, so that the host can run it on
// either clock and end it early.
class RelayDemoPace {
public:
    virtual ~RelayDemoPace() = default;
    // Lets `seconds` of application time pass with the main run loop running;
    // false when the run is to end.
    virtual bool letTimePass(double seconds) = 0;
    // Runs the main loop until `predicate` holds; false after `realSeconds`
    // or when the run is to end.
    virtual bool waitUntil(const std::function<bool()>& predicate, double realSeconds) = 0;
};

// The pace of the tests: the virtual clock moved by a RunLoopDriver.
class VirtualRelayDemoPace : public RelayDemoPace {
public:
    explicit VirtualRelayDemoPace(platform::testing::RunLoopDriver& driver) : driver_(driver) {}
    bool letTimePass(double seconds) override;
    bool waitUntil(const std::function<bool()>& predicate, double realSeconds) override;

private:
    platform::testing::RunLoopDriver& driver_;
};

class RelayDemo {
public:
    using TimelineSink = std::function<void(const std::string&)>;
    using ExchangeSource = std::function<std::vector<RelayDemoExchange>()>;

    // The event the demo logs and the partner callback's path.
    static constexpr const char* kEventName = "sighting_logged";
    static constexpr const char* kCallbackPath = "/cb";
    static constexpr int64_t kCallbackId = 7;

    // The services and where the client reaches them. The embedded services
    // (null when the host reaches that service elsewhere) are scripted; empty
    // URLs are the embedded services' own.
    struct Endpoints {
        simulator::RelayService* configServer = nullptr;
        simulator::PartnerService* partner = nullptr;
        std::string configUrl;   // the configuration endpoint the client is given
        std::string reportUrl;   // the report endpoint the embedded configuration names
        std::string partnerUrl;  // the partner base the embedded configuration names
    };

    explicit RelayDemo(TimelineSink timeline);
    // Removes the Relay hooks and drops Relay's singletons (when prepared):
    // destroy it after the scenario's last session event and before the
    // platform shuts down.
    ~RelayDemo();
    RelayDemo(const RelayDemo&) = delete;
    RelayDemo& operator=(const RelayDemo&) = delete;

    // Serves the embedded configuration (when there is a configuration
    // server: one callback to the partner, which answers 500, then 200),
    // installs the Relay hooks and switches Relay on with the configuration
    // URL. False (told) when there is no configuration endpoint.
    bool prepare(const Endpoints& endpoints);
    // Where run() reads what passed; default: the embedded services' records.
    void setExchangeSource(ExchangeSource source) { source_ = std::move(source); }

    // After Orrery::startSession. Waits for the configuration, logs the
    // event, lets each retry delay pass and waits for the report.
    RelayDemoResult run(RelayDemoPace& pace);

private:
    void tell(const std::string& line) const;
    std::vector<RelayDemoExchange> exchanges(RelayDemoExchange::Kind kind);
    // After a partner's answer of status 200 to 299 (attempt `number`): what
    // the client recorded of it, as a phrase for the attempt's line ("" for a
    // plain delivery); `delivered` false when the client counts it failed.
    std::string successVerdict(RelayDemoPace& pace, const RelayDemoExchange& call, int64_t number, bool& delivered);
    std::vector<RelayDemoExchange> embeddedExchanges();

    TimelineSink timeline_;
    simulator::RelayService* relay_ = nullptr;
    simulator::PartnerService* partner_ = nullptr;
    ExchangeSource source_;
    bool prepared_ = false;
};
