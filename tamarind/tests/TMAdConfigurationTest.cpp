// The remote configuration against the Tamarind service on loopback: the
// request byte for byte, one fetch for every waiting caller (from several
// threads, blocks on the main thread), failures, hostile answers that leave
// the stored configuration in force, restarts, the time to live and its cap,
// the viewability script, and the no-retry period on the virtual clock.
#include <atomic>
#include <thread>

#include "platform/foundation/NSUserDefaults.h"
#include "tamarind/TMAViewabilityFetcher.h"
#include "tamarind/tests/TamarindTestSupport.h"

using simulator::Answer;
using simulator::TamarindService;

class TMAdConfigurationTest : public TamarindTest {
protected:
    Ref<TMAdConfiguration> configuration() { return TMAdConfiguration::sharedAMAdConfiguration(); }

    // Bootstraps once and waits: the error, or null on success.
    Ref<NSError> bootstrap() {
        bool done = false;
        Ref<NSError> failure;
        configuration()->bootstrapConfigurationOnSuccess([&] { done = true; }, [&](Ref<NSError> e) {
            failure = e;
            done = true;
        });
        EXPECT_TRUE(waitFor([&] { return done; }));
        return failure;
    }
    std::optional<std::string> stored(const char* key) {
        return NSUserDefaults::standardUserDefaults()->stringForKey(key);
    }
};

TEST_F(TMAdConfigurationTest, FetchesWithItsQueryAndStoresTheAnswer) {
    EXPECT_EQ(bootstrap(), nullptr);
    auto requests = service.requestsTo(TamarindService::kConfigurationPath);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].head,
              "GET /msdk/getConfig?appId=tm-test-key&sdkVersion=tamarindAdSDK-ios-2.2.15&os=ios&osVersion=9.0 "
              "HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(service.server().port()) +
                  "\r\nAccept: application/json\r\n\r\n");
    EXPECT_EQ(stored("TamarindAd:AdServerHostKey"), service.url(""));
    EXPECT_EQ(stored("TamarindAd:AdServerPathKey"), "/msdk/getAd");
    EXPECT_EQ(stored("TamarindAd:MetricEndpointKey"), service.url("/metric"));
    EXPECT_DOUBLE_EQ(configuration()->viewableInterval(), 0.2);

    // The offered viewability script is downloaded once and kept with its version.
    ASSERT_TRUE(waitFor([] { return TMAViewabilityFetcher::storedScript().has_value(); }));
    EXPECT_EQ(TMAViewabilityFetcher::storedScript(), TamarindService::kViewabilityScript);
    EXPECT_EQ(stored("TamarindAd:ViewabilityVersionKey"), "1");
}

TEST_F(TMAdConfigurationTest, CallersFromSeveralThreadsShareOneFetchAndHearOnTheMainThread) {
    service.setConfigAnswer(Answer::stall(Answer::ok(service.defaultConfig())));
    std::atomic<int> succeeded{0};
    std::atomic<int> offMain{0};
    auto success = [&] {
        if (!NSThread::isMainThread()) ++offMain;
        ++succeeded;
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] { configuration()->bootstrapConfigurationOnSuccess(success, nullptr); });
    configuration()->bootstrapConfigurationOnSuccess(success, nullptr);
    for (auto& t : threads) t.join();
    ASSERT_TRUE(waitFor([&] { return service.server().stalledCount() == 1; }));
    EXPECT_EQ(succeeded.load(), 0);
    service.server().releaseStalled();
    ASSERT_TRUE(waitFor([&] { return succeeded.load() == 5; }));
    EXPECT_EQ(offMain.load(), 0);
    EXPECT_EQ(service.requestsTo(TamarindService::kConfigurationPath).size(), 1u);

    // A current configuration answers at once, on the calling thread.
    bool atOnce = false;
    configuration()->bootstrapConfigurationOnSuccess([&] { atOnce = true; }, nullptr);
    EXPECT_TRUE(atOnce);
}

TEST_F(TMAdConfigurationTest, AFailedFetchCallsEveryWaitingErrorBlockWithItsCause) {
    service.setConfigAnswer(Answer::withStatus(503));
    std::vector<Ref<NSError>> errors;
    for (int i = 0; i < 3; ++i)
        configuration()->bootstrapConfigurationOnSuccess([] { ADD_FAILURE() << "no success"; },
                                                         [&](Ref<NSError> e) { errors.push_back(e); });
    ASSERT_TRUE(waitFor([&] { return errors.size() == 3; }));
    EXPECT_EQ(errors[0]->domain(), "TMAdConfigurationError");
    EXPECT_EQ(errors[0]->code(), 503);
    EXPECT_EQ(errors[0]->localizedDescription(), "The configuration server answered with HTTP status 503.");

    service.setConfigAnswer(Answer::drop());
    Ref<NSError> dropped = bootstrap();
    ASSERT_TRUE(dropped);
    EXPECT_EQ(dropped->domain(), NSURLErrorDomain);
    EXPECT_EQ(service.requestsTo(TamarindService::kConfigurationPath).size(), 2u);
}

TEST_F(TMAdConfigurationTest, AStoredConfigurationServesARestartUntilItsTimeToLiveRunsOut) {
    ASSERT_EQ(bootstrap(), nullptr);
    restartProcessState();
    bool atOnce = false;
    configuration()->bootstrapConfigurationOnSuccess([&] { atOnce = true; }, nullptr);
    EXPECT_TRUE(atOnce);
    EXPECT_EQ(service.requestsTo(TamarindService::kConfigurationPath).size(), 1u);

    driver().advance(3599);
    EXPECT_TRUE(configuration()->isCurrent());
    driver().advance(1);
    EXPECT_FALSE(configuration()->isCurrent());
    EXPECT_EQ(bootstrap(), nullptr);
    EXPECT_EQ(service.requestsTo(TamarindService::kConfigurationPath).size(), 2u);
}

TEST_F(TMAdConfigurationTest, TimeToLiveIsCappedAtThreeDays) {
    service.setConfig(NSString::stringByReplacingOccurrencesOfString(service.defaultConfig(), "\"ttl\":3600",
                                                                     "\"ttl\":2000000"));
    ASSERT_EQ(bootstrap(), nullptr);
    driver().advance(259199);
    EXPECT_TRUE(configuration()->isCurrent());
    driver().advance(1);
    EXPECT_FALSE(configuration()->isCurrent());
}

TEST_F(TMAdConfigurationTest, HostileAnswersFailClearlyAndLeaveTheStoredConfigurationInForce) {
    ASSERT_EQ(bootstrap(), nullptr);
    std::string good = service.defaultConfig();
    auto replaced = [&](const char* from, const char* to) {
        return NSString::stringByReplacingOccurrencesOfString(good, from, to);
    };
    const std::vector<std::pair<std::string, std::string>> answers = {
        {good.substr(0, good.size() / 2), "not a JSON object"},
        {"{\"ttl\": 3600, \"adServerHost\": \"\xff\xfe\"}", "not a JSON object"},
        {"[1, 2]", "not a JSON object"},
        {replaced("\"ttl\":3600", "\"ttl\":-5"), "\"ttl\" is not a number of seconds in range"},
        {replaced("\"ttl\":3600", "\"ttl\":1e300"), "\"ttl\" is not a number of seconds in range"},
        {replaced("\"ttl\":3600", "\"ttl\":\"3600\""), "\"ttl\" is not a number of seconds in range"},
        {replaced("\"adServerPath\":\"/msdk/getAd\"", "\"adServerPath\":7"), "\"adServerPath\" is not a text"},
        {replaced("\"adServerPath\":\"/msdk/getAd\"", "\"adServerPath\":\"msdk\""), "\"adServerPath\" is not a URL path"},
        {replaced("\"sisHost\"", "\"sisHostile\""), "\"sisHost\" is missing"},
        {replaced("\"viewableInterval\":200", "\"viewableInterval\":-1"), "\"viewableInterval\" is not a number"},
        {replaced("\"metricEndpoint\":\"http", "\"metricEndpoint\":\"ftp"), "\"metricEndpoint\" is not an http(s) URL"},
    };
    driver().advance(3600);  // the stored one has run out: every bootstrap fetches
    for (const auto& [body, reason] : answers) {
        SCOPED_TRACE(reason);
        service.setConfig(body);
        Ref<NSError> error = bootstrap();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), -1);
        EXPECT_NE(error->localizedDescription().find(reason), std::string::npos) << error->localizedDescription();
        EXPECT_EQ(stored("TamarindAd:AdServerPathKey"), "/msdk/getAd");
    }
    service.setConfig(std::string(3 * 1024 * 1024, ' '));
    Ref<NSError> oversized = bootstrap();
    ASSERT_TRUE(oversized);
    EXPECT_EQ(oversized->code(), -1103);
    EXPECT_TRUE(logCapture().contains("Failed to load the configuration"));
    EXPECT_EQ(stored("TamarindAd:AdServerHostKey"), service.url(""));
}

TEST_F(TMAdConfigurationTest, AnAcceptedAnswerReplacesTheWholeConfiguration) {
    ASSERT_EQ(bootstrap(), nullptr);
    driver().advance(3600);
    service.setConfig("{\"adServerHost\": \"http://ads.example\", \"adServerPath\": \"/x\", \"sisHost\": "
                      "\"https://sis.example\", \"viewableInterval\": 500, \"registrationInterval\": 600}");
    ASSERT_EQ(bootstrap(), nullptr);
    EXPECT_EQ(configuration()->metricEndpoint(), std::nullopt);
    EXPECT_DOUBLE_EQ(configuration()->viewableInterval(), 0.5);
    EXPECT_DOUBLE_EQ(configuration()->registrationInterval(), 600);
    driver().advance(86399);  // "ttl" absent: a day
    EXPECT_TRUE(configuration()->isCurrent());
}

TEST_F(TMAdConfigurationTest, AFailedScriptDownloadKeepsTheStoredScript) {
    ASSERT_EQ(bootstrap(), nullptr);
    ASSERT_TRUE(waitFor([] { return TMAViewabilityFetcher::storedScript().has_value(); }));
    driver().advance(3600);
    service.setConfig(NSString::stringByReplacingOccurrencesOfString(service.defaultConfig(),
                                                                     "\"viewabilityScriptVersion\":\"1\"",
                                                                     "\"viewabilityScriptVersion\":\"2\""));
    service.setAnswer("GET", TamarindService::kViewabilityScriptPath, Answer::ok("\xff\xfe not text"));
    expectLogLine("Failed to download the viewability script");
    ASSERT_EQ(bootstrap(), nullptr);
    ASSERT_TRUE(waitForRequests(TamarindService::kViewabilityScriptPath, 2));
    EXPECT_TRUE(driver().settle());
    EXPECT_EQ(TMAViewabilityFetcher::storedScript(), TamarindService::kViewabilityScript);
    EXPECT_EQ(TMAViewabilityFetcher::storedVersion(), "1");
}

TEST_F(TMAdConfigurationTest, NoRetryPeriodCountsDownOnTheClock) {
    EXPECT_LE(configuration()->remainingNoRetryTTLSeconds(), 0);
    configuration()->setExchangeNoRetryTTLTimestamp(NSDate::date().timeIntervalSinceReferenceDate());
    configuration()->setNoretryTTLSeconds(120);
    EXPECT_DOUBLE_EQ(configuration()->remainingNoRetryTTLSeconds(), 120);
    driver().advance(100);
    EXPECT_DOUBLE_EQ(configuration()->remainingNoRetryTTLSeconds(), 20);
    restartProcessState();
    driver().advance(20);
    EXPECT_LE(configuration()->remainingNoRetryTTLSeconds(), 0);
}

TEST_F(TMAdConfigurationTest, SizeTextsParseAtTheX) {
    auto parse = [](const char* text) { return TMAdConfiguration::getParsedSizeString(text); };
    EXPECT_EQ(parse("320x50").width, 320);
    EXPECT_EQ(parse("320x50").height, 50);
    EXPECT_EQ(parse("300.5x250").width, 300.5f);
    EXPECT_EQ(parse("-320x50").width, 0);
    EXPECT_EQ(parse("nanx50").width, 0);
    expectLogLine("An invalid size string was retrieved: 320");
    EXPECT_EQ(parse("320").width, 0);
    EXPECT_EQ(parse("320").height, 0);
}
