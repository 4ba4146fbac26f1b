#include "simulator/RelayService.h"

#include <avro.h>

#include <cstdlib>
#include <cstring>

#include "platform/foundation/Digest.h"

namespace simulator {

namespace {

// --- the simulator's own Avro records ----------------------------------------------
// The wire layout of the Relay records, written here apart from the client's
// schemas (their namespace never reaches the wire), so that a fault in the
// client's schemas or codec shows in a test.

constexpr const char* kRelayServiceConfigResponseSchema = R"({
  "type": "record", "name": "ConfigResponse", "namespace": "simulator.relay", "fields": [
    {"name": "issued_at", "type": "long"},
    {"name": "refresh_ttl", "type": "long", "default": 3600},
    {"name": "expiration_ttl", "type": "long", "default": 604800},
    {"name": "global_settings", "type": {"type": "record", "name": "GlobalSettings", "fields": [
      {"name": "log_level", "default": "OFF", "type": {"type": "enum", "name": "LogLevel",
        "symbols": ["DEBUG", "ERROR", "FATAL", "INFO", "OFF", "TRACE", "WARN"]}}]}},
    {"name": "relay", "type": {"type": "record", "name": "Callbacks", "fields": [
      {"name": "callbacks", "type": {"type": "array", "items": {"type": "record", "name": "Callback", "fields": [
        {"name": "partner", "type": "string"},
        {"name": "events", "type": {"type": "array", "items": ["string",
          {"type": "record", "name": "EventParameterCallbackTrigger", "fields": [
            {"name": "event_name", "type": "string"},
            {"name": "event_parameter_name", "type": "string"},
            {"name": "event_parameter_values", "type": {"type": "array", "items": "string"}}]}]}},
        {"name": "method", "default": "GET", "type": {"type": "enum", "name": "RequestMethod",
          "symbols": ["GET", "PUT", "POST"]}},
        {"name": "uri_template", "type": "string"},
        {"name": "body_template", "type": ["null", "string"]},
        {"name": "max_redirects", "type": "int", "default": 5},
        {"name": "connect_timeout", "type": "int", "default": 20},
        {"name": "request_timeout", "type": "int", "default": 20},
        {"name": "callback_id", "type": "long"},
        {"name": "headers", "type": ["null", {"type": "map", "values": "string"}], "default": null}]}}},
      {"name": "max_callback_retries", "type": "int", "default": 3},
      {"name": "max_callback_attempts_per_report", "type": "int", "default": 15},
      {"name": "max_report_delay_seconds", "type": "long", "default": 600},
      {"name": "agent_report_url", "type": "string", "default": "http://127.0.0.1/pcr.do"}]}},
    {"name": "analytics", "type": {"type": "record", "name": "Analytics", "fields": [
      {"name": "analytics_enabled", "type": "boolean", "default": true},
      {"name": "max_session_properties", "type": "int", "default": 10}]}}]})";

constexpr const char* kRelayServiceConfigRequestSchema = R"({
  "type": "record", "name": "ConfigRequest", "namespace": "simulator.relay", "fields": [
    {"name": "project_key", "type": "string"},
    {"name": "bundle_id", "type": "string"},
    {"name": "app_version", "type": "string"},
    {"name": "sdk_version", "type": "int"},
    {"name": "platform", "type": "int"},
    {"name": "platform_version", "type": "string"},
    {"name": "limit_ad_tracking", "type": "boolean", "default": false},
    {"name": "device_tags", "type": [
      {"type": "record", "name": "IosTags", "fields": [{"name": "hw_machine", "type": "string"}]},
      {"type": "record", "name": "AndroidTags", "fields": [
        {"name": "model", "type": "string"}, {"name": "brand", "type": "string"}, {"name": "id", "type": "string"},
        {"name": "device", "type": "string"}, {"name": "product", "type": "string"},
        {"name": "version_release", "type": "string"}]}]},
    {"name": "device_ids", "type": {"type": "array", "items": {"type": "record", "name": "DeviceID", "fields": [
      {"name": "type", "type": "int"}, {"name": "id", "type": "bytes"}]}}},
    {"name": "geo", "type": ["null", {"type": "record", "name": "Geolocation", "fields": [
      {"name": "latitude", "type": "double"}, {"name": "longitude", "type": "double"},
      {"name": "accuracy", "type": "float"}]}]},
    {"name": "publisher_user_id", "type": ["null", "string"], "default": null}]})";

// Requests larger than this are not decoded.
constexpr size_t kRelayServiceMaxRequestBytes = 1 << 16;

std::string relayServiceAvroError() {
    const char* text = avro_strerror();
    return text ? text : "";
}

// A generic value of one schema text, owning the schema, class and storage.
class RelayServiceAvroValue {
public:
    explicit RelayServiceAvroValue(const char* schemaText) {
        if (avro_schema_from_json_length(schemaText, std::strlen(schemaText), &schema_) != 0) {
            schema_ = nullptr;
            return;
        }
        iface_ = avro_generic_class_from_schema(schema_);
        if (iface_ && avro_generic_value_new(iface_, &value_) != 0) {
            avro_value_iface_decref(iface_);
            iface_ = nullptr;
        }
    }
    ~RelayServiceAvroValue() {
        if (iface_) {
            avro_value_decref(&value_);
            avro_value_iface_decref(iface_);
        }
        if (schema_) avro_schema_decref(schema_);
    }
    RelayServiceAvroValue(const RelayServiceAvroValue&) = delete;
    RelayServiceAvroValue& operator=(const RelayServiceAvroValue&) = delete;

    explicit operator bool() const { return iface_ != nullptr; }
    avro_value_t* get() { return &value_; }

private:
    avro_schema_t schema_ = nullptr;
    avro_value_iface_t* iface_ = nullptr;
    avro_value_t value_{};
};

// --- writing -----------------------------------------------------------------------

bool child(avro_value_t* record, const char* name, avro_value_t* out) {
    return avro_value_get_by_name(record, name, out, nullptr) == 0;
}

bool setText(avro_value_t* value, const std::string& text) {
    return avro_value_set_string_len(value, text.c_str(), text.size() + 1) == 0;
}

bool setTextField(avro_value_t* record, const char* name, const std::string& text) {
    avro_value_t field{};
    return child(record, name, &field) && setText(&field, text);
}

bool setIntField(avro_value_t* record, const char* name, int32_t number) {
    avro_value_t field{};
    return child(record, name, &field) && avro_value_set_int(&field, number) == 0;
}

bool setLongField(avro_value_t* record, const char* name, int64_t number) {
    avro_value_t field{};
    return child(record, name, &field) && avro_value_set_long(&field, number) == 0;
}

bool setEnumField(avro_value_t* record, const char* name, const std::string& symbol) {
    avro_value_t field{};
    if (!child(record, name, &field)) return false;
    avro_schema_t schema = avro_value_get_schema(&field);
    int index = schema ? avro_schema_enum_get_by_name(schema, symbol.c_str()) : -1;
    return index >= 0 && avro_value_set_enum(&field, index) == 0;
}

bool appendText(avro_value_t* array, const std::string& text) {
    avro_value_t element{};
    return avro_value_append(array, &element, nullptr) == 0 && setText(&element, text);
}

bool writeEvent(avro_value_t* events, const std::variant<std::string, RelayParameterTrigger>& event) {
    avro_value_t element{}, branch{};
    if (avro_value_append(events, &element, nullptr) != 0) return false;
    if (const auto* name = std::get_if<std::string>(&event))
        return avro_value_set_branch(&element, 0, &branch) == 0 && setText(&branch, *name);
    const auto& trigger = std::get<RelayParameterTrigger>(event);
    avro_value_t values{};
    if (avro_value_set_branch(&element, 1, &branch) != 0 || !setTextField(&branch, "event_name", trigger.eventName) ||
        !setTextField(&branch, "event_parameter_name", trigger.parameterName) ||
        !child(&branch, "event_parameter_values", &values))
        return false;
    for (const std::string& value : trigger.parameterValues)
        if (!appendText(&values, value)) return false;
    return true;
}

bool writeCallback(avro_value_t* callbacks, const RelayConfigCallback& c) {
    avro_value_t record{}, events{}, body{}, bodyBranch{}, headers{}, headersBranch{};
    if (avro_value_append(callbacks, &record, nullptr) != 0 || !setTextField(&record, "partner", c.partner) ||
        !child(&record, "events", &events))
        return false;
    for (const auto& event : c.events)
        if (!writeEvent(&events, event)) return false;
    if (!setEnumField(&record, "method", c.method) || !setTextField(&record, "uri_template", c.uriTemplate) ||
        !child(&record, "body_template", &body) ||
        avro_value_set_branch(&body, c.bodyTemplate ? 1 : 0, &bodyBranch) != 0 ||
        !(c.bodyTemplate ? setText(&bodyBranch, *c.bodyTemplate) : avro_value_set_null(&bodyBranch) == 0) ||
        !setIntField(&record, "max_redirects", c.maxRedirects) ||
        !setIntField(&record, "connect_timeout", c.connectTimeout) ||
        !setIntField(&record, "request_timeout", c.requestTimeout) ||
        !setLongField(&record, "callback_id", c.callbackId) || !child(&record, "headers", &headers) ||
        avro_value_set_branch(&headers, c.headers ? 1 : 0, &headersBranch) != 0)
        return false;
    if (!c.headers) return avro_value_set_null(&headersBranch) == 0;
    for (const auto& [name, value] : *c.headers) {
        avro_value_t entry{};
        if (avro_value_add(&headersBranch, name.c_str(), &entry, nullptr, nullptr) != 0 || !setText(&entry, value))
            return false;
    }
    return true;
}

// --- reading -----------------------------------------------------------------------

std::string textOf(avro_value_t* record, const char* name) {
    avro_value_t field{};
    const char* text = nullptr;
    size_t size = 0;
    if (!child(record, name, &field) || avro_value_get_string(&field, &text, &size) != 0 || !text || size == 0) return {};
    return std::string(text, size - 1);  // the size counts the closing NUL
}

int32_t intOf(avro_value_t* record, const char* name) {
    avro_value_t field{};
    int32_t number = 0;
    if (child(record, name, &field)) avro_value_get_int(&field, &number);
    return number;
}

// The selected branch of a union field and its index (-1 when none).
bool branchOf(avro_value_t* record, const char* name, avro_value_t* out, int* index) {
    avro_value_t field{};
    *index = -1;
    if (!child(record, name, &field) || avro_value_get_discriminant(&field, index) != 0) return false;
    return avro_value_get_current_branch(&field, out) == 0;
}

// --- reading a report ------------------------------------------------------------------

class BigEndianReader {
public:
    explicit BigEndianReader(std::string_view bytes) : bytes_(bytes) {}
    bool failed() const { return failed_; }
    size_t offset() const { return offset_; }
    bool atEnd() const { return offset_ == bytes_.size(); }

    uint64_t unsignedOf(size_t width) {
        if (failed_ || bytes_.size() - offset_ < width) {
            failed_ = true;
            return 0;
        }
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) value = (value << 8) | static_cast<uint8_t>(bytes_[offset_ + i]);
        offset_ += width;
        return value;
    }
    uint16_t ushort() { return static_cast<uint16_t>(unsignedOf(2)); }
    int32_t int32() { return static_cast<int32_t>(static_cast<uint32_t>(unsignedOf(4))); }
    int64_t int64() { return static_cast<int64_t>(unsignedOf(8)); }
    bool boolean() { return unsignedOf(1) != 0; }
    std::string shortBytes() {
        size_t length = ushort();
        if (failed_ || bytes_.size() - offset_ < length) {
            failed_ = true;
            return {};
        }
        std::string s(bytes_.substr(offset_, length));
        offset_ += length;
        return s;
    }

private:
    std::string_view bytes_;
    size_t offset_ = 0;
    bool failed_ = false;
};

RelayReportAttempt readAttempt(BigEndianReader& in) {
    RelayReportAttempt a;
    a.attemptNumber = in.ushort();
    a.sessionId = in.int64();
    a.sessionOffset = in.int64();
    a.finalAttempt = in.boolean();
    a.httpStatus = in.ushort();
    a.requestState = in.ushort();
    if (a.httpStatus < 200 || a.httpStatus >= 400) a.responseBody = in.shortBytes();
    a.redirectCount = in.ushort();
    a.duration = in.int32();
    return a;
}

RelayReportTrigger readTrigger(BigEndianReader& in) {
    RelayReportTrigger t;
    t.triggerType = in.ushort();
    t.sessionId = in.int64();
    t.sessionOffset = in.int64();
    t.eventTriggerFlag = in.boolean();
    t.eventOccurrenceId = in.ushort();
    t.eventName = in.shortBytes();
    for (uint16_t n = in.ushort(); n > 0 && !in.failed(); --n) {
        RelayReportCallback c;
        c.callbackId = in.int64();
        c.url = in.shortBytes();
        for (uint16_t k = in.ushort(); k > 0 && !in.failed(); --k) c.attempts.push_back(readAttempt(in));
        t.callbacks.push_back(std::move(c));
    }
    return t;
}

}  // namespace

std::optional<std::string> encodeRelayConfig(const RelayConfig& config, std::string* error) {
    auto fail = [&](std::string reason) -> std::optional<std::string> {
        if (error) *error = std::move(reason) + ": " + relayServiceAvroError();
        return std::nullopt;
    };
    RelayServiceAvroValue response(kRelayServiceConfigResponseSchema);
    if (!response) return fail("no ConfigResponse value");
    avro_value_t* r = response.get();
    avro_value_t global{}, relay{}, callbacks{}, analytics{}, enabled{};
    bool ok = setLongField(r, "issued_at", config.issuedAt) && setLongField(r, "refresh_ttl", config.refreshTtl) &&
              setLongField(r, "expiration_ttl", config.expirationTtl) && child(r, "global_settings", &global) &&
              setEnumField(&global, "log_level", config.logLevel) && child(r, "relay", &relay) &&
              child(&relay, "callbacks", &callbacks);
    if (!ok) return fail("header fields");
    for (const RelayConfigCallback& callback : config.callbacks)
        if (!writeCallback(&callbacks, callback)) return fail("callback " + std::to_string(callback.callbackId));
    ok = setIntField(&relay, "max_callback_retries", config.maxCallbackRetries) &&
         setIntField(&relay, "max_callback_attempts_per_report", config.maxCallbackAttemptsPerReport) &&
         setLongField(&relay, "max_report_delay_seconds", config.maxReportDelaySeconds) &&
         setTextField(&relay, "agent_report_url", config.agentReportUrl) && child(r, "analytics", &analytics) &&
         child(&analytics, "analytics_enabled", &enabled) &&
         avro_value_set_boolean(&enabled, config.analyticsEnabled ? 1 : 0) == 0 &&
         setIntField(&analytics, "max_session_properties", config.maxSessionProperties);
    if (!ok) return fail("limits");
    size_t size = 0;
    if (avro_value_sizeof(r, &size) != 0) return fail("sizing");
    std::string bytes(size, '\0');
    avro_writer_t writer = avro_writer_memory(bytes.data(), static_cast<int64_t>(size));
    const int written = avro_value_write(writer, r);
    avro_writer_free(writer);
    if (written != 0) return fail("encoding");
    return bytes;
}

std::optional<RelayConfigRequest> decodeRelayConfigRequest(std::string_view bytes, std::string* error) {
    auto fail = [&](std::string reason) -> std::optional<RelayConfigRequest> {
        if (error) *error = std::move(reason);
        return std::nullopt;
    };
    if (bytes.empty() || bytes.size() > kRelayServiceMaxRequestBytes) return fail("no request of a sensible size");
    RelayServiceAvroValue request(kRelayServiceConfigRequestSchema);
    if (!request) return fail("no ConfigRequest value: " + relayServiceAvroError());
    avro_value_t* v = request.get();
    avro_reader_t reader = avro_reader_memory(bytes.data(), static_cast<int64_t>(bytes.size()));
    const int read = avro_value_read(reader, v);
    avro_reader_free(reader);
    // Exactly one value: its own encoding is as long as the bytes.
    size_t size = 0;
    if (read != 0) return fail("not a ConfigRequest: " + relayServiceAvroError());
    if (avro_value_sizeof(v, &size) != 0 || size != bytes.size()) return fail("bytes after the ConfigRequest");

    RelayConfigRequest out;
    out.projectKey = textOf(v, "project_key");
    out.bundleId = textOf(v, "bundle_id");
    out.appVersion = textOf(v, "app_version");
    out.sdkVersion = intOf(v, "sdk_version");
    out.platform = intOf(v, "platform");
    out.platformVersion = textOf(v, "platform_version");
    avro_value_t field{}, branch{};
    int flag = 0;
    if (child(v, "limit_ad_tracking", &field) && avro_value_get_boolean(&field, &flag) == 0) out.limitAdTracking = flag != 0;
    if (branchOf(v, "device_tags", &branch, &out.deviceTagsBranch) && out.deviceTagsBranch == 0)
        out.hwMachine = textOf(&branch, "hw_machine");
    size_t count = 0;
    if (child(v, "device_ids", &field) && avro_value_get_size(&field, &count) == 0) {
        for (size_t i = 0; i < count; ++i) {
            avro_value_t entry{}, id{};
            if (avro_value_get_by_index(&field, i, &entry, nullptr) != 0) break;
            const void* raw = nullptr;
            size_t length = 0;
            RelayDeviceId deviceId;
            deviceId.type = intOf(&entry, "type");
            if (child(&entry, "id", &id) && avro_value_get_bytes(&id, &raw, &length) == 0 && raw)
                deviceId.id.assign(static_cast<const char*>(raw), length);
            out.deviceIds.push_back(std::move(deviceId));
        }
    }
    if (branchOf(v, "geo", &branch, &out.geoBranch) && out.geoBranch == 1) {
        avro_value_t number{};
        if (child(&branch, "latitude", &number)) avro_value_get_double(&number, &out.latitude);
        if (child(&branch, "longitude", &number)) avro_value_get_double(&number, &out.longitude);
        if (child(&branch, "accuracy", &number)) avro_value_get_float(&number, &out.accuracy);
    }
    int userBranch = -1;
    if (branchOf(v, "publisher_user_id", &branch, &userBranch) && userBranch == 1) {
        const char* text = nullptr;
        size_t length = 0;
        if (avro_value_get_string(&branch, &text, &length) == 0 && text && length > 0) out.publisherUserId = std::string(text, length - 1);
    }
    char* json = nullptr;
    if (avro_value_to_json(v, 1, &json) == 0 && json) {
        out.json = json;
        std::free(json);
    }
    return out;
}

std::optional<RelayReport> parseRelayReport(std::string_view bytes, std::string* error) {
    BigEndianReader in(bytes);
    RelayReport report;
    report.headerWord1 = in.ushort();
    report.headerWord2 = in.ushort();
    report.reportTime = in.int64();
    report.apiKey = in.shortBytes();
    report.appVersion = in.shortBytes();
    report.agentVersion = in.ushort();
    report.platform = in.ushort();
    report.osVersion = in.shortBytes();
    report.limitAdTracking = in.boolean();
    for (uint16_t n = in.ushort(); n > 0 && !in.failed(); --n) {
        uint16_t type = in.ushort();
        report.identifiers.emplace_back(type, in.shortBytes());
    }
    for (uint16_t n = in.ushort(); n > 0 && !in.failed(); --n) {
        uint16_t kind = in.ushort();
        report.secondIdentifiers.emplace_back(kind, in.shortBytes());
    }
    for (uint16_t n = in.ushort(); n > 0 && !in.failed(); --n) report.triggers.push_back(readTrigger(in));
    size_t checked = in.offset();
    report.checksum = in.int32();
    if (in.failed()) {
        if (error) *error = "truncated report";
        return std::nullopt;
    }
    if (!in.atEnd()) {
        if (error) *error = "bytes after the checksum";
        return std::nullopt;
    }
    report.checksumMatches = static_cast<int32_t>(platform::crc32(bytes.data(), checked)) == report.checksum;
    return report;
}

// --- the service -----------------------------------------------------------------------

RelayService::RelayService() {
    server_.route("POST", kConfigPath, [this](const RecordedRequest& r) { return answerConfig(r); });
    server_.route("POST", kReportPath, [this](const RecordedRequest& r) { return answerReport(r); });
}

RelayService::~RelayService() { stop(); }

bool RelayService::start() { return server_.start(); }
void RelayService::stop() { server_.stop(); }

void RelayService::setConfig(RelayConfig config) {
    std::scoped_lock lock(mutex_);
    config_ = std::move(config);
    configAnswer_.reset();
}

void RelayService::setConfigAnswer(Answer answer) {
    std::scoped_lock lock(mutex_);
    configAnswer_ = std::move(answer);
}

void RelayService::setReportAnswer(Answer answer) {
    std::scoped_lock lock(mutex_);
    reportAnswer_ = std::move(answer);
}

void RelayService::scriptReportAnswers(std::vector<Answer> answers) {
    std::scoped_lock lock(mutex_);
    scriptedReportAnswers_.assign(answers.begin(), answers.end());
}

std::vector<RelayService::ReceivedConfigRequest> RelayService::configRequests() const {
    std::scoped_lock lock(mutex_);
    return configRequests_;
}

std::vector<RelayService::ReceivedReport> RelayService::reports() const {
    std::scoped_lock lock(mutex_);
    return reports_;
}

Answer RelayService::answerConfig(const RecordedRequest& request) {
    ReceivedConfigRequest received{request, std::nullopt, {}};
    received.decoded = decodeRelayConfigRequest(request.body, &received.error);
    std::scoped_lock lock(mutex_);
    configRequests_.push_back(std::move(received));
    if (configAnswer_) return *configAnswer_;
    RelayConfig config = config_.value_or(RelayConfig());
    if (config.agentReportUrl.empty()) config.agentReportUrl = reportUrl();
    std::string error;
    std::optional<std::string> body = encodeRelayConfig(config, &error);
    if (!body) return Answer::withStatus(500, "configuration does not encode: " + error);
    return Answer::ok(std::move(*body)).header("Content-Type", "application/vnd.orrery.sdk-avrobin;version=2");
}

Answer RelayService::answerReport(const RecordedRequest& request) {
    ReceivedReport received{request, std::nullopt, {}};
    received.report = parseRelayReport(request.body, &received.error);
    std::scoped_lock lock(mutex_);
    Answer answer = reportAnswer_;
    if (!scriptedReportAnswers_.empty()) {
        answer = std::move(scriptedReportAnswers_.front());
        scriptedReportAnswers_.pop_front();
    }
    received.answered = answer.kind != Answer::Kind::Drop;
    reports_.push_back(std::move(received));
    return answer;
}

}  // namespace simulator
