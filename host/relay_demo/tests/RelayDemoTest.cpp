// The Relay demo end to end through the client's public calls: prepared
// before the session starts, run after it, then checked on what both
// services recorded: one configuration request, the partner failing and
// retried after its delay on the virtual clock, and the callback report
// listing both attempts; and a second run on the same home, whose stored
// configuration names the earlier run's services.
#include <gtest/gtest.h>

#include <mutex>

#include "analytics/Orrery.h"
#include "host/relay_demo/RelayDemo.h"
#include "platform/testing/PlatformTest.h"

namespace {

class RelayDemoTest : public platform::testing::PlatformTest {
protected:
    std::vector<std::string> lines() {
        std::scoped_lock lock(mutex_);
        return lines_;
    }
    bool told(const std::string& text) {
        for (const auto& line : lines())
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
    RelayDemo::TimelineSink sink() {
        return [this](const std::string& line) {
            std::scoped_lock lock(mutex_);
            lines_.push_back(line);
        };
    }
    void SetUp() override {
        PlatformTest::SetUp();
        ASSERT_TRUE(relay.start());
        ASSERT_TRUE(partner.start());
    }
    // Prepared against both embedded services.
    void prepare(RelayDemo& demo) {
        RelayDemo::Endpoints endpoints;
        endpoints.configServer = &relay;
        endpoints.partner = &partner;
        ASSERT_TRUE(demo.prepare(endpoints));
    }

    simulator::RelayService relay;
    simulator::PartnerService partner;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

TEST_F(RelayDemoTest, ConfigurationRetriedPartnerAndReportOnTheVirtualClock) {
    RelayDemo demo(sink());
    prepare(demo);
    Orrery::startSession("RELAY-DEMO-KEY");
    VirtualRelayDemoPace pace(driver());
    RelayDemoResult result = demo.run(pace);

    EXPECT_TRUE(result.configured);
    EXPECT_TRUE(result.eventMatched);
    EXPECT_TRUE(result.retried);
    EXPECT_TRUE(result.reportPosted);
    EXPECT_EQ(result.partnerAttempts, 2);

    // One configuration request, decoded with the key the session started with.
    auto configRequests = relay.configRequests();
    ASSERT_EQ(configRequests.size(), 1u);
    ASSERT_TRUE(configRequests[0].decoded) << configRequests[0].error;
    EXPECT_EQ(configRequests[0].decoded->projectKey, "RELAY-DEMO-KEY");

    // The partner: 500, then 200 after the first retry delay of the virtual clock.
    auto calls = partner.callbacks(RelayDemo::kCallbackPath);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method, "GET");
    EXPECT_EQ(calls[0].query.value_or("").rfind("event=sighting_logged&at=", 0), 0u);
    EXPECT_EQ(calls[0].response.rfind("HTTP/1.1 500", 0), 0u);
    EXPECT_EQ(calls[1].response.rfind("HTTP/1.1 200", 0), 0u);
    ASSERT_EQ(result.attempts.size(), 2u);
    EXPECT_EQ(result.attempts[0].status, 500);
    EXPECT_EQ(result.attempts[1].status, 200);
    EXPECT_EQ(result.retryDelaySeconds, 90);
    EXPECT_DOUBLE_EQ(result.attempts[1].virtualTime - result.attempts[0].virtualTime, 90);

    // One report, listing both attempts of the callback under the event.
    auto reports = relay.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].request.path, "/pcr.do");
    EXPECT_EQ(result.reportBytes, reports[0].request.body.size());
    ASSERT_TRUE(reports[0].report) << reports[0].error;
    const auto& report = *reports[0].report;
    EXPECT_TRUE(report.checksumMatches);
    EXPECT_EQ(report.apiKey, "RELAY-DEMO-KEY");
    ASSERT_EQ(report.triggers.size(), 1u);
    EXPECT_EQ(report.triggers[0].triggerType, 4);
    EXPECT_EQ(report.triggers[0].eventName, RelayDemo::kEventName);
    ASSERT_EQ(report.triggers[0].callbacks.size(), 1u);
    const auto& callback = report.triggers[0].callbacks[0];
    EXPECT_EQ(callback.callbackId, RelayDemo::kCallbackId);
    EXPECT_EQ(callback.url.rfind(partner.url(RelayDemo::kCallbackPath) + "?event=sighting_logged", 0), 0u);
    ASSERT_EQ(callback.attempts.size(), 2u);
    EXPECT_EQ(callback.attempts[0].attemptNumber, 1);
    EXPECT_EQ(callback.attempts[0].httpStatus, 500);
    EXPECT_FALSE(callback.attempts[0].finalAttempt);
    EXPECT_EQ(callback.attempts[0].responseBody.value_or(""), "partner busy");
    EXPECT_EQ(callback.attempts[1].attemptNumber, 2);
    EXPECT_EQ(callback.attempts[1].httpStatus, 200);
    EXPECT_TRUE(callback.attempts[1].finalAttempt);
    EXPECT_EQ(callback.attempts[1].duration, 90);

    // The timeline tells each step.
    EXPECT_TRUE(told("configuration fetched (" + std::to_string(configRequests[0].request.body.size()) +
                     "-byte request, answer 200): 1 callback(s)"));
    EXPECT_TRUE(told("event matched callback 7"));
    EXPECT_TRUE(told("partner attempt 1: GET /cb?event=sighting_logged"));
    EXPECT_TRUE(told("retry armed in 90 s"));
    EXPECT_TRUE(told("(90 s after the previous one)"));
    EXPECT_TRUE(told("callback report posted to /pcr.do (" + std::to_string(result.reportBytes) + " bytes, answer 200)"));
    EXPECT_TRUE(told("#1 500, #2 200 (final)"));
}

TEST_F(RelayDemoTest, AConfigurationAnswerOf200TheClientCannotReadIsToldAsSuch) {
    RelayDemo demo(sink());
    prepare(demo);
    relay.setConfigAnswer(simulator::Answer::ok("not a configuration"));
    Orrery::startSession("RELAY-DEMO-KEY");
    VirtualRelayDemoPace pace(driver());
    RelayDemoResult result = demo.run(pace);
    EXPECT_FALSE(result.configured);
    EXPECT_TRUE(told("no configuration was fetched: the configuration server answered 200, but the client "
                     "could not read its answer: its 19 bytes are no Relay configuration it can decode"));
    EXPECT_FALSE(told("did not answer 200"));
}

TEST_F(RelayDemoTest, APartnerAnswerOf200WhoseBodyTheClientCannotReadIsToldAsADelivery) {
    RelayDemo demo(sink());
    prepare(demo);
    // Over what the client reads of an answer, then a plain 200.
    const std::string big(2 * 1024 * 1024, 'x');
    partner.script(RelayDemo::kCallbackPath, {simulator::Answer::ok(big), simulator::Answer::ok()});
    Orrery::startSession("RELAY-DEMO-KEY");
    VirtualRelayDemoPace pace(driver());
    RelayDemoResult result = demo.run(pace);
    // The partner accepted the callback: the client counts it delivered,
    // whatever became of the body, and does not call again.
    ASSERT_EQ(result.attempts.size(), 1u);
    EXPECT_EQ(result.attempts[0].status, 200);
    EXPECT_TRUE(result.attempts[0].delivered);
    EXPECT_FALSE(result.retried);
    EXPECT_TRUE(told("partner attempt 1: GET /cb?event=sighting_logged&at="));
    EXPECT_TRUE(told("-> 200, a delivery, though the client did not read the whole answer (its 2097152 bytes are "
                     "over the 1048576 bytes the client reads)"));
    EXPECT_FALSE(told("did not answer 200"));
    EXPECT_FALSE(told("counts as failed"));
}

TEST_F(RelayDemoTest, RunWithoutPrepareDoesNothing) {
    RelayDemo demo(sink());
    VirtualRelayDemoPace pace(driver());
    RelayDemoResult result = demo.run(pace);
    EXPECT_FALSE(result.configured);
    EXPECT_TRUE(told("not prepared"));
}

}  // namespace
