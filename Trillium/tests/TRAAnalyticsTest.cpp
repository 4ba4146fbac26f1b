// The analytics queue: the event URL's fields, events kept across failures
// and a restart until the server answers, sequences sent in order, nothing queued or sent while the
// server has analytics off, a bounded queue, events queued while the
// preferences cannot be read.
#include "Trillium/TRAAnalytics.h"

#include <algorithm>
#include <cerrno>

#include "Trillium/TRAAdapptManager.h"
#include "Trillium/tests/TrilliumTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/net/NetworkConditions.h"

namespace {

using simulator::Answer;
using simulator::TrilliumService;

class TRAAnalyticsTest : public TrilliumTest {
protected:
    static void send(const std::string& value = "v") {
        TRAAnalytics::sendAnalyticsURLWithCategory(5, std::string("hop latency: 1.5 s"), value, std::string("abc%3D"));
    }
};

TEST_F(TRAAnalyticsTest, AnEventCarriesItsFieldsAndLeavesTheQueueWhenAnswered) {
    send("12");
    EXPECT_EQ(TRAAnalytics::queuedEventCount(), 1u);
    ASSERT_TRUE(waitForRequests(TrilliumService::kAnalyticsPath, 1));
    ASSERT_TRUE(waitFor([] { return TRAAnalytics::queuedEventCount() == 0; }));
    auto event = service.requestsTo(TrilliumService::kAnalyticsPath)[0];
    EXPECT_EQ(event.fieldNames(), (std::vector<std::string>{"category", "value", "details", "d", "publisherId",
                                                             "productId", "sdkVersion", "os", "clientSessionId",
                                                             "timestamp"}));
    EXPECT_EQ(event.field("category"), "5");
    EXPECT_EQ(event.field("value"), "12");
    EXPECT_EQ(event.field("details"), "hop latency: 1.5 s");
    EXPECT_EQ(event.field("d"), "abc%3D");
    EXPECT_EQ(event.field("publisherId"), kTestDevId);
    EXPECT_EQ(event.field("productId"), kTestAppId);
    EXPECT_EQ(event.field("clientSessionId"), TRAAdapptManager::clientSessionId());
    EXPECT_TRUE(NSString::containsString(event.request.target, "&details=hop%20latency%3A%201.5%20s&"));
}

TEST_F(TRAAnalyticsTest, TheQueueSurvivesFailuresAndARestart) {
    platform::testing::NetworkConditions::set(NetworkState::None);
    send("a");
    send("b");
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(TRAAnalytics::queuedEventCount(), 2u);
    EXPECT_EQ(service.requestsTo(TrilliumService::kAnalyticsPath).size(), 0u);

    restartProcessState();
    EXPECT_EQ(TRAAnalytics::queuedEventCount(), 2u);
    platform::testing::NetworkConditions::set(NetworkState::WiFi);
    service.setAnswer(TrilliumService::kAnalyticsPath, Answer::withStatus(503));
    TRAAnalytics::sendPendingEvents();
    ASSERT_TRUE(waitForRequests(TrilliumService::kAnalyticsPath, 2));
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(TRAAnalytics::queuedEventCount(), 2u);  // a server error may pass: kept

    service.setAnswer(TrilliumService::kAnalyticsPath, Answer::withStatus(400));
    TRAAnalytics::sendPendingEvents();
    ASSERT_TRUE(waitFor([] { return TRAAnalytics::queuedEventCount() == 0; }));
    std::vector<std::string> values;
    for (const auto& event : service.requestsTo(TrilliumService::kAnalyticsPath))
        values.push_back(event.field("value").value_or(""));
    std::sort(values.begin(), values.end());  // sent side by side
    EXPECT_EQ(values, (std::vector<std::string>{"a", "a", "b", "b"}));
}

// The preferences cannot be read at a start: an event queued meanwhile is
// kept apart, and joins the stored queue once they read, the queue staying
// within its bound (the oldest goes).
TEST_F(TRAAnalyticsTest, EventsQueuedWhileThePreferencesCannotBeReadJoinTheStoredQueue) {
    platform::testing::NetworkConditions::set(NetworkState::None);
    send("oldest");
    for (size_t i = 1; i < TRAAnalytics::kMaximumQueuedEvents; ++i) send("stored");
    ASSERT_TRUE(driver().settle());
    const std::string preferences = home() + "/Library/Preferences";
    platform::testing::FileSystemConditions::setReadsFail(preferences, EIO);
    restartProcessState();
    send("meanwhile");
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(TRAAnalytics::queuedEventCount(), 1u);

    platform::testing::FileSystemConditions::setReadsFail(preferences, std::nullopt);
    expectLogLine("Analytics queue is full; the 1 oldest events are dropped.");
    EXPECT_EQ(TRAAnalytics::queuedEventCount(), TRAAnalytics::kMaximumQueuedEvents);
    restartProcessState();
    auto queue = NSUserDefaults::standardUserDefaults()->arrayForKey(TRAAnalytics::kQueueKey);
    ASSERT_TRUE(queue);
    ASSERT_EQ(queue->size(), TRAAnalytics::kMaximumQueuedEvents);
    EXPECT_TRUE(NSString::containsString(*queue->front()["url"].string(), "&value=stored&"));
    EXPECT_TRUE(NSString::containsString(*queue->back()["url"].string(), "&value=meanwhile&"));
}

TEST_F(TRAAnalyticsTest, AnEventOnItsWayIsNotSentTwice) {
    service.setAnswer(TrilliumService::kAnalyticsPath, Answer::stall());
    send("once");
    ASSERT_TRUE(service.server().waitForStalled(1, 5));
    TRAAnalytics::sendPendingEvents();
    send("twice");
    ASSERT_TRUE(service.server().waitForStalled(2, 5));
    service.server().releaseStalled();
    ASSERT_TRUE(waitFor([] { return TRAAnalytics::queuedEventCount() == 0; }));
    EXPECT_EQ(service.requestsTo(TrilliumService::kAnalyticsPath).size(), 2u);
}

TEST_F(TRAAnalyticsTest, ASequenceGoesOneAfterTheOtherAlsoAfterARestart) {
    platform::testing::NetworkConditions::set(NetworkState::None);
    TRAAnalytics::sendAnalyticsEventsInOrder({{5, std::string("a;1.00"), "first"}, {5, std::string("1"), "second"},
                                              {5, std::nullopt, "third"}},
                                             std::string("d1"));
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(TRAAnalytics::queuedEventCount(), 3u);

    restartProcessState();
    platform::testing::NetworkConditions::set(NetworkState::WiFi);
    service.server().route("GET", TrilliumService::kAnalyticsPath, [](const simulator::RecordedRequest& r) {
        return r.target.find("value=first&") != std::string::npos ? Answer::stall() : Answer::ok();
    });
    auto values = [&] {
        std::vector<std::string> list;
        for (const auto& e : service.requestsTo(TrilliumService::kAnalyticsPath)) list.push_back(e.field("value").value_or(""));
        return list;
    };
    TRAAnalytics::sendPendingEvents();
    ASSERT_TRUE(service.server().waitForStalled(1, 5));
    EXPECT_FALSE(driver().runUntil([&] { return values().size() > 1; }, 0.5));
    service.server().releaseStalled();
    ASSERT_TRUE(waitFor([] { return TRAAnalytics::queuedEventCount() == 0; }));
    ASSERT_EQ(values(), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(service.requestsTo(TrilliumService::kAnalyticsPath)[1].field("d"), "d1");
}

TEST_F(TRAAnalyticsTest, NothingIsQueuedOrSentWhileAnalyticsAreOff) {
    platform::testing::NetworkConditions::set(NetworkState::None);
    send("kept");
    ASSERT_TRUE(driver().settle());
    NSUserDefaults::standardUserDefaults()->setInteger(0, "TRAAnalyticsEnabled");
    platform::testing::NetworkConditions::set(NetworkState::WiFi);
    send("dropped");
    TRAAnalytics::sendPendingEvents();
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(service.requestsTo(TrilliumService::kAnalyticsPath).size(), 0u);
    EXPECT_EQ(TRAAnalytics::queuedEventCount(), 1u);

    NSUserDefaults::standardUserDefaults()->setInteger(1, "TRAAnalyticsEnabled");
    TRAAnalytics::sendPendingEvents();
    ASSERT_TRUE(waitFor([] { return TRAAnalytics::queuedEventCount() == 0; }));
    ASSERT_EQ(service.requestsTo(TrilliumService::kAnalyticsPath).size(), 1u);
    EXPECT_EQ(service.requestsTo(TrilliumService::kAnalyticsPath)[0].field("value"), "kept");
}

TEST_F(TRAAnalyticsTest, TheQueueIsBoundedAndSkipsDamagedEntries) {
    platform::testing::NetworkConditions::set(NetworkState::None);
    Value::Array full;
    for (size_t i = 0; i < TRAAnalytics::kMaximumQueuedEvents; ++i)
        full.push_back(Value::dictionary({{"id", "old" + std::to_string(i)}, {"url", "http://h/?value=" + std::to_string(i)}}));
    NSUserDefaults::standardUserDefaults()->setObject(Value(full), TRAAnalytics::kQueueKey);
    // Events as fast as a page's taps: the full queue's line folds.
    for (int i = 0; i < 300; ++i) send("new0");
    send("new1");
    send("new2");
    ASSERT_TRUE(driver().settle());
    EXPECT_LE(logCapture().count("Analytics queue is full"), 2u);
    EXPECT_EQ(foldedCount(logCapture().messages(), "Analytics queue is full"), 302u);
    EXPECT_EQ(TRAAnalytics::queuedEventCount(), TRAAnalytics::kMaximumQueuedEvents);
    auto queue = NSUserDefaults::standardUserDefaults()->arrayForKey(TRAAnalytics::kQueueKey);
    ASSERT_TRUE(queue);
    EXPECT_TRUE(NSString::containsString(*queue->front()["url"].string(), "&value=new0&"));
    EXPECT_TRUE(NSString::containsString(*queue->back()["url"].string(), "&value=new2&"));
    EXPECT_TRUE(logCapture().contains("Analytics queue is full"));

    NSUserDefaults::standardUserDefaults()->setObject(
        Value::array({7, Value::dictionary({{"id", "x"}}), Value::dictionary({{"id", "y"}, {"url", "http://h/"}})}),
        TRAAnalytics::kQueueKey);
    EXPECT_EQ(TRAAnalytics::queuedEventCount(), 1u);
}

}  // namespace
