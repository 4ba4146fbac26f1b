// The configuration: getters' keys, defaults and absent-key rules (with the
// mended reward and refresh readings), answers accepted whole or rejected
// whole, the fetch against the service with expiry on the virtual clock,
// listeners answered once, and failures that keep the stored configuration.
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/tests/TrilliumTestSupport.h"
#include "platform/runtime/NSDate.h"

namespace {

using simulator::Answer;
using simulator::TrilliumService;

class CountingListener : public NSObject, public TRAMetadataDelegate {
public:
    void didFinishLoadMetadata() override { ++count; }
    int count = 0;
};

class TRAMetadataTest : public TrilliumTest {
protected:
    Ref<TRAMetadata> metadata = TRAMetadata::sharedMetadata();
    Ref<NSUserDefaults> defaults = NSUserDefaults::standardUserDefaults();

    bool apply(std::string_view json) { return metadata->applyMetadataAnswer(NSString::dataUsingEncoding(json)); }
    void load() { metadata->loadMetadata(std::string(kTestAppId), std::string(kTestDevId)); }
    Ref<CountingListener> listen() {
        auto listener = NSObject::alloc<CountingListener>();
        metadata->setDelegateWithDelegate(listener);
        return listener;
    }
};

TEST_F(TRAMetadataTest, GettersAnswerTheirDefaultsWhenAbsentOrZero) {
    defaults->removeObjectForKey("TRAAdPlatformHost");
    EXPECT_EQ(metadata->getAdPlatformHost(), "http://api.trillium.invalid/1.3/");
    EXPECT_EQ(metadata->getDefaultMinSplashTime(), 5);
    EXPECT_EQ(metadata->getDefaultMaxLoadTime(), 7);
    EXPECT_EQ(metadata->getDefaultMaxAdDisplayTime(), 86400);
    EXPECT_EQ(metadata->getReturnAdMinBackgroundTime(), 300);
    EXPECT_EQ(metadata->getReturnAdRetryLoadingTime(), 30);
    EXPECT_EQ(metadata->getSessionMaxBackgroundTime(), 300);
    EXPECT_EQ(metadata->getSmartRedirectTimeout(), 7);
    EXPECT_EQ(metadata->getAnalyticsHopLatencyMaxTime(), 30);
    EXPECT_EQ(metadata->getMaxCachedVideos(), 3);
    EXPECT_EQ(metadata->getMinAvailableStorageRequired(), 1);
    EXPECT_EQ(metadata->getRefreshRate(), 30);
    EXPECT_EQ(metadata->getRewardGrantPercentage(), 100);
    EXPECT_FALSE(metadata->isDNS());
    EXPECT_FALSE(metadata->isHtmlSplash());
    EXPECT_FALSE(metadata->isInAppStoreEnabled());
    defaults->setInteger(0, "TRASplashMinTime");
    defaults->setInteger(0, "TRAReturnAdMinBackgroundTime");
    EXPECT_EQ(metadata->getDefaultMinSplashTime(), 5);
    EXPECT_EQ(metadata->getReturnAdMinBackgroundTime(), 300);
    defaults->setInteger(12, "TRASplashMinTime");
    EXPECT_EQ(metadata->getDefaultMinSplashTime(), 12);
}

TEST_F(TRAMetadataTest, YesWhenAbsentGettersTellAbsentFromZero) {
    EXPECT_TRUE(metadata->isAutoLoad());
    EXPECT_TRUE(metadata->isTrilliumBrowserEnabled());
    EXPECT_TRUE(metadata->isAnalyticsEnabled());
    defaults->setInteger(0, "TRAAutoLoad");
    defaults->setInteger(0, "TRATrilliumBrowserEnabled");
    defaults->setInteger(0, "TRAAnalyticsEnabled");
    EXPECT_FALSE(metadata->isAutoLoad());
    EXPECT_FALSE(metadata->isTrilliumBrowserEnabled());
    EXPECT_FALSE(metadata->isAnalyticsEnabled());
    defaults->setInteger(2, "TRAAutoLoad");
    EXPECT_TRUE(metadata->isAutoLoad());
}

TEST_F(TRAMetadataTest, TwoClicksSwitchReadsTheLowestBit) {
    EXPECT_FALSE(metadata->isDisableTwoClicks());
    defaults->setInteger(2, "TRADisableTwoClicks");
    EXPECT_FALSE(metadata->isDisableTwoClicks());
    defaults->setInteger(3, "TRADisableTwoClicks");
    EXPECT_TRUE(metadata->isDisableTwoClicks());
}

TEST_F(TRAMetadataTest, RewardPercentageReadsTheKeyTheParserWrites) {
    defaults->setInteger(40, "TRAVideoRewardGrantPercentage");
    EXPECT_EQ(metadata->getRewardGrantPercentage(), 100);
    ASSERT_TRUE(apply(R"({"rewardGrantPercentage": 75})"));
    EXPECT_EQ(defaults->integerForKey("TRARewardGrantPercentage"), 75);
    EXPECT_EQ(metadata->getRewardGrantPercentage(), 75);
}

TEST_F(TRAMetadataTest, RefreshRateBelowOneSecondCountsAsAbsent) {
    defaults->setInteger(999, "TRARefreshRate");
    EXPECT_EQ(metadata->getRefreshRate(), 30);
    defaults->setInteger(1000, "TRARefreshRate");
    EXPECT_EQ(metadata->getRefreshRate(), 1);
    defaults->setInteger(45500, "TRARefreshRate");
    EXPECT_EQ(metadata->getRefreshRate(), 45);
}

TEST_F(TRAMetadataTest, AnAcceptedAnswerReplacesTheWholeConfiguration) {
    ASSERT_TRUE(apply(R"({"splashMinTime": 9, "dns": true, "autoLoad": false, "profileId": "p-1",
                         "adPlatformHost": "https://ads.example.test/1.3/", "splashDefaultMaxLoadTime": 3.9})"));
    EXPECT_EQ(metadata->getDefaultMinSplashTime(), 9);
    EXPECT_EQ(metadata->getDefaultMaxLoadTime(), 3);
    EXPECT_TRUE(metadata->isDNS());
    EXPECT_FALSE(metadata->isAutoLoad());
    EXPECT_EQ(metadata->getProfileId(), "p-1");
    EXPECT_EQ(metadata->getAdPlatformHost(), "https://ads.example.test/1.3/");
    EXPECT_EQ(metadata->getAnalyticsHost(), "https://ads.example.test");

    ASSERT_TRUE(apply(R"({"splashMinTime": 4})"));
    EXPECT_EQ(metadata->getDefaultMinSplashTime(), 4);
    EXPECT_FALSE(metadata->isDNS());
    EXPECT_TRUE(metadata->isAutoLoad());  // absent again
    EXPECT_EQ(metadata->getProfileId(), std::nullopt);
    EXPECT_EQ(metadata->getAdPlatformHost(), "http://api.trillium.invalid/1.3/");
}

TEST_F(TRAMetadataTest, BadAnswersLeaveThePreviousConfigurationInForce) {
    ASSERT_TRUE(apply(R"({"splashMinTime": 9, "refreshRate": 60000})"));
    const char* bad[] = {
        R"({"splashMinTime": 9, "refresh)",                      // truncated
        R"(["splashMinTime", 9])",                               // not an object
        R"({"splashMinTime": "nine"})",                          // wrong kind
        R"({"splashMinTime": 1e300})",                           // huge
        R"({"splashMinTime": -5})",                              // negative
        R"({"dns": "yes"})",                                     // a flag as text
        R"j({"adPlatformHost": "javascript:alert(1)"})j",  // not http(s)
        R"({"adPlatformHost": 17})",
        R"({"ttl": 0})",
        R"({"adRules": {"session": [{"maxAds": "two"}]}})",
        R"({"adRules": {"placements": []}})",
        "",
        "\xff\xfe{}",
    };
    for (const char* answer : bad) {
        EXPECT_FALSE(apply(answer)) << answer;
        EXPECT_EQ(metadata->getDefaultMinSplashTime(), 9) << answer;
        EXPECT_EQ(metadata->getRefreshRate(), 60) << answer;
    }
    std::string huge = R"({"profileId": ")" + std::string(3 * 1024 * 1024, 'x') + "\"}";
    EXPECT_FALSE(apply(huge));
    EXPECT_EQ(metadata->getProfileId(), std::nullopt);
    EXPECT_TRUE(logCapture().contains("Configuration answer rejected"));
}

TEST_F(TRAMetadataTest, FetchStoresTheAnswerAndTellsEachListenerOnce) {
    service.setConfig(R"({"ttl": 600, "adPlatformHost": ")" + service.baseUrl() + R"(", "splashMinTime": 8})");
    auto first = listen();
    auto twice = listen();
    metadata->setDelegateWithDelegate(twice);
    TRAAdapptManager::setNewSessionReason("LAUNCH");
    load();
    EXPECT_TRUE(metadata->isLoading());
    load();  // joins the fetch under way
    ASSERT_TRUE(waitFor([&] { return first->count > 0; }));
    EXPECT_EQ(first->count, 1);
    EXPECT_EQ(twice->count, 2);  // registered twice, no duplicate check
    EXPECT_EQ(metadata->getDefaultMinSplashTime(), 8);
    ASSERT_EQ(service.requestsTo(TrilliumService::kMetadataPath).size(), 1u);

    auto request = service.requestsTo(TrilliumService::kMetadataPath)[0];
    EXPECT_EQ(request.field("publisherId"), kTestDevId);
    EXPECT_EQ(request.field("productId"), kTestAppId);
    EXPECT_EQ(request.field("sessionReason"), "LAUNCH");
    EXPECT_EQ(request.field("clientSessionId"), TRAAdapptManager::clientSessionId());
    EXPECT_EQ(request.fieldNames().front(), "publisherId");

    // Fresh: the listener hears at once, nothing is fetched.
    auto again = listen();
    load();
    EXPECT_EQ(again->count, 1);
    EXPECT_EQ(first->count, 1);
    EXPECT_EQ(service.requestsTo(TrilliumService::kMetadataPath).size(), 1u);
}

TEST_F(TRAMetadataTest, AnExpiredConfigurationIsFetchedAgainAsANewSession) {
    service.setConfig(R"({"ttl": 600, "adPlatformHost": ")" + service.baseUrl() + "\"}");
    load();
    ASSERT_TRUE(waitFor([&] { return !metadata->isLoading(); }));
    std::string firstSession = TRAAdapptManager::clientSessionId();
    EXPECT_FALSE(metadata->isExpired());

    driver().advance(599);
    load();
    EXPECT_FALSE(metadata->isLoading());
    driver().advance(1);
    EXPECT_TRUE(metadata->isExpired());
    auto listener = listen();
    load();
    ASSERT_TRUE(waitFor([&] { return listener->count == 1; }));
    auto requests = service.requestsTo(TrilliumService::kMetadataPath);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].field("sessionReason"), "METADATA_TTL");
    EXPECT_NE(TRAAdapptManager::clientSessionId(), firstSession);
    EXPECT_EQ(requests[1].field("clientSessionId"), TRAAdapptManager::clientSessionId());
}

TEST_F(TRAMetadataTest, FailedFetchesKeepTheStoredConfigurationAndStillAnswer) {
    ASSERT_TRUE(apply(R"({"ttl": 1, "splashMinTime": 9, "adPlatformHost": ")" + service.baseUrl() + "\"}"));
    driver().advance(2);
    for (Answer answer : {Answer::withStatus(500, "{}"), Answer::ok("{\"splashMinTime\": "), Answer::drop()}) {
        service.setConfigAnswer(answer);
        auto listener = listen();
        load();
        ASSERT_TRUE(waitFor([&] { return listener->count == 1; }));
        EXPECT_EQ(metadata->getDefaultMinSplashTime(), 9);
        EXPECT_TRUE(metadata->isExpired());
    }
    EXPECT_EQ(service.requestsTo(TrilliumService::kMetadataPath).size(), 3u);
}

TEST_F(TRAMetadataTest, StartNewSessionFetchesAFreshConfigurationAgain) {
    load();
    ASSERT_TRUE(waitFor([&] { return !metadata->isLoading(); }));
    std::string before = TRAAdapptManager::clientSessionId();
    TRAAdapptManager::setNewSessionReason("APP_IDLE");
    metadata->startNewSession();
    ASSERT_TRUE(waitForRequests(TrilliumService::kMetadataPath, 2));
    auto request = service.requestsTo(TrilliumService::kMetadataPath)[1];
    EXPECT_EQ(request.field("sessionReason"), "APP_IDLE");
    EXPECT_EQ(request.field("productId"), kTestAppId);
    EXPECT_NE(TRAAdapptManager::clientSessionId(), before);
    ASSERT_TRUE(waitFor([&] { return !metadata->isLoading(); }));
}

TEST_F(TRAMetadataTest, ANewSessionDuringAFetchIsToldByAFollowUpFetch) {
    service.setConfigAnswer(Answer::stall(Answer::ok(service.defaultConfig())));
    TRAAdapptManager::setNewSessionReason("LAUNCH");
    std::string processSession = TRAAdapptManager::clientSessionId();
    load();
    ASSERT_TRUE(service.server().waitForStalled(1, 5));
    TRAAdapptManager::setNewSessionReason("APP_IDLE");
    metadata->startNewSession();
    std::string newSession = TRAAdapptManager::clientSessionId();
    EXPECT_NE(newSession, processSession);
    service.setConfig(service.defaultConfig());
    service.server().releaseStalled();
    ASSERT_TRUE(waitForRequests(TrilliumService::kMetadataPath, 2));
    ASSERT_TRUE(waitFor([&] { return !metadata->isLoading(); }));
    auto requests = service.requestsTo(TrilliumService::kMetadataPath);
    ASSERT_EQ(requests.size(), 2u);
    // The first fetch carried the session the process began; the follow-up the new one.
    EXPECT_EQ(requests[0].field("sessionReason"), "LAUNCH");
    EXPECT_EQ(requests[0].field("clientSessionId"), processSession);
    EXPECT_EQ(requests[1].field("sessionReason"), "APP_IDLE");
    EXPECT_EQ(requests[1].field("clientSessionId"), newSession);
    EXPECT_EQ(TRAAdapptManager::clientSessionId(), newSession);
}

TEST_F(TRAMetadataTest, RemovedAndReleasedListenersHearNothing) {
    auto removed = listen();
    metadata->setDelegateWithDelegate(removed);
    metadata->removeMetadataDelegation(removed);
    {
        auto released = listen();
    }
    auto kept = listen();
    load();
    ASSERT_TRUE(waitFor([&] { return kept->count == 1; }));
    EXPECT_EQ(removed->count, 0);
}

}  // namespace
