#include "simulator/RelayService.h"

#include "analytics/relay/OrreryAvro.h"
#include "analytics/relay/OrreryRelaySchemas.h"
#include "platform/foundation/Digest.h"

namespace simulator {

namespace {

using OrreryAvro::Datum;
using OrreryAvro::Schema;

// --- encoding a configuration ----------------------------------------------------------

bool setEnum(avro_value_t* record, const char* name, const std::string& symbol) {
    avro_value_t child{};
    if (!OrreryAvro::fieldForWriting(record, name, &child)) return false;
    avro_schema_t schema = avro_value_get_schema(&child);
    int index = schema ? avro_schema_enum_get_by_name(schema, symbol.c_str()) : -1;
    return index >= 0 && avro_value_set_enum(&child, index) == 0;
}

bool appendString(avro_value_t* array, const std::string& text) {
    avro_value_t element{};
    return avro_value_append(array, &element, nullptr) == 0 && OrreryAvro::setString(&element, text);
}

bool encodeEvent(avro_value_t* events, const std::variant<std::string, RelayParameterTrigger>& event) {
    avro_value_t element{}, branch{};
    if (avro_value_append(events, &element, nullptr) != 0) return false;
    if (const auto* name = std::get_if<std::string>(&event))
        return OrreryAvro::selectBranch(&element, nullptr, 0, &branch) && OrreryAvro::setString(&branch, *name);
    const auto& trigger = std::get<RelayParameterTrigger>(event);
    avro_value_t values{};
    if (!OrreryAvro::selectBranch(&element, nullptr, 1, &branch) ||
        !OrreryAvro::setField(&branch, "event_name", trigger.eventName) ||
        !OrreryAvro::setField(&branch, "event_parameter_name", trigger.parameterName) ||
        !OrreryAvro::fieldForWriting(&branch, "event_parameter_values", &values))
        return false;
    for (const std::string& value : trigger.parameterValues)
        if (!appendString(&values, value)) return false;
    return true;
}

bool encodeCallback(avro_value_t* callbacks, const RelayConfigCallback& c) {
    avro_value_t record{}, events{}, body{}, headers{};
    if (avro_value_append(callbacks, &record, nullptr) != 0 || !OrreryAvro::setField(&record, "partner", c.partner) ||
        !OrreryAvro::fieldForWriting(&record, "events", &events))
        return false;
    for (const auto& event : c.events)
        if (!encodeEvent(&events, event)) return false;
    if (!setEnum(&record, "method", c.method) || !OrreryAvro::setField(&record, "uri_template", c.uriTemplate) ||
        !OrreryAvro::selectBranch(&record, "body_template", c.bodyTemplate ? 1 : 0, &body) ||
        !(c.bodyTemplate ? OrreryAvro::setString(&body, *c.bodyTemplate) : avro_value_set_null(&body) == 0) ||
        !OrreryAvro::setFieldInt(&record, "max_redirects", c.maxRedirects) ||
        !OrreryAvro::setFieldInt(&record, "connect_timeout", c.connectTimeout) ||
        !OrreryAvro::setFieldInt(&record, "request_timeout", c.requestTimeout) ||
        !OrreryAvro::setFieldLong(&record, "callback_id", c.callbackId) ||
        !OrreryAvro::selectBranch(&record, "headers", c.headers ? 1 : 0, &headers))
        return false;
    if (!c.headers) return avro_value_set_null(&headers) == 0;
    for (const auto& [name, value] : *c.headers) {
        avro_value_t entry{};
        if (avro_value_add(&headers, name.c_str(), &entry, nullptr, nullptr) != 0 || !OrreryAvro::setString(&entry, value))
            return false;
    }
    return true;
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
        if (error) *error = std::move(reason) + ": " + OrreryAvro::lastError();
        return std::nullopt;
    };
    Schema schema = Schema::parse(OrreryRelaySchemas::kConfigResponse);
    Datum response = Datum::create(schema);
    if (!response) return fail("no ConfigResponse value");
    avro_value_t* r = response.get();
    avro_value_t global{}, relay{}, callbacks{}, analytics{};
    bool ok = OrreryAvro::setFieldLong(r, "issued_at", config.issuedAt) &&
              OrreryAvro::setFieldLong(r, "refresh_ttl", config.refreshTtl) &&
              OrreryAvro::setFieldLong(r, "expiration_ttl", config.expirationTtl) &&
              OrreryAvro::fieldForWriting(r, "global_settings", &global) && setEnum(&global, "log_level", config.logLevel) &&
              OrreryAvro::fieldForWriting(r, "relay", &relay) &&
              OrreryAvro::fieldForWriting(&relay, "callbacks", &callbacks);
    if (!ok) return fail("header fields");
    for (const RelayConfigCallback& callback : config.callbacks)
        if (!encodeCallback(&callbacks, callback)) return fail("callback " + std::to_string(callback.callbackId));
    ok = OrreryAvro::setFieldInt(&relay, "max_callback_retries", config.maxCallbackRetries) &&
         OrreryAvro::setFieldInt(&relay, "max_callback_attempts_per_report", config.maxCallbackAttemptsPerReport) &&
         OrreryAvro::setFieldLong(&relay, "max_report_delay_seconds", config.maxReportDelaySeconds) &&
         OrreryAvro::setField(&relay, "agent_report_url", config.agentReportUrl) &&
         OrreryAvro::fieldForWriting(r, "analytics", &analytics) &&
         OrreryAvro::setFieldBool(&analytics, "analytics_enabled", config.analyticsEnabled) &&
         OrreryAvro::setFieldInt(&analytics, "max_session_properties", config.maxSessionProperties);
    if (!ok) return fail("limits");
    std::optional<std::vector<uint8_t>> bytes = OrreryAvro::encode(r);
    if (!bytes) return fail("encoding");
    return std::string(bytes->begin(), bytes->end());
}

std::optional<RelayConfigRequest> decodeRelayConfigRequest(std::string_view bytes, std::string* error) {
    Schema schema = Schema::parse(OrreryRelaySchemas::kConfigRequest);
    std::string reason;
    Datum value = OrreryAvro::decode(schema, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &reason);
    if (!value) {
        if (error) *error = reason;
        return std::nullopt;
    }
    using namespace OrreryAvro;
    const avro_value_t* v = value.get();
    auto str = [&](const char* name) {
        auto f = field(v, name);
        return f ? stringValue(&*f).value_or("") : std::string();
    };
    auto int32 = [&](const char* name) {
        auto f = field(v, name);
        return f ? intValue(&*f).value_or(0) : 0;
    };
    RelayConfigRequest out;
    out.projectKey = str("project_key");
    out.bundleId = str("bundle_id");
    out.appVersion = str("app_version");
    out.sdkVersion = int32("sdk_version");
    out.platform = int32("platform");
    out.platformVersion = str("platform_version");
    if (auto f = field(v, "limit_ad_tracking")) out.limitAdTracking = boolValue(&*f).value_or(false);
    if (auto tags = field(v, "device_tags"))
        if (auto b = branch(&*tags, &out.deviceTagsBranch))
            if (auto machine = field(&*b, "hw_machine")) out.hwMachine = stringValue(&*machine).value_or("");
    if (auto ids = field(v, "device_ids")) {
        for (size_t i = 0; i < elementCount(&*ids).value_or(0); ++i) {
            auto e = element(&*ids, i);
            auto type = e ? field(&*e, "type") : std::nullopt;
            auto id = e ? field(&*e, "id") : std::nullopt;
            std::vector<uint8_t> raw = id ? bytesValue(&*id).value_or(std::vector<uint8_t>()) : std::vector<uint8_t>();
            out.deviceIds.push_back({type ? intValue(&*type).value_or(0) : 0, std::string(raw.begin(), raw.end())});
        }
    }
    if (auto geo = field(v, "geo")) {
        if (auto b = branch(&*geo, &out.geoBranch); b && out.geoBranch == 1) {
            if (auto f = field(&*b, "latitude")) out.latitude = doubleValue(&*f).value_or(0);
            if (auto f = field(&*b, "longitude")) out.longitude = doubleValue(&*f).value_or(0);
            if (auto f = field(&*b, "accuracy")) out.accuracy = floatValue(&*f).value_or(0);
        }
    }
    if (auto user = field(v, "publisher_user_id")) {
        int index = -1;
        if (auto b = branch(&*user, &index); b && index == 1) out.publisherUserId = stringValue(&*b);
    }
    out.json = toJson(v).value_or("");
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
    reports_.push_back(std::move(received));
    return reportAnswer_;
}

}  // namespace simulator
