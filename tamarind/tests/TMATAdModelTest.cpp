// The template path's load through a small controller subclass, against the
// Tamarind service on loopback: the ad request byte for byte, the metric and
// instrumentation pixels, the checks in order with their codes and messages,
// every row of the failure table, refused loads, the no-retry period and the
// ad's expiry on the virtual clock, and hostile answers.
#include "platform/foundation/NSUserDefaults.h"
#include "platform/web/UIWebView.h"
#include "tamarind/TMAAdRequestBuilder.h"
#include "tamarind/tests/TamarindTestSupport.h"

using simulator::Answer;
using simulator::TamarindAd;
using simulator::TamarindService;

namespace {
constexpr const char* kTMATDeviceJson =
    "\"device\":{\"os\":\"ios\",\"osVersion\":\"9.0\",\"model\":\"iPhone8,1\",\"locale\":\"en_US\","
    "\"screen\":\"320x568\",\"scale\":2,\"idfa\":\"6D92078A-8246-4BA4-AE5B-76104861E7DC\",\"limitAdTracking\":false";
}  // namespace

class TMATAdModelTest : public TamarindTest {
protected:
    void SetUp() override {
        TamarindTest::SetUp();
        recorder = NSObject::alloc<RecordingControllerDelegate>();
        controller = TMATBaseAdController::adControllerWithDelegate<TestTemplateController>(recorder);
        options = TamarindAdOptions::options();
    }

    // Loads and waits for the one callback; false when none came.
    bool load(const std::string& size = "interstitial", std::optional<std::string> container = std::nullopt) {
        size_t before = recorder->events.size();
        controller->loadWithOptions(options, size, container, nullptr);
        return waitFor([&] { return recorder->events.size() > before; });
    }
    int64_t lastCode() { return recorder->lastError() ? recorder->lastError()->code() : 999999; }
    std::string lastMessage() { return recorder->lastError() ? recorder->lastError()->localizedDescription() : ""; }
    // Waits until `count` metric pixels arrived; the last one's name.
    std::string metricPixel(size_t count) {
        EXPECT_TRUE(waitFor([&] { return service.metricPixels().size() >= count; }));
        auto pixels = service.metricPixels();
        return pixels.size() >= count ? pixels[count - 1] : "";
    }
    simulator::QueryFields instrumentationPixel(size_t count) {
        EXPECT_TRUE(waitFor([&] { return service.instrumentationPixels().size() >= count; }));
        auto pixels = service.instrumentationPixels();
        return pixels.size() >= count ? pixels[count - 1] : simulator::QueryFields{};
    }
    Ref<TMATAdModel> model() { return controller->adModel(); }

    Ref<RecordingControllerDelegate> recorder;
    Ref<TestTemplateController> controller;
    Ref<TamarindAdOptions> options;
};

TEST_F(TMATAdModelTest, LoadsATemplateAdWithItsRequestAndPixels) {
    options->advancedOptions().set("slotId", Value("slot-7"));
    options->advancedOptions().set("keywords", Value("ghosts"));
    service.setAd(TamarindAd{.creative = "<script src=\"tamarind.js\"></script><p>ad</p>", .cacheTTL = 60});
    ASSERT_TRUE(load());
    EXPECT_EQ(recorder->events, std::vector<std::string>{"didLoad"});
    EXPECT_FALSE(recorder->offMain);

    auto requests = service.requestsTo(TamarindService::kAdPath);
    ASSERT_EQ(requests.size(), 1u);
    std::string body = std::string("{\"appId\":\"tm-test-key\",\"sdkVersion\":\"tamarindAdSDK-ios-2.2.15\",") +
                       "\"size\":\"interstitial\",\"slotId\":\"slot-7\"," + kTMATDeviceJson +
                       "},\"app\":{\"bundleId\":\"com.paranormal.detector\",\"version\":\"1.0\"}," +
                       "\"options\":{\"keywords\":\"ghosts\"}}";
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[0].head, "POST /msdk/getAd HTTP/1.1\r\nHost: 127.0.0.1:" +
                                    std::to_string(service.server().port()) +
                                    "\r\nContent-Type: application/json\r\nAccept: application/json\r\nUser-Agent: " +
                                    UIWebView::userAgent() + "\r\nContent-Length: " + std::to_string(body.size()) +
                                    "\r\n\r\n");

    auto m = model();
    EXPECT_EQ(m->loadStatus(), TMATLoadStatusLoaded);
    EXPECT_EQ(m->slotID(), "slot-7");
    EXPECT_EQ(m->creativeType(), 3);
    EXPECT_EQ(m->impressionPixelUrl(), service.url("/pixel/impression/ad1"));
    ASSERT_TRUE(controller->loadedBridges);
    EXPECT_TRUE(controller->loadedBridges->mraid());
    EXPECT_TRUE(controller->loadedBridges->tamarind());
    EXPECT_TRUE(controller->loadedBridges->viewability());

    EXPECT_EQ(metricPixel(1), "MobileAdsiOSSDK_:ATSEnabled_LoadAd_tamarindAdSDK-ios-2.2.15");
    auto pixel = instrumentationPixel(1);
    std::vector<std::string> names;
    for (const auto& [name, value] : pixel) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"al", "i_tl", "lac", "i_adrc"}));
    EXPECT_EQ(TamarindService::field(pixel, "lac"), "1");

    // A second load carries the identity registered meanwhile.
    ASSERT_TRUE(waitForRequests(TamarindService::kRegisterEventPath, 1));
    ASSERT_TRUE(load());
    ASSERT_EQ(service.requestsTo(TamarindService::kAdPath).size(), 2u);
    EXPECT_NE(service.requestsTo(TamarindService::kAdPath)[1].body.find(",\"deviceId\":\"sim-device-1\"}"),
              std::string::npos);
}

TEST_F(TMATAdModelTest, ChecksRunInOrderWithTheirCodesAndMessages) {
    NSUserDefaults::standardUserDefaults()->removeObjectForKey(TamarindAdRegistration::kApplicationIdKey);
    ASSERT_TRUE(load("0x0"));  // the key is checked before the size
    EXPECT_EQ(lastCode(), 0);
    EXPECT_EQ(lastMessage(), "Invalid application Id - (null).");
    EXPECT_EQ(recorder->lastError()->domain(), "TMAAdModelError");
    ASSERT_TRUE(TamarindAdRegistration::sharedRegistration()->setApplicationId(kTamarindTestAppKey));

    auto configuration = TMAdConfiguration::sharedAMAdConfiguration();
    configuration->setExchangeNoRetryTTLTimestamp(NSDate::date().timeIntervalSinceReferenceDate());
    configuration->setNoretryTTLSeconds(30);
    ASSERT_TRUE(load("0x0"));
    EXPECT_EQ(lastMessage(), "Load ad velocity limit reached. Try again in 30.000000 seconds.");
    driver().advance(30);

    for (auto [size, container, message] :
         {std::tuple<const char*, std::optional<std::string>, const char*>{"0x50", std::nullopt, "Invalid width of 0"},
          {"320x0", std::nullopt, "Invalid height of 0"},
          {"320", std::nullopt, "Invalid width of 0"},
          {"auto", std::nullopt, "Invalid width of 0"},
          {"auto", std::string("300x0"), "Invalid height of 0"}}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(load(size, container));
        EXPECT_EQ(lastCode(), 0);
        EXPECT_EQ(lastMessage(), message);
    }
    service.setConfigAnswer(Answer::withStatus(500));
    ASSERT_TRUE(load("auto", "320x50"));
    EXPECT_EQ(lastCode(), 2);
    EXPECT_EQ(lastMessage(), "Failed to load configuration. The configuration server answered with HTTP status 500.");
    EXPECT_TRUE(service.requestsTo(TamarindService::kAdPath).empty());
    EXPECT_EQ(recorder->events.size(), 8u);
    EXPECT_EQ(model()->loadStatus(), TMATLoadStatusNoAd);
}

TEST_F(TMATAdModelTest, EachRowOfTheFailureTableCountsAndFiresItsPixel) {
    loadConfiguration();
    struct Row {
        Answer answer;
        int64_t code;
        const char* counter;
        const char* suffix;
    };
    std::vector<Row> rows = {
        {service.adAnswer(TamarindAd{.errorCode = 404, .creative = std::nullopt}), 0, "lfre", "LoadAdRequestError_"},
        {service.adAnswer(TamarindAd{.errorCode = 204, .creative = std::nullopt}), 1, "lfnf", "LoadAdNoFill_"},
        {service.adAnswer(TamarindAd{.impressionPixel = false}), 2, "lfie", "LoadAdInternalError_"},
        {Answer::withStatus(503), 503, "lfne", "LoadAdNetworkError_"},
        {Answer::stall(), -1001, "lfnt", "LoadAdNetworkTimeout_"},
    };
    size_t pixels = 0;
    for (auto& row : rows) {
        SCOPED_TRACE(row.suffix);
        service.setAdAnswers({row.answer});
        // Only the held answer waits out its time-out; the others come in
        // well inside theirs, however late the machine lets them.
        options->setTimeout(row.code == -1001 ? 0.3 : platform::testing::hangGuard(10));
        ASSERT_TRUE(load());
        EXPECT_EQ(lastCode(), row.code);
        EXPECT_EQ(controller->retrieveLoadAdFailureMetricName(row.code),
                  row.code == -1001 ? 109 : row.code == 0 ? 111 : row.code == 1 ? 107 : row.code == 2 ? 110 : 108);
        EXPECT_EQ(metricPixel(++pixels),
                  std::string("MobileAdsiOSSDK_:Failure_") + row.suffix + "tamarindAdSDK-ios-2.2.15");
        // Every answer named the same instrumentation pixel: its failure counters reach it.
        auto fields = instrumentationPixel(pixels);
        EXPECT_EQ(TamarindService::field(fields, row.counter), "1");
        EXPECT_EQ(TamarindService::field(fields, "lf"), "1");
        EXPECT_EQ(model()->loadStatus(), TMATLoadStatusNoAd);
    }
    EXPECT_EQ(lastMessage(), "The request timed out.");
    EXPECT_EQ(recorder->events.size(), rows.size());
}

TEST_F(TMATAdModelTest, AnswerMessagesFollowTheErrorTypeAndTheCreativeType) {
    service.setAd(TamarindAd{.creativeType = "html"});
    ASSERT_TRUE(load());
    EXPECT_EQ(lastCode(), 2);
    EXPECT_EQ(lastMessage(), "Creative type cannot be handled by this ad view.");
    service.setAd(TamarindAd{.errorCode = 204, .creativeType = "html"});
    ASSERT_TRUE(load());
    EXPECT_EQ(lastCode(), 1);
    EXPECT_EQ(lastMessage(), "Ad not found.");
    service.setAd(TamarindAd{.creative = ""});
    ASSERT_TRUE(load());
    EXPECT_EQ(lastCode(), 0);  // errorCode 200 without a creative
    EXPECT_EQ(lastMessage(), "An invalid request was sent.");
}

TEST_F(TMATAdModelTest, HostileAnswersFailOnceWithAClearError) {
    loadConfiguration();
    std::string good = service.adJson(TamarindAd{});
    auto replaced = [&](const char* from, const char* to) {
        return NSString::stringByReplacingOccurrencesOfString(good, from, to);
    };
    const std::vector<std::string> bodies = {
        good.substr(0, good.size() - 5),
        "{\"errorCode\":200,\"creative\":\"\xc3\x28\"}",
        "null",
        replaced("\"errorCode\":200", "\"errorCode\":\"200\""),
        replaced("\"creative\":\"", "\"creative\":[\""),
        good.substr(0, good.size() - 1) + ",\"cacheTTL\":-1}",
        good.substr(0, good.size() - 1) + ",\"cacheTTL\":1e300}",
        good.substr(0, good.size() - 1) + ",\"noretryTTL\":true}",
        replaced("http://127.0.0.1", "javascript:alert(1)//127.0.0.1"),
    };
    for (const auto& body : bodies) {
        SCOPED_TRACE(body);
        service.setAdAnswers({Answer::ok(body)});
        ASSERT_TRUE(load());
        EXPECT_EQ(lastCode(), 2);
        EXPECT_EQ(lastMessage(), "An internal server error occurred.");
    }
    EXPECT_EQ(logCapture().count("The ad answer was rejected"), bodies.size());
    service.setAdAnswers({Answer::ok(std::string(3 * 1024 * 1024, ' '))});
    ASSERT_TRUE(load());
    EXPECT_EQ(lastCode(), -1103);
    EXPECT_EQ(recorder->events.size(), bodies.size() + 1);
    // A good answer still loads afterwards.
    service.setAd(TamarindAd{});
    ASSERT_TRUE(load());
    EXPECT_EQ(recorder->events.back(), "didLoad");
}

TEST_F(TMATAdModelTest, NoRetryTimeStopsLaterLoadsBeforeTheirRequest) {
    service.setAd(TamarindAd{.errorCode = 204, .noretryTTL = 600});
    ASSERT_TRUE(load());
    EXPECT_EQ(lastCode(), 1);
    EXPECT_EQ(lastMessage(), "Try again in 600.000000 seconds.");
    EXPECT_EQ(TamarindService::field(instrumentationPixel(1), "ttl"), "1");

    driver().advance(200);
    ASSERT_TRUE(load());
    EXPECT_EQ(lastMessage(), "Load ad velocity limit reached. Try again in 400.000000 seconds.");
    EXPECT_EQ(service.requestsTo(TamarindService::kAdPath).size(), 1u);

    driver().advance(400);
    service.setAd(TamarindAd{.errorCode = 204, .noretryTTL = 90000});
    ASSERT_TRUE(load());
    EXPECT_EQ(lastMessage(), "Try again in 3600.000000 seconds.");  // capped
}

TEST_F(TMATAdModelTest, TheAdExpiresOnTheModelsClockAfterItsCacheTime) {
    service.setAd(TamarindAd{.cacheTTL = 60});
    ASSERT_TRUE(load());
    EXPECT_FALSE(model()->adExpired());
    driver().advance(60);
    EXPECT_FALSE(model()->adExpired());  // later than the expiry, not at it
    driver().advance(0.001);
    EXPECT_TRUE(model()->adExpired());
    model()->setDate(NSDate::date().dateByAddingTimeInterval(-10));
    EXPECT_FALSE(model()->adExpired());

    service.setAd(TamarindAd{.cacheTTL = 0});
    model()->setDate(std::nullopt);
    ASSERT_TRUE(load());
    driver().advance(30 * 86400);
    EXPECT_EQ(model()->expirationDateTime(), 0);
    EXPECT_FALSE(model()->adExpired());
}

TEST_F(TMATAdModelTest, RefusedLoadsHearNothingAndEarlyFailuresLeaveTheLoadInFlight) {
    service.setAdAnswers({Answer::stall(service.adAnswer(TamarindAd{}))});
    controller->loadWithOptions(options, "interstitial", std::nullopt, nullptr);
    ASSERT_TRUE(waitFor([&] { return service.server().stalledCount() == 1; }));
    EXPECT_EQ(model()->loadStatus(), TMATLoadStatusLoading);

    controller->loadWithOptions(options, "interstitial", std::nullopt, nullptr);
    driver().drain();
    EXPECT_TRUE(logCapture().contains("is already loading an ad. Wait for previous load to finish."));
    EXPECT_TRUE(recorder->events.empty());

    // A load failing its checks is reported but leaves the one in flight alone.
    ASSERT_TRUE(load("0x0"));
    EXPECT_EQ(lastMessage(), "Invalid width of 0");
    EXPECT_EQ(model()->loadStatus(), TMATLoadStatusLoading);
    controller->loadWithOptions(options, "interstitial", std::nullopt, nullptr);
    driver().drain();
    EXPECT_EQ(logCapture().count("is already loading an ad"), 2u);
    EXPECT_EQ(service.requestsTo(TamarindService::kAdPath).size(), 1u);

    service.server().releaseStalled();
    ASSERT_TRUE(waitFor([&] { return recorder->events.size() == 2; }));
    EXPECT_EQ(recorder->events.back(), "didLoad");

    controller->ready = false;
    controller->loadWithOptions(options, "interstitial", std::nullopt, nullptr);
    driver().drain();
    EXPECT_TRUE(logCapture().contains("already has an ad ready. Ignored the ad load request."));
    EXPECT_EQ(recorder->events.size(), 2u);
}

TEST_F(TMATAdModelTest, TheBuildersRefusalReachesTheDelegateUnchanged) {
    Ref<NSError> error;
    EXPECT_FALSE(TMAAdRequestBuilder::adRequestBuilder()->adRequestWithOptions(options, "interstitial", std::nullopt,
                                                                               nullptr, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "TMAAdRequestBuilderError");
    EXPECT_EQ(error->code(), -1);
    EXPECT_EQ(error->localizedDescription(),
              "Unable to build the ad request. The app must be registered with the SDK before requesting an ad.");
    loadConfiguration();
    controller->modelFailedToLoadWithError(error);
    EXPECT_EQ(recorder->lastError(), error);
    EXPECT_EQ(metricPixel(1), "MobileAdsiOSSDK_:Failure_LoadAdNetworkError_tamarindAdSDK-ios-2.2.15");
}

TEST_F(TMATAdModelTest, TheImpressionPixelIsSentWhenTheAdHasOne) {
    controller->fireImpressionPixel();  // none yet: nothing sent
    ASSERT_TRUE(load());
    controller->fireImpressionPixel();
    ASSERT_TRUE(waitFor([&] { return logCapture().contains("Impression pixel was successfully fired."); }));
    auto impressions = service.requestsUnder(TamarindService::kImpressionPath);
    ASSERT_EQ(impressions.size(), 1u);
    EXPECT_EQ(impressions[0].path, "/pixel/impression/ad1");
    EXPECT_EQ(impressions[0].header("Accept"), "application/json");
}

// An ad server named with a user name and password: the request's log line shows neither.
TEST_F(TMATAdModelTest, TheAdRequestIsLoggedWithoutItsServersPassword) {
    std::string password;
    for (int i = 0; i < 40; ++i) password += "secret";
    const std::string config = service.defaultConfig();
    const size_t host = config.find("\"adServerHost\":\"http://");
    ASSERT_NE(host, std::string::npos) << config;
    service.setConfig(config.substr(0, host) + "\"adServerHost\":\"http://user:" + password + "@" +
                      config.substr(host + std::string_view("\"adServerHost\":\"http://").size()));
    service.setAd(TamarindAd{.creative = "<p>ad</p>", .cacheTTL = 60});
    expectLogLine("Ad Request URL POST http://***@127.0.0.1:");
    load();
    expectBoundedLogLines();
}
