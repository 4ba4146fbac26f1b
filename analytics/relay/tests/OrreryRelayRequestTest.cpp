// The configuration request against the simulator's Relay endpoint: the
// request body, headers and checksum byte for byte, the body decoded again
// field by field, one request at a time, the answers (success of any status
// up to 399, bad status, empty or bad bodies, failure, cancel), the stored
// settings and the one-time install trigger.
#include <mutex>
#include <string>
#include <vector>

#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryNetworkUtil.h"
#include "analytics/OrrerySession.h"
#include "analytics/relay/OrreryRelayCallbackReport.h"
#include "analytics/relay/OrreryRelayEventProcessing.h"
#include "analytics/relay/OrreryRelayRequest.h"
#include "analytics/relay/OrreryRelaySettings.h"
#include "analytics/relay/tests/RelayTestSupport.h"
#include "platform/foundation/Digest.h"
#include "platform/net/NSURLConnection.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/NSURLResponse.h"
#include "simulator/RelayService.h"

namespace {

using simulator::Answer;
using simulator::RelayService;

std::string littleEndian(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

class RecordingProcessor : public NSObject, public OrreryRelayEventProcessing {
public:
    void processEventWithParams(const std::string& name, const Value& params) override {
        std::scoped_lock lock(mutex_);
        calls_.emplace_back(name, params);
    }
    std::vector<std::pair<std::string, Value>> calls() const {
        std::scoped_lock lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, Value>> calls_;
};

class OrreryRelayRequestTest : public RelayTest {
protected:
    void SetUp() override {
        RelayTest::SetUp();
        ASSERT_TRUE(relay.start());
        OrreryNetworkUtil::setRelayServerUrl(relay.configUrl());
        OrreryGlobalVariableStorage::sharedInstance()->setLogLevel(2);
        processor = NSObject::alloc<RecordingProcessor>();
        OrreryRelayEventProcessing::setSharedProcessor(processor);
    }
    void TearDown() override {
        OrreryRelayEventProcessing::setSharedProcessor(nullptr);
        driver().settle();
        relay.stop();
        RelayTest::TearDown();
    }

    // Builds and sends on the access queue, as the event controller does.
    bool buildAndSend(const Value& params = Value()) {
        bool built = false;
        OrreryRelayRequest::synchronizedRelayAccessWithCallback_sync([&](const Ref<OrreryRelayRequest>& request) {
            built = request->buildObjectWithParams(Value());
            if (built) request->sendRelayRequestWithParams(params);
        });
        return built;
    }
    bool requestAndSettle() {
        bool built = buildAndSend();
        EXPECT_TRUE(driver().settle());
        return built;
    }
    static Ref<OrreryRelaySettings> storedSettings() {
        Ref<OrreryRelaySettings> settings;
        OrreryGlobalPersistentManager::sharedInstance()->processReadOperationForPersistentGlobalsMapSyncWithBlock(
            [&](const ValueDictionary& globals) {
                if (const Value* v = globals.find(OrreryRelaySettings::kStorageKey))
                    settings = v->object<OrreryRelaySettings>();
            });
        return settings;
    }
    static void startSession(double startSeconds) {
        OrrerySession::setCurrentSession(
            OrrerySession::alloc<OrrerySession>()->initWithStartTime(NSDate::dateWithTimeIntervalSince1970(startSeconds)));
    }

    RelayService relay;
    Ref<RecordingProcessor> processor;
};

TEST_F(OrreryRelayRequestTest, RequestBodyHeadersAndChecksumByteForByte) {
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    storage->setOrreryId("ORRERY-ID");
    storage->setUserID("user-1");
    storage->setLocation(OrreryLocation{1.5, -2.25, 10.0});
    ASSERT_TRUE(requestAndSettle());

    double lat = 1.5, lon = -2.25;
    float accuracy = 10.0f;
    std::string expected = avroString(kApiKey) + avroString("com.paranormal.detector") + avroString(kAppVersion) +
                           avroLong(187) + avroLong(2) + avroString("9.0") + std::string(1, '\0') +
                           avroLong(0) + avroString("iPhone8,1") +
                           avroLong(2) + avroLong(7) + avroString("ORRERY-ID") + avroLong(6) + avroString(kVendorId) + avroLong(0) +
                           avroLong(1) + littleEndian(&lat, 8) + littleEndian(&lon, 8) + littleEndian(&accuracy, 4) +
                           avroLong(1) + avroString("user-1");

    auto received = relay.configRequests();
    ASSERT_EQ(received.size(), 1u);
    const auto& request = received[0].request;
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/sdk/v1/config");
    EXPECT_EQ(hexOf(request.body), hexOf(expected));
    EXPECT_EQ(request.header("content-type"), "application/vnd.orrery.sdk-avrobin;version=2");
    EXPECT_EQ(request.header("accept"), "application/vnd.orrery.sdk-avrobin; version=2");
    uint32_t crc = platform::crc32(expected);
    EXPECT_EQ(request.header("or-checksum"), std::to_string(static_cast<int32_t>(crc)));

    // Decoded again with the library's generic reader, field by field.
    ASSERT_TRUE(received[0].decoded) << received[0].error;
    const auto& d = *received[0].decoded;
    EXPECT_EQ(d.projectKey, kApiKey);
    EXPECT_EQ(d.bundleId, "com.paranormal.detector");
    EXPECT_EQ(d.appVersion, kAppVersion);
    EXPECT_EQ(d.sdkVersion, 187);
    EXPECT_EQ(d.platform, 2);
    EXPECT_EQ(d.platformVersion, "9.0");
    EXPECT_FALSE(d.limitAdTracking);
    EXPECT_EQ(d.deviceTagsBranch, 0);
    EXPECT_EQ(d.hwMachine, "iPhone8,1");
    ASSERT_EQ(d.deviceIds.size(), 2u);
    EXPECT_EQ(d.deviceIds[0].type, 7);
    EXPECT_EQ(d.deviceIds[0].id, "ORRERY-ID");
    EXPECT_EQ(d.deviceIds[1].type, 6);
    EXPECT_EQ(d.deviceIds[1].id, kVendorId);
    EXPECT_EQ(d.geoBranch, 1);
    EXPECT_EQ(d.latitude, 1.5);
    EXPECT_EQ(d.longitude, -2.25);
    EXPECT_EQ(d.accuracy, 10.0f);
    EXPECT_EQ(d.publisherUserId, "user-1");
    EXPECT_TRUE(logCapture().contains("Successfully created relay request."));
    EXPECT_TRUE(logCapture().contains("Sending relay Request of size"));
}

TEST_F(OrreryRelayRequestTest, OptionalFactsAreLeftOutOrZero) {
    profile().idiom = 1;
    profile().advertisingTrackingEnabled = false;
    ASSERT_TRUE(requestAndSettle());
    auto received = relay.configRequests();
    ASSERT_EQ(received.size(), 1u);
    ASSERT_TRUE(received[0].decoded);
    const auto& d = *received[0].decoded;
    EXPECT_EQ(d.platform, 8);
    EXPECT_EQ(d.hwMachine, "iPad5,3");
    EXPECT_TRUE(d.limitAdTracking);
    // Without the analytics device identifier only the vendor's is sent.
    ASSERT_EQ(d.deviceIds.size(), 1u);
    EXPECT_EQ(d.deviceIds[0].type, 6);
    // Without a location the coordinates are zeros, still in branch 1.
    EXPECT_EQ(d.geoBranch, 1);
    EXPECT_EQ(d.latitude, 0);
    EXPECT_EQ(d.accuracy, 0);
    // Without a user the last field is the single index byte of the null branch.
    EXPECT_FALSE(d.publisherUserId);
    float zero = 0;
    double zeroD = 0;
    std::string tail = avroLong(1) + littleEndian(&zeroD, 8) + littleEndian(&zeroD, 8) + littleEndian(&zero, 4) + avroLong(0);
    const std::string& body = received[0].request.body;
    EXPECT_EQ(hexOf(body.substr(body.size() - tail.size())), hexOf(tail));
}

TEST_F(OrreryRelayRequestTest, ChecksumIsTheSignedCrcInDecimal) {
    // CRC-32 of "a" is 0xE8B7BE43 (top bit set), of "abc" 0x352441C2.
    EXPECT_EQ(OrreryRelayRequest::headerFieldsForBody(NSData::dataWithString("a"))["or-checksum"].stringValue(),
              "-390611389");
    EXPECT_EQ(OrreryRelayRequest::headerFieldsForBody(NSData::dataWithString("abc"))["or-checksum"].stringValue(),
              "891568578");
    EXPECT_EQ(OrreryRelayRequest::headerFieldsForBody(NSData())["or-checksum"].stringValue(), "0");
}

TEST_F(OrreryRelayRequestTest, OneRequestAtATime) {
    relay.setConfigAnswer(Answer::stall(Answer::ok()));
    ASSERT_TRUE(buildAndSend());
    ASSERT_TRUE(driver().runUntil([&] { return relay.server().stalledCount() == 1; }, 5));
    EXPECT_TRUE(OrreryGlobalVariableStorage::sharedInstance()->relayRequestPending());
    // A second build while pending gives NO; a send while pending sends nothing.
    EXPECT_FALSE(buildAndSend());
    OrreryRelayRequest::synchronizedRelayAccessWithCallback_sync(
        [](const Ref<OrreryRelayRequest>& request) { request->sendRelayRequestWithParams(Value()); });
    relay.server().releaseStalled();
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(relay.configRequests().size(), 1u);
    EXPECT_FALSE(OrreryGlobalVariableStorage::sharedInstance()->relayRequestPending());
    // Once answered, the next request goes out.
    relay.setConfig(simulator::RelayConfig());
    EXPECT_TRUE(requestAndSettle());
    EXPECT_EQ(relay.configRequests().size(), 2u);
}

TEST_F(OrreryRelayRequestTest, SendingWithoutABuiltRecordSendsNothingAndFreesTheGate) {
    OrreryRelayRequest::synchronizedRelayAccessWithCallback_sync(
        [](const Ref<OrreryRelayRequest>& request) { request->sendRelayRequestWithParams(Value()); });
    EXPECT_FALSE(OrreryGlobalVariableStorage::sharedInstance()->relayRequestPending());
    EXPECT_TRUE(logCapture().contains("Unable to get JSON from relay request"));
    ASSERT_TRUE(driver().settle());
    EXPECT_TRUE(relay.configRequests().empty());
}

TEST_F(OrreryRelayRequestTest, AnAnswerIsStoredAndRaisesTheInstallTriggerOnce) {
    startSession(1'700'000'000);
    simulator::RelayConfig config;
    config.issuedAt = 42;
    relay.setConfig(config);
    ASSERT_TRUE(buildAndSend(Value::dictionary({{"reason", "test"}})));
    ASSERT_TRUE(driver().settle());
    Ref<OrreryRelaySettings> settings = storedSettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->lastResponseTime(), 42);
    EXPECT_EQ(settings->agentReportUrl(), relay.reportUrl());
    auto calls = processor->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].first, "orrery.app_install");
    EXPECT_EQ(calls[0].second["sessionStartTimeForRelay"].date()->timeIntervalSince1970(), 1'700'000'000);
    EXPECT_EQ(calls[0].second["sessionEndTimeForRelay"].date()->timeIntervalSince1970(), 1'700'000'000);
    EXPECT_TRUE(OrreryGlobalVariableStorage::sharedInstance()->appInstallProcessDone());
    // The caller's parameters come back from the task.
    OrreryRelayRequest::synchronizedRelayAccessWithCallback_sync([](const Ref<OrreryRelayRequest>& request) {
        EXPECT_EQ(request->params()["reason"].stringValue(), "test");
        EXPECT_TRUE(request->runningTasks().empty());
    });
    EXPECT_TRUE(logCapture().contains("This is a relay response of len"));

    // The stored settings come back after a restart.
    OrreryGlobalPersistentManager::sharedInstance()->waitForPendingWrites();
    auto restarted = OrreryGlobalPersistentManager::alloc<OrreryGlobalPersistentManager>()->init();
    Ref<OrreryRelaySettings> reloaded;
    restarted->processReadOperationSync(OrreryPersistentMap::Globals, [&](const ValueDictionary& globals) {
        if (const Value* v = globals.find(OrreryRelaySettings::kStorageKey)) reloaded = v->object<OrreryRelaySettings>();
    });
    ASSERT_TRUE(reloaded);
    EXPECT_NE(reloaded.get(), settings.get());
    EXPECT_EQ(reloaded->lastResponseTime(), 42);
    EXPECT_EQ(reloaded->expirationTTL(), settings->expirationTTL());
    EXPECT_EQ(reloaded->agentReportUrl(), relay.reportUrl());

    // A later answer replaces the settings but raises nothing again.
    config.issuedAt = 43;
    relay.setConfig(config);
    ASSERT_TRUE(requestAndSettle());
    EXPECT_EQ(storedSettings()->lastResponseTime(), 43);
    EXPECT_EQ(processor->calls().size(), 1u);
}

TEST_F(OrreryRelayRequestTest, AnEndedSessionGivesItsEndTime) {
    startSession(1'700'000'000);
    OrrerySession::currentSession()->setEndTime(NSDate::dateWithTimeIntervalSince1970(1'700'000'030));
    ASSERT_TRUE(requestAndSettle());
    auto calls = processor->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].second["sessionEndTimeForRelay"].date()->timeIntervalSince1970(), 1'700'000'030);
}

TEST_F(OrreryRelayRequestTest, TheInstallTriggerWaitsForASessionAndForStoredSettings) {
    // No session: the settings are stored, the trigger is kept for later.
    ASSERT_TRUE(requestAndSettle());
    EXPECT_TRUE(storedSettings());
    EXPECT_TRUE(processor->calls().empty());
    EXPECT_FALSE(OrreryGlobalVariableStorage::sharedInstance()->appInstallProcessDone());

    // A body that does not parse does not use it up either.
    startSession(1'700'000'000);
    relay.setConfigAnswer(Answer::ok("not avro at all"));
    ASSERT_TRUE(requestAndSettle());
    EXPECT_TRUE(processor->calls().empty());
    EXPECT_FALSE(OrreryGlobalVariableStorage::sharedInstance()->appInstallProcessDone());
    // Nor does an empty answer.
    relay.setConfigAnswer(Answer::ok(""));
    ASSERT_TRUE(requestAndSettle());
    EXPECT_TRUE(processor->calls().empty());

    relay.setConfig(simulator::RelayConfig());
    ASSERT_TRUE(requestAndSettle());
    EXPECT_EQ(processor->calls().size(), 1u);
    EXPECT_TRUE(OrreryGlobalVariableStorage::sharedInstance()->appInstallProcessDone());
}

TEST_F(OrreryRelayRequestTest, BadAnswersKeepTheStoredSettings) {
    simulator::RelayConfig config;
    config.issuedAt = 7;
    relay.setConfig(config);
    ASSERT_TRUE(requestAndSettle());
    ASSERT_TRUE(storedSettings());

    std::string good = *simulator::encodeRelayConfig(config);
    // issued_at, refresh_ttl, expiration_ttl, log level "OFF": then the callbacks.
    std::string head = avroLong(7) + avroLong(3600) + avroLong(604800) + avroLong(4);
    ASSERT_EQ(good.substr(0, head.size()), head);
    const std::vector<std::string> bodies = {
        "garbage",
        good.substr(0, good.size() / 2),                   // truncated
        good + "extra",                                    // trailing bytes
        head + avroLong(int64_t{1} << 50),                   // absurd element count
        head + avroLong(1) + avroLong(int64_t{1} << 40) + "p",  // absurd string length
        head + avroLong(1) + avroString("p") + avroLong(1) + avroLong(9) + "e",  // union branch 9 of two
        std::string(2'000'000, '\x02'),                    // absurdly long
    };
    for (const std::string& body : bodies) {
        relay.setConfigAnswer(Answer::ok(body));
        ASSERT_TRUE(requestAndSettle());
        Ref<OrreryRelaySettings> settings = storedSettings();
        ASSERT_TRUE(settings);
        EXPECT_EQ(settings->lastResponseTime(), 7);
    }
    EXPECT_TRUE(logCapture().contains("Relay configuration answer rejected"));

    // Error statuses and empty bodies store nothing either.
    relay.setConfigAnswer(Answer::withStatus(404, good));
    ASSERT_TRUE(requestAndSettle());
    EXPECT_TRUE(logCapture().contains("relayRequst: bad response from server"));
    relay.setConfigAnswer(Answer::ok(""));
    ASSERT_TRUE(requestAndSettle());
    EXPECT_TRUE(logCapture().contains("relayRequest: the configuration answer is empty; nothing is stored"));
    EXPECT_EQ(storedSettings()->lastResponseTime(), 7);
    EXPECT_TRUE(processor->calls().empty());
}

TEST_F(OrreryRelayRequestTest, ARedirectStatusCountsAsSuccess) {
    simulator::RelayConfig config;
    config.issuedAt = 302;
    relay.setConfigAnswer(Answer::withStatus(302, *simulator::encodeRelayConfig(config)));
    ASSERT_TRUE(requestAndSettle());
    Ref<OrreryRelaySettings> settings = storedSettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->lastResponseTime(), 302);
    EXPECT_TRUE(logCapture().contains("the configuration answer is a redirect (status 302)"));
}

TEST_F(OrreryRelayRequestTest, FailuresAndCancelsFreeTheGate) {
    relay.setConfigAnswer(Answer::drop());
    ASSERT_TRUE(requestAndSettle());
    EXPECT_FALSE(OrreryGlobalVariableStorage::sharedInstance()->relayRequestPending());
    EXPECT_TRUE(logCapture().contains("relayRequest: Could not connect to server"));
    EXPECT_FALSE(storedSettings());

    relay.setConfigAnswer(Answer::stall(Answer::ok()));
    ASSERT_TRUE(buildAndSend());
    ASSERT_TRUE(driver().runUntil([&] { return relay.server().stalledCount() == 1; }, 5));
    OrreryRelayRequest::synchronizedRelayAccessWithCallback_sync(
        [](const Ref<OrreryRelayRequest>& request) { request->cleanUp(); });
    ASSERT_TRUE(driver().settle());
    EXPECT_TRUE(logCapture().contains("relayRequst: Request was cancelled"));
    EXPECT_FALSE(OrreryGlobalVariableStorage::sharedInstance()->relayRequestPending());
    OrreryRelayRequest::synchronizedRelayAccessWithCallback_sync([](const Ref<OrreryRelayRequest>& request) {
        EXPECT_TRUE(request->runningTasks().empty());
        // The schemas are forgotten, and parsed again by the next build.
        EXPECT_FALSE(request->relayRequestSchema());
    });
    relay.server().releaseStalled();
    relay.setConfig(simulator::RelayConfig());
    ASSERT_TRUE(requestAndSettle());
    EXPECT_TRUE(storedSettings());
}

// The simulator's report endpoint reads what it is sent and answers as told.
TEST_F(OrreryRelayRequestTest, TheReportEndpointRecordsReports) {
    auto post = [&](const NSData& body) {
        auto request = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(relay.reportUrl()));
        request->setHTTPMethod("POST");
        request->setValue("application/octet-stream", "content-type");
        request->setHTTPBody(body);
        Ref<NSURLResponse> response;
        Ref<NSError> error;
        EXPECT_TRUE(NSURLConnection::sendSynchronousRequest(request, &response, &error));
        auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
        return http ? http->statusCode() : 0;
    };
    EXPECT_EQ(post(OrreryRelayCallbackReport::callbackStatusDataForReports({})), 200);
    relay.setReportAnswer(Answer::withStatus(503));
    EXPECT_EQ(post(NSData::dataWithString("not a report")), 503);
    auto reports = relay.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].request.path, "/pcr.do");
    ASSERT_TRUE(reports[0].report) << reports[0].error;
    EXPECT_TRUE(reports[0].report->checksumMatches);
    EXPECT_EQ(reports[0].report->apiKey, kApiKey);
    EXPECT_FALSE(reports[1].report);
    EXPECT_EQ(reports[1].request.body, "not a report");
}

}  // namespace
