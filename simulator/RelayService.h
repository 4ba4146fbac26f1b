// The Relay servers of the analytics client, played on a loopback server: the
// configuration endpoint ("/sdk/v1/config") answers a ConfigRequest with a
// ConfigResponse, and the callback-report endpoint ("/pcr.do") takes binary
// callback reports. Both record what they receive, decoded. The Avro records
// are read and written with schemas of the simulator's own, never the client's.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "simulator/LoopbackServer.h"

namespace simulator {

// --- the configuration a test serves ---------------------------------------------

struct RelayParameterTrigger {
    std::string eventName;
    std::string parameterName;
    std::vector<std::string> parameterValues;
};

struct RelayConfigCallback {
    std::string partner;
    // Each event is a name or a parameter trigger.
    std::vector<std::variant<std::string, RelayParameterTrigger>> events;
    std::string method = "GET";  // "GET", "PUT" or "POST"
    std::string uriTemplate;
    std::optional<std::string> bodyTemplate;
    int32_t maxRedirects = 5;
    int32_t connectTimeout = 20;
    int32_t requestTimeout = 20;
    int64_t callbackId = 0;
    std::optional<std::vector<std::pair<std::string, std::string>>> headers;
};

struct RelayConfig {
    int64_t issuedAt = 0;
    int64_t refreshTtl = 3600;
    int64_t expirationTtl = 604800;
    std::string logLevel = "OFF";  // a LogLevel symbol
    std::vector<RelayConfigCallback> callbacks;
    int32_t maxCallbackRetries = 3;
    int32_t maxCallbackAttemptsPerReport = 15;
    int64_t maxReportDelaySeconds = 600;
    // Empty: the serving RelayService's own report URL.
    std::string agentReportUrl;
    bool analyticsEnabled = true;
    int32_t maxSessionProperties = 10;
};

// The ConfigResponse bytes of a configuration; nullopt (with the reason in
// `error`) when a value does not fit the schema, e.g. an unknown symbol.
std::optional<std::string> encodeRelayConfig(const RelayConfig& config, std::string* error = nullptr);

// --- what the endpoints receive -----------------------------------------------------

struct RelayDeviceId {
    int32_t type = 0;
    std::string id;  // the bytes
};

// A ConfigRequest, decoded.
struct RelayConfigRequest {
    std::string projectKey;
    std::string bundleId;
    std::string appVersion;
    int32_t sdkVersion = 0;
    int32_t platform = 0;
    std::string platformVersion;
    bool limitAdTracking = false;
    int deviceTagsBranch = -1;  // 0 IosTags, 1 AndroidTags
    std::string hwMachine;
    std::vector<RelayDeviceId> deviceIds;
    int geoBranch = -1;  // 0 null, 1 Geolocation
    double latitude = 0;
    double longitude = 0;
    float accuracy = 0;
    std::optional<std::string> publisherUserId;
    std::string json;  // the value as the library renders it
};

// The ConfigRequest in the bytes; nullopt (with the reason) when they are not
// exactly one.
std::optional<RelayConfigRequest> decodeRelayConfigRequest(std::string_view bytes, std::string* error = nullptr);

struct RelayReportAttempt {
    uint16_t attemptNumber = 0;
    int64_t sessionId = 0;
    int64_t sessionOffset = 0;
    bool finalAttempt = false;
    uint16_t httpStatus = 0;
    uint16_t requestState = 0;
    std::optional<std::string> responseBody;  // only for statuses outside 200–399
    uint16_t redirectCount = 0;
    int32_t duration = 0;
};

struct RelayReportCallback {
    int64_t callbackId = 0;
    std::string url;
    std::vector<RelayReportAttempt> attempts;
};

struct RelayReportTrigger {
    uint16_t triggerType = 0;
    int64_t sessionId = 0;
    int64_t sessionOffset = 0;
    bool eventTriggerFlag = false;
    uint16_t eventOccurrenceId = 0;
    std::string eventName;
    std::vector<RelayReportCallback> callbacks;
};

// A callback report, read field by field.
struct RelayReport {
    uint16_t headerWord1 = 0;
    uint16_t headerWord2 = 0;
    int64_t reportTime = 0;  // ms since 1970
    std::string apiKey;
    std::string appVersion;
    uint16_t agentVersion = 0;
    uint16_t platform = 0;
    std::string osVersion;
    bool limitAdTracking = false;
    std::vector<std::pair<uint16_t, std::string>> identifiers;        // type, bytes
    std::vector<std::pair<uint16_t, std::string>> secondIdentifiers;  // kind, string
    std::vector<RelayReportTrigger> triggers;
    int32_t checksum = 0;
    bool checksumMatches = false;
};

// The report in the bytes; nullopt (with the reason) when they are truncated
// or longer than one report.
std::optional<RelayReport> parseRelayReport(std::string_view bytes, std::string* error = nullptr);

// --- the service ---------------------------------------------------------------------

class RelayService {
public:
    static constexpr const char* kConfigPath = "/sdk/v1/config";
    static constexpr const char* kReportPath = "/pcr.do";

    // One request to the configuration endpoint.
    struct ReceivedConfigRequest {
        RecordedRequest request;
        std::optional<RelayConfigRequest> decoded;
        std::string error;  // why it did not decode
    };
    // One request to the report endpoint.
    struct ReceivedReport {
        RecordedRequest request;
        std::optional<RelayReport> report;
        std::string error;
        bool answered = false;  // given an answer's head, not dropped
    };

    RelayService();
    ~RelayService();
    RelayService(const RelayService&) = delete;
    RelayService& operator=(const RelayService&) = delete;

    // Starts the loopback server. False when it cannot.
    bool start();
    void stop();
    LoopbackServer& server() { return server_; }
    std::string configUrl() const { return server_.url(kConfigPath); }
    std::string reportUrl() const { return server_.url(kReportPath); }

    // Answer 200 with this configuration (the default: an empty one).
    void setConfig(RelayConfig config);
    // Answer with exactly this (bad bodies, error statuses, stalls).
    void setConfigAnswer(Answer answer);
    // Answer of the report endpoint (default 200, empty body).
    void setReportAnswer(Answer answer);
    // The next reports, in the order they arrive, get these answers; then
    // the standing one above again.
    void scriptReportAnswers(std::vector<Answer> answers);

    std::vector<ReceivedConfigRequest> configRequests() const;
    std::vector<ReceivedReport> reports() const;

private:
    Answer answerConfig(const RecordedRequest& request);
    Answer answerReport(const RecordedRequest& request);

    LoopbackServer server_;
    mutable std::mutex mutex_;
    std::optional<RelayConfig> config_;
    std::optional<Answer> configAnswer_;
    Answer reportAnswer_ = Answer::ok();
    std::deque<Answer> scriptedReportAnswers_;
    std::vector<ReceivedConfigRequest> configRequests_;
    std::vector<ReceivedReport> reports_;
};

}  // namespace simulator
