// The validation answer against the settlement, across threads: a "vr"
// answer held by the service is let go just before and just after the ad is
// hidden (the settlement on the main thread, the validation task storing and
// queueing its verdict on queue 1), many times. Whichever wins, the delegate
// never hears a verdict after -500, and "cr" reports what the delegate was
// told. Runs under ThreadSanitizer too. No screen is shown: the delegate
// proxy is driven as the video controller drives it.
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/display/HLPendingRewardReportManager.h"
#include "halcyon/display/HLTaskValidateReward.h"
#include "halcyon/display/HLVideoConstants.h"
#include "halcyon/display/tests/HLVideoTestSupport.h"

namespace {

using simulator::Answer;
using simulator::HalcyonService;

class HLRewardThreadTest : public HLRewardedTest {
protected:
    void SetUp() override {
        HLRewardedTest::SetUp();
        setSlot(kHLSlotShowIncentPostpopup, Value(false));
    }

    // One show of a watched video whose verdict is held, then released
    // before or after the hide; the lines the delegate heard for it.
    std::vector<std::string> race(const Ref<HLAd>& ad, bool releaseFirst) {
        service.script(HalcyonService::kRewardValidationPath,
                       {Answer::stall(HalcyonService::rewardAnswer("\"accepted\"", "{\"coins\": 1}"))});
        auto journal = NSObject::alloc<HLVideoJournal>();
        auto proxy = NSObject::alloc<HLIncentivizedDelegateProxy>()->initWithSdk(sdk);
        proxy->setIncentController(rewarded);
        proxy->setDisplayDelegate(journal);
        proxy->setRewardDelegate(journal);
        rewarded->clearRewardState();
        rewarded->launchRewardTaskForAd(ad, proxy);
        EXPECT_TRUE(service.server().waitForStalled(1, 5));
        proxy->videoPlaybackEndedInAd(ad, Value(100), true);
        if (releaseFirst) service.server().releaseStalled();
        proxy->adWasHiddenIn(ad, nullptr);
        if (!releaseFirst) service.server().releaseStalled();
        EXPECT_TRUE(settle());
        driver().drain();
        EXPECT_TRUE(journal->onlyMainThread);
        return journal->lines;
    }
};

TEST_F(HLRewardThreadTest, AVerdictReleasedAroundTheHideIsDeliveredWholeOrNotAtAll) {
    setSlot(kHLSlotVrRetryCount, Value(0));
    size_t reported = 0;
    for (int round = 0; round < 8; ++round) {
        const bool releaseFirst = round % 2 == 0;
        SCOPED_TRACE(round);
        auto ad = videoAd(60 + round, {}, "VIDEOA");
        const std::vector<std::string> heard = race(ad, releaseFirst);
        const std::string id = std::to_string(60 + round);
        const bool succeeded = heard.front() == "succeeded " + id + " {\"coins\":1}";
        // Either the verdict came before the hide, or the hide settled alone.
        if (succeeded)
            EXPECT_EQ(heard, (std::vector<std::string>{"succeeded " + id + " {\"coins\":1}", "hidden " + id}));
        else
            EXPECT_EQ(heard, (std::vector<std::string>{"failed " + id + " -500", "hidden " + id}));
        if (!releaseFirst) {
            EXPECT_FALSE(succeeded);  // held past the hide: dropped
        }
        const std::vector<Value> reports = service.rewardReports();
        ASSERT_EQ(reports.size(), ++reported);
        EXPECT_EQ(reports.back()["result"], Value(succeeded ? "accepted" : "network_timeout"));
        EXPECT_FALSE(HLPendingRewardReportManager::sharedManager()->removeSavedOutcomeForAd(ad));
    }
}

TEST_F(HLRewardThreadTest, ThePendingStoreTakesWritersFromManyThreads) {
    auto store = HLPendingRewardReportManager::sharedManager();
    std::vector<Ref<HLAd>> ads;
    for (int i = 0; i < 8; ++i) ads.push_back(videoAd(80 + i));
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                const Ref<HLAd>& ad = ads[size_t((t + round) % 8)];
                store->saveOutcome({round % 2 ? "accepted" : "rejected", Value::dictionary({{"round", round}})}, ad);
                if (round % 3 == 0) store->saveRewardResult("user_closed_video", ad);
                if (round % 5 == 0 && round < 150) store->removeSavedOutcomeForAd(ad);  // each ends saved
            }
        });
    for (auto& writer : writers) writer.join();
    for (const auto& ad : ads) {
        // Keyed by value: a copy of the ad finds the entry, whole.
        std::optional<HLPendingRewardOutcome> outcome = store->removeSavedOutcomeForAd(ad->copy());
        ASSERT_TRUE(outcome);
        EXPECT_TRUE(outcome->result);
        EXPECT_TRUE(outcome->parameters.isDictionary());
    }
    EXPECT_FALSE(store->removeSavedOutcomeForAd(ads[0]));
}

}  // namespace
