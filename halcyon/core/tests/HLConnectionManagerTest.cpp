// The HTTP client and the retrying request against the Halcyon service:
// every answer classified, the request bytes on the wire, the https upgrade,
// the API URL with the key and then the token (of any characters), the
// refused-key table, retries handed to queue 1 on the virtual clock with
// exactly one outcome per chain, and what is refused before sending (other
// schemes, bodies that are no JSON) without a read or a retry.
#include <gtest/gtest.h>

#include <filesystem>

#include "halcyon/core/HLConnectionUtils.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/HLTaskRepeatRequest.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/NSException.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NetworkConditions.h"

namespace {

using simulator::Answer;
using simulator::HalcyonService;
using Outcome = HLRecordingConnectionDelegate::Outcome;

class HLConnectionManagerTest : public HalcyonTest {
protected:
    void SetUp() override {
        HalcyonTest::SetUp();
        sdk = startSdk();
    }

    // One GET of `path` answered with `answer`; what the delegate heard.
    std::vector<Outcome> getAnswered(Answer answer, std::optional<bool> requiresResponse = std::nullopt) {
        service.script("/api/x", {std::move(answer)});
        auto delegate = NSObject::alloc<HLRecordingConnectionDelegate>();
        delegate->requiresResponse = requiresResponse;
        sdk->connectionManager()->get(service.apiUrl() + "x", delegate);
        return delegate->outcomes();
    }

    Ref<HLTaskRepeatRequest> repeatRequest(const Ref<HLRecordingConnectionDelegate>& delegate, uint32_t attempts) {
        auto request = NSObject::alloc<HLTaskRepeatRequest>()->initWithSdk(sdk);
        request->setRequestEndpoint(service.apiUrl() + "retry");
        request->setAttemptsLeft(attempts);
        request->setDelegate(delegate);
        return request;
    }

    Ref<HLSdk> sdk;
};

bool hlIsOutcome(const std::vector<Outcome>& outcomes, bool success, int64_t code) {
    return outcomes.size() == 1 && outcomes[0].success == success && outcomes[0].code == code;
}

TEST_F(HLConnectionManagerTest, EveryAnswerIsClassified) {
    EXPECT_TRUE(hlIsOutcome(getAnswered(Answer::withStatus(204)), false, 204));
    EXPECT_TRUE(hlIsOutcome(getAnswered(Answer::ok("")), true, 200));
    EXPECT_TRUE(hlIsOutcome(getAnswered(Answer::ok(""), true), false, -1));
    EXPECT_TRUE(hlIsOutcome(getAnswered(Answer::ok("[1, 2]")), false, 200));
    EXPECT_TRUE(listener->contains("Unable to parse response from \""));
    EXPECT_TRUE(hlIsOutcome(getAnswered(Answer::ok("[1, 2]"), false), true, 200));
    EXPECT_TRUE(hlIsOutcome(getAnswered(Answer::ok("{\"a\": ")), false, 200));
    EXPECT_TRUE(hlIsOutcome(getAnswered(Answer::withStatus(201, "not json")), false, 201));
    EXPECT_TRUE(hlIsOutcome(getAnswered(Answer::withStatus(503, "{}")), false, 503));
    EXPECT_TRUE(hlIsOutcome(getAnswered(Answer::withStatus(302)), false, 302));
    EXPECT_TRUE(hlIsOutcome(getAnswered(Answer::ok("{\"a\": \"" + std::string(9 << 20, 'x') + "\"}")), false, -1103));

    auto parsed = getAnswered(Answer::ok("{\"a\": [1, {\"b\": null}]}"));
    ASSERT_TRUE(hlIsOutcome(parsed, true, 200));
    EXPECT_EQ(parsed[0].body["a"].at(1).contains("b"), true);

    // A redirect to an app's own scheme ends the request as a success; a
    // URL of that scheme is never sent at all.
    EXPECT_TRUE(
        hlIsOutcome(getAnswered(Answer::withStatus(302).header("Location", "halcyon-app://open")), true, -1002));
    EXPECT_TRUE(listener->contains("Encountered an app scheme or non http/s URL."));
    auto delegate = NSObject::alloc<HLRecordingConnectionDelegate>();
    sdk->connectionManager()->get("halcyon-app://open?x=1", delegate);
    EXPECT_TRUE(hlIsOutcome(delegate->outcomes(), false, -1002));
    EXPECT_TRUE(listener->contains("Refused to fetch a \"halcyon-app\" URL: only http and https are fetched"));

    platform::testing::NetworkConditions::set(NetworkState::None);
    EXPECT_TRUE(hlIsOutcome(getAnswered(Answer::ok("{}")), false, -1009));
    EXPECT_TRUE(listener->contains("ERROR [HLConnectionManager] Failed GET because of no internet connection"));
}

// A long answer is logged by its start and length, cut between characters:
// a cut through a character does not make a UTF-8 answer read as another kind.
TEST_F(HLConnectionManagerTest, ALongAnswerIsLoggedByItsStartCutBetweenCharacters) {
    std::string body = "x";
    while (body.size() < 6000) body += "\xC3\xA9";  // from an odd offset: every even cut splits one
    getAnswered(Answer::ok(body));
    EXPECT_TRUE(listener->contains(body.substr(0, 2047) + "\u2026 (6001 bytes)"));
    EXPECT_FALSE(listener->contains("not UTF-8"));
    getAnswered(Answer::ok("\xFF\xFE"));
    EXPECT_TRUE(listener->contains("<2 bytes that are not UTF-8>"));
}

TEST_F(HLConnectionManagerTest, RequestsCarryExactlyTheirHeadersAndBody) {
    service.server().clearRecord();
    Value body = Value::dictionary({{"k", "v\u00e9"}, {"n", 1}, {"list", Value::array({true, 2.5})}});
    sdk->connectionManager()->post(service.apiUrl() + "posted", body);
    sdk->connectionManager()->get(service.apiUrl() + "got?q=1");
    auto requests = service.server().requests();
    ASSERT_EQ(requests.size(), 2u);

    const auto& post = requests[0];
    EXPECT_EQ(post.method, "POST");
    EXPECT_EQ(post.head.substr(0, post.head.find("\r\n")), "POST /api/posted HTTP/1.1");
    std::vector<std::string> names;
    for (const auto& [name, value] : post.headers) names.push_back(name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Content-Length", "Content-Type", "Host"}));
    EXPECT_EQ(post.header("Content-Type"), "application/json");
    EXPECT_EQ(post.header("Content-Length"), std::to_string(post.body.size()));
    EXPECT_EQ(HalcyonService::jsonBody(post), body);
    EXPECT_NE(post.body.find("\n  \""), std::string::npos);  // pretty-printed
    EXPECT_NE(post.body.find("v\xC3\xA9"), std::string::npos);

    const auto& get = requests[1];
    EXPECT_EQ(get.method, "GET");
    EXPECT_EQ(get.target, "/api/got?q=1");
    ASSERT_EQ(get.headers.size(), 1u);
    EXPECT_EQ(get.headers[0].first, "Host");
    EXPECT_TRUE(get.body.empty());
}

TEST_F(HLConnectionManagerTest, BodiesThatAreNoJsonAndMissingArgumentsSendNothing) {
    service.server().clearRecord();
    auto delegate = NSObject::alloc<HLRecordingConnectionDelegate>();
    sdk->connectionManager()->post(service.apiUrl() + "x", Value::dictionary({{"when", NSDate::date()}}), delegate);
    EXPECT_TRUE(hlIsOutcome(delegate->outcomes(), false, -901));
    EXPECT_TRUE(listener->contains("ERROR [HLConnectionManager] Unable to create JSON request: "));
    EXPECT_THROW(sdk->connectionManager()->post("", Value::dictionary({}), delegate), NSException);
    EXPECT_THROW(sdk->connectionManager()->post(service.apiUrl(), Value(), delegate), NSException);
    EXPECT_THROW(sdk->connectionManager()->sendTo(service.apiUrl(), "", Value::dictionary({}), delegate), NSException);
    EXPECT_EQ(service.server().requestCount(), 0u);
}

TEST_F(HLConnectionManagerTest, ForceSslUpgradesOnlyUrlsWithoutHttps) {
    sdk->settingsManager()->putBool(true, kHLSlotForceSsl);
    service.server().clearRecord();
    auto delegate = NSObject::alloc<HLRecordingConnectionDelegate>();
    sdk->connectionManager()->get(service.apiUrl() + "plain", delegate);
    EXPECT_TRUE(listener->contains("Plaintext HTTP operation requested; upgrading to HTTPS due to universal SSL setting..."));
    EXPECT_TRUE(listener->contains("received from \"https://127.0.0.1:"));
    ASSERT_EQ(delegate->count(), 1u);
    EXPECT_FALSE(delegate->outcomes()[0].success);  // a TLS client against the plain listener
    EXPECT_LT(delegate->outcomes()[0].code, 0);
    EXPECT_TRUE(service.requestsTo("/api/plain").empty());

    // A URL holding "https://" anywhere goes out as it is.
    sdk->connectionManager()->get(service.apiUrl() + "kept?next=https://elsewhere/", delegate);
    EXPECT_EQ(service.requestsTo("/api/kept").size(), 1u);

    EXPECT_EQ(HLConnectionUtils::secureEndpointForUrl("http://a/?b=http://c"), "https://a/?b=https://c");
    EXPECT_EQ(HLConnectionUtils::secureEndpointForUrl("http://a/?b=https://c"), "http://a/?b=https://c");
    EXPECT_EQ(HLConnectionUtils::secureEndpointForUrl(std::nullopt), std::nullopt);
}

TEST_F(HLConnectionManagerTest, ForceSslReachesTheHttpsListenerOnlyWhenItsAuthorityIsTrusted) {
    sdk->settingsManager()->putBool(true, kHLSlotForceSsl);
    service.server().clearRecord();
    // The https listener's port, written as a plain URL: the client upgrades it.
    const std::string plain = "http://127.0.0.1:" + std::to_string(service.server().httpsPort()) + "/api/upgraded";
    auto untrusted = NSObject::alloc<HLRecordingConnectionDelegate>();
    sdk->connectionManager()->get(plain, untrusted);
    EXPECT_TRUE(hlIsOutcome(untrusted->outcomes(), false, NSURLErrorServerCertificateHasUnknownRoot));
    EXPECT_EQ(service.server().requestCount(), 0u);

    trustService();
    service.script("/api/upgraded", {Answer::ok("{\"secure\": true}")});
    auto trusted = NSObject::alloc<HLRecordingConnectionDelegate>();
    sdk->connectionManager()->post(plain, Value::dictionary({{"k", 1}}), trusted);
    ASSERT_TRUE(hlIsOutcome(trusted->outcomes(), true, 200));
    auto arrived = service.requestsTo("/api/upgraded");
    ASSERT_EQ(arrived.size(), 1u);
    EXPECT_TRUE(arrived[0].secure);
    EXPECT_EQ(HalcyonService::jsonBody(arrived[0]), Value::dictionary({{"k", 1}}));
}

TEST_F(HLConnectionManagerTest, TheApiCanBeServedOverHttps) {
    trustService();
    Ref<HLSdk> secure = restartSdk(serviceSettings(true));
    auto submissions = service.requestsTo(HalcyonService::kDevicePath);
    ASSERT_EQ(submissions.size(), 2u);
    EXPECT_FALSE(submissions[0].secure);
    EXPECT_TRUE(submissions[1].secure);
    EXPECT_EQ(secure->stringForKey(kHLSlotDeviceToken), "hl-token-1");
    EXPECT_EQ(HLConnectionUtils::secureEndpointForUrl(HLConnectionUtils::apiUrl("vr", secure)),
              service.secureApiUrl() + "vr?device_token=hl-token-1");
}

TEST_F(HLConnectionManagerTest, ApiUrlsCarryTheKeyUntilATokenIsStored) {
    auto first = service.requestsTo(HalcyonService::kDevicePath);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].query, std::string("api_key=") + kHLTestSdkKey);
    EXPECT_EQ(HLConnectionUtils::apiUrl("vr", sdk), service.apiUrl() + "vr?device_token=hl-token-1");
    sdk->settingsManager()->clear(kHLSlotDeviceToken);
    EXPECT_EQ(HLConnectionUtils::apiUrl("cr", sdk), service.apiUrl() + "cr?api_key=" + kHLTestSdkKey);
    EXPECT_EQ(HLConnectionUtils::adServerUrl("2.0/ad", sdk), service.adServerUrl() + "2.0/ad");
    try {
        HLConnectionUtils::apiUrl(std::nullopt, sdk);
        ADD_FAILURE();
    } catch (const NSException& e) {
        EXPECT_EQ(e.reason(), "No endpoint specified");
    }
    try {
        HLConnectionUtils::adServerUrl("nad", nullptr);
        ADD_FAILURE();
    } catch (const NSException& e) {
        EXPECT_EQ(e.reason(), "No sdk specified");
    }
}

TEST_F(HLConnectionManagerTest, ATokenOfAnyCharactersComesBackAsTheServerGaveIt) {
    const std::string token = "a b+c&d=e?f/g#h%i[j]k,l;\xC3\xA9";
    simulator::HalcyonDeviceIdentity identity;
    identity.deviceToken = token;
    service.setDeviceIdentity(identity);
    Ref<HLSdk> next = restartSdk();
    EXPECT_EQ(next->stringForKey(kHLSlotDeviceToken), token);
    const std::string encoded = "a%20b%2Bc%26d%3De%3Ff%2Fg%23h%25i%5Bj%5Dk,l%3B%C3%A9";
    EXPECT_EQ(HLConnectionUtils::apiUrl("vr", next), service.apiUrl() + "vr?device_token=" + encoded);

    // The next start's submission carries it, byte for byte.
    restartSdk();
    auto submissions = service.requestsTo(HalcyonService::kDevicePath);
    ASSERT_EQ(submissions.size(), 3u);
    EXPECT_EQ(submissions[2].query, "device_token=" + encoded);
    EXPECT_EQ(simulator::queryField(simulator::parseQueryFields(*submissions[2].query), "device_token"), token);
}

TEST_F(HLConnectionManagerTest, RefusedKeysFollowTheirTable) {
    auto settings = sdk->settingsManager();
    for (int64_t code : {401, -1012, -1013}) {
        settings->putString("d", kHLSlotDeviceId);
        settings->putString("t", kHLSlotDeviceToken);
        settings->persistAll();
        HLConnectionUtils::handleApiError(code, sdk);
        EXPECT_EQ(sdk->stringForKey(kHLSlotDeviceId), "") << code;
        EXPECT_FALSE(storedSettings().contains("device_token")) << code;
        EXPECT_EQ(storedSettings()["publisher_id"], Value("hl-publisher-1"));
    }
    EXPECT_EQ(logCapture().count(std::string("[HalcyonSdk] USER [ConnectionUtils] SDK key \"") + kHLTestSdkKey +
                                 " is rejected by Halcyon. Please make sure the SDK key is correct."),
              3u);
    for (int64_t code : {0, 200, 399, 500, -1009}) HLConnectionUtils::handleApiError(code, sdk);
    EXPECT_EQ(storedSettings()["publisher_id"], Value("hl-publisher-1"));
    HLConnectionUtils::handleApiError(418, sdk);
    EXPECT_EQ(storedSettings()["is_disabled"], Value(true));
    EXPECT_TRUE(logCapture().contains("has been blocked. Please contact Halcyon support."));
    HLConnectionUtils::handleApiError(404, sdk);
    EXPECT_EQ(storedSettings(), Value::dictionary({}));
    EXPECT_FALSE(sdk->boolForKey(kHLSlotIsDisabled));
}

TEST_F(HLConnectionManagerTest, ServerFailuresAreRetriedOnQueueOneAfterTheDelay) {
    service.scriptStatuses("/api/retry", {503, 503});
    auto delegate = NSObject::alloc<HLRecordingConnectionDelegate>();
    sdk->taskManager()->execute(repeatRequest(delegate, 1), 0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(service.requestsTo("/api/retry").size(), 1u);
    EXPECT_EQ(delegate->count(), 0u);
    EXPECT_TRUE(listener->contains(
        "Unable to send requset due to server failure (code 503). 1 attempts left, retrying in 10.000000 seconds"));
    driver().advance(9.9);
    ASSERT_TRUE(settle());
    EXPECT_EQ(service.requestsTo("/api/retry").size(), 1u);
    driver().advance(0.1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(service.requestsTo("/api/retry").size(), 2u);
    auto outcomes = delegate->outcomes();
    ASSERT_TRUE(hlIsOutcome(outcomes, false, 503));
    EXPECT_EQ(outcomes[0].queue, "HLTaskManager.background");
    driver().advance(60);
    ASSERT_TRUE(settle());
    EXPECT_EQ(delegate->count(), 1u);
}

TEST_F(HLConnectionManagerTest, ClientErrorsAndNoFillAreNotRetried) {
    for (int status : {404, 204}) {
        service.scriptStatuses("/api/retry", {status});
        auto delegate = NSObject::alloc<HLRecordingConnectionDelegate>();
        sdk->taskManager()->execute(repeatRequest(delegate, 3), 0);
        ASSERT_TRUE(settle());
        driver().advance(60);
        ASSERT_TRUE(settle());
        EXPECT_TRUE(hlIsOutcome(delegate->outcomes(), false, status));
        EXPECT_EQ(delegate->outcomes()[0].queue, "HLTaskManager.main");
    }
    EXPECT_EQ(service.requestsTo("/api/retry").size(), 2u);
}

TEST_F(HLConnectionManagerTest, ARetryThatSucceedsEndsTheChainOnce) {
    service.script("/api/retry", {Answer::withStatus(500), Answer::ok("{\"ok\": 1}")});
    auto delegate = NSObject::alloc<HLRecordingConnectionDelegate>();
    auto request = repeatRequest(delegate, 4);
    request->setRetryDelayMs(1500);
    request->setRetryQueue(2);
    sdk->taskManager()->execute(request, 0);
    ASSERT_TRUE(settle());
    driver().advance(1.5);
    ASSERT_TRUE(settle());
    driver().advance(30);
    ASSERT_TRUE(settle());
    auto outcomes = delegate->outcomes();
    ASSERT_TRUE(hlIsOutcome(outcomes, true, 200));
    EXPECT_EQ(outcomes[0].body["ok"], Value(1));
    EXPECT_EQ(outcomes[0].queue, "HLTaskManager.postback");
    EXPECT_EQ(service.requestsTo("/api/retry").size(), 2u);
}

TEST_F(HLConnectionManagerTest, NoNetworkAndStallsAreRetriedLikeServerFailures) {
    // A retry takes the default time-out (slot 16) again: short here, in real time.
    sdk->settingsManager()->putLong(300, kHLSlotHttpConnectionTimeout);
    platform::testing::NetworkConditions::set(NetworkState::None);
    auto offline = NSObject::alloc<HLRecordingConnectionDelegate>();
    sdk->taskManager()->execute(repeatRequest(offline, 1), 0);
    ASSERT_TRUE(settle());
    platform::testing::NetworkConditions::set(NetworkState::WiFi);
    service.script("/api/retry", {Answer::stall()});
    driver().advance(10);
    ASSERT_TRUE(settle());
    // The second attempt reached the service and stalled past its time-out.
    EXPECT_EQ(service.requestsTo("/api/retry").size(), 1u);
    EXPECT_TRUE(hlIsOutcome(offline->outcomes(), false, -1001));

    auto stalled = NSObject::alloc<HLRecordingConnectionDelegate>();
    auto request = repeatRequest(stalled, 0);
    request->setTimeoutSec(0.3);
    service.script("/api/retry", {Answer::stall()});
    sdk->taskManager()->execute(request, 0);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(hlIsOutcome(stalled->outcomes(), false, -1001));
}

TEST_F(HLConnectionManagerTest, ARetryDroppedByADisabledClientStillEndsTheChain) {
    service.scriptStatuses("/api/retry", {502});
    auto delegate = NSObject::alloc<HLRecordingConnectionDelegate>();
    sdk->taskManager()->execute(repeatRequest(delegate, 2), 0);
    ASSERT_TRUE(settle());
    sdk->markInitialized(false);
    driver().advance(10);
    ASSERT_TRUE(settle());
    EXPECT_EQ(service.requestsTo("/api/retry").size(), 1u);
    EXPECT_TRUE(hlIsOutcome(delegate->outcomes(), false, 502));
    EXPECT_TRUE(listener->contains("WARN [HLTaskRepeatRequest] Task not executed, self.sdk is disabled"));
}

// ---- Refused before sending

TEST_F(HLConnectionManagerTest, RefusalsBeforeSendingAreFinal) {
    auto undated = NSObject::alloc<HLRecordingConnectionDelegate>();
    auto request = repeatRequest(undated, 3);
    request->setRequest(Value::dictionary({{"when", NSDate::date()}}));
    sdk->taskManager()->execute(request, 0);
    auto local = NSObject::alloc<HLRecordingConnectionDelegate>();
    auto fileRequest = repeatRequest(local, 3);
    fileRequest->setRequestEndpoint("FILE:///etc/hostname");
    sdk->taskManager()->execute(fileRequest, 0);
    ASSERT_TRUE(settle());
    driver().advance(60);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(hlIsOutcome(undated->outcomes(), false, -901));
    EXPECT_TRUE(hlIsOutcome(local->outcomes(), false, -1002));
    EXPECT_FALSE(listener->contains("Unable to send requset"));
    EXPECT_EQ(listener->count("Refused to fetch a \"FILE\" URL"), 1u);
}

TEST_F(HLConnectionManagerTest, EndpointsAndPixelsOfAnotherSchemeAreNeverRead) {
    // A server that sets the API and pixel endpoints to local files.
    const std::string folder = home() + "/Documents/private/";
    std::filesystem::create_directories(folder);
    for (const char* name : {"device", "pix"})
        ASSERT_TRUE(NSData::dataWithString("{\"results\": [\"PRIVATE-BYTES\"]}").writeToFile(folder + name, true));
    auto settings = serviceSettings();
    settings->putString("file://" + folder, kHLSlotApiEndpoint);
    settings->putString("file://" + folder + "pix?", kHLSlotEventTrackingEndpoint);
    service.server().clearRecord();
    Ref<HLSdk> next = restartSdk(settings);
    driver().advance(60);
    ASSERT_TRUE(settle());

    // The submission and the "landing" pixel each refused once: no retry,
    // nothing kept, nothing of the files read or logged.
    EXPECT_EQ(listener->count("Refused to fetch a \"file\" URL: only http and https are fetched"), 2u);
    EXPECT_FALSE(listener->contains("PRIVATE-BYTES"));
    EXPECT_FALSE(logCapture().contains("PRIVATE-BYTES"));
    EXPECT_TRUE(listener->contains("Dropped a postback that cannot be sent"));
    EXPECT_TRUE(next->persistentPostbackManager()->postbackQueue().empty());
    EXPECT_EQ(next->stringForKey(kHLSlotDeviceToken), "hl-token-1");
    EXPECT_TRUE(service.requestsTo(HalcyonService::kDevicePath).empty());
    EXPECT_TRUE(service.eventPixels().empty());
}

}  // namespace
