// The lifecycle manager against the Trillium service on loopback: what a
// launch sends (and what it must not), the background and foreground rules
// on the virtual clock, the return ad's callbacks and retries.
#include <cerrno>

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/display/TRALifecycleAdRequests.h"
#include "Trillium/display/tests/TrilliumDisplayTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSDateFormatter.h"
#include "platform/net/NetworkConditions.h"

using simulator::Answer;
using simulator::TrilliumService;

namespace {

// A delegate that implements only didCloseAd: of the optional methods.
class CloseOnlyDelegate : public NSObject, public TRADelegateProtocol {
public:
    void didCloseAd(const Ref<TRAAbstractAd>&) override { ++closes; }
    void didClickAd(const Ref<TRAAbstractAd>&) override { ++clicks; }
    PLATFORM_RESPONDS_TO("didCloseAd:")
    int closes = 0;
    int clicks = 0;
};

}  // namespace

class TRAEventAdManagerTest : public TrilliumDisplayTest {
protected:
    Ref<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }
    size_t metadataRequests() const { return service.requestsTo(TrilliumService::kMetadataPath).size(); }
    std::vector<simulator::TrilliumRequest> analyticsEvents() const {
        return service.requestsTo(TrilliumService::kAnalyticsPath);
    }
    void stayInBackground(double seconds) {
        auto app = UIApplication::sharedApplication();
        app->simulateEnterBackground();
        driver().advance(seconds);
        app->simulateEnterForeground();
        app->simulateBecomeActive();
        settle();
    }
};

TEST_F(TRAEventAdManagerTest, EntryPointBringsTheManagerIntoBeing) {
    EXPECT_EQ(TRATrilliumSDK::sharedInstance()->eventAdManager(),
              std::static_pointer_cast<TRAEventAdManaging>(manager));
    TRATrilliumSDK::sharedInstance()->disableReturnAd();
    EXPECT_TRUE(manager->isReturnAdDisabled());
}

TEST_F(TRAEventAdManagerTest, FirstLaunchSendsConfigurationPreloadReportAndReturnAd) {
    linkClass("HLSdk");
    launch();
    // The report as the client built it at launch, escaped once, byte for byte.
    auto expected = NSObject::alloc<TRAFirstDownloadRequest>()->init();
    expected->fillApplicationDetails(std::string(kTestAppId), std::string(kTestDevId));
    std::string expectedQuery = NSString::stringByAddingPercentEscapesUsingEncoding(expected->getQueryString());
    settle();

    auto config = service.requestsTo(TrilliumService::kMetadataPath);
    ASSERT_EQ(config.size(), 1u);
    EXPECT_EQ(config[0].field("sessionReason"), "LAUNCH");
    EXPECT_EQ(config[0].field("productId"), kTestAppId);
    EXPECT_EQ(config[0].field("publisherId"), kTestDevId);

    auto report = service.requestsTo(TrilliumService::kFirstLaunchPath);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].request.method, "GET");
    EXPECT_EQ(report[0].request.query, expectedQuery);
    std::vector<std::string> names = report[0].fieldNames();
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names.front(), "publisherId");
    EXPECT_EQ(names[1], "productId");
    EXPECT_EQ(names.back(), "placement");
    EXPECT_EQ(report[0].field("placement"), "INAPP_DOWNLOAD");

    // The preloaded overlay and the return ad, both full-screen type 5, in
    // the session the configuration tells the server of.
    auto overlay = htmlAdRequestsFor("INAPP_OVERLAY");
    auto returnAd = htmlAdRequestsFor("INAPP_RETURN");
    ASSERT_EQ(overlay.size(), 1u);
    ASSERT_EQ(returnAd.size(), 1u);
    EXPECT_EQ(overlay[0].field("clientSessionId"), config[0].field("clientSessionId"));
    EXPECT_EQ(returnAd[0].field("clientSessionId"), TRAAdapptManager::clientSessionId());
    EXPECT_EQ(config[0].field("clientSessionId"), TRAAdapptManager::clientSessionId());
    EXPECT_EQ(overlay[0].field("adType"), "5");
    EXPECT_EQ(returnAd[0].field("adType"), "5");
    ASSERT_TRUE(manager->trilliumReturnAd());
    EXPECT_EQ(manager->trilliumReturnAd()->eventType(), 1);
    EXPECT_TRUE(manager->trilliumReturnAd()->isReady());
    ASSERT_TRUE(manager->trilliumOverlay());
    EXPECT_EQ(manager->trilliumOverlay()->eventType(), 0);

    // The other-clients report names the linked Halcyon client.
    auto events = analyticsEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].field("category"), "7");
    EXPECT_EQ(events[0].field("details"), "HL");
    EXPECT_EQ(events[0].field("value"), "NTRA");

    // Stored as a short date without time, as the report's completion left it.
    auto formatter = NSObject::alloc<NSDateFormatter>()->init();
    formatter->setDateStyle(NSDateFormatterShortStyle);
    EXPECT_EQ(defaults()->stringForKey("TRAFirstOpenDate"), formatter->stringFromDate(NSDate::date()));
    EXPECT_EQ(service.requests().size(), 5u);
}

// The other-clients report, as classes come to be linked: the codes in their
// fixed order, "AM" for either of its two classes, the last dash dropped.
class TRAEventAdManagerOthersTest : public TRAEventAdManagerTest {
protected:
    // Links the classes, reports, and answers the details sent ("" for none).
    std::string reportAfterLinking(std::initializer_list<const char*> classes) {
        for (const char* name : classes) linkClass(name);
        size_t before = analyticsEvents().size();
        manager->checkOthers();
        settle();
        auto events = analyticsEvents();
        if (events.size() == before) return "";
        EXPECT_EQ(events.back().field("category"), "7");
        EXPECT_EQ(events.back().field("value"), "NTRA");
        return events.back().field("details").value_or("(none)");
    }
};

TEST_F(TRAEventAdManagerOthersTest, BannerThenHalcyonThenChartboost) {
    EXPECT_EQ(reportAfterLinking({}), "");
    EXPECT_EQ(reportAfterLinking({"GADBannerView"}), "AM");
    EXPECT_EQ(reportAfterLinking({"HLSdk"}), "HL-AM");
    EXPECT_EQ(reportAfterLinking({"Chartboost"}), "CB-HL-AM");
}

TEST_F(TRAEventAdManagerOthersTest, InterstitialThenChartboost) {
    EXPECT_EQ(reportAfterLinking({"GADInterstitial"}), "AM");
    EXPECT_EQ(reportAfterLinking({"Chartboost", "GADBannerView"}), "CB-AM");
}

TEST_F(TRAEventAdManagerOthersTest, ChartboostThenHalcyon) {
    EXPECT_EQ(reportAfterLinking({"Chartboost"}), "CB");
    EXPECT_EQ(reportAfterLinking({"HLSdk"}), "CB-HL");
}

TEST_F(TRAEventAdManagerTest, ApplicationSwitchingTheReturnAdOffLoadsNoReturnAd) {
    TRATrilliumSDK::sharedInstance()->disableReturnAd();
    launch();
    settle();
    EXPECT_TRUE(htmlAdRequestsFor("INAPP_RETURN").empty());
    EXPECT_EQ(htmlAdRequestsFor("INAPP_OVERLAY").size(), 1u);
    EXPECT_FALSE(manager->trilliumReturnAd());
    // Without other clients linked there is no other-clients report.
    EXPECT_TRUE(analyticsEvents().empty());
}

TEST_F(TRAEventAdManagerTest, ServerSwitchesOffReturnAdAndPreloadFromStoredConfiguration) {
    defaults()->setInteger(1, "TRADisableReturnAd");
    defaults()->setInteger(0, "TRAAutoLoad");
    launch();
    settle();
    EXPECT_TRUE(manager->isReturnAdDisabled());
    EXPECT_TRUE(service.requestsTo(TrilliumService::kHtmlAdPath).empty());
}

TEST_F(TRAEventAdManagerTest, StoredFirstOpenDateSuppressesBothReports) {
    linkClass("HLSdk");
    defaults()->setObject(Value("1/2/24"), "TRAFirstOpenDate");
    launch();
    settle();
    EXPECT_TRUE(service.requestsTo(TrilliumService::kFirstLaunchPath).empty());
    EXPECT_TRUE(analyticsEvents().empty());
    EXPECT_EQ(defaults()->stringForKey("TRAFirstOpenDate"), "1/2/24");
}

// Preferences that cannot be read at launch may well hold the date: the
// reports wait, and the stored date stays once they read.
TEST_F(TRAEventAdManagerTest, AFirstOpenDateThatCannotBeReadYetSuppressesBothReports) {
    defaults()->setObject(Value("1/2/24"), "TRAFirstOpenDate");
    const std::string file = home() + "/Library/Preferences/com.paranormal.detector.plist";
    platform::testing::FileSystemConditions::setReadsFail(file, EIO);
    NSUserDefaults::resetStandardUserDefaults();
    defaults()->setObject(service.baseUrl(), "TRAAdPlatformHost");  // as the application points it each run
    launch();
    settle();
    platform::testing::FileSystemConditions::setReadsFail(file, std::nullopt);
    EXPECT_TRUE(service.requestsTo(TrilliumService::kFirstLaunchPath).empty());
    for (const auto& r : analyticsEvents()) EXPECT_NE(r.field("category"), "7");
    EXPECT_EQ(defaults()->stringForKey("TRAFirstOpenDate"), "1/2/24");
}

TEST_F(TRAEventAdManagerTest, HttpErrorStatusCountsAsDelivered) {
    service.setAnswer(TrilliumService::kFirstLaunchPath, Answer::withStatus(500));
    launch();
    settle();
    EXPECT_EQ(service.requestsTo(TrilliumService::kFirstLaunchPath).size(), 1u);
    EXPECT_TRUE(defaults()->stringForKey("TRAFirstOpenDate").has_value());
}

TEST_F(TRAEventAdManagerTest, TransportFailureStoresNothing) {
    service.setAnswer(TrilliumService::kFirstLaunchPath, Answer::drop());
    launch();
    settle();
    EXPECT_EQ(service.requestsTo(TrilliumService::kFirstLaunchPath).size(), 1u);
    EXPECT_FALSE(defaults()->stringForKey("TRAFirstOpenDate").has_value());
    // A second launch call in the same run (an engine wrapper's) sends it again.
    manager->appDidFinishLaunching();
    settle();
    EXPECT_EQ(service.requestsTo(TrilliumService::kFirstLaunchPath).size(), 2u);
}

TEST_F(TRAEventAdManagerTest, ReportStillOnItsWayIsNotSentTwice) {
    service.setAnswer(TrilliumService::kFirstLaunchPath, Answer::stall());
    launch();
    ASSERT_TRUE(service.server().waitForStalled(1, 10));
    manager->appDidFinishLaunching();
    service.server().releaseStalled();
    settle();
    EXPECT_EQ(service.requestsTo(TrilliumService::kFirstLaunchPath).size(), 1u);
    EXPECT_TRUE(defaults()->stringForKey("TRAFirstOpenDate").has_value());
}

TEST_F(TRAEventAdManagerTest, NoNetworkAtLaunchLoadsNoConfigurationAndStoresNothing) {
    platform::testing::NetworkConditions::set(NetworkState::None);
    launch();
    settle();
    EXPECT_EQ(service.requests().size(), 0u);
    EXPECT_FALSE(defaults()->stringForKey("TRAFirstOpenDate").has_value());
    EXPECT_FALSE(TRAAdapptManager::newSessionReason().has_value());
    // The rest of the launch went ahead: the background time is still noted.
    UIApplication::sharedApplication()->simulateEnterBackground();
    EXPECT_TRUE(defaults()->objectForKey("TRALastBackgroundTime").isDate());
}

TEST_F(TRAEventAdManagerTest, BackgroundRulesAtExactlyAndJustOverTheLimits) {
    launch();
    settle();
    ASSERT_TRUE(manager->trilliumReturnAd()->isReady());
    ASSERT_EQ(metadataRequests(), 1u);

    // Exactly 300 s: neither the return ad nor a new session.
    stayInBackground(300);
    EXPECT_TRUE(screens.empty());
    EXPECT_EQ(metadataRequests(), 1u);

    // 301 s: both.
    stayInBackground(301);
    ASSERT_EQ(screens.size(), 1u);
    EXPECT_EQ(screens[0]->shownAd.lock(), manager->trilliumReturnAd()->internalAd());
    auto config = service.requestsTo(TrilliumService::kMetadataPath);
    ASSERT_EQ(config.size(), 2u);
    EXPECT_EQ(config[1].field("sessionReason"), "APP_IDLE");
    EXPECT_NE(config[1].field("clientSessionId"), config[0].field("clientSessionId"));
}

TEST_F(TRAEventAdManagerTest, ServerLimitsDecideAndEachIsStrict) {
    defaults()->setInteger(60, "TRAReturnAdMinBackgroundTime");
    defaults()->setInteger(120, "TRASessionMaxBackgroundTime");
    // Kept by the configuration answer: it carries the same limits.
    service.setConfig("{\"ttl\": 3600, \"adPlatformHost\": \"" + service.baseUrl() +
                      "\", \"returnAdMinBackgroundTime\": 60, \"sessionMaxBackgroundTime\": 120}");
    launch();
    settle();
    stayInBackground(90);  // over the return-ad limit only
    EXPECT_EQ(screens.size(), 1u);
    EXPECT_EQ(metadataRequests(), 1u);
    stayInBackground(120);  // exactly the session limit
    EXPECT_EQ(metadataRequests(), 1u);
    stayInBackground(121);
    EXPECT_EQ(metadataRequests(), 2u);
}

TEST_F(TRAEventAdManagerTest, DisabledReturnAdStillStartsNewSessions) {
    TRATrilliumSDK::sharedInstance()->disableReturnAd();
    launch();
    settle();
    stayInBackground(600);
    EXPECT_TRUE(screens.empty());
    EXPECT_FALSE(manager->trilliumReturnAd());
    auto config = service.requestsTo(TrilliumService::kMetadataPath);
    ASSERT_EQ(config.size(), 2u);
    EXPECT_EQ(config[1].field("sessionReason"), "APP_IDLE");
}

TEST_F(TRAEventAdManagerTest, ForegroundWithoutStoredBackgroundTimeCountsAsNoAbsence) {
    launch();
    settle();
    defaults()->removeObjectForKey("TRALastBackgroundTime");
    driver().advance(1000);
    manager->appWillEnterForeground();
    settle();
    EXPECT_TRUE(screens.empty());
    EXPECT_EQ(metadataRequests(), 1u);
    // A value of another kind reads the same.
    defaults()->setObject(Value("yesterday"), "TRALastBackgroundTime");
    manager->appWillEnterForeground();
    EXPECT_TRUE(screens.empty());
}

TEST_F(TRAEventAdManagerTest, ReturnAdLoadFailureIsForwardedAndRetriedAfterThirtySeconds) {
    service.setHtmlAdAnswer(Answer::withStatus(500));
    auto delegate = NSObject::alloc<RecordingAdDelegate>();
    manager->setReturnAdDelegate(delegate);
    launch();
    settle();
    EXPECT_EQ(delegate->events, std::vector<std::string>{"failedLoadAd"});
    ASSERT_TRUE(manager->reloadingTimer());
    ASSERT_EQ(htmlAdRequestsFor("INAPP_RETURN").size(), 1u);

    driver().advance(29.9);
    settle();
    EXPECT_EQ(htmlAdRequestsFor("INAPP_RETURN").size(), 1u);
    driver().advance(0.2);
    settle();
    EXPECT_EQ(htmlAdRequestsFor("INAPP_RETURN").size(), 2u);

    // Once it loads, the delegate hears it and no retry is left.
    service.setHtmlAd(service.htmlAdPage(simulator::TrilliumHtmlAd{}));
    driver().advance(30.1);
    settle();
    EXPECT_EQ(delegate->events.back(), "didLoadAd");
    size_t requests = htmlAdRequestsFor("INAPP_RETURN").size();
    driver().advance(120);
    settle();
    EXPECT_EQ(htmlAdRequestsFor("INAPP_RETURN").size(), requests);
}

TEST_F(TRAEventAdManagerTest, NoRetryWhileTheServerSaysDoNotShow) {
    service.setHtmlAdAnswer(Answer::withStatus(500));
    service.setConfig("{\"ttl\": 3600, \"adPlatformHost\": \"" + service.baseUrl() + "\", \"dns\": 1}");
    defaults()->setInteger(1, "TRADNS");
    launch();
    settle();
    EXPECT_FALSE(manager->reloadingTimer());
    driver().advance(300);
    settle();
    EXPECT_EQ(htmlAdRequestsFor("INAPP_RETURN").size(), 1u);
}

TEST_F(TRAEventAdManagerTest, ClickFallsBackToCloseAndBothReloadTheReturnAd) {
    launch();
    settle();
    auto delegate = NSObject::alloc<CloseOnlyDelegate>();
    manager->setReturnAdDelegate(delegate);
    auto returnAd = manager->trilliumReturnAd();
    ASSERT_TRUE(returnAd);
    size_t before = htmlAdRequestsFor("INAPP_RETURN").size();

    manager->didClickAd(returnAd);
    EXPECT_EQ(delegate->closes, 1);
    EXPECT_EQ(delegate->clicks, 0);
    manager->didCloseAd(returnAd);
    EXPECT_EQ(delegate->closes, 2);
    // The cache still holds the loaded ad, so the reloads are answered from it.
    settle();
    EXPECT_EQ(htmlAdRequestsFor("INAPP_RETURN").size(), before);

    // Callbacks about any other ad are ignored.
    auto stranger = NSObject::alloc<TRATrilliumAd>()->init();
    manager->didCloseAd(stranger);
    manager->failedLoadAd(stranger, nullptr);
    EXPECT_EQ(delegate->closes, 2);
    EXPECT_FALSE(manager->reloadingTimer());
}

TEST_F(TRAEventAdManagerTest, BackgroundStoresTheTimeAndSavesTheCache) {
    launch();
    settle();
    defaults()->removeObjectForKey(TRAAdCache::kCacheDbKey);
    UIApplication::sharedApplication()->simulateEnterBackground();
    Value stored = defaults()->objectForKey("TRALastBackgroundTime");
    ASSERT_TRUE(stored.isDate());
    EXPECT_EQ(stored.date()->timeIntervalSince1970(), NSDate::date().timeIntervalSince1970());
    EXPECT_FALSE(defaults()->objectForKey(TRAAdCache::kCacheDbKey).isNull());
}

