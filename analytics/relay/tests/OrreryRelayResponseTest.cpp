// The configuration answer mapped to settings: every field, the absolute
// times, the trigger map in order, absent optional values, values built
// without some fields, and bodies that are no ConfigResponse at all.
#include <limits>

#include "analytics/relay/OrreryAvro.h"
#include "analytics/relay/OrreryRelayResponse.h"
#include "analytics/relay/OrreryRelaySchemas.h"
#include "analytics/relay/tests/RelayTestSupport.h"
#include "simulator/RelayService.h"

namespace {

using simulator::RelayConfig;
using simulator::RelayConfigCallback;
using simulator::RelayParameterTrigger;

NSData encoded(const RelayConfig& config) {
    std::string error;
    std::optional<std::string> body = simulator::encodeRelayConfig(config, &error);
    EXPECT_TRUE(body) << error;
    return body ? NSData(body->data(), body->size()) : NSData();
}

RelayConfig fullConfig() {
    RelayConfig config;
    config.issuedAt = 1'699'999'999'000;
    config.refreshTtl = 3600;
    config.expirationTtl = 604800;
    config.logLevel = "WARN";
    RelayConfigCallback post;
    post.partner = "alpha";
    post.events = {std::string("purchase"), RelayParameterTrigger{"level", "number", {"1", "5"}},
                   std::string("orrery.session_start")};
    post.method = "POST";
    post.uriTemplate = "https://alpha.example/cb?e=%{event}";
    post.bodyTemplate = "{\"id\":\"%{id}\"}";
    post.maxRedirects = 2;
    post.connectTimeout = 7;
    post.requestTimeout = 9;
    post.callbackId = (int64_t{1} << 40) + 1;
    post.headers = {{{"X-Key", "k"}, {"Accept", "*/*"}}};
    RelayConfigCallback get;
    get.partner = "beta";
    get.events = {std::string("purchase"), RelayParameterTrigger{"level", "number", {"9"}}, std::string("purchase")};
    get.method = "PUT";
    get.uriTemplate = "https://beta.example/";
    get.callbackId = 12;
    config.callbacks = {post, get};
    config.maxCallbackRetries = 4;
    config.maxCallbackAttemptsPerReport = 20;
    config.maxReportDelaySeconds = 300;
    config.agentReportUrl = "https://reports.example/pcr.do";
    config.analyticsEnabled = false;
    config.maxSessionProperties = 12;
    return config;
}

class OrreryRelayResponseTest : public RelayTest {
protected:
    Ref<OrreryRelaySettings> parse(const NSData& body) {
        return OrreryRelayResponse::alloc<OrreryRelayResponse>()->init()->parseRelayResponse(body, now);
    }
    NSDate now = NSDate::dateWithTimeIntervalSince1970(1'700'000'000.5);
};

TEST_F(OrreryRelayResponseTest, AHandBuiltAnswerIsWhatTheSimulatorWritesAndTheClientReads) {
    // One callback with both kinds of event, a body and a header; every
    // field in schema order, written by hand.
    RelayConfigCallback callback;
    callback.partner = "p";
    callback.events = {std::string("Level"), RelayParameterTrigger{"Buy", "sku", {"a", "b"}}};
    callback.method = "POST";
    callback.uriTemplate = "http://x/%{event_name}";
    callback.bodyTemplate = "{}";
    callback.callbackId = 77;
    callback.headers = {{{"X-A", "1"}}};
    RelayConfig config;
    config.issuedAt = 1;
    config.logLevel = "WARN";
    config.callbacks = {callback};
    config.agentReportUrl = "http://r/pcr.do";
    const std::string bytes =
        avroLong(1) + avroLong(3600) + avroLong(604800) + avroLong(6) +  // times, log level WARN
        avroLong(1) +                                                    // one callback
        avroString("p") + avroLong(2) + avroLong(0) + avroString("Level") + avroLong(1) + avroString("Buy") +
        avroString("sku") + avroLong(2) + avroString("a") + avroString("b") + avroLong(0) + avroLong(0) +
        avroLong(2) + avroString("http://x/%{event_name}") + avroLong(1) + avroString("{}") +  // POST, uri, body
        avroLong(5) + avroLong(20) + avroLong(20) + avroLong(77) +                              // limits, id
        avroLong(1) + avroLong(1) + avroString("X-A") + avroString("1") + avroLong(0) +         // headers
        avroLong(0) +                                                                           // end of callbacks
        avroLong(3) + avroLong(15) + avroLong(600) + avroString("http://r/pcr.do") +            // report limits
        std::string(1, '\x01') + avroLong(10);                                                  // analytics
    EXPECT_EQ(hexOf(encoded(config)), hexOf(bytes));

    Ref<OrreryRelaySettings> s = parse(NSData(bytes.data(), bytes.size()));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->lastResponseTime(), 1);
    EXPECT_EQ(s->globalSettings()[OrreryRelaySettings::kLogLevelKey].stringValue(), "WARN");
    auto cb = s->callbackWithId(77);
    ASSERT_TRUE(cb);
    EXPECT_EQ(cb->method(), 2);
    EXPECT_EQ(cb->uriTemplate(), std::string("http://x/%{event_name}"));
    EXPECT_EQ(cb->bodyTemplate(), std::string("{}"));
    EXPECT_EQ(cb->headers()["X-A"].stringValue(), "1");
    ASSERT_TRUE(s->callbackEventsMap());
    const auto& entries = s->callbackEventsMap()->entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].key.stringValue(), "Level");
    auto trigger = entries[1].key.object<OrreryRelayEventTrigger>();
    ASSERT_TRUE(trigger);
    EXPECT_EQ(trigger->eventParamValues(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(s->maxCallbackAttemptsPerReport(), 15);
    EXPECT_EQ(s->agentReportUrl(), std::string("http://r/pcr.do"));
    EXPECT_TRUE(s->analytics()[OrreryRelaySettings::kAnalyticsEnabledKey].boolValue());
}

TEST_F(OrreryRelayResponseTest, EveryFieldLandsInTheSettings) {
    Ref<OrreryRelaySettings> s = parse(encoded(fullConfig()));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->lastResponseTime(), 1'699'999'999'000);
    EXPECT_EQ(s->nextRefreshTTL(), 1'700'003'600'500);
    EXPECT_EQ(s->expirationTTL(), 1'700'604'800'500);
    EXPECT_TRUE(s->globalSettings().isEqual(Value::dictionary({{"logLevel", "WARN"}})));
    EXPECT_EQ(s->maxCallbackRetries(), 4);
    EXPECT_EQ(s->maxCallbackAttemptsPerReport(), 20);
    EXPECT_EQ(s->maxReportDelaySecs(), 300);
    EXPECT_EQ(s->agentReportUrl(), "https://reports.example/pcr.do");
    EXPECT_TRUE(s->analytics().isEqual(Value::dictionary({{"analytics_enabled", false}, {"max_session_properties", 12}})));
    EXPECT_TRUE(s->analytics()["analytics_enabled"].isBool());

    ASSERT_TRUE(s->callbacks());
    ASSERT_EQ(s->callbacks()->size(), 2u);
    auto alpha = s->callbackWithId((int64_t{1} << 40) + 1);
    ASSERT_TRUE(alpha);
    EXPECT_EQ(alpha->partner(), "alpha");
    EXPECT_EQ(alpha->method(), 2);
    EXPECT_EQ(alpha->uriTemplate(), "https://alpha.example/cb?e=%{event}");
    EXPECT_EQ(alpha->bodyTemplate(), "{\"id\":\"%{id}\"}");
    EXPECT_EQ(alpha->maxRedirects(), 2);
    EXPECT_EQ(alpha->connectTimeout(), 7);
    EXPECT_EQ(alpha->requestTimeout(), 9);
    EXPECT_TRUE(alpha->headers().isEqual(Value::dictionary({{"X-Key", "k"}, {"Accept", "*/*"}})));
    auto beta = s->callbackWithId(12);
    ASSERT_TRUE(beta);
    EXPECT_EQ(beta->method(), 1);
    EXPECT_FALSE(beta->bodyTemplate());
    EXPECT_TRUE(beta->headers().isNull());
    EXPECT_EQ(beta->maxRedirects(), 5);

    // Keys in the order first seen; ids in the order of the callbacks, a key
    // named twice by one callback listing it twice.
    ASSERT_TRUE(s->callbackEventsMap());
    const auto& entries = s->callbackEventsMap()->entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(entries[0].key.isEqual(Value("purchase")));
    EXPECT_EQ(entries[0].callbackIds, (std::vector<int64_t>{(int64_t{1} << 40) + 1, 12, 12}));
    auto level = entries[1].key.object<OrreryRelayEventTrigger>();
    ASSERT_TRUE(level);
    EXPECT_EQ(level->eventName(), "level");
    EXPECT_EQ(level->eventParamName(), "number");
    EXPECT_EQ(level->eventParamValues(), (std::vector<std::string>{"1", "5"}));
    EXPECT_EQ(entries[1].callbackIds, (std::vector<int64_t>{(int64_t{1} << 40) + 1, 12}));
    EXPECT_TRUE(entries[2].key.isEqual(Value("orrery.session_start")));
}

TEST_F(OrreryRelayResponseTest, EmptyAndAbsentOptionalValuesGiveNothing) {
    RelayConfig config = fullConfig();
    config.callbacks[0].bodyTemplate = "";
    config.callbacks[0].headers = std::vector<std::pair<std::string, std::string>>{};
    config.callbacks[0].uriTemplate = "";
    config.agentReportUrl = "";
    config.maxReportDelaySeconds = (int64_t{1} << 32) + 77;  // narrowed to its low 32 bits
    Ref<OrreryRelaySettings> s = parse(encoded(config));
    ASSERT_TRUE(s);
    auto alpha = s->callbackWithId((int64_t{1} << 40) + 1);
    EXPECT_FALSE(alpha->bodyTemplate());
    EXPECT_TRUE(alpha->headers().isNull());
    EXPECT_FALSE(alpha->uriTemplate());
    EXPECT_FALSE(s->agentReportUrl());
    EXPECT_EQ(s->maxReportDelaySecs(), 77);
    config.maxReportDelaySeconds = 0xFFFFFFFF;
    EXPECT_EQ(parse(encoded(config))->maxReportDelaySecs(), -1);

    // No callbacks: both maps stay unset.
    config.callbacks.clear();
    s = parse(encoded(config));
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->callbacks());
    EXPECT_FALSE(s->callbackEventsMap());
}

TEST_F(OrreryRelayResponseTest, TimesToLiveAreAddedToNowInWholeMilliseconds) {
    RelayConfig config = fullConfig();
    config.refreshTtl = -60;
    config.expirationTtl = std::numeric_limits<int64_t>::max();
    Ref<OrreryRelaySettings> s = parse(encoded(config));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->nextRefreshTTL(), 1'699'999'940'500);
    EXPECT_EQ(s->expirationTTL(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(s->fetchTime(), 1'700'000'000'500);
    now = NSDate::dateWithTimeIntervalSince1970(1'700'000'000.0009);
    EXPECT_EQ(parse(encoded(fullConfig()))->nextRefreshTTL(), 1'700'003'600'000);
}

TEST_F(OrreryRelayResponseTest, BodiesThatAreNoConfigResponseGiveNothing) {
    NSData good = encoded(fullConfig());
    // The rejection is a Relay diagnostic: silent below log level 2.
    EXPECT_FALSE(parse(NSData()));
    EXPECT_FALSE(logCapture().contains("Relay configuration answer rejected"));
    OrreryGlobalVariableStorage::sharedInstance()->setLogLevel(2);
    EXPECT_FALSE(parse(NSData::dataWithString("{\"issued_at\": 1}")));
    EXPECT_FALSE(parse(good.subdataWithRange(0, good.length() - 1)));
    NSData longer = good;
    longer.appendBytes("\0", 1);
    EXPECT_FALSE(parse(longer));
    // A ConfigRequest is Avro too, but of another schema.
    auto requestSchema = OrreryAvro::Schema::parse(OrreryRelaySchemas::kGeolocation);
    OrreryAvro::Datum geo = OrreryAvro::Datum::create(requestSchema);
    auto geoBytes = OrreryAvro::encode(geo.get());
    ASSERT_TRUE(geoBytes);
    EXPECT_FALSE(parse(NSData(*geoBytes)));
    EXPECT_TRUE(logCapture().contains("Relay configuration answer rejected"));
}

TEST_F(OrreryRelayResponseTest, ManyTriggerKeysMapInLinearTime) {
    RelayConfig config;
    RelayConfigCallback callback;
    callback.partner = "p";
    callback.uriTemplate = "https://p.example";
    for (int i = 0; i < 30000; ++i) callback.events.emplace_back("event" + std::to_string(i));
    callback.events.emplace_back(std::string("event7"));
    config.callbacks = {callback};
    Ref<OrreryRelaySettings> s = parse(encoded(config));
    ASSERT_TRUE(s);
    ASSERT_EQ(s->callbackEventsMap()->count(), 30000u);
    EXPECT_EQ(s->callbackEventsMap()->callbackIdsForKey(Value("event7"))->size(), 2u);
}

// Values built with a smaller schema lack fields; the defaults apply.
TEST_F(OrreryRelayResponseTest, ValuesWithoutOptionalFieldsTakeTheDefaults) {
    OrreryGlobalVariableStorage::sharedInstance()->setLogLevel(2);
    auto schema = OrreryAvro::Schema::parse(R"({"type":"record","name":"ConfigResponse","fields":[
        {"name":"issued_at","type":"long"},
        {"name":"expiration_ttl","type":"long"},
        {"name":"global_settings","type":{"type":"record","name":"GlobalSettings","fields":[]}},
        {"name":"relay","type":{"type":"record","name":"Callbacks","fields":[
            {"name":"callbacks","type":{"type":"array","items":{"type":"record","name":"Callback","fields":[
                {"name":"partner","type":"string"},
                {"name":"events","type":{"type":"array","items":["string",
                    {"type":"record","name":"Other","fields":[]}]}},
                {"name":"method","type":{"type":"enum","name":"RequestMethod","symbols":["GET","PUT","POST"]}},
                {"name":"uri_template","type":"string"},
                {"name":"callback_id","type":"long"},
                {"name":"headers","type":{"type":"map","values":"string"}}]}}}]}},
        {"name":"analytics","type":{"type":"record","name":"Analytics","fields":[]}}]})");
    ASSERT_TRUE(schema) << OrreryAvro::lastError();
    OrreryAvro::Datum value = OrreryAvro::Datum::create(schema);
    avro_value_t* v = value.get();
    avro_value_t relay{}, callbacks{}, callback{}, events{}, event{}, branch{};
    ASSERT_TRUE(OrreryAvro::setFieldLong(v, "issued_at", 5));
    ASSERT_TRUE(OrreryAvro::setFieldLong(v, "expiration_ttl", 10));
    ASSERT_TRUE(OrreryAvro::fieldForWriting(v, "relay", &relay));
    ASSERT_TRUE(OrreryAvro::fieldForWriting(&relay, "callbacks", &callbacks));
    ASSERT_EQ(avro_value_append(&callbacks, &callback, nullptr), 0);
    ASSERT_TRUE(OrreryAvro::setField(&callback, "partner", "p"));
    ASSERT_TRUE(OrreryAvro::setField(&callback, "uri_template", "https://p.example"));
    ASSERT_TRUE(OrreryAvro::setFieldLong(&callback, "callback_id", 3));
    ASSERT_TRUE(OrreryAvro::fieldForWriting(&callback, "events", &events));
    ASSERT_EQ(avro_value_append(&events, &event, nullptr), 0);
    ASSERT_TRUE(OrreryAvro::selectBranch(&event, nullptr, 1, &branch));  // a record of another name: skipped
    ASSERT_EQ(avro_value_append(&events, &event, nullptr), 0);
    ASSERT_TRUE(OrreryAvro::selectBranch(&event, nullptr, 0, &branch));
    ASSERT_TRUE(OrreryAvro::setString(&branch, "open"));

    Ref<OrreryRelaySettings> s = OrreryRelayResponse::settingsFromResponseValue(v, now);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->nextRefreshTTL(), 1'700'003'600'500);
    EXPECT_TRUE(s->globalSettings().isEqual(Value(ValueDictionary())));
    EXPECT_EQ(s->maxCallbackRetries(), 3);
    EXPECT_EQ(s->maxCallbackAttemptsPerReport(), 15);
    EXPECT_EQ(s->maxReportDelaySecs(), 600);
    EXPECT_FALSE(s->agentReportUrl());
    EXPECT_TRUE(s->analytics().isEqual(Value::dictionary({{"analytics_enabled", true}, {"max_session_properties", 10}})));
    auto cb = s->callbackWithId(3);
    ASSERT_TRUE(cb);
    EXPECT_EQ(cb->maxRedirects(), 5);
    EXPECT_EQ(cb->connectTimeout(), 20);
    EXPECT_EQ(cb->requestTimeout(), 20);
    EXPECT_FALSE(cb->bodyTemplate());
    EXPECT_TRUE(cb->headers().isNull());
    ASSERT_EQ(s->callbackEventsMap()->count(), 1u);
    EXPECT_TRUE(s->callbackEventsMap()->entries()[0].key.isEqual(Value("open")));
    for (const char* line : {"refresh_ttl is not present. Using default", "log_level is not present",
                             "body_template is not present", "max_redirects is not present", "headers is null",
                             "max_callbacks is not present", "agent_report_url is not present",
                             "analytics_enabled is not present", "max_session_properties is not present"})
        EXPECT_TRUE(logCapture().contains(line)) << line;
}

TEST_F(OrreryRelayResponseTest, ValuesWithoutRequiredFieldsGiveNothing) {
    OrreryGlobalVariableStorage::sharedInstance()->setLogLevel(2);
    auto noIssuedAt = OrreryAvro::Schema::parse(R"({"type":"record","name":"ConfigResponse","fields":[
        {"name":"expiration_ttl","type":"long"}]})");
    OrreryAvro::Datum a = OrreryAvro::Datum::create(noIssuedAt);
    EXPECT_FALSE(OrreryRelayResponse::settingsFromResponseValue(a.get(), now));
    EXPECT_TRUE(logCapture().contains("issued_at is not present"));

    auto noExpiry = OrreryAvro::Schema::parse(R"({"type":"record","name":"ConfigResponse","fields":[
        {"name":"issued_at","type":"long"}]})");
    OrreryAvro::Datum b = OrreryAvro::Datum::create(noExpiry);
    EXPECT_FALSE(OrreryRelayResponse::settingsFromResponseValue(b.get(), now));
    EXPECT_TRUE(logCapture().contains("expiration_ttl is not present"));

    // A callback without an id, or a trigger without its values, spoils the answer.
    auto noId = OrreryAvro::Schema::parse(R"({"type":"record","name":"ConfigResponse","fields":[
        {"name":"issued_at","type":"long"},{"name":"expiration_ttl","type":"long"},
        {"name":"relay","type":{"type":"record","name":"Callbacks","fields":[
            {"name":"callbacks","type":{"type":"array","items":{"type":"record","name":"Callback","fields":[
                {"name":"partner","type":"string"},
                {"name":"method","type":{"type":"enum","name":"RequestMethod","symbols":["GET"]}},
                {"name":"uri_template","type":"string"}]}}}]}}]})");
    OrreryAvro::Datum c = OrreryAvro::Datum::create(noId);
    avro_value_t relay{}, callbacks{}, callback{};
    ASSERT_TRUE(OrreryAvro::fieldForWriting(c.get(), "relay", &relay));
    ASSERT_TRUE(OrreryAvro::fieldForWriting(&relay, "callbacks", &callbacks));
    ASSERT_EQ(avro_value_append(&callbacks, &callback, nullptr), 0);
    EXPECT_FALSE(OrreryRelayResponse::settingsFromResponseValue(c.get(), now));
    EXPECT_TRUE(logCapture().contains("callback_id is not present"));
}

}  // namespace
