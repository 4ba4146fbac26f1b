#include "host/relay_demo/RelayDemo.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "analytics/Orrery.h"
#include "analytics/OrreryClasses.h"
#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryHttpAsyncTask.h"
#include "analytics/relay/OrreryAvro.h"
#include "analytics/relay/OrreryRelayCBReportSender.h"
#include "analytics/relay/OrreryRelayCallbackAttemptInfo.h"
#include "analytics/relay/OrreryRelayCallbackReportManager.h"
#include "analytics/relay/OrreryRelayClasses.h"
#include "analytics/relay/OrreryRelayEventController.h"
#include "platform/runtime/NSDate.h"

namespace {

using simulator::Answer;
using simulator::RecordedRequest;
using Kind = RelayDemoExchange::Kind;

// Real seconds allowed for loopback exchanges to finish at each step.
constexpr double kRelayDemoNetworkWait = 5;

double relayDemoNow() { return NSDate::date().timeIntervalSince1970(); }

// The status code of a recorded answer ("HTTP/1.1 500 ..."); 0 when none went back.
int relayDemoStatusOf(const RecordedRequest& request) {
    const std::string& response = request.response;
    size_t space = response.find(' ');
    if (space == std::string::npos) return 0;
    return std::atoi(response.c_str() + space + 1);
}

// The body's size in a recorded answer: as its head gives it (a client that
// stops reading leaves the rest unwritten), else as written.
size_t relayDemoBodyBytesOf(const RecordedRequest& request) {
    const std::string& response = request.response;
    size_t end = response.find("\r\n\r\n");
    if (end == std::string::npos) return 0;
    std::string head = response.substr(0, end);
    std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
    if (size_t field = head.find("\r\ncontent-length:"); field != std::string::npos)
        return std::strtoull(head.c_str() + field + 17, nullptr, 10);
    return response.size() - end - 4;
}

std::string bytesText(size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// Why the client could not read an answer of status 200 to 299, from what
// passed: the time or size it was cut at, or its size against what the
// client reads at most (`limit`).
std::string unreadAnswerCause(const RelayDemoExchange& exchange, size_t limit, const char* unreadable) {
    if (!exchange.error.empty()) return exchange.error;
    if (exchange.responseBytes > limit)
        return "its " + bytesText(exchange.responseBytes) + " are over the " + bytesText(limit) + " the client reads";
    if (exchange.responseBytes == 0) return "it is empty";
    return "its " + bytesText(exchange.responseBytes) + " " + unreadable;
}

// The first attempt of the event's callbacks, as the client recorded them,
// that `matches`; null when none does.
Ref<OrreryRelayCallbackAttemptInfo> findRecordedAttempt(
    const std::string& eventName, const std::function<bool(const OrreryRelayCallbackAttemptInfo&)>& matches) {
    auto manager = OrreryRelayCallbackReportManager::sharedInstance();
    manager->waitForArchiving();
    for (const auto& trigger : manager->triggers())
        if (trigger->eventName() == eventName)
            for (const auto& callback : trigger->callbacks())
                for (const auto& attempt : callback->attempts())
                    if (matches(*attempt)) return attempt;
    return nullptr;
}

// What the client recorded of attempt `number` of the event's callback:
// its OrreryRelayRequestState once it ended; nullopt while the client has
// not recorded it, or once it has gone out in a report.
std::optional<int32_t> recordedAttemptState(const std::string& eventName, int64_t number) {
    auto attempt = findRecordedAttempt(eventName, [number](const OrreryRelayCallbackAttemptInfo& a) {
        return a.attemptNumber() == number && !a.beingFired() && a.requestState() != OrreryRelayRequestStateNotEnded;
    });
    return attempt ? std::optional<int32_t>(attempt->requestState()) : std::nullopt;
}

// The same, from the callback reports that went out.
std::optional<int32_t> reportedAttemptState(const std::vector<RelayDemoExchange>& reports,
                                            const std::string& eventName, int64_t number) {
    for (const auto& report : reports) {
        auto decoded = simulator::parseRelayReport(report.requestBody);
        if (!decoded) continue;
        for (const auto& trigger : decoded->triggers)
            if (trigger.eventName == eventName)
                for (const auto& callback : trigger.callbacks)
                    for (const auto& attempt : callback.attempts)
                        if (attempt.attemptNumber == number) return attempt.requestState;
    }
    return std::nullopt;
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

// Whether a callback of the event has an attempt that came back (whatever
// its outcome), as the client recorded it.
bool attemptOutcomeRecorded(const std::string& eventName) {
    return findRecordedAttempt(eventName, [](const OrreryRelayCallbackAttemptInfo& a) { return !a.beingFired(); }) !=
           nullptr;
}

std::string describeAttempts(const simulator::RelayReport& report) {
    std::string text;
    size_t count = 0;
    for (const auto& trigger : report.triggers)
        for (const auto& callback : trigger.callbacks)
            for (const auto& attempt : callback.attempts) {
                // A status that reads as a delivery but is not one.
                bool unread = attempt.httpStatus >= 200 && attempt.httpStatus < 300 &&
                              attempt.requestState != OrreryRelayRequestStateSucceeded;
                text += (count++ ? ", #" : "#") + std::to_string(attempt.attemptNumber) + " " +
                        std::to_string(attempt.httpStatus) + (unread ? " failed" : "") +
                        (attempt.finalAttempt ? " (final)" : "");
            }
    return std::to_string(count) + " attempt(s): " + text;
}

std::string pathOf(const std::string& target) { return target.substr(0, target.find('?')); }

}  // namespace

bool VirtualRelayDemoPace::letTimePass(double seconds) {
    driver_.settle(kRelayDemoNetworkWait);
    driver_.advance(seconds);
    return true;
}

bool VirtualRelayDemoPace::waitUntil(const std::function<bool()>& predicate, double realSeconds) {
    driver_.settle(realSeconds);
    return predicate() || driver_.runUntil(predicate, realSeconds);
}

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
}

void RelayDemo::tell(const std::string& line) const {
    if (timeline_) timeline_(line);
}

std::vector<RelayDemoExchange> RelayDemo::embeddedExchanges() {
    std::vector<RelayDemoExchange> list;
    auto add = [&](const RecordedRequest& r, Kind kind) {
        list.push_back({kind, r.method, r.target, relayDemoStatusOf(r), r.body, relayDemoBodyBytesOf(r), {}});
    };
    if (relay_)
        for (const auto& r : relay_->server().requests())
            add(r, r.path == simulator::RelayService::kReportPath ? Kind::Report : Kind::Config);
    if (partner_)
        for (const auto& r : partner_->server().requests()) add(r, Kind::Partner);
    return list;
}

std::vector<RelayDemoExchange> RelayDemo::exchanges(Kind kind) {
    std::vector<RelayDemoExchange> all = source_ ? source_() : embeddedExchanges(), list;
    for (auto& e : all)
        if (e.kind == kind) list.push_back(std::move(e));
    return list;
}

bool RelayDemo::prepare(const Endpoints& given) {
    Endpoints endpoints = given;
    relay_ = endpoints.configServer;
    partner_ = endpoints.partner;
    if (endpoints.configUrl.empty() && relay_) endpoints.configUrl = relay_->configUrl();
    if (endpoints.reportUrl.empty() && relay_) endpoints.reportUrl = relay_->reportUrl();
    if (endpoints.partnerUrl.empty() && partner_) endpoints.partnerUrl = partner_->url("");
    if (endpoints.configUrl.empty()) {
        tell("Relay demo skipped: no configuration endpoint (neither embedded nor given)");
        return false;
    }
    registerOrreryClasses();
    registerOrreryRelayClasses();

    std::string partnerNote;
    if (partner_) {
        // The partner fails once, then accepts.
        partner_->script(kCallbackPath, {Answer::withStatus(500, "partner busy"), Answer::ok()});
        partnerNote = " (answers 500, then 200)";
    }
    if (relay_) {
        simulator::RelayConfigCallback callback;
        callback.partner = "demo-partner";
        callback.events = {std::string(kEventName)};
        callback.uriTemplate = endpoints.partnerUrl + kCallbackPath + "?event=%{event_name}&at=%{event_time_millis}";
        callback.callbackId = kCallbackId;
        simulator::RelayConfig config;
        config.issuedAt = static_cast<int64_t>(relayDemoNow() * 1000.0);
        // Due again at the next session start: a later run on the same home
        // fetches the configuration that names its own services.
        config.refreshTtl = 1;
        config.callbacks = {callback};
        config.maxCallbackRetries = 3;
        // Both attempts of the one callback make a report.
        config.maxCallbackAttemptsPerReport = 2;
        config.agentReportUrl = endpoints.reportUrl;
        relay_->setConfig(config);
        tell("configuration server " + endpoints.configUrl + ", partner " + endpoints.partnerUrl + kCallbackPath +
             partnerNote);
    } else {
        tell("configuration server " + endpoints.configUrl + " (given; its configuration names the partner)");
    }

    OrreryRelayEventController::installHooks();
    Orrery::setRelayEnabled(true);
    Orrery::setRelayServerURL(endpoints.configUrl);
    prepared_ = true;
    return true;
}

std::string RelayDemo::successVerdict(RelayDemoPace& pace, const RelayDemoExchange& call, int64_t number,
                                      bool& delivered) {
    std::optional<int32_t> state;
    pace.waitUntil(
        [&] {
            state = recordedAttemptState(kEventName, number);
            if (!state) state = reportedAttemptState(exchanges(Kind::Report), kEventName, number);
            return state.has_value();
        },
        kRelayDemoNetworkWait);
    if (!state) return {};
    const auto limit = static_cast<size_t>(OrreryHttpAsyncTask::kMaximumResponseLength);
    const std::string cause = unreadAnswerCause(call, limit, "could not be read");
    if (*state != OrreryRelayRequestStateSucceeded) {
        delivered = false;
        return ", but the client could not read the answer (" + cause + "): it counts as failed";
    }
    if (!call.error.empty() || call.responseBytes > limit)
        return ", a delivery, though the client did not read the whole answer (" + cause + ")";
    return {};
}

RelayDemoResult RelayDemo::run(RelayDemoPace& pace) {
    RelayDemoResult result;
    if (!prepared_) {
        tell("Relay demo not run: it was not prepared");
        return result;
    }

    // The client asks for its configuration when its session starts, unless
    // the one it stored in an earlier run is not due for a refresh.
    auto fetched = [&] {
        for (const auto& e : exchanges(Kind::Config))
            if (e.status == 200) return true;
        return false;
    };
    result.configured = pace.waitUntil([&] { return fetched() && OrreryRelayEventController::storedSettings(); },
                                       kRelayDemoNetworkWait);
    auto settings = OrreryRelayEventController::storedSettings();
    // Why no configuration came in this run, from its last exchange.
    auto notFetched = [&]() -> std::string {
        auto configs = exchanges(Kind::Config);
        if (configs.empty()) return "the client asked for none";
        const RelayDemoExchange& last = configs.back();
        if (last.status == 0)
            return "the configuration server did not answer" + (last.error.empty() ? "" : ": " + last.error);
        if (last.status != 200) return "the configuration server answered " + std::to_string(last.status) + ", not 200";
        return "the configuration server answered 200, but the client could not read its answer: " +
               unreadAnswerCause(last, OrreryAvro::DecodeLimits().maxBytes, "are no Relay configuration it can decode");
    };
    if (result.configured) {
        const auto config = exchanges(Kind::Config).front();
        tell("configuration fetched (" + std::to_string(config.requestBody.size()) + "-byte request, answer " +
             std::to_string(config.status) + "): " +
             std::to_string(settings->callbacks() ? settings->callbacks()->size() : 0) + " callback(s), up to " +
             std::to_string(settings->maxCallbackRetries()) + " attempts each");
    } else if (settings) {
        tell("no configuration was fetched in this run (" + notFetched() +
             "); the one an earlier run stored is used as it is");
    } else {
        tell("no configuration was fetched: " + notFetched());
        return result;
    }

    Orrery::logEvent(kEventName, Value::dictionary({{"room", "attic"}}));
    tell(std::string("event \"") + kEventName + "\" logged");
    // A partner call the host does not stand in front of shows only in the
    // client's record of the attempt.
    pace.waitUntil([&] { return !exchanges(Kind::Partner).empty() || attemptOutcomeRecorded(kEventName); },
                   kRelayDemoNetworkWait);
    result.eventMatched = triggerRecorded(kEventName) && !exchanges(Kind::Partner).empty();
    if (!result.eventMatched) {
        tell(triggerRecorded(kEventName)
                 ? "the event fired a callback, but no partner call passed the host (its partner lies "
                   "outside the services the host reaches)"
                 : "the event fired no partner callback (the configuration names none for it)");
        return result;
    }
    tell("event matched callback " + std::to_string(kCallbackId));

    // Each answer in turn; a failure waits its retry delay.
    size_t seen = 0;
    double lastAttemptTime = 0;
    for (;;) {
        auto calls = exchanges(Kind::Partner);
        for (; seen < calls.size(); ++seen) {
            // The client may have its answer before the service has finished
            // writing it (a client that stops reading one too long).
            pace.waitUntil(
                [&] {
                    calls = exchanges(Kind::Partner);
                    return calls[seen].status != 0 || !calls[seen].error.empty();
                },
                kRelayDemoNetworkWait);
            const RelayDemoExchange& call = calls[seen];
            RelayDemoAttempt attempt{call.status, relayDemoNow()};
            attempt.delivered = attempt.status >= 200 && attempt.status < 400;
            std::string line = "partner attempt " + std::to_string(seen + 1) + ": " + call.method + " " +
                               call.target + " -> " + std::to_string(attempt.status);
            if (seen > 0) {
                char waited[48];
                std::snprintf(waited, sizeof waited, " (%.0f s after the previous one)",
                              attempt.virtualTime - lastAttemptTime);
                line += waited;
            }
            if (attempt.status >= 200 && attempt.status < 300)
                line += successVerdict(pace, call, static_cast<int64_t>(seen + 1), attempt.delivered);
            result.attempts.push_back(attempt);
            tell(line);
            lastAttemptTime = attempt.virtualTime;
        }
        if (result.attempts.empty() || result.attempts.back().delivered) break;
        const int32_t delay = pendingRetryDelay();
        if (delay <= 0) break;  // final: no retry left
        if (result.retryDelaySeconds == 0) result.retryDelaySeconds = delay;
        tell("retry armed in " + std::to_string(delay) + " s; the application clock moves on");
        if (!pace.letTimePass(delay)) {
            tell("ended before the retry");
            break;
        }
        if (!pace.waitUntil([&] { return exchanges(Kind::Partner).size() > seen; }, kRelayDemoNetworkWait)) {
            tell("the retry did not reach the partner");
            break;
        }
        result.retried = true;
    }
    result.partnerAttempts = static_cast<int>(result.attempts.size());

    // Both outcomes reached the report manager: the report goes out.
    result.reportPosted = pace.waitUntil(
        [&] {
            auto reports = exchanges(Kind::Report);
            return !reports.empty() && reports.front().status != 0;
        },
        kRelayDemoNetworkWait);
    if (result.reportPosted) {
        const auto report = exchanges(Kind::Report).front();
        result.reportBytes = report.requestBody.size();
        std::string error;
        auto decoded = simulator::parseRelayReport(report.requestBody, &error);
        std::string content = decoded ? describeAttempts(*decoded) : "undecodable: " + error;
        tell("callback report posted to " + pathOf(report.target) + " (" + std::to_string(result.reportBytes) +
             " bytes, answer " + std::to_string(report.status) + "): " + content);
    } else {
        tell("no callback report was posted");
    }
    return result;
}
