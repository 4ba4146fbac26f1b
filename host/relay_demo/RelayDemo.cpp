#include "host/relay_demo/RelayDemo.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "analytics/Orrery.h"
#include "analytics/OrreryClasses.h"
#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/relay/OrreryRelayCBReportSender.h"
#include "analytics/relay/OrreryRelayCallbackAttemptInfo.h"
#include "analytics/relay/OrreryRelayCallbackReportManager.h"
#include "analytics/relay/OrreryRelayClasses.h"
#include "analytics/relay/OrreryRelayEventController.h"
#include "platform/runtime/NSDate.h"
#include "platform/runtime/Clock.h"

namespace {

using simulator::Answer;
using simulator::RecordedRequest;

// Real seconds allowed for loopback exchanges to finish at each step.
constexpr double kNetworkWaitSeconds = 5;

double virtualNow() { return NSDate::date().timeIntervalSince1970(); }

// The status code of a recorded answer ("HTTP/1.1 500 ..."); 0 when none went back.
int statusOf(const RecordedRequest& request) {
    const std::string& response = request.response;
    size_t space = response.find(' ');
    if (space == std::string::npos) return 0;
    return std::atoi(response.c_str() + space + 1);
}

// The retry delay of the partner attempt waiting in the client's Relay URL
// map, in seconds; 0 when none waits.
int32_t pendingRetryDelay() {
    int32_t delay = 0;
    OrreryGlobalPersistentManager::sharedInstance()->processReadOperationSync(
        OrreryPersistentMap::RelayUrls, [&](const ValueDictionary& urls) {
            for (const auto& [hash, value] : urls)
                if (auto attempt = value.object<OrreryRelayCallbackAttemptInfo>(); attempt && !attempt->beingFired())
                    delay = attempt->repeatDuration();
        });
    return delay;
}

bool triggerRecorded(const std::string& eventName) {
    auto manager = OrreryRelayCallbackReportManager::sharedInstance();
    manager->waitForArchiving();
    for (const auto& trigger : manager->triggers())
        if (trigger->eventName() == eventName && !trigger->callbacks().empty()) return true;
    return false;
}

std::string describeAttempts(const simulator::RelayReport& report) {
    std::string text;
    size_t count = 0;
    for (const auto& trigger : report.triggers)
        for (const auto& callback : trigger.callbacks)
            for (const auto& attempt : callback.attempts) {
                text += (count++ ? ", #" : "#") + std::to_string(attempt.attemptNumber) + " " +
                        std::to_string(attempt.httpStatus) + (attempt.finalAttempt ? " (final)" : "");
            }
    return std::to_string(count) + " attempt(s): " + text;
}

}  // namespace

RelayDemo::RelayDemo(TimelineSink timeline) : timeline_(std::move(timeline)) {}

RelayDemo::~RelayDemo() {
    // The Relay singletons installed by prepare() go first: left to static
    // destruction, the controller would outlive the notification center it
    // unregisters from.
    if (prepared_) {
        OrreryRelayEventController::cleanup();
        OrreryRelayCallbackReportManager::cleanup();
        OrreryRelayCBReportSender::cleanup();
    }
    partner_.stop();
    relay_.stop();
}

void RelayDemo::tell(const std::string& line) const {
    if (timeline_) timeline_(line);
}

bool RelayDemo::waitFor(platform::testing::RunLoopDriver& driver, const std::function<bool()>& predicate) {
    driver.settle(kNetworkWaitSeconds);
    return predicate() || driver.runUntil(predicate, kNetworkWaitSeconds);
}

bool RelayDemo::prepare() {
    if (!platform::Clock::current()->isVirtual()) {
        tell("Relay demo skipped: it needs the virtual clock");
        return false;
    }
    if (!relay_.start() || !partner_.start()) {
        tell("Relay demo skipped: a loopback service could not start");
        return false;
    }
    registerOrreryClasses();
    registerOrreryRelayClasses();

    // The partner fails once, then accepts.
    partner_.script(kCallbackPath, {Answer::withStatus(500, "partner busy"), Answer::ok()});

    simulator::RelayConfigCallback callback;
    callback.partner = "demo-partner";
    callback.events = {std::string(kEventName)};
    callback.uriTemplate = partner_.url(kCallbackPath) + "?event=%{event_name}&at=%{event_time_millis}";
    callback.callbackId = kCallbackId;
    simulator::RelayConfig config;
    config.issuedAt = static_cast<int64_t>(virtualNow() * 1000.0);
    config.callbacks = {callback};
    config.maxCallbackRetries = 3;
    // Both attempts of the one callback make a report.
    config.maxCallbackAttemptsPerReport = 2;
    relay_.setConfig(config);

    OrreryRelayEventController::installHooks();
    Orrery::setRelayEnabled(true);
    Orrery::setRelayServerURL(relay_.configUrl());
    tell("Relay: configuration server " + relay_.configUrl() + ", partner " + partner_.url(kCallbackPath) +
         " (answers 500, then 200)");
    prepared_ = true;
    return true;
}

RelayDemoResult RelayDemo::run(platform::testing::RunLoopDriver& driver, const std::string& outDir) {
    RelayDemoResult result;
    if (!prepared_) {
        tell("Relay demo not run: it was not prepared");
        return result;
    }

    // The client asks for its configuration when its first session starts.
    result.configured = waitFor(driver, [&] {
        return !relay_.configRequests().empty() && OrreryRelayEventController::storedSettings() != nullptr;
    });
    if (!result.configured) {
        tell("Relay: no configuration was fetched");
        writeRecords(outDir);
        return result;
    }
    // The server's own record holds the answer that went back.
    const auto configExchange = relay_.server().requestsTo(simulator::RelayService::kConfigPath).front();
    auto settings = OrreryRelayEventController::storedSettings();
    tell("Relay: configuration fetched (" + std::to_string(configExchange.body.size()) + "-byte request, answer " +
         std::to_string(statusOf(configExchange)) + "): " +
         std::to_string(settings->callbacks() ? settings->callbacks()->size() : 0) + " callback(s), up to " +
         std::to_string(settings->maxCallbackRetries()) + " attempts each");

    Orrery::logEvent(kEventName, Value::dictionary({{"room", "attic"}}));
    tell(std::string("Relay: event \"") + kEventName + "\" logged");
    result.eventMatched = waitFor(driver, [&] {
        return triggerRecorded(kEventName) && !partner_.callbacks(kCallbackPath).empty();
    });
    if (!result.eventMatched) {
        tell("Relay: the event fired no partner callback");
        writeRecords(outDir);
        return result;
    }
    tell("Relay: event matched callback " + std::to_string(kCallbackId) + " of \"demo-partner\"");

    // Each answer in turn; a failure waits its retry delay on the virtual clock.
    size_t seen = 0;
    double lastAttemptTime = 0;
    for (;;) {
        driver.settle(kNetworkWaitSeconds);
        auto calls = partner_.callbacks(kCallbackPath);
        for (; seen < calls.size(); ++seen) {
            RelayDemoAttempt attempt{statusOf(calls[seen]), virtualNow()};
            result.attempts.push_back(attempt);
            std::string line = "Relay: partner attempt " + std::to_string(seen + 1) + ": " + calls[seen].method + " " +
                               calls[seen].target + " -> " + std::to_string(attempt.status);
            if (seen > 0) {
                char waited[48];
                std::snprintf(waited, sizeof waited, " (%.0f s after the previous one)",
                              attempt.virtualTime - lastAttemptTime);
                line += waited;
            }
            tell(line);
            lastAttemptTime = attempt.virtualTime;
        }
        if (result.attempts.empty() || (result.attempts.back().status >= 200 && result.attempts.back().status < 400)) break;
        const int32_t delay = pendingRetryDelay();
        if (delay <= 0) break;  // final: no retry left
        if (result.retryDelaySeconds == 0) result.retryDelaySeconds = delay;
        tell("Relay: retry armed in " + std::to_string(delay) + " s; the virtual clock moves on");
        driver.advance(delay);
        if (!waitFor(driver, [&] { return partner_.callbacks(kCallbackPath).size() > seen; })) {
            tell("Relay: the retry did not reach the partner");
            break;
        }
        result.retried = true;
    }
    result.partnerAttempts = static_cast<int>(result.attempts.size());

    // Both outcomes reached the report manager: the report goes out.
    result.reportPosted = waitFor(driver, [&] { return !relay_.reports().empty(); });
    if (result.reportPosted) {
        const auto report = relay_.reports().front();
        result.reportBytes = report.request.body.size();
        std::string content = report.report ? describeAttempts(*report.report) : "undecodable: " + report.error;
        const auto exchanges = relay_.server().requestsTo(simulator::RelayService::kReportPath);
        const int status = exchanges.empty() ? 0 : statusOf(exchanges.front());
        tell("Relay: callback report posted to " + report.request.path + " (" + std::to_string(result.reportBytes) +
             " bytes, answer " + std::to_string(status) + "): " + content);
    } else {
        tell("Relay: no callback report was posted");
    }
    writeRecords(outDir);
    return result;
}

void RelayDemo::writeRecords(const std::string& outDir) {
    if (outDir.empty()) return;
    const std::string base = outDir + "/relay";
    bool written = relay_.server().writeRecord(base + "/config-server") && partner_.server().writeRecord(base + "/partner");
    tell(written ? "Relay: traffic written to " + base : "Relay: the traffic could not be written to " + base);
}
