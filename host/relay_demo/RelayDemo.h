// The Relay part of the demo: the Relay configuration server and a partner
// played on loopback, the analytics client pointed at them, and a run that
// logs a matching event, lets the failing partner be retried on the virtual
// clock and waits for the callback report, telling each step as a readable
// timeline line.
//
// Preconditions: the platform is initialised on the virtual clock, and the
// calls come from the main thread. prepare() runs before
// Orrery::startSession (it installs the Relay hooks and switches Relay on,
// which the client reads when it starts); run() after it. Without the
// virtual clock prepare() refuses (the retry waits 90 s of application time).
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
};

struct RelayDemoResult {
    bool configured = false;      // the configuration was fetched and stored
    bool eventMatched = false;    // the logged event fired the partner callback
    int partnerAttempts = 0;
    bool retried = false;         // a failed attempt was sent again after its delay
    double retryDelaySeconds = 0; // the first retry's delay, virtual seconds
    bool reportPosted = false;    // a callback report reached the report endpoint
    size_t reportBytes = 0;
    std::vector<RelayDemoAttempt> attempts;
};

class RelayDemo {
public:
    using TimelineSink = std::function<void(const std::string&)>;

    // The event the demo logs and the partner callback's path.
    static constexpr const char* kEventName = "sighting_logged";
    static constexpr const char* kCallbackPath = "/cb";
    static constexpr int64_t kCallbackId = 7;

    explicit RelayDemo(TimelineSink timeline);
    // Removes the Relay hooks and drops Relay's singletons (when prepared),
    // then stops both services: destroy it after the scenario's last session
    // event and before the process exits.
    ~RelayDemo();
    RelayDemo(const RelayDemo&) = delete;
    RelayDemo& operator=(const RelayDemo&) = delete;

    // Starts both services, serves the configuration (the partner answers
    // 500, then 200), installs the Relay hooks and switches Relay on with
    // the service's configuration URL. False (told on the timeline) when the
    // clock is not virtual or a service cannot start.
    bool prepare();

    // After Orrery::startSession. Waits for the configuration, logs the
    // event, advances the clock through each retry delay and waits for the
    // report. With `outDir`, writes both services' exchanges into
    // outDir/relay/config-server/ and outDir/relay/partner/.
    RelayDemoResult run(platform::testing::RunLoopDriver& driver, const std::string& outDir = {});

    simulator::RelayService& relayService() { return relay_; }
    simulator::PartnerService& partner() { return partner_; }

private:
    void tell(const std::string& line) const;
    bool waitFor(platform::testing::RunLoopDriver& driver, const std::function<bool()>& predicate);
    void writeRecords(const std::string& outDir);

    TimelineSink timeline_;
    simulator::RelayService relay_;
    simulator::PartnerService partner_;
    bool prepared_ = false;
};
