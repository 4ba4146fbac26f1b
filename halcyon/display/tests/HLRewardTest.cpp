// The rewarded flow against the Halcyon service on loopback ("vr" and "cr"
// over its https listener), on the virtual clock with the generated clip:
// every row of the outcome table (what the reward delegate hears, the alert
// after the ad, the result and parameters "cr" carries, decoded from the
// recorded requests), a second hide of one show, retries per slot 7, the
// request bodies byte for byte, hostile validation answers, a report run
// twice, and shows without a preloaded ad.
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/display/HLPendingRewardReportManager.h"
#include "halcyon/display/HLTaskReportReward.h"
#include "halcyon/display/HLTaskValidateReward.h"
#include "halcyon/display/tests/HLVideoTestSupport.h"

namespace {

using simulator::Answer;
using simulator::HalcyonService;

class HLRewardTestBase : public HLRewardedTest {
protected:

    Ref<HLAd> rewardedAd(int64_t id, const std::string& members = {}) { return videoAd(id, members, "VIDEOA"); }

    // Shows the ad as an accepted prompt does, until the clip plays.
    Ref<HLVideoViewController> show(const Ref<HLAd>& ad) {
        rewarded->showOver(window(), std::string("bonus"), ad, events);
        driver().advance(0.3);
        auto controller = std::dynamic_pointer_cast<HLVideoViewController>(
            rewarded->interstitialAd()->currentInterstitialController());
        EXPECT_TRUE(controller);
        if (controller) untilPlaying(controller);
        return controller;
    }
    // Watches to the end or stops at half, then closes the ad.
    void watchAndClose(const Ref<HLVideoViewController>& controller, bool toTheEnd) {
        if (toTheEnd)
            driver().advance(16);
        else
            seek(controller, 7.5);
        window()->simulateTap(controller->closeButton());
        driver().advance(1);
    }
    // The ad shown with `verdict` for its validation, watched to the end and
    // closed, the alert after it tapped away.
    void showWatchedAndClosed(int64_t id, Answer verdict) {
        service.script(HalcyonService::kRewardValidationPath, {std::move(verdict)});
        auto controller = show(rewardedAd(id));
        ASSERT_TRUE(controller);
        ASSERT_TRUE(settle());
        watchAndClose(controller, true);
        takeAlert();
        ASSERT_TRUE(settle());
    }
    // The visible alert's title and message, tapped away; "" when none.
    std::string takeAlert() {
        Ref<UIAlertView> alert = UIAlertView::visibleAlert();
        if (!alert) return "";
        std::string text = alert->title().value_or("") + " / " + alert->message().value_or("");
        alert->simulateTapButtonAtIndex(0);
        driver().drain();
        return text;
    }
};

// ---- the outcome table

struct HLRewardOutcomeRow {
    const char* name;
    std::function<std::vector<Answer>()> answers;  // empty: the answer is held until after the hide
    bool fullyWatched;
    std::vector<std::string> heard;  // reward lines, in order
    const char* alert;               // the confirmation's message, "" for none
    const char* reported;            // "cr" result
    const char* reportedParams;      // "cr" params as JSON text, "" for none
};

const std::string kHLCoins = "{\"coins\": 5}";

std::vector<HLRewardOutcomeRow> hlRewardOutcomeRows() {
    auto answer = [](const char* result, std::string params = kHLCoins) {
        return [=] { return std::vector<Answer>{HalcyonService::rewardAnswer(std::string("\"") + result + "\"", params)}; };
    };
    return {
        {"AcceptedAndWatched", answer("accepted"), true, {"succeeded 30 {\"coins\":5}"}, "You have earned a reward!",
         "accepted", "{\"coins\":5}"},
        {"QuotaAndWatched", answer("quota_exceeded"), true, {"quota 30 {\"coins\":5}"},
         "You have already earned the maximum reward for today.", "quota_exceeded", "{\"coins\":5}"},
        {"RejectedAndWatched", answer("rejected"), true, {"rejected 30 {\"coins\":5}"}, "Your reward was rejected.",
         "rejected", "{\"coins\":5}"},
        {"NotFoundAndWatched", [] { return std::vector<Answer>{Answer::withStatus(404)}; }, true, {"rejected 30 {}"},
         "Your reward was rejected.", "rejected", ""},
        {"ServerErrorAndWatched", [] { return std::vector<Answer>{Answer::withStatus(500)}; },
         true, {"failed 30 500"}, "We were unable to contact the rewards server. Please try again later.",
         "network_timeout", ""},
        {"UnknownResultAndWatched", answer("bonus"), true, {"failed 30 -400"},
         "We were unable to contact the rewards server. Please try again later.", "bonus", "{\"coins\":5}"},
        {"NoAnswerYetAndWatched", {}, true, {"failed 30 -500"},
         "We were unable to contact the rewards server. Please try again later.", "network_timeout", ""},
        {"AcceptedAndClosedEarly", answer("accepted"), false, {"succeeded 30 {\"coins\":5}", "failed 30 -600"}, "",
         "user_closed_video", "{\"coins\":5}"},
        {"NoAnswerAndClosedEarly", {}, false, {"failed 30 -600"}, "", "user_closed_video", ""},
    };
}

class HLRewardOutcomeTest : public HLRewardTestBase, public ::testing::WithParamInterface<HLRewardOutcomeRow> {
protected:
    void SetUp() override {
        HLRewardTestBase::SetUp();
        setSlot(kHLSlotVrRetryCount, Value(0));  // a failure is final at once
    }
};

TEST_P(HLRewardOutcomeTest, TheRewardIsNeverMisreported) {
    const HLRewardOutcomeRow& row = GetParam();
    const bool held = !row.answers;
    service.script(HalcyonService::kRewardValidationPath,
                   held ? std::vector<Answer>{Answer::stall(HalcyonService::rewardAnswer("\"accepted\"", kHLCoins))}
                        : row.answers());
    auto controller = show(rewardedAd(30));
    ASSERT_TRUE(controller);
    if (held)
        ASSERT_TRUE(service.server().waitForStalled(1, 5));
    else
        ASSERT_TRUE(settle());  // the verdict arrives while the video plays
    watchAndClose(controller, row.fullyWatched);
    EXPECT_EQ(takeAlert(), *row.alert ? std::string("Video Reward / ") + row.alert : "");
    if (held) service.server().releaseStalled();  // too late: dropped whole
    ASSERT_TRUE(settle());
    driver().drain();

    std::vector<std::string> heard;
    for (const auto& line : events->lines)
        if (line.rfind("displayed", 0) && line.rfind("began", 0) && line.rfind("ended", 0) && line.rfind("hidden", 0))
            heard.push_back(line);
    EXPECT_EQ(heard, row.heard);
    EXPECT_EQ(events->lines.back(), "hidden 30");
    EXPECT_TRUE(events->onlyMainThread);
    EXPECT_FALSE(rewarded->isReadyForDisplay());

    const std::vector<Value> reports = service.rewardReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]["result"], Value(row.reported));
    EXPECT_EQ(reports[0]["clcode"], Value("cl-1"));
    EXPECT_EQ(reports[0].contains("params"), *row.reportedParams != 0);
    if (*row.reportedParams) {
        EXPECT_EQ(hlJsonText(reports[0]["params"]), row.reportedParams);
    }
    EXPECT_EQ(UIAlertView::visibleAlert(), nullptr);
}

void PrintTo(const HLRewardOutcomeRow& row, std::ostream* out) { *out << row.name; }

INSTANTIATE_TEST_SUITE_P(OutcomeTable, HLRewardOutcomeTest, ::testing::ValuesIn(hlRewardOutcomeRows()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- one show

class HLRewardTest : public HLRewardTestBase {};

TEST_F(HLRewardTest, ASecondHideOfOneShowIsOnlyPassedOn) {
    service.script(HalcyonService::kRewardValidationPath, {HalcyonService::rewardAnswer("\"accepted\"", kHLCoins)});
    auto controller = show(rewardedAd(31));
    ASSERT_TRUE(settle());
    Ref<HLAdDisplayDelegate> proxy = rewarded->interstitialAd()->adDisplayDelegate();
    watchAndClose(controller, true);
    // The poststitial's own hide, forwarded after the controller's.
    proxy->adWasHiddenIn(controller->currentAd(), controller->view());
    driver().advance(1);
    EXPECT_EQ(takeAlert(), "Video Reward / You have earned a reward!");
    EXPECT_EQ(takeAlert(), "");
    ASSERT_TRUE(settle());
    EXPECT_EQ(events->count("hidden"), 2u);
    EXPECT_EQ(events->count("failed"), 0u);
    EXPECT_EQ(service.rewardReports().size(), 1u);
}

TEST_F(HLRewardTest, TheEndPageActsOnlyOnceItIsShown) {
    service.script(HalcyonService::kRewardValidationPath, {HalcyonService::rewardAnswer("\"accepted\"", kHLCoins)});
    simulator::HalcyonAd ad = simulator::HalcyonAd::videoAd();
    ad.adId = 35;
    ad.size = "INTER";
    ad.adType = "VIDEOA";
    // Its script runs as the end page is rendered, hidden behind the video
    // (15 s), and once more after the end.
    const std::string command = "location.href = 'halcyon://com.halcyon.sdk/";
    ad.html = "<html><body><script>" + command + "close_ad';" + command + "storekit';" + command + "next_ad';" +
              "setTimeout(function() { " + command + "close_ad'; }, 20000);</script></body></html>";
    auto controller = show(renderedAd(ad));
    ASSERT_TRUE(controller);
    ASSERT_TRUE(settle());
    driver().advance(16);
    EXPECT_EQ(foldedCount(listener->lines(), "The ad is not on screen yet; ignoring halcyon://com.halcyon.sdk/"), 3u);
    EXPECT_EQ(events->lines, (std::vector<std::string>{"displayed 35", "began 35", "succeeded 35 {\"coins\":5}",
                                                       "ended 35 100 full"}));
    EXPECT_FALSE(controller->isDismissed());

    // Shown, the page's "/close_ad" hides it: the reward stands.
    driver().advance(5);
    EXPECT_EQ(events->lines.back(), "hidden 35");
    EXPECT_EQ(takeAlert(), "Video Reward / You have earned a reward!");
    window()->simulateTap(controller->closeButton());
    driver().advance(1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(events->count("failed"), 0u);
    ASSERT_EQ(service.rewardReports().size(), 1u);
    EXPECT_EQ(service.rewardReports()[0]["result"], Value("accepted"));
}

TEST_F(HLRewardTest, AReportCarriesOnlyTheParametersOfItsOwnShow) {
    setSlot(kHLSlotVrRetryCount, Value(0));
    // An answer without a result: -400, and nothing to report.
    ASSERT_NO_FATAL_FAILURE(showWatchedAndClosed(36, HalcyonService::rewardAnswer(std::nullopt, kHLCoins)));
    EXPECT_EQ(events->count("failed"), 1u);
    EXPECT_TRUE(service.rewardReports().empty());

    // An equal ad whose validation fails reports its own outcome alone.
    ASSERT_NO_FATAL_FAILURE(showWatchedAndClosed(36, Answer::withStatus(500)));
    EXPECT_EQ(events->lines.back(), "hidden 36");
    EXPECT_EQ(events->count("failed"), 2u);
    ASSERT_EQ(service.rewardReports().size(), 1u);
    EXPECT_EQ(service.rewardReports()[0].keys(), (std::vector<std::string>{"clcode", "result"}));
    EXPECT_EQ(service.rewardReports()[0]["result"], Value("network_timeout"));
}

TEST_F(HLRewardTest, AFailedValidationIsRetriedPerSlot7) {
    service.script(HalcyonService::kRewardValidationPath,
                   {Answer::withStatus(503), HalcyonService::rewardAnswer("\"accepted\"", "{}", "{\"cr_retry_count\": 3}")});
    show(rewardedAd(32));
    ASSERT_TRUE(settle());
    EXPECT_EQ(service.rewardValidations().size(), 1u);
    driver().advance(10);  // slot 13's delay, on queue 1
    ASSERT_TRUE(settle());
    driver().drain();
    EXPECT_EQ(service.rewardValidations().size(), 2u);
    EXPECT_EQ(events->count("succeeded"), 1u);
    EXPECT_EQ(sdk->integerForKey(kHLSlotCrRetryCount), 3);  // the answer's settings applied
    for (const auto& request : service.requestsTo(HalcyonService::kRewardValidationPath)) EXPECT_TRUE(request.secure);
}

TEST_F(HLRewardTest, ValidationAndReportLeaveOverHttpsFromAnHttpAddress) {
    // The address names the https listener's port with the http scheme:
    // only an upgraded request reaches it.
    std::string address = service.secureApiUrl();
    ASSERT_EQ(address.rfind("https://", 0), 0u);
    address.replace(0, 8, "http://");
    setSlotString(kHLSlotApiEndpoint, address);
    ASSERT_NO_FATAL_FAILURE(showWatchedAndClosed(37, HalcyonService::rewardAnswer("\"accepted\"", kHLCoins)));
    EXPECT_EQ(events->count("succeeded"), 1u);
    const auto validations = service.requestsTo(HalcyonService::kRewardValidationPath);
    const auto reports = service.requestsTo(HalcyonService::kRewardReportPath);
    ASSERT_EQ(validations.size(), 1u);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(validations[0].secure);
    EXPECT_TRUE(reports[0].secure);
}

TEST_F(HLRewardTest, BodiesCarryNoClcodeAndAUserIdOnlyWhenOneIsSet) {
    simulator::HalcyonAd plain = simulator::HalcyonAd::videoAd();
    plain.adId = 33;
    plain.size = "INTER";
    plain.adType = "VIDEOA";
    plain.clcodes = {};
    auto controller = show(renderedAd(plain));
    ASSERT_TRUE(settle());
    watchAndClose(controller, false);
    ASSERT_TRUE(settle());
    auto vr = service.requestsTo(HalcyonService::kRewardValidationPath);
    ASSERT_EQ(vr.size(), 1u);
    EXPECT_EQ(vr[0].body, "{\n  \"clcode\": \"NO_CLCODE\"\n}");
    EXPECT_EQ(vr[0].header("Content-Type"), "application/json");
    EXPECT_EQ(vr[0].query, "device_token=hl-token-1");
    auto cr = service.requestsTo(HalcyonService::kRewardReportPath);
    ASSERT_EQ(cr.size(), 1u);
    EXPECT_EQ(cr[0].body, "{\n  \"clcode\": \"NO_CLCODE\",\n  \"result\": \"user_closed_video\",\n  \"params\": {}\n}");

    HLIncentivizedInterstitialAd::setUserIdentifier(std::string("player \"7\""));
    controller = show(rewardedAd(34));
    ASSERT_TRUE(settle());
    watchAndClose(controller, true);
    takeAlert();
    ASSERT_TRUE(settle());
    vr = service.requestsTo(HalcyonService::kRewardValidationPath);
    ASSERT_EQ(vr.size(), 2u);
    EXPECT_EQ(vr[1].body, "{\n  \"clcode\": \"cl-1\",\n  \"user_id\": \"player \\\"7\\\"\"\n}");
    auto reports = service.rewardReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].keys(), (std::vector<std::string>{"clcode", "user_id", "result", "params"}));
}

// ---- the validation task on its own, with hostile answers

TEST_F(HLRewardTest, HostileValidationAnswersEndInTheirFallback) {
    struct Case {
        Answer answer;
        std::string heard;
        std::optional<std::string> stored;
        std::string storedParams;
    };
    const std::vector<Case> cases = {
        {Answer::ok("oops").header("Content-Type", "application/json"), "failed 40 -1", "network_timeout", "null"},
        {Answer::ok(""), "failed 40 -1", "network_timeout", "null"},
        {Answer::ok("{\"results\": {\"result\": \"accepted\"}}"), "failed 40 -400", std::nullopt, "{}"},
        {HalcyonService::rewardAnswer(std::nullopt, kHLCoins), "failed 40 -400", std::nullopt, "{\"coins\":5}"},
        {HalcyonService::rewardAnswer("7"), "failed 40 -400", std::nullopt, "{}"},
        {HalcyonService::rewardAnswer("\"accepted\"", "\"lots\""), "succeeded 40 {}", "accepted", "{}"},
        {HalcyonService::rewardAnswer("\"accepted\"", "[1, 2]", "[\"not\", \"settings\"]"), "succeeded 40 {}",
         "accepted", "{}"},
        {Answer::ok("{\"results\": []}"), "failed 40 -400", std::nullopt, "{}"},
        {Answer::ok("{\"results\": [17]}"), "failed 40 -400", std::nullopt, "{}"},
    };
    setSlot(kHLSlotVrRetryCount, Value(0));
    auto ad = rewardedAd(40);
    auto store = HLPendingRewardReportManager::sharedManager();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.heard + " " + c.storedParams);
        events->lines.clear();
        service.script(HalcyonService::kRewardValidationPath, {c.answer});
        sdk->taskManager()->execute(NSObject::alloc<HLTaskValidateReward>()->initWithSdk(sdk, ad, events), 1);
        ASSERT_TRUE(settle());
        driver().drain();
        EXPECT_EQ(events->lines, std::vector<std::string>{c.heard});
        std::optional<HLPendingRewardOutcome> outcome = store->removeSavedOutcomeForAd(ad);
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->result, c.stored);
        EXPECT_EQ(hlJsonText(outcome->parameters), c.storedParams);
    }
}

TEST_F(HLRewardTest, AReportRunTwiceSendsOnce) {
    auto ad = rewardedAd(41);
    HLPendingRewardReportManager::sharedManager()->saveRewardResult("accepted", ad->copy());
    for (int run = 0; run < 2; ++run)
        sdk->taskManager()->execute(NSObject::alloc<HLTaskReportReward>()->initWithSdk(sdk, ad), 1);
    ASSERT_TRUE(settle());
    ASSERT_EQ(service.rewardReports().size(), 1u);
    EXPECT_FALSE(service.rewardReports()[0].contains("params"));
    EXPECT_TRUE(listener->contains("No reward result was found for ad: Halcyon Ad #41"));
}

// ---- preloading and showing

TEST_F(HLRewardTest, AShowWithoutAPreloadedAdFailsWithMinus300AndAPreloadWhileReadyHandsItBack) {
    rewarded->preloadAndNotify(events);  // the service has no ad yet
    ASSERT_TRUE(settle());
    rewarded->showOver(window(), events);
    EXPECT_EQ(events->lines.back(), "load failed -300");  // to the last load delegate
    EXPECT_TRUE(listener->contains("Unable to show incentivized interstitial: no advertisement preloaded."));
    EXPECT_EQ(UIAlertView::visibleAlert(), nullptr);

    simulator::HalcyonAd ad = simulator::HalcyonAd::videoAd();
    ad.adId = 42;
    ASSERT_NO_FATAL_FAILURE(preloadRewarded(ad));
    events->lines.clear();
    const size_t requests = service.requestsTo(HalcyonService::kAdPath).size();
    rewarded->preloadAndNotify(events);  // at once, without a request
    EXPECT_EQ(events->lines, std::vector<std::string>{"loaded 42"});
    EXPECT_EQ(service.requestsTo(HalcyonService::kAdPath).size(), requests);
    EXPECT_TRUE(listener->contains("Attempted to call preloadAndNotify: while an ad was already loaded"));
}

TEST_F(HLRewardTest, AnAdOfAnotherTypeIsNotShown) {
    rewarded->showOver(window(), std::nullopt, videoAd(43), events);
    driver().advance(1);
    EXPECT_EQ(events->lines, std::vector<std::string>{"ended 43 0 partial"});
    EXPECT_FALSE(rewarded->interstitialAd()->currentInterstitialController());
    EXPECT_TRUE(service.rewardValidations().empty());
}

}  // namespace
