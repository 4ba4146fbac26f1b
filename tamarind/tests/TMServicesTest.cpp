// The small services: the pausable timer on the virtual clock, the metric
// tracker (pixel form, stops without starts, several threads), the URL
// classifier and store ids, the transport-security prefix, the close-button
// images, the web request's delivery thread and refusals, and the bridges an
// answer's creative gets.
#include <thread>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/runtime/DispatchQueue.h"
#include "tamarind/TMAMetricManager.h"
#include "tamarind/TMALinkUtility.h"
#include "tamarind/TMAWebRequestFactory.h"
#include "tamarind/TMAdContent.h"
#include "tamarind/TMMPTimer.h"
#include "tamarind/TMUtility.h"
#include "tamarind/tests/TamarindTestSupport.h"

using simulator::Answer;

namespace {
class TMServicesTick : public NSObject {
public:
    void tick() { ++ticks; }
    int ticks = 0;
};
}  // namespace

class TMServicesTest : public TamarindTest {};

TEST_F(TMServicesTest, ATimerPausedKeepsItsTimeLeft) {
    auto target = NSObject::alloc<TMServicesTick>();
    auto timer = TMMPTimer::timerWithTimeInterval(1.0, target, &TMServicesTick::tick, Value(), true);
    driver().advance(5);
    EXPECT_EQ(target->ticks, 0);  // not scheduled yet
    timer->scheduleNow();
    driver().advance(2.5);
    EXPECT_EQ(target->ticks, 2);
    timer->pause();
    driver().advance(10);
    EXPECT_EQ(target->ticks, 2);
    timer->resume();
    driver().advance(0.49);
    EXPECT_EQ(target->ticks, 2);
    driver().advance(0.01);
    EXPECT_EQ(target->ticks, 3);
    driver().advance(1);
    EXPECT_EQ(target->ticks, 4);
    timer->invalidate();
    driver().advance(5);
    EXPECT_EQ(target->ticks, 4);

    // A timer whose target went away ends quietly.
    auto gone = NSObject::alloc<TMServicesTick>();
    auto orphan = TMMPTimer::timerWithTimeInterval(1.0, gone, &TMServicesTick::tick, Value(), true);
    orphan->scheduleNow();
    gone.reset();
    driver().advance(1);
    EXPECT_FALSE(orphan->isValid());
}

TEST_F(TMServicesTest, MetricsBecomeOnePixelAndAreCleared) {
    auto tracker = NSObject::alloc<TMMetricTracker>();
    auto object = NSObject::alloc<NSObject>();
    tracker->stopTimer(4, object);  // never started: records nothing
    tracker->setPixelUrl(service.url("/pixel/instrumentation/m?ad=7"), object);
    EXPECT_EQ(tracker->instrumentationPixelForObject(object), std::nullopt);
    tracker->startTimer(2, object);
    driver().advance(1.25);
    tracker->stopTimer(2, object);
    tracker->startTimer(0, object);  // still running at the submit: dropped
    tracker->incrementCounter(124, object);
    tracker->setCounter(114, 3, object);
    tracker->incrementCounter(103, object);
    expectLogLine("Counter metric 5 is out of range");
    tracker->incrementCounter(5, object);
    EXPECT_EQ(tracker->instrumentationPixelForObject(object),
              service.url("/pixel/instrumentation/m?ad=7&i_tl=1250&c103=1&mi_rac=3&nil=1"));
    tracker->submitMetricsForObject(object);
    ASSERT_TRUE(waitForRequests("/pixel/instrumentation/m", 1));
    EXPECT_EQ(service.requestsTo("/pixel/instrumentation/m")[0].query, "ad=7&i_tl=1250&c103=1&mi_rac=3&nil=1");
    EXPECT_EQ(tracker->metricValue(124, object), std::nullopt);
    tracker->submitMetricsForObject(object);  // nothing left: nothing sent
    EXPECT_TRUE(driver().settle());
    EXPECT_EQ(service.requestsTo("/pixel/instrumentation/m").size(), 1u);
}

TEST_F(TMServicesTest, CountersFromSeveralThreadsAddUp) {
    auto tracker = NSObject::alloc<TMMetricTracker>();
    auto object = NSObject::alloc<NSObject>();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 250; ++i) tracker->incrementCounter(102, object);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(tracker->metricValue(102, object), 1000);
}

TEST_F(TMServicesTest, LinksAreClassifiedAndStoreIdsRead) {
    auto links = TMALinkUtility::sharedLinkUtility();
    auto action = [&](const char* text) { return links->actionForURL(NSURL::URLWithString(text)); };
    EXPECT_EQ(action("tamarindmobile://intent?intent=x"), TMALinkActionIntent);
    EXPECT_EQ(action("TamarindMobile://close"), TMALinkActionPrivate);
    EXPECT_EQ(action("https://Apps.Store.Invalid/app/id12"), TMALinkActionStore);
    EXPECT_EQ(action("http://example.com/"), TMALinkActionWeb);
    EXPECT_EQ(action("tel:555"), TMALinkActionNone);
    EXPECT_EQ(links->actionForURL(nullptr), TMALinkActionNone);

    auto storeId = [&](const char* text) { return links->appStoreIdFromURL(NSURL::URLWithString(text)); };
    EXPECT_EQ(storeId("https://apps.store.invalid/us/app/ghost-radar/id123456?mt=8"), "123456");
    EXPECT_EQ(storeId("https://apps.store.invalid/app/video"), "eo");  // the pattern is not anchored
    EXPECT_EQ(storeId("https://apps.store.invalid/app/x"), std::nullopt);
    EXPECT_EQ(storeId("http://example.com/id99"), std::nullopt);
}

TEST_F(TMServicesTest, TransportSecurityPrefixFollowsTheSystemAndTheInfoPlist) {
    auto metrics = TMAMetricManager::sharedAMAMetricManager();
    EXPECT_EQ(metrics->resourcePrefixATS(), "ATSEnabled_");
    NSBundle::mainBundle()->setInfoDictionaryValue("NSAppTransportSecurity",
                                                   Value::dictionary({{"NSAllowsArbitraryLoads", true}}));
    EXPECT_EQ(metrics->resourcePrefixATS(), "ATSDisabled_");
    NSBundle::mainBundle()->setInfoDictionaryValue("NSAppTransportSecurity", Value());
    profile().systemVersion = "8.4";
    EXPECT_EQ(metrics->resourcePrefixATS(), "ATSDisabled_");

    expectLogLine("Failed to fire metric. Metric Endpoint: nil");
    metrics->fireMetric("MobileAdsiOSSDK_", "Failure_", "LoadAdNoFill_");
}

TEST_F(TMServicesTest, CloseButtonImagesAreDrawnOnceAtTheScreensScale) {
    auto utility = TMUtility::sharedUtility();
    auto normal = utility->defaultCloseButtonImageNormal();
    auto highlighted = utility->defaultCloseButtonImageHighlighted();
    ASSERT_TRUE(normal && highlighted);
    EXPECT_EQ(normal->size().width, 30);
    EXPECT_EQ(normal->scale(), 2);
    EXPECT_EQ(utility->defaultCloseButtonImageNormal(), normal);
    auto a = UIImagePNGRepresentation(normal), b = UIImagePNGRepresentation(highlighted);
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(a->isEqual(*b));
}

TEST_F(TMServicesTest, WebRequestsDeliverOnTheirThreadAndRefuseOversizedOrBadInput) {
    service.setAnswer("GET", "/big", Answer::ok(std::string(2048, 'x')));
    auto request = TMAWebRequestFactory::initJSONGetWebRequest();
    request->setUrlString(service.url("/big"));
    request->setReturnsOnMainThread(false);
    request->setMaximumResponseBytes(1024);
    std::atomic<bool> done{false}, onMain{true};
    std::atomic<int64_t> code{0};
    request->makeCallWithCompletionBlock([&](Ref<TMAWebResponse>, Ref<NSError> error, int64_t) {
        onMain = NSThread::isMainThread();
        code = error ? error->code() : 0;
        done = true;
    });
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    EXPECT_FALSE(onMain.load());
    EXPECT_EQ(code.load(), -1103);

    auto bad = TMAWebRequestFactory::initWebRequest();
    bad->setUrlString(std::string("http://exa mple/"));
    Ref<NSError> badError;
    bool called = false;
    bad->makeCallWithCompletionBlock([&](Ref<TMAWebResponse>, Ref<NSError> error, int64_t) {
        badError = error;
        called = true;
    });
    EXPECT_FALSE(called);  // never on the caller's stack
    ASSERT_TRUE(waitFor([&] { return called; }));
    EXPECT_EQ(badError->code(), -1000);
}

TEST_F(TMServicesTest, AnAnswersCreativeDecidesItsBridges) {
    auto bridges = [](const char* json) {
        return NSObject::alloc<TMAdContent>()->initWithData(NSData::dataWithString(json))->bridgesEnabled();
    };
    auto mraid = bridges("{\"errorCode\":200,\"creative\":\"<p/>\",\"creativeType\":\"mraid\"}");
    EXPECT_TRUE(mraid->mraid());
    EXPECT_FALSE(mraid->tamarind());
    EXPECT_TRUE(mraid->viewability());
    auto html = bridges("{\"errorCode\":200,\"creative\":\"<script src='tamarind.js'>\",\"creativeType\":\"html\"}");
    EXPECT_FALSE(html->mraid());
    EXPECT_TRUE(html->tamarind());
    expectLogLine("No creative HTML in the ad answer");
    EXPECT_EQ(bridges("{\"errorCode\":204}"), nullptr);

    auto capped = NSObject::alloc<TMAdContent>()->initWithData(
        NSData::dataWithString("{\"errorCode\":503,\"noretryTTL\":86400.9,\"cacheTTL\":60}"));
    EXPECT_EQ(capped->errorType(), 1);
    EXPECT_EQ(capped->noretryTTL(), 3600);
    EXPECT_EQ(capped->cacheTTL(), 60);
}

TEST_F(TMServicesTest, TheLogWritesItsPrefixesAtTheLevelsItsLevelEnables) {
    TMLog::setLogLevel(TMLogLevel::Warn);
    TMLog::logDebug("quiet %d", 1);
    TMLog::logInfo("quiet %d", 2);
    TMLog::logWarn("heard %d", 3);
    TMLog::logError("heard %@", std::string("4"));
    EXPECT_FALSE(logCapture().contains("quiet"));
    EXPECT_TRUE(logCapture().contains("TamarindAd [Warn]: heard 3"));
    EXPECT_TRUE(logCapture().contains("TamarindAd [Error]: heard 4"));
    TMLog::setLogLevel(TMLogLevel::None);
    TMLog::logError("silenced");
    EXPECT_FALSE(logCapture().contains("silenced"));
}
